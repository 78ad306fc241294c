#pragma once
// The window handles that workers reach, the messages they post, and the sink that turns their
// reports into those messages.
#include <atomic>
#include <windows.h>

#include "platform/notify.h"

constexpr UINT WM_TRAYICON = WM_APP + 1;
constexpr UINT WM_SNAPSHOT_CHANGED = WM_APP + 10;
constexpr UINT WM_UDP_STATUS = WM_APP + 11;
constexpr UINT WM_POST_RESULT = WM_APP + 12;

// Null until WM_CREATE; workers post to it only while it is set.
extern std::atomic<HWND> mainWindow;
// The status lines of the rig sources (both on the HRD page), written by their pollers with a
// bounded send.
extern std::atomic<HWND> hrdStatusLabel;
extern std::atomic<HWND> rigctldStatusLabel;
HWND RigStatusLabel(RigSource source);

// Installs the window's sink; call before any worker starts, and InstallNotifySink(nullptr) after
// every worker has been stopped.
void InstallWindowSink();
