#pragma once
// The main window's process-wide state, owned by the UI thread. The workers see only mainWindow
// and the rig sources' status labels (app/window_sink.h).
#include <string>
#include <vector>
#include <windows.h>

#include "frontend/pages.h"
#include "platform/win32/handle.h"

// The controls of a dashboard's settings page; index = target index.
struct DashboardPage {
    HWND enableBox = nullptr;
    HWND urlEdit = nullptr; // target 1 only: the hosted service's URL is built in
    HWND idEdit = nullptr;
    HWND keyEdit = nullptr;
    HWND showKeyButton = nullptr;
    HWND intervalBox = nullptr;
    HWND lastPostLabel = nullptr;
    bool keyVisible = false;
};

struct UiState {
    int dpi = USER_DEFAULT_SCREEN_DPI; // the layout's own, until ReadSystemDpi
    HICON appIcon = nullptr;           // shared resource, never destroyed
    bool trayIconAdded = false;
    std::wstring trayTip;
    // Deleted at WM_DESTROY (Reset), or at the latest when the process ends.
    ScopedFont uiFont;
    ScopedFont tabFont;       // a smaller uiFont for the tabs, when theirs does not fit
    ScopedBrush pageBrush;    // the tab page's own colour, behind labels and check boxes
    UINT taskbarCreated = 0;  // the shell's "TaskbarCreated" message
    HWND lastFocus = nullptr; // the control that had the focus when the window went inactive

    HWND tabControl = nullptr;

    DashboardPage pages[kTargetCount];

    HWND udpEnableBox = nullptr;
    HWND udpAddressEdit = nullptr;
    HWND udpPortEdit = nullptr;
    HWND udpStatusLabel = nullptr;
    // The address text and port the running listener was started with: what its line names.
    std::wstring udpListenAddress;
    int udpListenPort = 0;

    HWND hrdEnableBox = nullptr;
    HWND hrdHostEdit = nullptr;
    HWND hrdPortEdit = nullptr;
    HWND hrdIntervalBox = nullptr;
    HWND hrdMyCallEdit = nullptr;
    HWND hrdOperatorEdit = nullptr;

    HWND rigctldEnableBox = nullptr; // in the HRD page's lower half
    HWND rigctldHostEdit = nullptr;
    HWND rigctldPortEdit = nullptr;
    HWND rigctldIntervalBox = nullptr;
    HWND rigctldMyCallEdit = nullptr;
    HWND rigctldOperatorEdit = nullptr;

    HWND liveValueLabels[kLiveRowCount] = {};

    HWND startMinimizedBox = nullptr;
    HWND startWithWindowsBox = nullptr;
    HWND testModeBox = nullptr;

    // Every control of a page, labels included, in creation order; index = tab index.
    std::vector<HWND> tabPages[kPageCount];
};

extern UiState ui;

std::wstring WindowText(HWND window);
bool IsChecked(HWND box);
void SetChecked(HWND box, bool checked);
