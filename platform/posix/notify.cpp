#include "platform/notify.h"

#include <atomic>

namespace {
std::atomic<const NotifySink*> installedSink{nullptr};
}

void InstallNotifySink(const NotifySink* sink) {
    installedSink.store(sink);
}

void NotifySnapshotChanged() {
    const NotifySink* sink = installedSink.load();
    if (sink && sink->snapshotChanged)
        sink->snapshotChanged();
}

void NotifyUdpStatus(int state, int port) {
    const NotifySink* sink = installedSink.load();
    if (sink && sink->udpStatus)
        sink->udpStatus(state, port);
}

void NotifyPostResult(int target, bool delivered) {
    const NotifySink* sink = installedSink.load();
    if (sink && sink->postResult)
        sink->postResult(target, delivered);
}

void SetHrdStatusText(const std::wstring& text) {
    const NotifySink* sink = installedSink.load();
    if (sink && sink->hrdStatus)
        sink->hrdStatus(text);
}
