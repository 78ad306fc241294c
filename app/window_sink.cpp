#include "app/window_sink.h"

#include "frontend/pages.h"
#include "platform/notify.h"

std::atomic<HWND> mainWindow{nullptr};
std::atomic<HWND> hrdStatusLabel{nullptr};
std::atomic<HWND> rigctldStatusLabel{nullptr};

HWND RigStatusLabel(RigSource source) {
    return (source == RigSource::Hrd ? hrdStatusLabel : rigctldStatusLabel).load();
}

namespace {

void PostToMainWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    if (HWND window = mainWindow.load())
        PostMessageW(window, message, wParam, lParam);
}

void SendRigText(RigSource source, RigLinkState state, const std::wstring& radio) {
    // A hung UI thread must never hold up the poller: bounded send, result not needed.
    HWND label = RigStatusLabel(source);
    if (!mainWindow.load() || !label)
        return;
    const std::wstring text = RigStatusText(source, state, radio);
    SendMessageTimeoutW(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 250, nullptr);
}

const NotifySink windowSink = {
    [] { PostToMainWindow(WM_SNAPSHOT_CHANGED, 0, 0); },
    [](int state, int port) { PostToMainWindow(WM_UDP_STATUS, state, port); },
    [](int target, bool delivered) { PostToMainWindow(WM_POST_RESULT, target, delivered); },
    SendRigText,
};

} // namespace

void InstallWindowSink() {
    InstallNotifySink(&windowSink);
}
