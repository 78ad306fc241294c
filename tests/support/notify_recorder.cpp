#include "tests/support/notify_recorder.h"

#include "platform/notify.h"

#ifdef _WIN32
#include "platform/win32/window_targets.h"

struct NotifyRecorder::Platform {
    std::thread thread;
    DWORD threadId = 0;
    HWND window = nullptr;
};

namespace {

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* recorder = reinterpret_cast<NotifyRecorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (recorder) {
        switch (message) {
        case WM_SNAPSHOT_CHANGED:
            recorder->Record({NotifyEvent::SnapshotChanged});
            return 0;
        case WM_UDP_STATUS:
            recorder->Record({NotifyEvent::UdpStatus, int(wParam), int(lParam)});
            return 0;
        case WM_POST_RESULT:
            recorder->Record({NotifyEvent::PostResult, int(wParam), int(lParam)});
            return 0;
        case WM_SETTEXT:
            recorder->Record(
                {NotifyEvent::HrdStatus, 0, 0, reinterpret_cast<const wchar_t*>(lParam)});
            return TRUE;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

NotifyRecorder::NotifyRecorder() : platform(new Platform) {
    std::mutex ready;
    std::condition_variable readySignal;
    bool created = false;
    platform->thread = std::thread([&] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"CorvaneTestNotifySink";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0,
                                      HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        {
            std::lock_guard<std::mutex> lock(ready);
            platform->window = window;
            platform->threadId = GetCurrentThreadId();
            created = true;
        }
        readySignal.notify_one();
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        DestroyWindow(window);
    });
    std::unique_lock<std::mutex> lock(ready);
    readySignal.wait(lock, [&] { return created; });
    mainWindow.store(platform->window);
    hrdStatusLabel.store(platform->window);
}

NotifyRecorder::~NotifyRecorder() {
    mainWindow.store(nullptr);
    hrdStatusLabel.store(nullptr);
    PostThreadMessageW(platform->threadId, WM_QUIT, 0, 0);
    platform->thread.join();
    delete platform;
}

#else

struct NotifyRecorder::Platform {
    NotifySink sink;
};

NotifyRecorder::NotifyRecorder() : platform(new Platform) {
    platform->sink.snapshotChanged = [this] { Record({NotifyEvent::SnapshotChanged}); };
    platform->sink.udpStatus = [this](int state, int port) {
        Record({NotifyEvent::UdpStatus, state, port});
    };
    platform->sink.postResult = [this](int target, bool delivered) {
        Record({NotifyEvent::PostResult, target, delivered ? 1 : 0});
    };
    platform->sink.hrdStatus = [this](const std::wstring& text) {
        Record({NotifyEvent::HrdStatus, 0, 0, text});
    };
    InstallNotifySink(&platform->sink);
}

NotifyRecorder::~NotifyRecorder() {
    InstallNotifySink(nullptr);
    delete platform;
}

#endif

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
