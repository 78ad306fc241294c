#include "sources/hrd/hrd_poller.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "core/diagnostic_file.h"
#include "core/settings.h"
#include "core/station_snapshot.h"
#include "platform/notify.h"
#include "platform/text.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"

std::atomic<bool> hrdRunning{false};
std::atomic<SocketHandle> hrdSocket{kInvalidSocket};
const wchar_t* const kHrdControlsFileName = L"corvane-hrd-controls.txt";

namespace {

// Touched by the UI thread only (start and stop).
std::thread hrdThread;

// A stop's or drop's wake-up and the worker's close never overlap, so nobody wakes a descriptor
// that is already closed and perhaps reused by another socket of this process.
std::mutex hrdSocketMutex;

constexpr int kConnectLimitMs = 3000;
constexpr int kReceiveLimitMs = 4000;
constexpr int kRetrySlices = 30;

const wchar_t* const kConnecting = L"Connecting...";
const wchar_t* const kNotReachable = L"HRD not reachable \u2014 retrying";
const wchar_t* const kConnected = L"Connected \u2014 ";
const wchar_t* const kReconnecting = L"Reconnecting...";
const wchar_t* const kStopped = L"Stopped";

struct HrdSettings {
    std::wstring host;
    int port = 0;
    int intervalSeconds = 2;
    std::wstring myCall;
    std::wstring opCall;
};

HrdSettings CopyHrdSettings() {
    HrdSettings copy;
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    copy.host = settings.hrdHost.empty() ? std::wstring(L"127.0.0.1") : settings.hrdHost;
    copy.port = PortOrDefault(settings.hrdPort, kDefaultHrdPort);
    copy.intervalSeconds = settings.hrdIntervalSeconds < 1 ? 2 : settings.hrdIntervalSeconds;
    copy.myCall = settings.hrdMyCall;
    copy.opCall = settings.hrdOperator;
    return copy;
}

// Four decimal octets 0..255 without leading zeros, as the platforms' numeric IPv4 parsers take.
bool IsDottedIpv4(const std::wstring& text) {
    int octets = 0;
    std::size_t i = 0;
    while (true) {
        const std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= L'0' && text[i] <= L'9' && i - start < 3)
            value = value * 10 + static_cast<unsigned>(text[i++] - L'0');
        const std::size_t digits = i - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == L'0'))
            return false;
        if (++octets == 4)
            return i == text.size();
        if (i >= text.size() || text[i] != L'.')
            return false;
        ++i;
    }
}

// Waits whole slices of 100 ms, testing the run flag before each; false once it is cleared.
bool WaitSlices(std::int64_t slices) {
    for (std::int64_t slice = 0; slice < slices; ++slice) {
        if (!hrdRunning.load())
            return false;
        std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(100));
    }
    return hrdRunning.load();
}

struct HrdConnection {
    SocketHandle socket = kInvalidSocket;
    std::wstring contextPrefix;
    std::wstring radio;
    std::wstring modeCommand;
};

void CloseHrdSocket() {
    std::lock_guard<std::mutex> lock(hrdSocketMutex);
    CloseSocketSlot(hrdSocket);
}

// Wakes the worker out of its exchange. Where the wake-up only shuts the socket down, it stays in
// the slot for the worker to close; where it closes it, the slot is emptied.
void WakeHrdSocket() {
    std::lock_guard<std::mutex> lock(hrdSocketMutex);
    if (WakeSocket(hrdSocket.load()))
        hrdSocket.store(kInvalidSocket);
}

// Once another thread has closed the connection its handle may already belong to a newer socket
// elsewhere in the process, so it is not used again.
bool Exchange(const HrdConnection& connection, const std::wstring& command, std::wstring& reply) {
    if (hrdSocket.load() != connection.socket)
        return false;
    return HrdExchange(connection.socket, command, reply);
}

void WriteHrdControlsDump(const HrdConnection& connection, const std::wstring& probeReply) {
    std::string dump;
    dump += "HRD radio: " + WideToUtf8(connection.radio) + "\r\n";
    dump += "get mode -> '" + WideToUtf8(probeReply) + "'\r\n";
    dump += "chosen mode command -> '" + WideToUtf8(connection.modeCommand) + "'\r\n";
    DiagnosticFileWrite(kHrdControlsFileName, dump);
}

// The handshake: false when "Get ID" failed, and the connection is given up at once.
bool Handshake(HrdConnection& connection) {
    std::wstring idReply;
    if (!Exchange(connection, kHrdGetId, idReply))
        return false;

    std::wstring contextReply;
    std::wstring context;
    if (Exchange(connection, kHrdGetContext, contextReply))
        context = TrimWhitespace(contextReply);
    if (context.empty())
        context = L"0";

    std::wstring radioReply;
    if (Exchange(connection, kHrdGetRadio, radioReply))
        connection.radio = TrimWhitespace(radioReply);

    connection.contextPrefix = L"[" + context + L"] ";

    // Some radios answer "get mode", others only show the mode in a dropdown.
    std::wstring probeReply;
    std::wstring probe;
    if (Exchange(connection, connection.contextPrefix + kHrdGetMode, probeReply))
        probe = TrimWhitespace(probeReply);
    connection.modeCommand =
        connection.contextPrefix + (probe.empty() ? kHrdGetDropdownMode : kHrdGetMode);

    WriteHrdControlsDump(connection, probe);
    SetHrdStatusText(kConnected + connection.radio);
    return true;
}

void PollUntilFailure(const HrdConnection& connection, const HrdSettings& copy) {
    const std::wstring frequencyCommand = connection.contextPrefix + kHrdGetFrequency;
    while (hrdRunning.load()) {
        std::wstring frequencyReply;
        std::wstring modeReply;
        if (!Exchange(connection, frequencyCommand, frequencyReply))
            return;
        // A failed mode read leaves the mode empty; the poll still counts.
        Exchange(connection, connection.modeCommand, modeReply);
        RaiseStationUpdate(BuildHrdRecord(ReadHrdFrequency(frequencyReply), ReadHrdMode(modeReply),
                                          copy.myCall, copy.opCall, connection.radio));
        if (!WaitSlices(std::int64_t(copy.intervalSeconds) * 10))
            return;
    }
}

// One pass: connect, handshake, poll until the connection fails or the worker is stopped.
void ConnectAndPoll() {
    const HrdSettings copy = CopyHrdSettings();
    SetHrdStatusText(kConnecting);

    // Numeric IPv4 only: a host name is never resolved, it means this computer.
    const std::string address = IsDottedIpv4(copy.host) ? WideToUtf8(copy.host) : "127.0.0.1";
    HrdConnection connection;
    connection.socket = TcpConnect(address, copy.port, kConnectLimitMs, &hrdRunning);
    if (connection.socket == kInvalidSocket) {
        if (!hrdRunning.load())
            return; // stopped while connecting
        SetHrdStatusText(kNotReachable);
        WaitSlices(kRetrySlices);
        return;
    }
    hrdSocket.store(connection.socket);
    // A stop that came while connecting found the slot empty; close it here instead.
    if (!hrdRunning.load()) {
        CloseHrdSocket();
        return;
    }
    SetReceiveTimeout(connection.socket, kReceiveLimitMs);

    if (!Handshake(connection)) {
        CloseHrdSocket();
        return;
    }
    PollUntilFailure(connection, copy);
    CloseHrdSocket();
    if (hrdRunning.load())
        SetHrdStatusText(kReconnecting);
}

} // namespace

void HrdPollerWorker() {
    while (hrdRunning.load())
        ConnectAndPoll();
    SetHrdStatusText(kStopped);
}

void StartHrdPoller() {
    if (hrdRunning.exchange(true))
        return;
    if (hrdThread.joinable())
        hrdThread.join();
    try {
        hrdThread = std::thread(HrdPollerWorker);
    } catch (const std::system_error&) {
        hrdRunning.store(false); // no thread, so nothing to stop later
    }
}

void StopHrdPoller() {
    hrdRunning.store(false);
    WakeHrdSocket();
    if (hrdThread.joinable())
        hrdThread.join();
}

void DropHrdConnection() {
    WakeHrdSocket();
}
