#pragma once
// Records what the workers tell the front end, through the sink it installs in their place.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "frontend/pages.h"
#include "platform/notify.h"

struct NotifyEvent {
    enum Kind { SnapshotChanged, UdpStatus, PostResult, HrdStatus, RigctldStatus };
    NotifyEvent(Kind k, int a = 0, int b = 0, std::wstring t = std::wstring())
        : kind(k), first(a), second(b), text(std::move(t)) {}
    Kind kind;
    int first;  // UDP state or target index
    int second; // port or delivered (1/0)
    std::wstring text;
};

struct NotifyRecorder {
    NotifyRecorder() {
        sink.snapshotChanged = [this] { Record({NotifyEvent::SnapshotChanged}); };
        sink.udpStatus = [this](int state, int port) {
            Record({NotifyEvent::UdpStatus, state, port});
        };
        sink.postResult = [this](int target, bool delivered) {
            Record({NotifyEvent::PostResult, target, delivered});
        };
        sink.rigStatus = [this](RigSource source, RigLinkState state, const std::wstring& radio) {
            Record({source == RigSource::Hrd ? NotifyEvent::HrdStatus : NotifyEvent::RigctldStatus,
                    0, 0, RigStatusText(source, state, radio)});
        };
        InstallNotifySink(&sink);
    }
    ~NotifyRecorder() { InstallNotifySink(nullptr); }
    NotifyRecorder(const NotifyRecorder&) = delete;
    NotifyRecorder& operator=(const NotifyRecorder&) = delete;

    void Record(NotifyEvent event) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(event));
        }
        changed.notify_all();
    }
    std::vector<NotifyEvent> Events() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex);
        events.clear();
    }
    // Waits until the predicate holds for the events so far; false on time-out.
    bool WaitFor(const std::function<bool(const std::vector<NotifyEvent>&)>& done,
                 std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return done(events); });
    }

    // The events of one kind, in order, as what the window would show of them.
    std::vector<int> UdpStates() { return Of<int>(NotifyEvent::UdpStatus, &NotifyEvent::first); }
    std::vector<std::wstring> RigTexts(RigSource source) {
        return Of<std::wstring>(source == RigSource::Hrd ? NotifyEvent::HrdStatus
                                                         : NotifyEvent::RigctldStatus,
                                &NotifyEvent::text);
    }
    std::vector<std::wstring> HrdTexts() { return RigTexts(RigSource::Hrd); }
    std::vector<std::pair<int, bool>> PostResults() {
        std::vector<std::pair<int, bool>> results;
        for (const NotifyEvent& event : Events())
            if (event.kind == NotifyEvent::PostResult)
                results.emplace_back(event.first, event.second != 0);
        return results;
    }
    int SnapshotChanges() {
        return int(Of<int>(NotifyEvent::SnapshotChanged, &NotifyEvent::first).size());
    }
    template <typename T, typename Member>
    std::vector<T> Of(NotifyEvent::Kind kind, Member member) {
        std::vector<T> values;
        for (const NotifyEvent& event : Events())
            if (event.kind == kind)
                values.push_back(event.*member);
        return values;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<NotifyEvent> events;
    NotifySink sink;
};
