#include "app/window_sink.h"

#include "core/notify.h"
#include "frontend/pages.h"

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

// How long a rig poller waits at most for its label to take its text.
constexpr UINT kLabelSendLimitMs = 250;

void SendRigText(RigSource source, RigLinkState state, const std::wstring& radio) {
    // A hung UI thread must never hold up the poller: bounded send, result not needed.
    HWND label = RigStatusLabel(source);
    if (!mainWindow.load() || !label)
        return;
    const std::wstring text = RigStatusText(source, state, radio);
    SendMessageTimeoutW(label, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, kLabelSendLimitMs, nullptr);
    PostToMainWindow(WM_RIG_LINE_CHANGED, 0, 0);
}

const NotifySink windowSink = {
    [] { PostToMainWindow(WM_SNAPSHOT_CHANGED, 0, 0); },
    [](int state, int port) { PostToMainWindow(WM_UDP_STATUS, state, port); },
    [](int target, const PostOutcome& outcome) {
        PostToMainWindow(WM_POST_RESULT, target, PackPostOutcome(outcome));
    },
    SendRigText,
};

} // namespace

void InstallWindowSink() {
    InstallNotifySink(&windowSink);
}
