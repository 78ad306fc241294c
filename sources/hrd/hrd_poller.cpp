#include "sources/hrd/hrd_poller.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/diagnostic_file.h"
#include "core/notify.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/station_snapshot.h"
#include "core/worker.h"
#include "platform/text.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"

namespace {

Worker hrdWorker;

// Cleared by a stop and by a drop: the pass in hand (connect, handshake, polls, the waits) ends at
// its next look, and the next pass reads the settings afresh. Raised again before a pass copies
// them, so a drop that comes after the copy is never lost.
std::atomic<bool> hrdConnectionWanted{false};

constexpr int kConnectLimitMs = 3000;
constexpr int kRetrySlices = 3 * kSlicesPerSecond;

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
    copy.host = settings.hrdHost.empty() ? std::wstring(kDefaultHrdHost) : settings.hrdHost;
    copy.port = PortOrDefault(settings.hrdPort, kDefaultHrdPort);
    copy.intervalSeconds =
        settings.hrdIntervalSeconds < 1 ? kDefaultHrdInterval : settings.hrdIntervalSeconds;
    copy.myCall = settings.hrdMyCall;
    copy.opCall = settings.hrdOperator;
    return copy;
}

void ReportHrd(RigLinkState state, const std::wstring& radio = {}) {
    NotifyRigStatus(RigSource::Hrd, state, radio);
}

bool ConnectionWanted() {
    return hrdRunning.load() && hrdConnectionWanted.load();
}

// Waits whole worker slices, cut short by a stop or a drop; false once one came.
bool WaitHrdSlices(std::int64_t slices) {
    return WaitSlices(hrdWorker, slices, &hrdConnectionWanted);
}

struct HrdConnection {
    SocketHandle socket = kInvalidSocket;
    std::wstring contextPrefix;
    std::wstring radio;
    std::wstring modeCommand;
    bool broken = false;    // an exchange failed: no later reply can be trusted
    bool outOfStep = false; // a frame came unasked: not even the last reply can be
};

// Once another thread has closed the connection its handle may already belong to a newer socket
// elsewhere in the process, so it is not used again. HRD speaks only when asked, while we ask only
// once the last reply is read; a reply that timed out may still arrive, after the next request has
// gone out, and would then answer it. So the first failed exchange ends the connection's use:
// later ones fail at once, and the caller reconnects. Anything already waiting when a request is
// about to go out is a frame nobody asked for, or the late rest of an earlier reply.
bool Exchange(HrdConnection& connection, const std::wstring& command, std::wstring& reply) {
    if (!connection.broken && ConnectionWanted() && hrdSocket.handle.load() == connection.socket) {
        connection.outOfStep = SocketReadable(connection.socket);
        if (!connection.outOfStep && HrdExchange(connection.socket, command, reply))
            return true;
    }
    connection.broken = true;
    return false;
}

void WriteHrdControlsDump(const HrdConnection& connection, const std::wstring& probeReply) {
    std::string dump;
    dump += "HRD radio: " + WideToUtf8(connection.radio) + "\r\n";
    dump += "get mode -> '" + WideToUtf8(probeReply) + "'\r\n";
    dump += "chosen mode command -> '" + WideToUtf8(connection.modeCommand) + "'\r\n";
    DiagnosticFileWrite(kHrdControlsFileName, dump);
}

// The handshake: false when any of its exchanges failed, since a late reply would answer the next
// question; the connection is then given up before it is announced.
bool Handshake(HrdConnection& connection) {
    std::wstring idReply;
    std::wstring contextReply;
    std::wstring radioReply;
    if (!Exchange(connection, kHrdGetId, idReply) ||
        !Exchange(connection, kHrdGetContext, contextReply) ||
        !Exchange(connection, kHrdGetRadio, radioReply))
        return false;
    std::wstring context = TrimWhitespace(contextReply);
    if (context.empty())
        context = L"0";
    connection.radio = TrimWhitespace(radioReply);
    connection.contextPrefix = L"[" + context + L"] ";

    // Some radios answer "get mode", others only show the mode in a dropdown.
    std::wstring probeReply;
    if (!Exchange(connection, connection.contextPrefix + kHrdGetMode, probeReply))
        return false;
    const std::wstring probe = TrimWhitespace(probeReply);
    connection.modeCommand =
        connection.contextPrefix + (probe.empty() ? kHrdGetDropdownMode : kHrdGetMode);

    WriteHrdControlsDump(connection, probe);
    ReportHrd(RigLinkState::Connected, connection.radio);
    return true;
}

void PollUntilFailure(HrdConnection& connection, const HrdSettings& copy) {
    const std::wstring frequencyCommand = connection.contextPrefix + kHrdGetFrequency;
    while (ConnectionWanted()) {
        std::wstring frequencyReply;
        std::wstring modeReply;
        if (!Exchange(connection, frequencyCommand, frequencyReply))
            return;
        // A failed mode read leaves the mode empty; the poll still counts, and then the
        // connection goes, since the late reply would answer the next question.
        const bool modeRead = Exchange(connection, connection.modeCommand, modeReply);
        if (connection.outOfStep)
            return; // the frequency just read may have answered an earlier question
        RaiseStationUpdate(BuildHrdRecord(LeadingInteger(frequencyReply), ReadHrdMode(modeReply),
                                          copy.myCall, copy.opCall, connection.radio));
        if (!modeRead || !WaitHrdSlices(std::int64_t(copy.intervalSeconds) * kSlicesPerSecond))
            return;
    }
}

// One pass: connect, handshake, poll until the connection fails or is dropped, or the worker is
// stopped. Whatever fails, the next pass waits as after a refused connect, so a peer that drops
// every handshake or poll is not hammered; a stop or a drop cuts the wait short.
void ConnectAndPoll() {
    hrdConnectionWanted.store(true);
    if (!hrdRunning.load())
        return; // a stop may have cleared our flag just before we raised it
    const HrdSettings copy = CopyHrdSettings();
    ReportHrd(RigLinkState::Connecting);

    // Numeric IPv4 only: a host name is never resolved, it means this computer.
    const std::string address =
        WideToUtf8(IsDottedIpv4(copy.host) ? copy.host : std::wstring(kDefaultHrdHost));
    HrdConnection connection;
    // In the slot before connecting, so that a stop or a drop (a Save) can cut the connect short.
    connection.socket = TcpSocket();
    hrdSocket.handle.store(connection.socket);
    if (connection.socket == kInvalidSocket) {
        WaitHrdSlices(kRetrySlices);
        return;
    }
    const bool connected = TcpConnectSocket(connection.socket, address, copy.port, kConnectLimitMs,
                                            &hrdConnectionWanted);
    // A drop may have found the socket still connecting, where a shutdown need not take.
    if (!connected || !ConnectionWanted()) {
        CloseSocketSlot(hrdSocket);
        if (!ConnectionWanted())
            return; // stopped, or dropped to read new settings
        ReportHrd(RigLinkState::NotReachable);
        WaitHrdSlices(kRetrySlices);
        return;
    }

    if (Handshake(connection)) {
        PollUntilFailure(connection, copy);
        CloseSocketSlot(hrdSocket);
        if (!hrdRunning.load())
            return;
        ReportHrd(RigLinkState::Reconnecting);
    } else {
        CloseSocketSlot(hrdSocket);
    }
    WaitHrdSlices(kRetrySlices);
}

void HrdPollerWorker() {
    while (hrdRunning.load())
        ConnectAndPoll();
    ReportHrd(RigLinkState::Stopped);
}

} // namespace

std::atomic<bool>& hrdRunning = hrdWorker.running;
SocketSlot hrdSocket;
const wchar_t* const kHrdControlsFileName = L"corvane-hrd-controls.txt";

void StartHrdPoller() {
    StartWorker(hrdWorker, HrdPollerWorker);
}

void StopHrdPoller() {
    StopWorker(hrdWorker, [] { DropHrdConnection(); });
}

void DropHrdConnection() {
    hrdConnectionWanted.store(false);
    WakeSocketSlot(hrdSocket);
    WakeWorker(hrdWorker);
}
