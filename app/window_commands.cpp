#include "app/window_commands.h"

#include <commctrl.h>

#include "app/lifecycle.h"
#include "app/main_window_layout.h"
#include "app/startup_registration.h"
#include "app/ui_state.h"
#include "app/window_sink.h"
#include "core/settings.h"
#include "core/station_snapshot.h"
#include "frontend/pages.h"
#include "frontend/workers.h"
#include "resources/resource.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"

namespace {

template <typename Handle> void DeleteGdiObject(Handle& object) {
    if (object)
        DeleteObject(object);
    object = nullptr;
}

// While the demo runs, the UDP line says so, whatever the listener reports.
void SetUdpLine(const wchar_t* text) {
    SetWindowTextW(ui.udpStatusLabel, testModeRunning.load() ? kTestModeText : text);
}

int UdpPortFromBox() {
    return PortFromText(WindowText(ui.udpPortEdit), kDefaultUdpPort);
}

long long SelectedIntervalData(HWND box) {
    const LRESULT selected = SendMessageW(box, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR)
        return 0;
    return SendMessageW(box, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0);
}

void OnCreate(HWND window) {
    mainWindow.store(window);
    UpdateDpi(window);
    ui.uiFont = CreateUiFont();
    BuildMainWindowControls(window);
    StartWorkers(WindowText(ui.udpAddressEdit), UdpPortFromBox(), [] {
        if (!settings.udpEnabled)
            SetUdpLine(kStoppedText);
    });
}

void OnUdpEnableClicked() {
    if (IsChecked(ui.udpEnableBox)) {
        SetUdpLine(kStartingText);
        StartUdpListener();
    } else {
        StopUdpListener();
    }
}

void OnTestModeClicked() {
    if (IsChecked(ui.testModeBox)) {
        StartTestMode();
        SetWindowTextW(ui.udpStatusLabel, kTestModeText);
    } else {
        StopTestMode();
        SetUdpStatusText(udpRunning.load() ? UdpListening : UdpStopped, UdpPortFromBox());
    }
}

void OnStartWithWindowsClicked(HWND window) {
    const bool wanted = IsChecked(ui.startWithWindowsBox);
    if (SetStartWithWindows(wanted))
        return;
    SetChecked(ui.startWithWindowsBox, !wanted);
    MessageBoxW(window,
                L"Windows refused to change the startup setting.\nThe registry key could not be "
                L"written.",
                L"Start with Windows", MB_OK | MB_ICONWARNING);
}

void ToggleKeyVisible(DashboardPage& page) {
    page.keyVisible = !page.keyVisible;
    SendMessageW(page.keyEdit, EM_SETPASSWORDCHAR, page.keyVisible ? 0 : L'*', 0);
    InvalidateRect(page.keyEdit, nullptr, TRUE);
    SetWindowTextW(page.showKeyButton, page.keyVisible ? L"Hide" : L"Show");
}

void OnSave(HWND window) {
    const bool udpWasRunning = udpRunning.load();
    ApplySettingsFromControls();

    if (settings.udpEnabled) {
        if (!udpWasRunning) {
            SetUdpLine(kStartingText);
            StartUdpListener();
        } else {
            // A changed address or port only takes effect in a new listener.
            StopUdpListener();
            StartUdpListener();
        }
    } else if (udpWasRunning) {
        StopUdpListener();
    }

    ApplyRigSettings(
        [](RigSource source) { SetWindowTextW(RigStatusLabel(source), RigEnabledText(false)); });

    MessageBoxW(window, L"Settings saved.", L"Corvane", MB_OK | MB_ICONINFORMATION);
}

void ShowTrayMenu() {
    HWND window = mainWindow.load();
    POINT cursor = {};
    GetCursorPos(&cursor);
    HMENU menu = BuildTrayMenu();
    if (!menu)
        return;
    // Without this the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    DestroyMenu(menu);
}

void OnCommand(HWND window, int id) {
    switch (id) {
    case IDC_UDP_ENABLE:
        OnUdpEnableClicked();
        break;
    case IDC_START_WITH_WINDOWS:
        OnStartWithWindowsClicked(window);
        break;
    case IDC_TEST_MODE:
        OnTestModeClicked();
        break;
    case IDC_SAVE:
        OnSave(window);
        break;
    case IDC_EXIT:
        ConfirmExit(window);
        break;
    case IDC_VLM_SHOW_KEY:
        ToggleKeyVisible(ui.pages[0]);
        break;
    case IDC_WP_SHOW_KEY:
        ToggleKeyVisible(ui.pages[1]);
        break;
    case IDM_TRAY_RESTORE:
        RestoreMainWindow();
        break;
    case IDM_TRAY_EXIT:
        ConfirmExit(mainWindow.load());
        break;
    default:
        break;
    }
}

void OnPostResult(WPARAM target, LPARAM delivered) {
    HWND label = ui.pages[target != 0 ? 1 : 0].lastPostLabel;
    if (label)
        SetWindowTextW(label, LastPostText(delivered != 0));
}

} // namespace

void StartUdpListener() {
    if (udpRunning.load())
        return;
    StartUdpListener(WindowText(ui.udpAddressEdit), UdpPortFromBox());
}

HMENU BuildTrayMenu() {
    HMENU menu = CreatePopupMenu();
    if (menu) {
        AppendMenuW(menu, MF_STRING, IDM_TRAY_RESTORE, L"Restore");
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_TRAY_EXIT, L"Exit");
    }
    return menu;
}

void RefreshLiveStatus() {
    const StationSnapshot snapshot = ReadStationSnapshot().snapshot;
    for (int row = 0; row < kLiveRowCount; ++row)
        SetWindowTextW(ui.liveValueLabels[row], LiveStatusValue(snapshot, kLiveStatusRows[row]));
}

void SetUdpStatusText(int state, int port) {
    SetUdpLine(UdpStatusText(state, WindowText(ui.udpAddressEdit), port).c_str());
}

void ApplySettingsFromControls() {
    SettingsForm form;
    for (int index = 0; index < 2; ++index) {
        const DashboardPage& page = ui.pages[index];
        form.enabled[index] = IsChecked(page.enableBox);
        if (index == 1)
            form.wpUrl = WindowText(page.urlEdit);
        form.dashboardId[index] = WindowText(page.idEdit);
        form.apiKey[index] = WindowText(page.keyEdit);
        form.intervalData[index] = SelectedIntervalData(page.intervalBox);
    }
    form.udpEnabled = IsChecked(ui.udpEnableBox);
    form.udpAddress = WindowText(ui.udpAddressEdit);
    form.udpPortText = WindowText(ui.udpPortEdit);
    form.startMinimized = IsChecked(ui.startMinimizedBox);
    form.hrdEnabled = IsChecked(ui.hrdEnableBox);
    form.hrdHost = WindowText(ui.hrdHostEdit);
    form.hrdPortText = WindowText(ui.hrdPortEdit);
    form.hrdIntervalData = SelectedIntervalData(ui.hrdIntervalBox);
    form.hrdMyCall = WindowText(ui.hrdMyCallEdit);
    form.hrdOperator = WindowText(ui.hrdOperatorEdit);
    form.rigctldEnabled = IsChecked(ui.rigctldEnableBox);
    form.rigctldHost = WindowText(ui.rigctldHostEdit);
    form.rigctldPortText = WindowText(ui.rigctldPortEdit);
    form.rigctldIntervalData = SelectedIntervalData(ui.rigctldIntervalBox);
    form.rigctldMyCall = WindowText(ui.rigctldMyCallEdit);
    form.rigctldOperator = WindowText(ui.rigctldOperatorEdit);
    ApplySettings(form);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        DeleteGdiObject(ui.uiFont);
        DeleteGdiObject(ui.tabFont);
        DeleteGdiObject(ui.pageBrush);
        PostQuitMessage(0);
        return 0;
    case WM_ACTIVATE: // like a dialog, give the focus back where it was
        if (LOWORD(wParam) == WA_INACTIVE && IsChild(window, GetFocus()))
            ui.lastFocus = GetFocus();
        break;
    case WM_SETFOCUS: {
        HWND last = ui.lastFocus;
        ui.lastFocus = nullptr;
        SetFocus(IsChild(window, last) && IsWindowVisible(last) ? last : ui.tabControl);
        return 0;
    }
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE: // the page may have a new colour
        DeleteGdiObject(ui.pageBrush);
        InvalidateRect(window, nullptr, TRUE);
        break;
    case WM_CLOSE: // closing only hides; the exit confirmation is the way out
        ShowWindow(mainWindow.load(), SW_HIDE);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_MINIMIZE) {
            ShowWindow(mainWindow.load(), SW_HIDE);
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->hwndFrom == ui.tabControl && header->code == TCN_SELCHANGE)
            ShowTabPage(static_cast<int>(SendMessageW(ui.tabControl, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC: // labels and check boxes stand on the tab page, not the dialog face
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(PageBrush());
    case WM_TRAYICON:
        if (LOWORD(lParam) == WM_LBUTTONDBLCLK)
            RestoreMainWindow();
        else if (LOWORD(lParam) == WM_RBUTTONUP)
            ShowTrayMenu();
        return 0;
    case WM_SNAPSHOT_CHANGED:
        RefreshLiveStatus();
        return 0;
    case WM_UDP_STATUS:
        SetUdpStatusText(static_cast<int>(wParam), static_cast<int>(lParam));
        return 0;
    case WM_POST_RESULT:
        OnPostResult(wParam, lParam);
        return 0;
    default:
        if (message != 0 && message == ui.taskbarCreated) {
            // A restarted shell has forgotten the icon.
            ui.trayIconAdded = false;
            AddTrayIcon();
            return 0;
        }
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
