#include "app/window_commands.h"

#include <commctrl.h>
#include <windowsx.h>

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

// While the demo runs, the UDP line says so, whatever the listener reports.
void SetUdpLine(const wchar_t* text) {
    SetWindowTextW(ui.udpStatusLabel, testModeRunning.load() ? kTestModeText : text);
}

int UdpPortFromBox() {
    return PortFromText(WindowText(ui.udpPortEdit), kDefaultUdpPort);
}

long long SelectedIntervalData(HWND box) {
    const int selected = ComboBox_GetCurSel(box);
    if (selected == CB_ERR)
        return 0;
    return ComboBox_GetItemData(box, selected);
}

// The address and port a listener is started on, kept for its status line.
void KeepListenAddress() {
    ui.udpListenAddress = WindowText(ui.udpAddressEdit);
    ui.udpListenPort = UdpPortFromBox();
}

void OnCreate(HWND window) {
    mainWindow.store(window);
    ui.uiFont.Reset(CreateUiFont());
    BuildMainWindowControls(window);
    KeepListenAddress();
    // The UDP line was made saying "Stopped"; a listener's own reports replace it.
    StartWorkers(ui.udpListenAddress, ui.udpListenPort, [] {});
}

void OnUdpEnableClicked() {
    if (IsChecked(ui.udpEnableBox)) {
        SetUdpLine(kStartingText);
        StartUdpListenerFromPage();
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
        SetUdpStatusText(udpRunning.load() ? UdpListening : UdpStopped, ui.udpListenPort);
    }
    UpdateTrayTip();
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
    Edit_SetPasswordChar(page.keyEdit, page.keyVisible ? L'\0' : L'*');
    // Not every version of the edit control repaints for a new password character by itself.
    InvalidateRect(page.keyEdit, nullptr, TRUE);
    SetWindowTextW(page.showKeyButton, page.keyVisible ? L"Hide" : L"Show");
}

// The boxes whose stored value differs from what was typed, as they show it now.
std::vector<CorrectedValue> CorrectedValues(const SettingsForm& typed) {
    std::vector<CorrectedValue> corrected;
    const auto compare = [&](CorrectedField field, HWND box, bool differs) {
        if (differs)
            corrected.push_back({field, WindowText(box)});
    };
    for (int index = 0; index < kTargetCount; ++index)
        compare(index == 0 ? kHostedIntervalField : kWpIntervalField, ui.pages[index].intervalBox,
                typed.intervalData[index] != settings.targets[index].intervalSeconds);
    compare(kUdpPortField, ui.udpPortEdit, typed.udpPortText != WindowText(ui.udpPortEdit));
    compare(kHrdHostField, ui.hrdHostEdit, typed.hrdHost != WindowText(ui.hrdHostEdit));
    compare(kHrdPortField, ui.hrdPortEdit, typed.hrdPortText != WindowText(ui.hrdPortEdit));
    compare(kHrdIntervalField, ui.hrdIntervalBox,
            typed.hrdIntervalData != settings.hrdIntervalSeconds);
    compare(kRigctldHostField, ui.rigctldHostEdit,
            typed.rigctldHost != WindowText(ui.rigctldHostEdit));
    compare(kRigctldPortField, ui.rigctldPortEdit,
            typed.rigctldPortText != WindowText(ui.rigctldPortEdit));
    compare(kRigctldIntervalField, ui.rigctldIntervalBox,
            typed.rigctldIntervalData != settings.rigctldIntervalSeconds);
    return corrected;
}

void OnSave(HWND window) {
    const RunningSources before = SourcesRunning();
    const SettingsForm typed = ApplySettingsFromControls();
    ShowStoredValues(); // what was stored, and so what is used
    // The listener is started anew, on what was saved.
    if (settings.udpEnabled)
        SetUdpLine(kStartingText);
    KeepListenAddress();
    RestartSourcesAfterApply(before, ui.udpListenAddress, ui.udpListenPort,
                             [](RigSource source, bool) {
                                 SetWindowTextW(RigStatusLabel(source), RigEnabledText(false));
                             });

    MessageBoxW(window, SettingsSavedText(CorrectedValues(typed)).c_str(), L"Corvane",
                MB_OK | MB_ICONINFORMATION);
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
    TrackPopupMenuEx(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, window, nullptr);
    DestroyMenu(menu);
}

// A push button of this window, which Enter presses as in a dialog.
bool IsPushButton(HWND window, HWND control) {
    wchar_t className[16] = {};
    if (!IsChild(window, control) || !GetClassNameW(control, className, ARRAYSIZE(className)) ||
        lstrcmpiW(className, L"Button") != 0)
        return false;
    const LONG_PTR type = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// Enter, as the window's message loop reports it: a focused push button is pressed; anywhere
// else it saves.
void OnEnter(HWND window) {
    HWND focus = GetFocus();
    if (IsPushButton(window, focus))
        SendMessageW(focus, BM_CLICK, 0, 0);
    else
        OnSave(window);
}

void OnCommand(HWND window, int id) {
    switch (id) {
    case IDOK: // Enter
        OnEnter(window);
        break;
    case IDCANCEL: // Esc hides, as the close box does
        ShowWindow(window, SW_HIDE);
        break;
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
        RestoreMainWindow(window);
        break;
    case IDM_TRAY_EXIT:
        ConfirmExit(mainWindow.load());
        break;
    default:
        break;
    }
}

void OnPostResult(WPARAM target, LPARAM outcome) {
    HWND label = ui.pages[target != 0 ? 1 : 0].lastPostLabel;
    if (label)
        SetWindowTextW(label, LastPostText(UnpackPostOutcome(outcome)).c_str());
    UpdateTrayTip();
}

} // namespace

void StartUdpListenerFromPage() {
    if (udpRunning.load())
        return;
    KeepListenAddress();
    StartUdpListener(ui.udpListenAddress, ui.udpListenPort);
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
    SetUdpLine(UdpStatusText(state, ui.udpListenAddress, port).c_str());
    UpdateTrayTip();
}

SettingsForm ApplySettingsFromControls() {
    SettingsForm form;
    for (int index = 0; index < kTargetCount; ++index) {
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
    return form;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A message handled here answers 0; the rest go on to Windows' own handling.
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        break;
    case WM_DESTROY:
        ui.tabFont.Reset();
        ui.uiFont.Reset();
        ui.pageBrush.Reset();
        PostQuitMessage(0);
        break;
    case WM_ACTIVATE: // like a dialog, give the focus back where it was
        if (LOWORD(wParam) == WA_INACTIVE && IsChild(window, GetFocus()))
            ui.lastFocus = GetFocus();
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_SETFOCUS: {
        HWND last = ui.lastFocus;
        ui.lastFocus = nullptr;
        SetFocus(IsChild(window, last) && IsWindowVisible(last) ? last : ui.tabControl);
        break;
    }
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE: // the page may have a new colour
        ui.pageBrush.Reset();
        InvalidateRect(window, nullptr, TRUE);
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_CLOSE: // closing only hides; the exit confirmation is the way out
        ShowWindow(mainWindow.load(), SW_HIDE);
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != SC_MINIMIZE)
            return DefWindowProcW(window, message, wParam, lParam);
        ShowWindow(mainWindow.load(), SW_HIDE);
        break;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header && header->hwndFrom == ui.tabControl && header->code == TCN_SELCHANGE)
            ShowTabPage(TabCtrl_GetCurSel(ui.tabControl));
        break;
    }
    case WM_COMMAND:
        OnCommand(window, LOWORD(wParam));
        break;
    case WM_CTLCOLORSTATIC: // labels and check boxes stand on the tab page, not the dialog face
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        return reinterpret_cast<LRESULT>(PageBrush());
    case WM_TRAYICON:
        if (LOWORD(lParam) == WM_LBUTTONDBLCLK)
            RestoreMainWindow(window);
        else if (LOWORD(lParam) == WM_RBUTTONUP)
            ShowTrayMenu();
        break;
    case WM_SNAPSHOT_CHANGED:
        RefreshLiveStatus();
        break;
    case WM_UDP_STATUS:
        SetUdpStatusText(static_cast<int>(wParam), static_cast<int>(lParam));
        break;
    case WM_POST_RESULT:
        OnPostResult(wParam, lParam);
        break;
    case WM_RIG_LINE_CHANGED:
        UpdateTrayTip();
        break;
    default:
        if (message == 0 || message != ui.taskbarCreated)
            return DefWindowProcW(window, message, wParam, lParam);
        // A restarted shell has forgotten the icon.
        ui.trayIconAdded = false;
        AddTrayIcon();
        break;
    }
    return 0;
}
