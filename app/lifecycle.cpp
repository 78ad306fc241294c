#include "app/lifecycle.h"

#include <shellapi.h>

#include "app/ui_state.h"
#include "app/window_commands.h"
#include "app/window_sink.h"
#include "frontend/pages.h"
#include "frontend/workers.h"

const wchar_t* const kMainWindowClass = L"CorvaneWndClass";
const wchar_t* const kMainWindowTitle = L"Corvane by N0CALL  v" CORVANE_VERSION;

// The Vista-and-later structure, so the shell takes the whole tip.
static_assert(sizeof(void*) != 8 || sizeof(NOTIFYICONDATAW) == 976, "full NOTIFYICONDATAW");

void ReadSystemDpi() {
    if (HDC screen = GetDC(nullptr)) {
        const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
        if (dpi > 0)
            ui.dpi = dpi;
        ReleaseDC(nullptr, screen);
    }
}

int ScaleForDpi(int value) {
    return MulDiv(value, ui.dpi, USER_DEFAULT_SCREEN_DPI);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ui.appIcon;
    windowClass.hIconSm = ui.appIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE); // follows the colour scheme
    windowClass.lpszClassName = kMainWindowClass;
    // Sent to every top-level window when Explorer (re)starts, whose tray has then lost our icon.
    ui.taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    return RegisterClassExW(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance) {
    RECT frame = {0, 0, ScaleForDpi(kClientWidth), ScaleForDpi(kClientHeight)};
    AdjustWindowRect(&frame, kMainWindowStyle, FALSE);
    return CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, kMainWindowStyle, CW_USEDEFAULT,
                           CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                           nullptr, nullptr, instance, nullptr);
}

namespace {

// Our one icon in the tray: the window's, with the id 0 that every call here gives it.
NOTIFYICONDATAW TrayIconIdentity() {
    NOTIFYICONDATAW icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = mainWindow.load();
    return icon;
}

// The pages' status lines as they stand, in page order.
std::wstring CurrentTrayTip() {
    return TrayTipText({{kHostedPage, WindowText(ui.pages[0].lastPostLabel)},
                        {kWpPage, WindowText(ui.pages[1].lastPostLabel)},
                        {kUdpPage, WindowText(ui.udpStatusLabel)},
                        {kHrdPage, WindowText(hrdStatusLabel.load())},
                        {kHrdPage, WindowText(rigctldStatusLabel.load())}});
}

} // namespace

NOTIFYICONDATAW TrayIconData() {
    NOTIFYICONDATAW icon = TrayIconIdentity();
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = WM_TRAYICON;
    icon.hIcon = ui.appIcon;
    ui.trayTip = CurrentTrayTip();
    lstrcpynW(icon.szTip, ui.trayTip.c_str(), ARRAYSIZE(icon.szTip));
    return icon;
}

void UpdateTrayTip() {
    const std::wstring tip = CurrentTrayTip();
    if (!ui.trayIconAdded || tip == ui.trayTip)
        return;
    NOTIFYICONDATAW icon = TrayIconData();
    icon.uFlags = NIF_TIP;
    Shell_NotifyIconW(NIM_MODIFY, &icon);
}

void ShowFirstStartBalloon() {
    NOTIFYICONDATAW icon = TrayIconIdentity();
    icon.uFlags = NIF_INFO;
    icon.dwInfoFlags = NIIF_INFO;
    lstrcpynW(icon.szInfoTitle, kFirstStartBalloonTitle, ARRAYSIZE(icon.szInfoTitle));
    lstrcpynW(icon.szInfo, kFirstStartBalloonText, ARRAYSIZE(icon.szInfo));
    Shell_NotifyIconW(NIM_MODIFY, &icon);
}

void AddTrayIcon() {
    if (ui.trayIconAdded)
        return;
    NOTIFYICONDATAW icon = TrayIconData();
    Shell_NotifyIconW(NIM_ADD, &icon);
    ui.trayIconAdded = true;
}

void RemoveTrayIcon() {
    if (!ui.trayIconAdded)
        return;
    NOTIFYICONDATAW icon = TrayIconIdentity();
    Shell_NotifyIconW(NIM_DELETE, &icon);
    ui.trayIconAdded = false;
}

void RestoreMainWindow(HWND window) {
    ShowWindow(window, SW_RESTORE); // shows a hidden window too, and un-minimises one
    SetForegroundWindow(window);
}

void ConfirmExit(HWND owner) {
    const int answer = MessageBoxW(owner,
                                   L"This will fully close the Corvane and stop posting your "
                                   L"station.\n\nDo you want to continue?",
                                   L"Exit Corvane", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES)
        return;
    StopWorkers();
    RemoveTrayIcon();
    DestroyWindow(mainWindow.load());
}
