#include "sources/hrd/hrd_poller.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/diagnostic_file.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/station_snapshot.h"
#include "platform/text.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"
#include "sources/rig_link.h"

namespace {

RigLink hrdLink{RigSource::Hrd};

struct HrdSettings {
    std::wstring host;
    int port = kDefaultHrdPort;
    int intervalSeconds = kDefaultHrdInterval;
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

bool ConnectionWanted() {
    return RigLinkWanted(hrdLink);
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
    ReportRigLink(hrdLink, RigLinkState::Connected, connection.radio);
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
        RaiseStationUpdate(BuildRigRecord(LeadingInteger(frequencyReply), ReadHrdMode(modeReply),
                                          copy.myCall, copy.opCall, connection.radio, L"HRD"));
        if (!modeRead ||
            !WaitRigLink(hrdLink, std::int64_t(copy.intervalSeconds) * kSlicesPerSecond))
            return;
    }
}

// One pass: connect, handshake, poll until the connection fails or is dropped, or the worker is
// stopped.
void ConnectAndPoll() {
    if (!BeginRigLinkPass(hrdLink))
        return;
    const HrdSettings copy = CopyHrdSettings();
    HrdConnection connection;
    connection.socket = ConnectRigLink(hrdLink, copy.host, copy.port);
    if (connection.socket == kInvalidSocket)
        return;
    const bool polled = Handshake(connection);
    if (polled)
        PollUntilFailure(connection, copy);
    EndRigLinkPass(hrdLink, polled);
}

} // namespace

std::atomic<bool>& hrdRunning = hrdLink.worker.running;
SocketSlot& hrdSocket = hrdLink.socket;
const wchar_t* const kHrdControlsFileName = L"corvane-hrd-controls.txt";

void StartHrdPoller() {
    StartRigLink(hrdLink, ConnectAndPoll);
}

void StopHrdPoller() {
    StopRigLink(hrdLink);
}

void DropHrdConnection() {
    DropRigLink(hrdLink);
}
