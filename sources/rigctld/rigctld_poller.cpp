#include "sources/rigctld/rigctld_poller.h"

#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/settings.h"
#include "core/station_snapshot.h"
#include "platform/text.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"
#include "sources/rig_link.h"
#include "sources/rigctld/rigctld_reply.h"

namespace {

RigLink rigctldLink{RigSource::Rigctld};

struct RigctldSettings {
    std::wstring host;
    int port = kDefaultRigctldPort;
    int intervalSeconds = kDefaultRigctldInterval;
    std::wstring myCall;
    std::wstring opCall;
};

RigctldSettings CopyRigctldSettings() {
    RigctldSettings copy;
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    copy.host = settings.rigctldHost;
    copy.port = PortOrDefault(settings.rigctldPort, kDefaultRigctldPort);
    copy.intervalSeconds = settings.rigctldIntervalSeconds < 1 ? kDefaultRigctldInterval
                                                               : settings.rigctldIntervalSeconds;
    copy.myCall = settings.rigctldMyCall;
    copy.opCall = settings.rigctldOperator;
    return copy;
}

struct RigctldConnection {
    SocketHandle socket = kInvalidSocket;
    bool broken = false;    // an exchange failed: no later reply can be trusted
    bool outOfStep = false; // bytes came unasked: not even the last reply can be
};

// As HRD's: only on the connection in hand, and only while it is wanted, since once another
// thread has closed it its handle may already belong to a newer socket elsewhere in the process.
// The first failed exchange marks the connection broken, and no exchange follows it (a late reply
// would answer the next command); an "RPRT -n" is an answer, and leaves it in step.
RigctldReply Exchange(RigctldConnection& connection, const std::string& command, int valueLines) {
    RigctldReply reply;
    reply.state = RigctldReplyState::Malformed;
    if (!connection.broken && RigLinkWanted(rigctldLink) &&
        rigctldSocket.handle.load() == connection.socket) {
        connection.outOfStep = SocketReadable(connection.socket);
        if (!connection.outOfStep)
            reply = RigctldExchange(connection.socket, command, valueLines);
    }
    if (reply.state != RigctldReplyState::Complete && reply.state != RigctldReplyState::Refused)
        connection.broken = true;
    return reply;
}

// Polls until an exchange fails or the connection is no longer wanted. A refused frequency ends
// the connection (no publish); a refused mode is published empty. A failed mode read is published
// empty too, as HRD's, and then the connection goes.
void PollUntilFailure(RigctldConnection& connection, const RigctldSettings& copy,
                      const std::wstring& radio) {
    while (RigLinkWanted(rigctldLink)) {
        const RigctldReply frequency = Exchange(connection, "f\n", 1);
        if (frequency.state != RigctldReplyState::Complete)
            return;
        const RigctldReply mode = Exchange(connection, "m\n", 2);
        if (connection.outOfStep)
            return; // the frequency just read may have answered an earlier command
        const std::string modeText =
            mode.state == RigctldReplyState::Complete ? TrimRigctldText(mode.lines[0]) : "";
        RaiseStationUpdate(BuildRigRecord(RigctldHertz(frequency.lines[0]), Utf8ToWide(modeText),
                                          copy.myCall, copy.opCall, radio, L"Hamlib"));
        if (connection.broken ||
            !WaitRigLink(rigctldLink, std::int64_t(copy.intervalSeconds) * kSlicesPerSecond))
            return;
    }
}

// One pass: connect, learn the radio's name, poll until something fails or the connection is
// dropped or the worker stopped. The name once per connection; a rigctld that refuses it still
// gives frequency and mode.
void ConnectAndPoll() {
    if (!BeginRigLinkPass(rigctldLink))
        return;
    const RigctldSettings copy = CopyRigctldSettings();
    RigctldConnection connection;
    connection.socket = ConnectRigLink(rigctldLink, copy.host, copy.port);
    if (connection.socket == kInvalidSocket)
        return;
    const RigctldReply caps = Exchange(connection, "\\dump_caps\n", 0);
    const bool polled = !connection.broken;
    if (polled) {
        const std::wstring radio = Utf8ToWide(RigctldRadioName(caps.lines));
        ReportRigLink(rigctldLink, RigLinkState::Connected, radio);
        PollUntilFailure(connection, copy, radio);
    }
    EndRigLinkPass(rigctldLink, polled);
}

} // namespace

std::atomic<bool>& rigctldRunning = rigctldLink.worker.running;
SocketSlot& rigctldSocket = rigctldLink.socket;

void StartRigctldPoller() {
    StartRigLink(rigctldLink, ConnectAndPoll);
}

void StopRigctldPoller() {
    StopRigLink(rigctldLink);
}

void DropRigctldConnection() {
    DropRigLink(rigctldLink);
}

RigctldReply RigctldExchange(SocketHandle socket, const std::string& command, int valueLines) {
    RigctldReply reply;
    reply.state = RigctldReplyState::Malformed;
    if (SocketReadable(socket) ||
        SocketSend(socket, command.data(), static_cast<int>(command.size())) !=
            static_cast<int>(command.size()))
        return reply;
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(kHrdReplyLimitMs);
    std::string received;
    char buffer[4096];
    for (;;) {
        const auto left = ceil<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 || left > INT_MAX || !SetReceiveTimeout(socket, static_cast<int>(left)))
            return reply;
        const int n = SocketReceive(socket, buffer, sizeof buffer);
        if (n <= 0)
            return reply;
        received.append(buffer, static_cast<std::size_t>(n));
        RigctldReply read = ReadRigctldReply(received, valueLines);
        if (read.state == RigctldReplyState::Incomplete)
            continue;
        if (read.used != received.size())
            read.state = RigctldReplyState::Malformed;
        return read;
    }
}
