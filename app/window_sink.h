#pragma once
// The window handles that workers reach, the messages they post, and the sink that turns their
// reports into those messages.
#include <atomic>
#include <windows.h>

#include "core/notify.h"
#include "core/post_outcome.h"

// Our own messages, numbered on from WM_APP: only this window receives them.
enum : UINT {
    WM_TRAYICON = WM_APP,
    WM_SNAPSHOT_CHANGED,
    WM_UDP_STATUS,
    WM_POST_RESULT,
    WM_RIG_LINE_CHANGED, // the tray tip follows it
};

// WM_POST_RESULT carries the outcome in its lParam: the failure, the HTTP status (three digits,
// so 10 bits hold it) and the second of the day.
inline LPARAM PackPostOutcome(const PostOutcome& outcome) {
    return static_cast<LPARAM>(static_cast<unsigned>(outcome.failure) |
                               (static_cast<unsigned>(outcome.httpStatus) & 0x3FF) << 4 |
                               static_cast<unsigned>(outcome.secondOfDay) << 14);
}
inline PostOutcome UnpackPostOutcome(LPARAM packed) {
    const auto bits = static_cast<unsigned>(packed);
    return {static_cast<PostFailure>(bits & 0xF), static_cast<int>(bits >> 4 & 0x3FF),
            static_cast<int>(bits >> 14)};
}

// Null until WM_CREATE; workers post to it only while it is set.
extern std::atomic<HWND> mainWindow;
// The status lines of the rig sources (both on the HRD page), written by their pollers with a
// bounded send.
extern std::atomic<HWND> hrdStatusLabel;
extern std::atomic<HWND> rigctldStatusLabel;
HWND RigStatusLabel(RigSource source);

// Installs the window's sink before any worker starts. It stays for the process's life: the
// workers are stopped before the window's message loop ends.
void InstallWindowSink();
