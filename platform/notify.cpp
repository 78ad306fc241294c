#include "platform/notify.h"

#include <atomic>

namespace {

std::atomic<const NotifySink*> installedSink{nullptr};

template <typename Member, typename... Args> void Tell(Member member, const Args&... args) {
    const NotifySink* sink = installedSink.load();
    if (sink && sink->*member)
        (sink->*member)(args...);
}

} // namespace

void InstallNotifySink(const NotifySink* sink) {
    installedSink.store(sink);
}

void NotifySnapshotChanged() {
    Tell(&NotifySink::snapshotChanged);
}

void NotifyUdpStatus(int state, int port) {
    Tell(&NotifySink::udpStatus, state, port);
}

void NotifyPostResult(int target, bool delivered) {
    Tell(&NotifySink::postResult, target, delivered);
}

void NotifyRigStatus(RigSource source, RigLinkState state, const std::wstring& radio) {
    Tell(&NotifySink::rigStatus, source, state, radio);
}
