#pragma once
// The main window's procedure: building, the commands, and the workers' reports.
#include <windows.h>

#include "core/settings.h"

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts the listener on the address and port typed into the UDP page's boxes.
void StartUdpListenerFromPage();
// The tray icon's menu: "Restore", a separator, "Exit"; the caller destroys it.
HMENU BuildTrayMenu();
void RefreshLiveStatus();
void SetUdpStatusText(int state, int port);
// Reads every settings control, applies the values under the post signal's lock and saves them;
// returns what the controls held.
SettingsForm ApplySettingsFromControls();
