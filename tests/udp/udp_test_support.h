#pragma once
// Shared by the logger-source tests: a clean parser and snapshot per test, the snapshot as one
// line of text, and a UDP peer on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/station_snapshot.h"
#include "platform/net_peers.h"
#include "platform/text.h"
#include "sources/udp/logger_parser.h"
#include "tests/support/temp_folder.h"

// Empty parser state and an empty published snapshot, whatever earlier tests left.
inline void ResetLoggerSource() {
    ResetLoggerParserState();
    RaiseStationUpdate(StationSnapshot{});
}

// The non-empty fields as "name=value|...", so that an expectation is one line and a failure
// shows the field that differs.
inline std::string Describe(const StationSnapshot& s) {
    std::string text;
    for (const SnapshotField& field : kSnapshotFields)
        if (!(s.*field.value).empty())
            text += (text.empty() ? "" : "|") + std::string(field.key) + "=" +
                    WideToUtf8(s.*field.value);
    return s.radios == 1 ? text : text + "|radios=" + std::to_string(s.radios);
}

struct LoggerTest : testing::Test {
    void SetUp() override { ResetLoggerSource(); }
    void TearDown() override { ResetLoggerSource(); }
    static std::uint64_t CurrentVersion() { return ReadStationSnapshot().version; }
    static StationSnapshot CurrentSnapshot() { return ReadStationSnapshot().snapshot; }
    static std::string Shown() { return Describe(CurrentSnapshot()); }
};

// Polls the condition until it holds or the limit passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

// A UDP port on 127.0.0.1 that was free a moment ago.
inline int FreeUdpPort() {
    const SocketHandle probe = UdpBind("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);
    return port;
}

// Sends one datagram to 127.0.0.1:port from a fresh socket.
inline bool SendDatagram(int port, const std::string& bytes) {
    const SocketHandle sender = UdpConnect("127.0.0.1", port);
    const int sent = SocketSend(sender, bytes.data(), static_cast<int>(bytes.size()));
    CloseSocket(sender);
    return sent == static_cast<int>(bytes.size());
}

// A folder named by an environment variable; under Wine the host's root is drive Z:.
inline std::string HostFolder(const char* variable) {
    const std::string folder = EnvironmentText(variable);
#ifdef _WIN32
    if (!folder.empty() && folder[0] == '/')
        return "Z:" + folder;
#endif
    return folder;
}

inline std::string RadioMessage(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>" + inner + "</RadioInfo>";
}
