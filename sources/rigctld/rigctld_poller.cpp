#include "sources/rigctld/rigctld_poller.h"

#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/numbers.h"
#include "core/settings.h"
#include "core/station_snapshot.h"
#include "core/worker.h"
#include "platform/notify.h"
#include "platform/text.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"
#include "sources/rigctld/rigctld_reply.h"

namespace {

Worker rigctldWorker;

// Cleared by a stop and by a drop, raised again before a pass copies the settings: as HRD's.
std::atomic<bool> rigctldConnectionWanted{false};

void Report(RigLinkState state, const std::wstring& radio = {}) {
    NotifyRigStatus(RigSource::Rigctld, state, radio);
}

struct RigctldSettings {
    std::wstring host;
    int port = kDefaultRigctldPort;
    int intervalSeconds = 2;
    std::wstring myCall;
    std::wstring opCall;
};

RigctldSettings CopyRigctldSettings() {
    RigctldSettings copy;
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    copy.host = settings.rigctldHost;
    copy.port = PortOrDefault(settings.rigctldPort, kDefaultRigctldPort);
    copy.intervalSeconds =
        settings.rigctldIntervalSeconds < 1 ? 2 : settings.rigctldIntervalSeconds;
    copy.myCall = settings.rigctldMyCall;
    copy.opCall = settings.rigctldOperator;
    return copy;
}

bool ConnectionWanted() {
    return rigctldRunning.load() && rigctldConnectionWanted.load();
}

bool WaitRigctldSlices(std::int64_t slices) {
    return WaitSlices(rigctldWorker, slices, &rigctldConnectionWanted);
}

// Only on the connection in hand, and only while it is wanted: once another thread has closed it,
// its handle may already belong to a newer socket elsewhere in the process.
RigctldReply Exchange(SocketHandle socket, const std::string& command, int valueLines) {
    if (!ConnectionWanted() || rigctldSocket.handle.load() != socket) {
        RigctldReply reply;
        reply.state = RigctldReplyState::Malformed;
        return reply;
    }
    return RigctldExchange(socket, command, valueLines);
}

// Polls until an exchange fails or the connection is no longer wanted. A refused frequency ends
// the connection too (no publish); a refused mode is published empty.
void PollUntilFailure(SocketHandle socket, const RigctldSettings& copy, const std::wstring& radio) {
    while (ConnectionWanted()) {
        const RigctldReply frequency = Exchange(socket, "f\n", 1);
        if (frequency.state != RigctldReplyState::Complete)
            return;
        const RigctldReply mode = Exchange(socket, "m\n", 2);
        if (mode.state != RigctldReplyState::Complete && mode.state != RigctldReplyState::Refused)
            return;
        const std::string modeText = mode.lines.empty() ? "" : TrimRigctldText(mode.lines[0]);
        RaiseStationUpdate(BuildRigRecord(RigctldHertz(frequency.lines[0]), Utf8ToWide(modeText),
                                          copy.myCall, copy.opCall, radio, L"Hamlib"));
        if (!WaitRigctldSlices(std::int64_t(copy.intervalSeconds) * 10))
            return;
    }
}

// One pass, as HRD's: connect, learn the radio, poll until something fails; then the same wait
// before the next pass, which a stop or a drop cuts short.
void ConnectAndPoll() {
    rigctldConnectionWanted.store(true);
    if (!rigctldRunning.load())
        return; // a stop may have cleared our flag just before we raised it
    const RigctldSettings copy = CopyRigctldSettings();
    Report(RigLinkState::Connecting);

    // Numeric IPv4 only, as for HRD: a name is never looked up, it means this computer.
    const std::string address = IsDottedIpv4(copy.host) ? WideToUtf8(copy.host) : "127.0.0.1";
    const SocketHandle socket = TcpSocket();
    rigctldSocket.handle.store(socket);
    if (socket == kInvalidSocket) {
        WaitRigctldSlices(kHrdRetrySlices);
        return;
    }
    const bool connected =
        TcpConnectSocket(socket, address, copy.port, kHrdConnectLimitMs, &rigctldConnectionWanted);
    if (!connected || !ConnectionWanted()) {
        CloseSocketSlot(rigctldSocket);
        if (!ConnectionWanted())
            return;
        Report(RigLinkState::NotReachable);
        WaitRigctldSlices(kHrdRetrySlices);
        return;
    }

    // The name once per connection; a rigctld that refuses it still gives frequency and mode.
    const RigctldReply caps = Exchange(socket, "\\dump_caps\n", 0);
    if (caps.state == RigctldReplyState::Complete || caps.state == RigctldReplyState::Refused) {
        const std::wstring radio = Utf8ToWide(RigctldRadioName(caps.lines));
        Report(RigLinkState::Connected, radio);
        PollUntilFailure(socket, copy, radio);
        CloseSocketSlot(rigctldSocket);
        if (!rigctldRunning.load())
            return;
        Report(RigLinkState::Reconnecting);
    } else {
        CloseSocketSlot(rigctldSocket);
    }
    WaitRigctldSlices(kHrdRetrySlices);
}

void RigctldPollerWorker() {
    while (rigctldRunning.load())
        ConnectAndPoll();
    Report(RigLinkState::Stopped);
}

} // namespace

std::atomic<bool>& rigctldRunning = rigctldWorker.running;
SocketSlot rigctldSocket;

void StartRigctldPoller() {
    StartWorker(rigctldWorker, RigctldPollerWorker);
}

void StopRigctldPoller() {
    StopWorker(rigctldWorker, [] { DropRigctldConnection(); });
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

void DropRigctldConnection() {
    rigctldConnectionWanted.store(false);
    WakeSocketSlot(rigctldSocket);
    WakeWorker(rigctldWorker);
}
