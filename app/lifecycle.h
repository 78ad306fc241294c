#pragma once
// Process start and end: DPI, tray icon, the main window and the exit confirmation.
#include <windows.h>

#include <shellapi.h>

extern const wchar_t* const kMainWindowClass;
extern const wchar_t* const kMainWindowTitle;
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kClientWidth = 460;
constexpr int kClientHeight = 414;

// Reads the system DPI into ui.dpi once, before the window is made: the manifest makes Corvane
// system-DPI aware, so every window has that DPI. An unreadable DPI keeps 96.
void ReadSystemDpi();
// A layout number given at 96 DPI, at the current DPI (MulDiv rounding).
int ScaleForDpi(int value);

bool RegisterMainWindowClass(HINSTANCE instance);
HWND CreateMainWindow(HINSTANCE instance);
// The tray icon as the shell is given it: icon 1 of the main window, its tip and callback.
// The tip is "Corvane", or names the first problem the pages' status lines tell of.
NOTIFYICONDATAW TrayIconData();
void AddTrayIcon();
// Gives the tray icon the tip for the pages' status lines as they now stand, when it changed.
void UpdateTrayTip();
// The one balloon of a first start that keeps the window hidden: where Corvane is, how to open it.
void ShowFirstStartBalloon();
void RemoveTrayIcon();
// Shows the window, this process's or the first instance's, and brings it forward.
void RestoreMainWindow(HWND window);
// Asks before ending the program; on Yes stops every worker and destroys the window.
void ConfirmExit(HWND owner);
