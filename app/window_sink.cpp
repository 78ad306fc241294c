#include "app/window_sink.h"

#include "platform/notify.h"

std::atomic<HWND> mainWindow{nullptr};
std::atomic<HWND> hrdStatusLabel{nullptr};

namespace {

void PostToMainWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    if (HWND window = mainWindow.load())
        PostMessageW(window, message, wParam, lParam);
}

void SendHrdText(const std::wstring& text) {
    // A hung UI thread must never hold up the poller: bounded send, result not needed.
    HWND label = hrdStatusLabel.load();
    if (!mainWindow.load() || !label)
        return;
    SendMessageTimeoutW(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 250, nullptr);
}

const NotifySink windowSink = {
    [] { PostToMainWindow(WM_SNAPSHOT_CHANGED, 0, 0); },
    [](int state, int port) { PostToMainWindow(WM_UDP_STATUS, state, port); },
    [](int target, const PostOutcome& outcome) {
        PostToMainWindow(WM_POST_RESULT, target, PackPostOutcome(outcome));
    },
    SendHrdText,
};

} // namespace

void InstallWindowSink() {
    InstallNotifySink(&windowSink);
}
