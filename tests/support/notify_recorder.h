#pragma once
// Records what the workers tell the front end, through the sink it installs in their place.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/notify.h"
#include "frontend/pages.h"

struct NotifyEvent {
    enum Kind { SnapshotChanged, UdpStatus, PostResult, RigStatus } kind;
    int first = 0;  // UDP state, target index or rig source
    int second = 0; // port or post failure (PostFailure)
    std::wstring text{};
};

struct NotifyRecorder {
    NotifyRecorder() {
        sink.snapshotChanged = [this] { Record({NotifyEvent::SnapshotChanged}); };
        sink.udpStatus = [this](int state, int port) {
            Record({NotifyEvent::UdpStatus, state, port});
        };
        sink.postResult = [this](int target, const PostOutcome& outcome) {
            Record({NotifyEvent::PostResult, target, static_cast<int>(outcome.failure)});
        };
        // As the front ends show it.
        sink.rigStatus = [this](RigSource source, RigLinkState state, const std::wstring& radio) {
            Record({NotifyEvent::RigStatus, int(source), 0, RigStatusText(source, state, radio)});
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
    std::vector<std::wstring> RigTexts(RigSource source = RigSource::Hrd) {
        std::vector<std::wstring> texts;
        for (const NotifyEvent& event : Events())
            if (event.kind == NotifyEvent::RigStatus && event.first == int(source))
                texts.push_back(event.text);
        return texts;
    }
    std::vector<std::pair<int, PostFailure>> PostResults() {
        std::vector<std::pair<int, PostFailure>> results;
        for (const NotifyEvent& event : Events())
            if (event.kind == NotifyEvent::PostResult)
                results.emplace_back(event.first, static_cast<PostFailure>(event.second));
        return results;
    }
    std::vector<int> UdpStates() {
        std::vector<int> states;
        for (const NotifyEvent& event : Events())
            if (event.kind == NotifyEvent::UdpStatus)
                states.push_back(event.first);
        return states;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<NotifyEvent> events;
    NotifySink sink;
};
