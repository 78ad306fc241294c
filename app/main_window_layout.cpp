#include "app/main_window_layout.h"

#include <algorithm>

#include <commctrl.h>
#include <windowsx.h>

#include "app/lifecycle.h"
#include "app/startup_registration.h"
#include "app/ui_state.h"
#include "app/window_sink.h"
#include "core/settings.h"
#include "resources/resource.h"

namespace {

// The minimum of a list that offers every interval there is.
constexpr int kShortestInterval = kAllowedIntervals[0];

HWND CreateControl(HWND parent, DWORD exStyle, const wchar_t* className, const wchar_t* text,
                   DWORD style, int x, int y, int width, int height, int id) {
    HWND control = CreateWindowExW(
        exStyle, className, text, style, ScaleForDpi(x), ScaleForDpi(y), ScaleForDpi(width),
        ScaleForDpi(height), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    if (control)
        SetWindowFont(control, static_cast<HFONT>(ui.uiFont), TRUE);
    return control;
}

HWND CreateButton(HWND parent, int id, const wchar_t* text, int x, int y, int width, int height) {
    return CreateControl(parent, 0, L"BUTTON", text,
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, x, y, width, height,
                         id);
}

HWND CreateCheckBox(HWND parent, int id, const wchar_t* text, int x, int y, int width) {
    return CreateControl(parent, 0, L"BUTTON", text,
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, x, y, width, 20, id);
}

HWND CreateEdit(HWND parent, int id, int x, int y, int width, int height, DWORD extraStyle = 0) {
    return CreateControl(parent, WS_EX_CLIENTEDGE, L"EDIT", L"",
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | extraStyle, x, y,
                         width, height, id);
}

HWND CreateLabel(HWND parent, const wchar_t* text, int x, int y, int width, int height,
                 DWORD extraStyle = 0) {
    return CreateControl(parent, 0, L"STATIC", text, WS_CHILD | WS_VISIBLE | extraStyle, x, y,
                         width, height, 0);
}

// Collects a page's controls for ShowTabPage; a control that failed to appear is left out.
struct PageBuilder {
    HWND parent;
    int page;

    HWND Add(HWND control) {
        if (control)
            ui.tabPages[page].push_back(control);
        return control;
    }
    HWND Label(const wchar_t* text, int x, int y, int width, int height) {
        return Add(CreateLabel(parent, text, x, y, width, height));
    }
    // Values and status lines come from outside: an "&" in them is just that, and a long one ends
    // in an ellipsis on its one line instead of wrapping into a clipped second.
    HWND Value(const wchar_t* text, int x, int y, int width, int height) {
        return Add(CreateLabel(parent, text, x, y, width, height, SS_NOPREFIX | SS_ENDELLIPSIS));
    }
};

// The six titles are wider than the control at the default padding: narrow the padding, then the
// font, until the last tab (with the 2 pixels the selected one grows by) ends inside.
void FitTabs() {
    RECT client = {};
    GetClientRect(ui.tabControl, &client);
    for (int height = kUiFontHeight; height >= 9; --height) {
        HFONT font = height == kUiFontHeight ? ui.uiFont : CreateUiFont(height);
        SetWindowFont(ui.tabControl, font, FALSE);
        ui.tabFont.Reset(font == ui.uiFont ? nullptr : font);
        for (int padding = 6; padding >= 2; --padding) {
            TabCtrl_SetPadding(ui.tabControl, ScaleForDpi(padding), ScaleForDpi(3));
            SetWindowFont(ui.tabControl, font, FALSE);
            RECT last = {};
            TabCtrl_GetItemRect(ui.tabControl, kPageCount - 1, &last);
            if (last.right + ScaleForDpi(2) <= client.right)
                return;
        }
    }
}

void BuildTabControl(HWND window) {
    // A tab stop, so the keyboard reaches the pages too.
    ui.tabControl = CreateControl(window, 0, WC_TABCONTROLW, L"",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 8, 8, 444,
                                  360, IDC_TAB);
    for (int index = 0; index < kPageCount; ++index) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(kPageNames[index]);
        TabCtrl_InsertItem(ui.tabControl, index, &item);
    }
    TabCtrl_SetCurSel(ui.tabControl, 0);
    FitTabs();
}

// Pages 0 and 1 differ in their ids, the enable text, the URL row and the shortest interval.
void BuildDashboardPage(HWND window, int index) {
    const DashboardTarget& target = settings.targets[index];
    DashboardPage& controls = ui.pages[index];
    const bool hosted = index == 0;
    PageBuilder page{window, index};

    static const std::wstring hostedEnableText = L"Enable posting to " + HostOfUrl(kHostedBaseUrl);
    controls.enableBox = page.Add(
        hosted ? CreateCheckBox(window, IDC_VLM_ENABLE, hostedEnableText.c_str(), 24, 48, 320)
               : CreateCheckBox(window, IDC_WP_ENABLE, L"Enable posting to custom WP dashboard", 24,
                                48, 350));
    if (hosted) {
        page.Label(L"Server URL", 24, 78, 110, 18);
        page.Value(kHostedBaseUrl, 150, 78, 280, 18);
    } else {
        page.Label(L"Dashboard URL", 24, 78, 110, 18);
        controls.urlEdit = page.Add(CreateEdit(window, IDC_WP_URL, 150, 76, 285, 22));
    }
    page.Label(L"Dashboard ID", 24, 106, 110, 18);
    controls.idEdit =
        page.Add(CreateEdit(window, hosted ? IDC_VLM_ID : IDC_WP_ID, 150, 104, 140, 22));
    page.Label(L"API Key", 24, 134, 110, 18);
    controls.keyEdit = page.Add(
        CreateEdit(window, hosted ? IDC_VLM_KEY : IDC_WP_KEY, 150, 132, 200, 22, ES_PASSWORD));
    controls.showKeyButton = page.Add(CreateButton(
        window, hosted ? IDC_VLM_SHOW_KEY : IDC_WP_SHOW_KEY, L"Show", 358, 132, 52, 22));
    page.Label(L"Update interval", 24, 162, 110, 18);
    controls.intervalBox = page.Add(CreateIntervalBox(
        window, hosted ? IDC_VLM_INTERVAL : IDC_WP_INTERVAL, 150, 160, target.intervalSeconds,
        hosted ? kHostedMinimumInterval : kShortestInterval));
    controls.lastPostLabel = page.Value(kNoPostYetText, 24, 196, 380, 18);
}

void BuildUdpPage(HWND window) {
    PageBuilder page{window, kUdpPage};
    ui.udpEnableBox = page.Add(CreateCheckBox(
        window, IDC_UDP_ENABLE, L"Enable UDP receiver (N1MM / MiniBook / Log4OM)", 24, 48, 400));
    page.Label(L"UDP IP", 24, 78, 110, 18);
    ui.udpAddressEdit = page.Add(CreateEdit(window, IDC_UDP_IP, 150, 76, 140, 22));
    // 420 wide rather than 430, so they end inside the tab control's border.
    page.Label(L"0.0.0.0  = listen on ALL interfaces (loopback + network broadcasts)", 24, 102, 420,
               16);
    page.Label(L"127.0.0.1 = this PC only (loopback \u2014 no network broadcasts)", 24, 120, 420,
               16);
    page.Label(L"UDP Port", 24, 146, 110, 18);
    ui.udpPortEdit = page.Add(CreateEdit(window, IDC_UDP_PORT, 150, 144, 90, 22, ES_NUMBER));
    ui.udpStatusLabel = page.Value(kStoppedText, 24, 180, 400, 18);
}

// rigctld in the HRD page's lower half: seven tab titles do not fit in one row (six already need
// a narrower padding), and one rig-control source is meant to be on, so the two read well
// together. A heading with the status beside it (in HRD's value column), the enable box, then
// host, port and interval, then MyCall and Operator. (A group box would paint its inside in the
// parent's colour, not the page's.)
void BuildRigctldSection(HWND window, PageBuilder& page) {
    page.Label(kRigctldName, 24, 270, 110, 18);
    rigctldStatusLabel.store(page.Value(L"", 150, 270, 290, 18)); // FillFromSettings says it
    ui.rigctldEnableBox = page.Add(CreateCheckBox(
        window, IDC_RIGCTLD_ENABLE, L"Enable Hamlib rigctld TCP source", 24, 288, 360));
    page.Label(L"Host", 24, 314, 44, 18);
    ui.rigctldHostEdit = page.Add(CreateEdit(window, IDC_RIGCTLD_HOST, 70, 312, 96, 22));
    page.Label(L"Port", 174, 314, 30, 18);
    ui.rigctldPortEdit =
        page.Add(CreateEdit(window, IDC_RIGCTLD_PORT, 206, 312, 50, 22, ES_NUMBER));
    page.Label(L"Interval", 264, 314, 54, 18);
    ui.rigctldIntervalBox =
        page.Add(CreateIntervalBox(window, IDC_RIGCTLD_INTERVAL, 320, 312,
                                   settings.rigctldIntervalSeconds, kShortestInterval));
    page.Label(L"MyCall", 24, 340, 44, 18);
    ui.rigctldMyCallEdit = page.Add(CreateEdit(window, IDC_RIGCTLD_MYCALL, 70, 338, 96, 22));
    page.Label(L"Operator", 174, 340, 58, 18);
    ui.rigctldOperatorEdit = page.Add(CreateEdit(window, IDC_RIGCTLD_OPERATOR, 234, 338, 96, 22));
}

void BuildHrdPage(HWND window) {
    PageBuilder page{window, kHrdPage};
    ui.hrdEnableBox = page.Add(CreateCheckBox(
        window, IDC_HRD_ENABLE, L"Enable HRD (Ham Radio Deluxe) TCP source", 24, 48, 360));
    page.Label(L"HRD host", 24, 78, 110, 18);
    ui.hrdHostEdit = page.Add(CreateEdit(window, IDC_HRD_HOST, 150, 76, 140, 22));
    page.Label(L"HRD port", 24, 106, 110, 18);
    ui.hrdPortEdit = page.Add(CreateEdit(window, IDC_HRD_PORT, 150, 104, 90, 22, ES_NUMBER));
    page.Label(L"Poll interval", 24, 134, 110, 18);
    ui.hrdIntervalBox = page.Add(CreateIntervalBox(window, IDC_HRD_INTERVAL, 150, 132,
                                                   settings.hrdIntervalSeconds, kShortestInterval));
    page.Label(L"MyCall", 24, 164, 110, 18);
    ui.hrdMyCallEdit = page.Add(CreateEdit(window, IDC_HRD_MYCALL, 150, 162, 140, 22));
    page.Label(L"Operator", 24, 192, 110, 18);
    ui.hrdOperatorEdit = page.Add(CreateEdit(window, IDC_HRD_OPERATOR, 150, 190, 140, 22));
    hrdStatusLabel.store(page.Value(L"", 24, 222, 400, 18)); // FillFromSettings says it
    page.Label(L"HRD gives frequency + mode; MyCall/Operator are typed here.", 24, 244, 400, 18);
    BuildRigctldSection(window, page);
}

void BuildLiveStatusPage(HWND window) {
    PageBuilder page{window, kLivePage};
    for (int row = 0; row < kLiveRowCount; ++row) {
        const int y = 46 + 24 * row;
        page.Label(kLiveStatusRows[row].caption, 24, y, 110, 18);
        ui.liveValueLabels[row] = page.Value(L"-", 150, y, 290, 18);
    }
}

void BuildApplicationPage(HWND window) {
    PageBuilder page{window, kAppPage};
    ui.startMinimizedBox = page.Add(CreateCheckBox(window, IDC_START_MINIMIZED,
                                                   L"Start minimized to system tray", 24, 48, 320));
    ui.startWithWindowsBox = page.Add(CreateCheckBox(
        window, IDC_START_WITH_WINDOWS, L"Start automatically when Windows starts", 24, 76, 320));
    page.Label(L"Applies at once (no Save needed); stored in Windows.", 40, 96, 400, 18);
    ui.testModeBox = page.Add(CreateCheckBox(window, IDC_TEST_MODE,
                                             L"Test mode (send demo data when no UDP is received)",
                                             24, 122, 400));
}

void SetText(HWND control, const std::wstring& text) {
    SetWindowTextW(control, text.c_str());
}

void FillFromSettings() {
    for (int index = 0; index < kTargetCount; ++index) {
        const DashboardTarget& target = settings.targets[index];
        const DashboardPage& page = ui.pages[index];
        SetChecked(page.enableBox, target.enabled);
        if (index == 1)
            SetText(page.urlEdit, target.url);
        SetText(page.idEdit, target.dashboardId);
        SetText(page.keyEdit, target.apiKey);
    }

    SetChecked(ui.udpEnableBox, settings.udpEnabled);
    SetText(ui.udpAddressEdit, settings.udpAddress);

    SetChecked(ui.startMinimizedBox, settings.startMinimized);
    // What Windows holds, not a stored setting.
    SetChecked(ui.startWithWindowsBox, !ReadRunValue().empty() || StartupShortcutExists());

    SetChecked(ui.hrdEnableBox, settings.hrdEnabled);
    SetText(ui.hrdMyCallEdit, settings.hrdMyCall);
    SetText(ui.hrdOperatorEdit, settings.hrdOperator);
    SetText(hrdStatusLabel.load(), RigEnabledText(settings.hrdEnabled));

    SetChecked(ui.rigctldEnableBox, settings.rigctldEnabled);
    SetText(ui.rigctldMyCallEdit, settings.rigctldMyCall);
    SetText(ui.rigctldOperatorEdit, settings.rigctldOperator);
    SetText(rigctldStatusLabel.load(), RigEnabledText(settings.rigctldEnabled));
    ShowStoredValues();
}

void SelectInterval(HWND box, int seconds) {
    const int count = ComboBox_GetCount(box);
    for (int at = 0; at < count; ++at)
        if (ComboBox_GetItemData(box, at) == seconds)
            ComboBox_SetCurSel(box, at);
}

} // namespace

void ShowStoredValues() {
    for (int index = 0; index < kTargetCount; ++index)
        SelectInterval(ui.pages[index].intervalBox, settings.targets[index].intervalSeconds);
    SetText(ui.udpPortEdit, std::to_wstring(settings.udpPort));
    SetText(ui.hrdHostEdit, settings.hrdHost);
    SetText(ui.hrdPortEdit, std::to_wstring(settings.hrdPort));
    SelectInterval(ui.hrdIntervalBox, settings.hrdIntervalSeconds);
    SetText(ui.rigctldHostEdit, settings.rigctldHost);
    SetText(ui.rigctldPortEdit, std::to_wstring(settings.rigctldPort));
    SelectInterval(ui.rigctldIntervalBox, settings.rigctldIntervalSeconds);
}

std::vector<IntervalChoice> IntervalChoices(int minimum) {
    std::vector<IntervalChoice> choices;
    for (const int seconds : kAllowedIntervals)
        if (seconds >= minimum)
            choices.push_back(
                {std::to_wstring(seconds) + (seconds == 1 ? L" second" : L" seconds"), seconds});
    return choices;
}

int IntervalSelection(const std::vector<IntervalChoice>& choices, int current) {
    const auto found =
        std::find_if(choices.begin(), choices.end(),
                     [current](const IntervalChoice& c) { return c.seconds == current; });
    return found == choices.end() ? 0 : static_cast<int>(found - choices.begin());
}

std::wstring HostOfUrl(const std::wstring& url) {
    const std::size_t start = url.find(L"://") + 3;
    // Without a port or path, npos - start still takes the rest.
    return url.substr(start, url.find_first_of(L":/?#", start) - start);
}

HFONT CreateUiFont(int height) {
    return CreateFontW(-ScaleForDpi(height), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

HWND CreateIntervalBox(HWND parent, int id, int x, int y, int current, int minimum) {
    HWND box = CreateControl(parent, 0, L"COMBOBOX", L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, x,
                             y, 120, 220, id);
    if (!box)
        return nullptr;
    const std::vector<IntervalChoice> choices = IntervalChoices(minimum);
    for (const IntervalChoice& choice : choices) {
        const int at = ComboBox_AddString(box, choice.text.c_str());
        if (at >= 0)
            ComboBox_SetItemData(box, at, choice.seconds);
    }
    ComboBox_SetCurSel(box, IntervalSelection(choices, current));
    return box;
}

void BuildMainWindowControls(HWND window) {
    BuildDashboardPage(window, 0);
    BuildDashboardPage(window, 1);
    BuildUdpPage(window);
    BuildHrdPage(window);
    BuildLiveStatusPage(window);
    BuildApplicationPage(window);
    CreateButton(window, IDC_SAVE, L"Save settings", 250, 378, 110, 26);
    CreateButton(window, IDC_EXIT, L"Exit", 372, 378, 80, 26);
    // Made last, so it lies beneath the page: a repaint of the tabs alone does not blank it. Tab
    // moves through the z-order, which runs page, Save, Exit and round to the tabs.
    BuildTabControl(window);
    FillFromSettings();
    ShowTabPage(0);
}

void ShowTabPage(int index) {
    for (int page = 0; page < kPageCount; ++page)
        for (HWND control : ui.tabPages[page])
            ShowWindow(control, page == index ? SW_SHOW : SW_HIDE);
}

HBRUSH PageBrush() {
    if (ui.pageBrush)
        return ui.pageBrush;
    RECT area = {};
    GetClientRect(ui.tabControl, &area);
    HDC screen = GetDC(ui.tabControl);
    // Deleting the DC first lets the picture go with it.
    const ScopedHandle<HBITMAP, &DeleteObject> picture(
        CreateCompatibleBitmap(screen, area.right, area.bottom));
    const ScopedHandle<HDC, &DeleteDC> memory(CreateCompatibleDC(screen));
    ReleaseDC(ui.tabControl, screen);
    SelectObject(memory, picture);
    // Classic tab controls leave the page unpainted; it then shows the dialog face.
    FillRect(memory, &area, GetSysColorBrush(COLOR_BTNFACE));
    SendMessageW(ui.tabControl, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(HDC(memory)),
                 PRF_CLIENT | PRF_ERASEBKGND);
    RECT page = area;
    TabCtrl_AdjustRect(ui.tabControl, FALSE, &page);
    const COLORREF colour = GetPixel(memory, (page.left + page.right) / 2, page.bottom - 4);
    if (colour != CLR_INVALID)
        ui.pageBrush.Reset(CreateSolidBrush(colour));
    return ui.pageBrush ? ui.pageBrush : GetSysColorBrush(COLOR_BTNFACE);
}

bool HandlePageKey(const MSG& message) {
    HWND window = mainWindow.load();
    if (message.message != WM_KEYDOWN || GetKeyState(VK_CONTROL) >= 0 ||
        (message.hwnd != window && !IsChild(window, message.hwnd)))
        return false;
    int step = 0;
    if (message.wParam == VK_TAB)
        step = GetKeyState(VK_SHIFT) < 0 ? -1 : 1;
    else if (message.wParam == VK_NEXT)
        step = 1;
    else if (message.wParam == VK_PRIOR)
        step = -1;
    if (step == 0)
        return false;
    const int current = TabCtrl_GetCurSel(ui.tabControl);
    const int next = (current + step + kPageCount) % kPageCount;
    TabCtrl_SetCurSel(ui.tabControl, next);
    ShowTabPage(next);
    return true;
}
