#include "platform/notify.h"

#include "platform/win32/window_targets.h"

std::atomic<HWND> mainWindow{nullptr};
std::atomic<HWND> hrdStatusLabel{nullptr};

namespace {

void PostToMainWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    if (HWND window = mainWindow.load())
        PostMessageW(window, message, wParam, lParam);
}

} // namespace

void NotifySnapshotChanged() {
    PostToMainWindow(WM_SNAPSHOT_CHANGED, 0, 0);
}

void NotifyUdpStatus(int state, int port) {
    PostToMainWindow(WM_UDP_STATUS, static_cast<WPARAM>(state), static_cast<LPARAM>(port));
}

void NotifyPostResult(int target, bool delivered) {
    PostToMainWindow(WM_POST_RESULT, static_cast<WPARAM>(target), delivered ? 1 : 0);
}

void SetHrdStatusText(const std::wstring& text) {
    // A hung UI thread must never hold up the poller: bounded send, result not needed.
    HWND label = hrdStatusLabel.load();
    if (!mainWindow.load() || !label)
        return;
    SendMessageTimeoutW(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 250, nullptr);
}
