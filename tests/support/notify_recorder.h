#pragma once
// Records what the workers tell the front end, through the sink it installs in their place.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/notify.h"

struct NotifyEvent {
    enum Kind { SnapshotChanged, UdpStatus, PostResult, HrdStatus };
    NotifyEvent(Kind k, int a = 0, int b = 0, std::wstring t = std::wstring())
        : kind(k), first(a), second(b), text(std::move(t)) {}
    Kind kind;
    int first;  // UDP state or target index
    int second; // port or delivered (1/0)
    std::wstring text;
};

struct NotifyRecorder {
    NotifyRecorder();
    ~NotifyRecorder();
    NotifyRecorder(const NotifyRecorder&) = delete;
    NotifyRecorder& operator=(const NotifyRecorder&) = delete;

    void Record(NotifyEvent event);
    std::vector<NotifyEvent> Events();
    void Clear();
    // Waits until the predicate holds for the events so far; false on time-out.
    bool WaitFor(const std::function<bool(const std::vector<NotifyEvent>&)>& done,
                 std::chrono::milliseconds limit);

    std::vector<int> UdpStates();
    std::vector<std::wstring> HrdTexts();
    std::vector<std::pair<int, bool>> PostResults();
    int SnapshotChanges();

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<NotifyEvent> events;
    NotifySink sink;
};
