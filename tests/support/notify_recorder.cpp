#include "tests/support/notify_recorder.h"

NotifyRecorder::NotifyRecorder() {
    sink.snapshotChanged = [this] { Record({NotifyEvent::SnapshotChanged}); };
    sink.udpStatus = [this](int state, int port) { Record({NotifyEvent::UdpStatus, state, port}); };
    sink.postResult = [this](int target, bool delivered) {
        Record({NotifyEvent::PostResult, target, delivered ? 1 : 0});
    };
    sink.hrdStatus = [this](const std::wstring& text) {
        Record({NotifyEvent::HrdStatus, 0, 0, text});
    };
    InstallNotifySink(&sink);
}

NotifyRecorder::~NotifyRecorder() {
    InstallNotifySink(nullptr);
}

void NotifyRecorder::Record(NotifyEvent event) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(event));
    }
    changed.notify_all();
}

std::vector<NotifyEvent> NotifyRecorder::Events() {
    std::lock_guard<std::mutex> lock(mutex);
    return events;
}

void NotifyRecorder::Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    events.clear();
}

bool NotifyRecorder::WaitFor(const std::function<bool(const std::vector<NotifyEvent>&)>& done,
                             std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return done(events); });
}

std::vector<int> NotifyRecorder::UdpStates() {
    std::vector<int> states;
    for (const NotifyEvent& event : Events())
        if (event.kind == NotifyEvent::UdpStatus)
            states.push_back(event.first);
    return states;
}

std::vector<std::wstring> NotifyRecorder::HrdTexts() {
    std::vector<std::wstring> texts;
    for (const NotifyEvent& event : Events())
        if (event.kind == NotifyEvent::HrdStatus)
            texts.push_back(event.text);
    return texts;
}

std::vector<std::pair<int, bool>> NotifyRecorder::PostResults() {
    std::vector<std::pair<int, bool>> results;
    for (const NotifyEvent& event : Events())
        if (event.kind == NotifyEvent::PostResult)
            results.emplace_back(event.first, event.second != 0);
    return results;
}

int NotifyRecorder::SnapshotChanges() {
    int count = 0;
    for (const NotifyEvent& event : Events())
        count += event.kind == NotifyEvent::SnapshotChanged;
    return count;
}
