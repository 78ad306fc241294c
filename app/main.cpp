// Corvane.exe: one instance, one window in the tray, the workers behind it.
#include <windows.h>

#include <commctrl.h>

#include "app/lifecycle.h"
#include "app/main_window_layout.h"
#include "app/startup_registration.h"
#include "app/ui_state.h"
#include "app/window_sink.h"
#include "core/settings.h"
#include "frontend/workers.h"
#include "platform/net.h"
#include "platform/win32/handle.h"
#include "resources/resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const ScopedMutex singleInstance(CreateMutexW(nullptr, TRUE, L"N1MM_Corvane_SingleInstance"));
    if (singleInstance.Valid() && GetLastError() == ERROR_ALREADY_EXISTS) {
        // Bring the running copy forward instead of starting a second one.
        if (HWND first = FindWindowW(kMainWindowClass, nullptr))
            RestoreMainWindow(first);
        return 0;
    }
    // Never closed: it marks the first instance for as long as the process lives.
    CreateMutexW(nullptr, FALSE, L"Global\\Corvane_Running");

    NetStartup();
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const bool createdSettings = LoadSettings() == ProfileFileState::Missing;
    SyncStartWithWindows();
    ui.appIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP_ICON)); // shared, the system's size
    RegisterMainWindowClass(instance);
    ReadSystemDpi();
    InstallWindowSink();

    // WM_CREATE builds the controls and starts the workers inside this call.
    HWND window = CreateMainWindow(instance);
    if (!window)
        return 1;
    AddTrayIcon();
    ShowWindow(window, settings.startMinimized ? SW_HIDE : SW_SHOW);
    UpdateWindow(window);
    // A new user with the window hidden would otherwise see nothing at all: Windows puts new icons
    // out of sight in the overflow area. Said once, on the start that made settings.ini.
    if (createdSettings && settings.startMinimized && !FirstStartHintShown()) {
        MarkFirstStartHintShown();
        ShowFirstStartBalloon();
    }

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (HandlePageKey(message))
            continue;
        if (!IsDialogMessageW(window, &message)) { // Tab and Shift+Tab between the controls
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    // Normally ConfirmExit has stopped the workers already; stopped here too, a loop ended some
    // other way never leaves a joinable thread behind.
    StopWorkers();
    RemoveTrayIcon();
    NetCleanup();
    return static_cast<int>(message.wParam);
}
