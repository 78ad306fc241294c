#include "sources/rig_link.h"

#include "core/numbers.h"
#include "core/settings.h"
#include "platform/text.h"

bool RigLinkWanted(RigLink& link) {
    return link.worker.running.load() && link.wanted.load();
}

bool WaitRigLink(RigLink& link, std::int64_t slices) {
    return WaitSlices(link.worker, slices, &link.wanted);
}

void ReportRigLink(RigLink& link, RigLinkState state, const std::wstring& radio) {
    NotifyRigStatus(link.source, state, radio);
}

bool BeginRigLinkPass(RigLink& link) {
    link.wanted.store(true);
    return link.worker.running.load(); // a stop may have cleared our flag just before we raised it
}

SocketHandle ConnectRigLink(RigLink& link, const std::wstring& host, int port) {
    ReportRigLink(link, RigLinkState::Connecting);
    const std::string address =
        WideToUtf8(IsDottedIpv4(host) ? host : std::wstring(kDefaultHrdHost));
    const SocketHandle socket = TcpSocket();
    link.socket.handle.store(socket);
    if (socket == kInvalidSocket) {
        WaitRigLink(link, kRigRetrySlices);
        return kInvalidSocket;
    }
    const bool connected =
        TcpConnectSocket(socket, address, port, kRigConnectLimitMs, &link.wanted);
    // A drop may have found the socket still connecting, where a shutdown need not take.
    if (connected && RigLinkWanted(link))
        return socket;
    CloseSocketSlot(link.socket);
    if (RigLinkWanted(link)) { // not stopped, nor dropped to read new settings
        ReportRigLink(link, RigLinkState::NotReachable);
        WaitRigLink(link, kRigRetrySlices);
    }
    return kInvalidSocket;
}

void EndRigLinkPass(RigLink& link, bool polled) {
    CloseSocketSlot(link.socket);
    if (!link.worker.running.load())
        return;
    if (polled)
        ReportRigLink(link, RigLinkState::Reconnecting);
    WaitRigLink(link, kRigRetrySlices);
}

void StartRigLink(RigLink& link, void (*pass)()) {
    StartWorker(link.worker, [&link, pass] {
        while (link.worker.running.load())
            pass();
        ReportRigLink(link, RigLinkState::Stopped);
    });
}

void DropRigLink(RigLink& link) {
    link.wanted.store(false);
    WakeSocketSlot(link.socket);
    WakeWorker(link.worker);
}

void StopRigLink(RigLink& link) {
    if (link.worker.running.exchange(false))
        DropRigLink(link);
    if (link.worker.thread.joinable())
        link.worker.thread.join();
}
