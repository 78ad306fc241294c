// Corvane.exe driven from outside under Wine and Xvfb: each test starts a fresh copy on a clean,
// throwaway profile (tests/app/throwaway_profile.h) and checks what the user and the system see.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <map>

#include "app/window_sink.h"
#include "resources/resource.h"
#include "tests/app/driver.h"
#include "tests/app/throwaway_profile.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

enum Page { kHostedPage, kWpPage, kUdpPage, kHrdPage, kLivePage, kAppPage };
using Texts = std::vector<std::wstring>;

// The page a control sits on, from its id's tens; -1 for those on every page.
int PageOf(int id) {
    static const std::map<int, int> pages = {
        {101, kUdpPage}, {103, kAppPage}, {105, kHostedPage}, {106, kWpPage}, {107, kHrdPage}};
    const auto found = pages.find(id / 10);
    return found == pages.end() ? -1 : found->second;
}

std::wstring HostedBaseUrl() {
    wchar_t value[512] = {};
    if (!GetEnvironmentVariableW(L"CORVANE_HOSTED_BASE_URL", value, ARRAYSIZE(value)))
        return L"https://dashboard.example.com";
    return value;
}

// "section.key=value;..." as settings.ini values.
IniValues Ini(const std::wstring& pairs) {
    IniValues values;
    for (std::size_t at = 0; at < pairs.size();) {
        const std::size_t dot = pairs.find(L'.', at), equals = pairs.find(L'=', dot);
        const std::size_t end = std::min(pairs.find(L';', equals), pairs.size());
        values[{pairs.substr(at, dot - at), pairs.substr(dot + 1, equals - dot - 1)}] =
            pairs.substr(equals + 1, end - equals - 1);
        at = end + 1;
    }
    return values;
}

// Left, top, width and height in the main window's client coordinates.
std::vector<int> Placement(HWND parent, HWND child) {
    RECT at = {};
    GetWindowRect(child, &at);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&at), 2);
    return {at.left, at.top, at.right - at.left, at.bottom - at.top};
}

class Shell : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ThrowawayProfile()) << kThrowawayRefusal;
        ASSERT_TRUE(HaveDisplay()) << "Wine needs an X display (DISPLAY) for the window tests";
        ASSERT_FALSE(AppExePath().empty()) << "CORVANE_APP_EXE is not set";
        ResetUserState();
    }
    void TearDown() override {
        app.Kill();
        ResetUserState();
    }

    // Window shown, no source, no dashboard, unless `values` say otherwise.
    void Launch(const IniValues& values = {}) {
        IniValues all = Ini(L"app.start_minimized=0;udp.enabled=0;vellumar.enabled=0;wp.enabled=0");
        for (const auto& value : values)
            all[value.first] = value.second;
        WriteSettings(all);
        ASSERT_TRUE(app.Start()) << "Corvane.exe did not come up";
    }
    // Launches with the UDP receiver on a free port and waits until it is bound.
    int LaunchListening(const std::wstring& pairs = L"") {
        const int port = FreePort(SOCK_DGRAM);
        Launch(Ini(L"udp.enabled=1;udp.port=" + std::to_wstring(port) + L";" + pairs));
        EXPECT_TRUE(WaitUntil([&] { return !UdpPortFree(port); }, 10s)) << "port " << port;
        return port;
    }

    HWND C(int id) const { return app.Control(id); }
    void ShowPage(Page page) { ASSERT_TRUE(SelectTab(app, page)); }
    // Ticks or clears a check box on its own page, as a user would.
    void Toggle(int id) {
        ShowPage(static_cast<Page>(PageOf(id)));
        const bool before = IsChecked(C(id));
        Send(C(id), BM_CLICK);
        ASSERT_NE(IsChecked(C(id)), before) << id;
    }
    // A check box reads "1" or "0", any other control its text.
    std::wstring Get(int id) {
        if (_wcsicmp(ClassOf(C(id)).c_str(), L"Button") == 0)
            return IsChecked(C(id)) ? L"1" : L"0";
        return TextOf(C(id));
    }
    void Put(int id, const std::wstring& value) {
        const std::wstring kind = ClassOf(C(id));
        if (_wcsicmp(kind.c_str(), L"Button") == 0) {
            if (Get(id) != value)
                Toggle(id);
        } else if (_wcsicmp(kind.c_str(), L"ComboBox") == 0) {
            Send(C(id), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(value.c_str()));
        } else {
            SetText(C(id), value);
        }
    }

    Texts LabelTexts() {
        Texts texts;
        for (HWND label : VisibleLabels(app.window))
            texts.push_back(TextOf(label));
        return texts;
    }
    // A page's status line: the visible label whose top left corner is at (24, y).
    HWND Line(Page page, int y) {
        ShowPage(page);
        for (HWND label : VisibleLabels(app.window))
            if (Placement(app.window, label)[0] == 24 && Placement(app.window, label)[1] == y)
                return label;
        ADD_FAILURE() << "no label at (24, " << y << ") on page " << page;
        return nullptr;
    }
    HWND UdpLine() { return Line(kUdpPage, 180); }
    HWND HrdLine() { return Line(kHrdPage, 222); }
    HWND LastPostLine(Page page) { return Line(page, 196); }
    bool LineBecomes(HWND line, const std::wstring& text, std::chrono::milliseconds limit = 10s) {
        if (TextBecomes(line, text, limit))
            return true;
        ADD_FAILURE() << "wanted \"" << testing::PrintToString(text) << "\", shows "
                      << testing::PrintToString(TextOf(line));
        return false;
    }

    Texts LiveValues() {
        const Texts labels = LabelTexts();
        Texts values;
        for (std::size_t at = 1; at < labels.size(); at += 2)
            values.push_back(labels[at]);
        return values;
    }
    std::wstring LiveValue(std::size_t row) {
        const Texts values = LiveValues();
        return row < values.size() ? values[row] : std::wstring();
    }
    void ExpectLive(const Texts& expected, std::chrono::milliseconds limit = 10s) {
        ShowPage(kLivePage);
        EXPECT_TRUE(WaitUntil([&] { return LiveValues() == expected; }, limit))
            << testing::PrintToString(LiveValues());
    }

    // Presses Save and answers "Settings saved."; false when the box never came.
    bool Save() {
        Click(C(IDC_SAVE));
        HWND box = WaitForMessageBox(app, L"Corvane");
        if (!box)
            return false;
        EXPECT_EQ(MessageBoxText(box), L"Settings saved.");
        return AnswerMessageBox(box, IDOK);
    }
    void ExpectEndsWithZero(AppProcess& process) {
        const ProcessResult ended = process.WaitForExit(20s);
        ASSERT_TRUE(ended.ended);
        EXPECT_EQ(ended.exitCode, 0u);
    }

    AppProcess app;
};

TEST_F(Shell, WindowAndLayoutFollowTheSystemDpi) {
    // Wine takes the system DPI from this value when a process starts.
    const wchar_t* const key = L"Control Panel\\Desktop";
    DWORD saved = 0, savedSize = sizeof(saved);
    const bool hadValue = RegGetValueW(HKEY_CURRENT_USER, key, L"LogPixels", RRF_RT_REG_DWORD,
                                       nullptr, &saved, &savedSize) == ERROR_SUCCESS;
    struct Case {
        DWORD dpi;
        int width, height;
        std::vector<int> tab;
    };
    for (const Case& c :
         {Case{96, 460, 414, {8, 8, 444, 360}}, Case{144, 690, 621, {12, 12, 666, 540}},
          Case{120, 575, 518, {10, 10, 555, 450}}}) {
        SCOPED_TRACE(c.dpi);
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"LogPixels", REG_DWORD, &c.dpi, sizeof(c.dpi));
        Launch();
        RECT client = {};
        GetClientRect(app.window, &client);
        EXPECT_EQ(client.right, c.width);
        EXPECT_EQ(client.bottom, c.height);
        EXPECT_EQ(Placement(app.window, C(IDC_TAB)), c.tab);
        if (c.dpi == 96) {
            EXPECT_EQ(ClassOf(app.window), L"CorvaneWndClass");
            EXPECT_EQ(TextOf(app.window), L"Corvane by N0CALL  v" CORVANE_VERSION);
            const LONG frame =
                WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
            EXPECT_EQ(GetWindowLongW(app.window, GWL_STYLE) & frame,
                      WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
            EXPECT_TRUE(IsWindowVisible(app.window));
            EXPECT_EQ(Placement(app.window, C(IDC_SAVE)), (std::vector<int>{250, 378, 110, 26}));
            EXPECT_EQ(Placement(app.window, C(IDC_EXIT)), (std::vector<int>{372, 378, 80, 26}));
        }
        app.Kill();
    }
    if (hadValue)
        RegSetKeyValueW(HKEY_CURRENT_USER, key, L"LogPixels", REG_DWORD, &saved, sizeof(saved));
    else
        RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"LogPixels");
}

TEST_F(Shell, SixTabsEachShowTheirOwnControlsAndTexts) {
    Launch();
    EXPECT_EQ(TabTexts(app, C(IDC_TAB)),
              (Texts{L"VLM Dashboard", L"WP Dashboard", L"UDP Receiver", L"HRD (TCP)",
                     L"Live Status", L"Application settings"}));
    Texts live;
    for (const wchar_t* caption :
         {L"Freq (MHz)", L"Band", L"Mode", L"Operating", L"Last worked", L"Contest", L"MyCall",
          L"OpCall", L"Radio", L"Locator", L"Location"})
        live.insert(live.end(), {caption, L"-"});
    const Texts labels[] = {
        {L"Server URL", HostedBaseUrl(), L"Dashboard ID", L"API Key", L"Update interval",
         L"Last post: -"},
        {L"Dashboard URL", L"Dashboard ID", L"API Key", L"Update interval", L"Last post: -"},
        {L"UDP IP", L"0.0.0.0  = listen on ALL interfaces (loopback + network broadcasts)",
         L"127.0.0.1 = this PC only (loopback \u2014 no network broadcasts)", L"UDP Port",
         L"Stopped"},
        {L"HRD host", L"HRD port", L"Poll interval", L"MyCall", L"Operator", L"Disabled",
         L"HRD gives frequency + mode; MyCall/Operator are typed here."},
        live,
        {L"Applies at once (no Save needed); stored in Windows."},
    };
    const DWORD child = WS_CHILD | WS_TABSTOP;
    const DWORD box = child | BS_AUTOCHECKBOX, edit = child | ES_AUTOHSCROLL,
                list = child | CBS_DROPDOWNLIST;
    const std::wstring host = HostedBaseUrl().substr(HostedBaseUrl().find(L"://") + 3);
    const struct {
        int id;
        const wchar_t* className;
        DWORD style; // all of these bits set
        std::wstring text;
    } controls[] = {
        {IDC_VLM_ENABLE, L"Button", box,
         L"Enable posting to " + host.substr(0, host.find_first_of(L":/"))},
        {IDC_VLM_ID, L"Edit", edit, L""},
        {IDC_VLM_KEY, L"Edit", edit | ES_PASSWORD, L""},
        {IDC_VLM_SHOW_KEY, L"Button", child, L"Show"},
        {IDC_WP_ID, L"Edit", edit, L""},
        {IDC_VLM_INTERVAL, L"ComboBox", list, L"30 seconds"},
        {IDC_WP_ENABLE, L"Button", box, L"Enable posting to custom WP dashboard"},
        {IDC_WP_URL, L"Edit", edit, L"https://wordpress.example.org"},
        {IDC_WP_KEY, L"Edit", child | ES_PASSWORD, L""},
        {IDC_WP_SHOW_KEY, L"Button", child, L"Show"},
        {IDC_WP_INTERVAL, L"ComboBox", list, L"30 seconds"},
        {IDC_UDP_ENABLE, L"Button", box, L"Enable UDP receiver (N1MM / MiniBook / Log4OM)"},
        {IDC_UDP_IP, L"Edit", child, L"0.0.0.0"},
        {IDC_UDP_PORT, L"Edit", child | ES_NUMBER, L"12060"},
        {IDC_HRD_ENABLE, L"Button", box, L"Enable HRD (Ham Radio Deluxe) TCP source"},
        {IDC_HRD_HOST, L"Edit", child, L"127.0.0.1"},
        {IDC_HRD_PORT, L"Edit", child | ES_NUMBER, L"7809"},
        {IDC_HRD_INTERVAL, L"ComboBox", list, L"2 seconds"},
        {IDC_HRD_MYCALL, L"Edit", child, L""},
        {IDC_HRD_OPERATOR, L"Edit", child, L""},
        {IDC_START_MINIMIZED, L"Button", box, L"Start minimized to system tray"},
        {IDC_START_WITH_WINDOWS, L"Button", box, L"Start automatically when Windows starts"},
        {IDC_TEST_MODE, L"Button", box, L"Test mode (send demo data when no UDP is received)"},
        {IDC_SAVE, L"Button", child, L"Save settings"},
        {IDC_EXIT, L"Button", child, L"Exit"},
        {IDC_TAB, L"SysTabControl32", WS_CHILD, L""},
    };
    // All six tabs fit, and the page lies above the tab control and inside its border, on its
    // background.
    RECT tabs = {}, inside = {8, 8, 452, 368};
    GetClientRect(C(IDC_TAB), &tabs);
    for (int item = kHostedPage; item <= kAppPage; ++item) {
        RECT at = {};
        ASSERT_TRUE(SendWithBuffer(app, C(IDC_TAB), TCM_GETITEMRECT, item, &at, sizeof(at)));
        EXPECT_TRUE(at.left >= 0 && at.right <= tabs.right) << item << " ends at " << at.right;
    }
    ASSERT_TRUE(SendWithBuffer(app, C(IDC_TAB), TCM_ADJUSTRECT, FALSE, &inside, sizeof(inside)));
    EXPECT_EQ(GetWindow(C(IDC_TAB), GW_HWNDNEXT), nullptr);
    for (int page = kHostedPage; page <= kAppPage; ++page) {
        if (page != kHostedPage) // the first page shows without any selection
            ShowPage(static_cast<Page>(page));
        EXPECT_EQ(LabelTexts(), labels[page]) << "page " << page;
        std::vector<HWND> onPage = VisibleLabels(app.window);
        for (const auto& control : controls) {
            EXPECT_EQ(HasVisibleStyle(C(control.id)),
                      PageOf(control.id) == page || PageOf(control.id) < 0)
                << "page " << page << ", control " << control.id;
            if (PageOf(control.id) == page)
                onPage.push_back(C(control.id));
        }
        std::vector<std::wstring> outside, grey;
        for (HWND control : onPage) {
            const std::vector<int> at = Placement(app.window, control);
            if (at[0] < inside.left || at[1] < inside.top || at[0] + at[2] > inside.right ||
                at[1] + at[3] > inside.bottom)
                outside.push_back(TextOf(control));
        }
        // The far end of each label and check box, where no text reaches, against the page.
        const bool painted = WaitUntil(
            [&] {
                grey.clear();
                for (HWND control : onPage) {
                    const std::vector<int> at = Placement(app.window, control);
                    const bool plain =
                        ClassOf(control) == L"Static" ||
                        (ClassOf(control) == L"Button" &&
                         (GetWindowLongW(control, GWL_STYLE) & 0xF) == BS_AUTOCHECKBOX);
                    const int y = at[1] + at[3] / 2;
                    if (plain && ScreenPixel(app.window, at[0] + at[2] - 3, y) !=
                                     ScreenPixel(app.window, inside.left + 6, y))
                        grey.push_back(TextOf(control));
                }
                return grey.empty();
            },
            5s);
        EXPECT_TRUE(painted) << "page " << page << ": " << testing::PrintToString(grey);
        EXPECT_EQ(outside, Texts()) << "page " << page;
    }
    for (const auto& control : controls) {
        EXPECT_EQ(_wcsicmp(ClassOf(C(control.id)).c_str(), control.className), 0) << control.id;
        EXPECT_EQ(GetWindowLongW(C(control.id), GWL_STYLE) & control.style, control.style)
            << control.id;
        EXPECT_EQ(TextOf(C(control.id)), control.text) << control.id;
    }
    EXPECT_EQ(GetWindowLongW(C(IDC_VLM_ID), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);
    // The hosted list starts at 30 seconds; the other two hold all eight entries.
    EXPECT_EQ(Send(C(IDC_VLM_INTERVAL), CB_GETCOUNT), 4);
    EXPECT_EQ(Send(C(IDC_WP_INTERVAL), CB_GETCOUNT), 8);
    EXPECT_EQ(Send(C(IDC_HRD_INTERVAL), CB_GETCOUNT), 8);
}

TEST_F(Shell, KeyboardReachesEveryPageAndControl) {
    Launch();
    SetForegroundWindow(app.window);
    auto focusBecomes = [&](int id) {
        if (WaitUntil([&] { return FocusOf(app.window) == C(id); }, 5s))
            return true;
        ADD_FAILURE() << "focus on " << GetDlgCtrlID(FocusOf(app.window)) << ", not " << id;
        return false;
    };
    ASSERT_TRUE(focusBecomes(IDC_TAB));
    const int firstOf[] = {IDC_VLM_ENABLE,     IDC_WP_ENABLE, IDC_UDP_ENABLE, IDC_HRD_ENABLE, 0,
                           IDC_START_MINIMIZED};
    const struct {
        std::vector<WORD> keys;
        int page;
    } steps[] = {
        {{VK_CONTROL, VK_PRIOR}, kAppPage},
        {{VK_CONTROL, VK_TAB}, kHostedPage},
        {{VK_CONTROL, VK_NEXT}, kWpPage},
        {{VK_CONTROL, VK_SHIFT, VK_TAB}, kHostedPage},
        {{VK_RIGHT}, kWpPage},
        /* on the tabs */ {{VK_CONTROL, VK_NEXT}, kUdpPage},
    };
    for (const auto& step : steps) {
        PressKeys(step.keys);
        EXPECT_TRUE(WaitUntil(
            [&] {
                return Send(C(IDC_TAB), TCM_GETCURSEL) == step.page &&
                       HasVisibleStyle(C(firstOf[step.page]));
            },
            5s))
            << "wanted page " << step.page;
    }
    // Tab goes round the visible page top to bottom, the buttons and back to the tabs.
    for (int id : {IDC_UDP_ENABLE, IDC_UDP_IP, IDC_UDP_PORT, IDC_SAVE, IDC_EXIT, IDC_TAB}) {
        PressKeys({VK_TAB});
        ASSERT_TRUE(focusBecomes(id));
    }
    PressKeys({VK_SHIFT, VK_TAB});
    EXPECT_TRUE(focusBecomes(IDC_EXIT));
    PressKeys({VK_SHIFT, VK_TAB});
    EXPECT_TRUE(focusBecomes(IDC_SAVE));
    PressKeys({VK_SPACE}); // a button works from the keyboard too
    HWND box = WaitForMessageBox(app, L"Corvane");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    // Leaving a page whose control has the focus hands it to the tabs.
    EXPECT_TRUE(focusBecomes(IDC_SAVE));
    PressKeys({VK_TAB});
    PressKeys({VK_TAB});
    PressKeys({VK_TAB});
    ASSERT_TRUE(focusBecomes(IDC_UDP_ENABLE));
    PressKeys({VK_CONTROL, VK_TAB});
    EXPECT_TRUE(focusBecomes(IDC_TAB));
    EXPECT_EQ(Send(C(IDC_TAB), TCM_GETCURSEL), kHrdPage);
}

TEST_F(Shell, BoxesShowTheSettingsAndSaveWritesWhatTheyHold) {
    const struct {
        int id;
        const wchar_t *section, *key;
        std::wstring stored, shown, typed, saved; // shown empty: not readable (password)
    } fields[] = {
        {IDC_VLM_ENABLE, L"vellumar", L"enabled", L"1", L"1", L"0", L"0"},
        {IDC_VLM_ID, L"vellumar", L"id", L"station-7", L"station-7", L"hosted-id", L"hosted-id"},
        {IDC_VLM_INTERVAL, L"vellumar", L"interval", L"120", L"120 seconds", L"60 seconds", L"60"},
        {IDC_WP_ENABLE, L"wp", L"enabled", L"0", L"0", L"1", L"1"},
        {IDC_WP_URL, L"wp", L"url", L"http://wp.example.net", L"http://wp.example.net",
         L"http://127.0.0.1:9/wp", L"http://127.0.0.1:9/wp"},
        {IDC_WP_ID, L"wp", L"id", L"wp-id", L"wp-id", L"my dash", L"my dash"},
        {IDC_WP_KEY, L"wp", L"api_key", L"old", L"", L"s3cret&key", L"s3cret&key"},
        {IDC_WP_INTERVAL, L"wp", L"interval", L"1", L"1 second", L"10 seconds", L"10"},
        {IDC_UDP_IP, L"udp", L"ip", L"127.0.0.1", L"127.0.0.1", L"10.0.0.5", L"10.0.0.5"},
        {IDC_UDP_PORT, L"udp", L"port", L"2237", L"2237", L"70000", L"12060"},
        {IDC_START_MINIMIZED, L"app", L"start_minimized", L"0", L"0", L"1", L"1"},
        {IDC_HRD_HOST, L"hrd", L"host", L"10.1.2.3", L"10.1.2.3", L"", L"127.0.0.1"},
        {IDC_HRD_PORT, L"hrd", L"port", L"7810", L"7810", L"abc", L"7809"},
        {IDC_HRD_INTERVAL, L"hrd", L"interval", L"10", L"10 seconds", L"1 second", L"1"},
        {IDC_HRD_MYCALL, L"hrd", L"mycall", L"N0CALL", L"N0CALL", L"N1NEW", L"N1NEW"},
        {IDC_HRD_OPERATOR, L"hrd", L"operator", L"K1OP", L"K1OP", L"K2OP", L"K2OP"},
    };
    IniValues values;
    for (const auto& field : fields)
        values[{field.section, field.key}] = field.stored;
    Launch(values);
    for (const auto& field : fields) {
        if (!field.shown.empty()) {
            EXPECT_EQ(Get(field.id), field.shown) << field.key;
        }
        Put(field.id, field.typed);
    }
    ASSERT_TRUE(Save());
    for (const auto& field : fields) {
        EXPECT_EQ(ReadSetting(field.section, field.key), field.saved)
            << "[" << field.section << "] " << field.key;
        if (field.id !=
            IDC_WP_KEY) { // the boxes keep what was typed; only stored values are mended
            EXPECT_EQ(Get(field.id), field.typed) << field.key;
        }
    }
    EXPECT_EQ(TextOf(HrdLine()), L"Disabled");
}

TEST_F(Shell, UdpFeedsLiveStatusUntilTestModeOrTheBoxStopsIt) {
    const int port = LaunchListening(L"udp.ip=127.0.0.1");
    const std::wstring listening = L"Listening on 127.0.0.1:" + std::to_wstring(port);
    LineBecomes(UdpLine(), listening);
    const std::string datagram = ReadFileBytes(SampleFile(L"n1mm-radioinfo-1.xml"));
    ASSERT_FALSE(datagram.empty()) << "sample missing";
    ASSERT_TRUE(SendDatagram(port, datagram));
    ExpectLive({L"3.522", L"80m", L"CW", L"Is searching", L"-", L"-", L"W1ABC", L"W1ABC", L"-",
                L"-", L"-"});
    EXPECT_EQ(TextOf(UdpLine()), listening); // a live update leaves the status alone

    Toggle(IDC_TEST_MODE);
    const std::wstring testing = L"Test mode ON \u2014 ignoring UDP";
    EXPECT_EQ(TextOf(UdpLine()), testing);
    const Texts rest = {L"QQ1ABC", L"CQ WW DX", L"N0CALL", L"TEST", L"Test N1MM", L"-", L"-"};
    Texts first = {L"14.074", L"20m", L"FT8", L"Is calling"},
          second = {L"7.130", L"40m", L"SSB", L"Is searching"};
    first.insert(first.end(), rest.begin(), rest.end());
    second.insert(second.end(), rest.begin(), rest.end());
    ExpectLive(first, 5s);
    ExpectLive(second, 6s);
    ASSERT_TRUE(SendDatagram(port, datagram)); // dropped while the demo runs
    EXPECT_FALSE(WaitUntil([&] { return LiveValue(0) == L"3.522"; }, 1500ms));
    ASSERT_TRUE(Save()); // the restarted listener's reports leave the demo's line alone
    EXPECT_FALSE(WaitUntil([&] { return TextOf(UdpLine()) != testing; }, 1s)) << TextOf(UdpLine());
    Toggle(IDC_TEST_MODE);
    EXPECT_EQ(TextOf(UdpLine()), listening);

    // Clearing the box stops the listener at once; udp.enabled is only changed by Save.
    Toggle(IDC_UDP_ENABLE);
    LineBecomes(UdpLine(), L"Stopped");
    EXPECT_TRUE(WaitUntil([&] { return UdpPortFree(port); }, 10s));
    EXPECT_EQ(ReadSetting(L"udp", L"enabled"), L"1");
}

TEST_F(Shell, TakenPortShowsTheBindErrorAndSaveStartsAFreshListener) {
    const int port = FreePort(SOCK_DGRAM);
    SOCKET holder = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    BOOL exclusive = TRUE;
    setsockopt(holder, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&exclusive),
               sizeof(exclusive));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port));
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);

    Launch(Ini(L"udp.ip=;udp.port=" + std::to_wstring(port)));
    EXPECT_EQ(TextOf(UdpLine()), L"Stopped");
    Toggle(IDC_UDP_ENABLE);
    LineBecomes(UdpLine(), L"Error: cannot bind port " + std::to_wstring(port));

    closesocket(holder);
    ASSERT_TRUE(Save());
    LineBecomes(UdpLine(), L"Listening on 0.0.0.0:" + std::to_wstring(port));
    EXPECT_EQ(ReadSetting(L"udp", L"enabled"), L"1");
    EXPECT_FALSE(UdpPortFree(port));
}

TEST_F(Shell, PostingReportsOkAndFailedOnTheRightPage) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    // The hosted dashboard lacks an ID and key, so each of its attempts fails without traffic.
    Launch(Ini(L"vellumar.enabled=1;wp.enabled=1;wp.id=dash-1;wp.api_key=key-1;wp.interval=1;"
               L"wp.url=" +
               sink.BaseUrl()));
    HWND hosted = LastPostLine(kHostedPage);
    HWND wp = LastPostLine(kWpPage);
    Toggle(IDC_TEST_MODE);
    LineBecomes(wp, L"Last post: OK", 20s);
    LineBecomes(hosted, L"Last post: FAILED", 20s);
    ASSERT_TRUE(sink.WaitForRequests(1, 10s));
    const SinkRequest request = sink.Requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/?station_update=dash-1");
    EXPECT_NE(request.body.find("api_key=key-1"), std::string::npos) << request.body;

    // Pointed at a port where nobody listens, the next post fails on the WP page.
    SetText(C(IDC_WP_URL), L"http://127.0.0.1:" + std::to_wstring(FreePort(SOCK_STREAM)));
    ASSERT_TRUE(Save());
    LineBecomes(wp, L"Last post: FAILED", 20s);
}

TEST_F(Shell, ShowAndHideTheKeyOfOnePageOnly) {
    Launch(Ini(L"vellumar.api_key=hosted-key;wp.api_key=wp-key"));
    const LRESULT mask = Send(C(IDC_WP_KEY), EM_GETPASSWORDCHAR);
    EXPECT_NE(mask, 0);
    EXPECT_NE(Send(C(IDC_VLM_KEY), EM_GETPASSWORDCHAR), 0);

    Send(C(IDC_VLM_SHOW_KEY), BM_CLICK);
    EXPECT_EQ(TextOf(C(IDC_VLM_SHOW_KEY)), L"Hide");
    EXPECT_EQ(Send(C(IDC_VLM_KEY), EM_GETPASSWORDCHAR), 0);
    EXPECT_EQ(TextOf(C(IDC_VLM_KEY)), L"hosted-key");
    Send(C(IDC_VLM_SHOW_KEY), BM_CLICK);
    EXPECT_EQ(TextOf(C(IDC_VLM_SHOW_KEY)), L"Show");
    EXPECT_EQ(Send(C(IDC_VLM_KEY), EM_GETPASSWORDCHAR), L'*');

    EXPECT_EQ(TextOf(C(IDC_WP_SHOW_KEY)), L"Show");
    EXPECT_EQ(Send(C(IDC_WP_KEY), EM_GETPASSWORDCHAR), mask);
}

TEST_F(Shell, StartWithWindowsBoxFollowsShortcutAndRunValue) {
    CloseHandle(CreateFileW(StartupShortcutFile().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            0, nullptr));
    Launch();
    EXPECT_TRUE(IsChecked(C(IDC_START_WITH_WINDOWS))); // a shortcut alone counts
    EXPECT_FALSE(ReadRunValue(nullptr, nullptr));      // and start-up leaves it so

    Toggle(IDC_START_WITH_WINDOWS);
    EXPECT_EQ(GetFileAttributesW(StartupShortcutFile().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(ReadRunValue(nullptr, nullptr));

    Toggle(IDC_START_WITH_WINDOWS);
    std::wstring data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRunValue(&data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(_wcsicmp(data.c_str(), (L"\"" + AppExePath() + L"\"").c_str()), 0) << data;
    EXPECT_EQ(ReadSetting(L"app", L"start_with_windows"), L"<absent>"); // not a stored setting

    Toggle(IDC_START_WITH_WINDOWS);
    EXPECT_FALSE(ReadRunValue(nullptr, nullptr));
}

TEST_F(Shell, StartedMinimisedRunsHiddenAndASecondCopyRestoresIt) {
    LaunchListening(L"app.start_minimized=1");
    EXPECT_FALSE(IsWindowVisible(app.window));
    EXPECT_TRUE(IsChecked(C(IDC_START_MINIMIZED)));
    // A restarted shell has lost the icon, and says so to every window.
    ASSERT_TRUE(TrayIcon(app.window, NIM_DELETE));
    PostMessageW(app.window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return TrayIcon(app.window, NIM_MODIFY); }, 5s));

    AppProcess second;
    ASSERT_TRUE(second.Start(false));
    ExpectEndsWithZero(second);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(app.window) != FALSE; }, 5s));
    EXPECT_TRUE(app.Running());
}

TEST_F(Shell, CloseAndMinimiseHideExitAnsweredNoKeepsRunningYesEndsWithZero) {
    const int port = LaunchListening();
    auto step = [&](UINT message, WPARAM wParam, LPARAM lParam, bool visibleAfter) {
        PostMessageW(app.window, message, wParam, lParam);
        EXPECT_TRUE(
            WaitUntil([&] { return (IsWindowVisible(app.window) != 0) == visibleAfter; }, 5s))
            << message;
        EXPECT_FALSE(IsIconic(app.window));
        EXPECT_TRUE(app.Running());
    };
    step(WM_CLOSE, 0, 0, false);
    step(WM_TRAYICON, 1, WM_LBUTTONDBLCLK, true); // tray double-click
    step(WM_SYSCOMMAND, SC_MINIMIZE, 0, false);
    step(WM_COMMAND, IDM_TRAY_RESTORE, 0, true); // tray menu Restore

    Toggle(IDC_TEST_MODE);

    Click(C(IDC_EXIT));
    HWND box = WaitForMessageBox(app, L"Exit Corvane");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"This will fully close the Corvane and stop posting your "
                                   L"station.\n\nDo you want to continue?");
    ASSERT_TRUE(AnswerMessageBox(box, IDNO));
    EXPECT_TRUE(app.Running());
    EXPECT_TRUE(IsWindowVisible(app.window));
    EXPECT_FALSE(UdpPortFree(port)); // the listener ran on throughout
    ShowPage(kLivePage);             // and so does the demo
    const std::wstring before = LiveValue(0);
    EXPECT_TRUE(WaitUntil([&] { return LiveValue(0) != before; }, 6s));

    // The tray menu's Exit asks the same question.
    PostMessageW(app.window, WM_COMMAND, IDM_TRAY_EXIT, 0);
    box = WaitForMessageBox(app, L"Exit Corvane");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    ExpectEndsWithZero(app);
    EXPECT_TRUE(UdpPortFree(port));
}

TEST_F(Shell, HrdSourceReportsOnItsPageAndSaveDisablesIt) {
    HrdSim sim;
    ASSERT_TRUE(StartHrdSim(sim));
    Launch(Ini(L"hrd.enabled=1;hrd.interval=1;hrd.mycall=N0CALL;hrd.operator=K1OP;hrd.port=" +
               std::to_wstring(sim.port)));
    LineBecomes(HrdLine(), L"Connected \u2014 IC-7300", 15s);
    ExpectLive(
        {L"14.074", L"20m", L"USB", L"-", L"-", L"-", L"N0CALL", L"K1OP", L"IC-7300", L"-", L"-"});

    Toggle(IDC_HRD_ENABLE);
    ASSERT_TRUE(Save());
    EXPECT_EQ(TextOf(HrdLine()), L"Disabled");
    EXPECT_EQ(ReadSetting(L"hrd", L"enabled"), L"0");
    const std::size_t seen = HrdSimCommands(sim).size(); // the poller is gone
    EXPECT_FALSE(WaitUntil([&] { return HrdSimCommands(sim).size() > seen; }, 2500ms));
    StopHrdSim(sim);
}

// Not a check, so disabled: take_screenshots.sh runs it inside a Wine virtual desktop (so the
// frame shows) to put pictures of the six pages into CORVANE_SCREENSHOT_DIR.
TEST_F(Shell, DISABLED_Screenshots) {
    wchar_t folder[1024] = {};
    ASSERT_TRUE(GetEnvironmentVariableW(L"CORVANE_SCREENSHOT_DIR", folder, ARRAYSIZE(folder)));
    const std::wstring target = (folder[0] == L'/' ? L"Z:" : L"") + std::wstring(folder);

    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    HrdSim sim;
    ASSERT_TRUE(StartHrdSim(sim, HrdSimScript(), 7809) || StartHrdSim(sim));
    const int udpPort = UdpPortFree(12060) ? 12060 : FreePort(SOCK_DGRAM);
    Launch(Ini(L"vellumar.id=n0call-station;vellumar.api_key=hosted-key;wp.enabled=1;wp.id=n0call;"
               L"wp.api_key=wp-key;wp.interval=10;udp.enabled=1;udp.ip=0.0.0.0;hrd.enabled=1;"
               L"hrd.mycall=N0CALL;hrd.operator=N0CALL;wp.url=" +
               sink.BaseUrl() + L";udp.port=" + std::to_wstring(udpPort) + L";hrd.port=" +
               std::to_wstring(sim.port)));
    ASSERT_TRUE(LineBecomes(LastPostLine(kWpPage), L"Last post: OK", 20s));
    ShowPage(kLivePage);
    ASSERT_TRUE(WaitUntil([&] { return LiveValue(0) == L"14.074"; }, 10s));

    const wchar_t* const names[] = {L"1-vlm-dashboard", L"2-wp-dashboard",
                                    L"3-udp-receiver",  L"4-hrd",
                                    L"5-live-status",   L"6-application-settings"};
    for (int page = kHostedPage; page <= kAppPage; ++page) {
        ShowPage(static_cast<Page>(page));
        Send(app.window, WM_NULL);
        Sleep(500); // painting has no event to wait for
        EXPECT_TRUE(SaveWindowPicture(app.window, target + L"\\" + names[page] + L".bmp"));
    }
    StopHrdSim(sim);
}

// Needs no display: the executable's resources read as data.
TEST(ShellResources, IconManifestAndVersion) {
    const std::wstring exe = AppExePath();
    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    auto resource = [&](int id, int type) {
        HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
        return found
                   ? std::string(static_cast<const char*>(LockResource(LoadResource(image, found))),
                                 SizeofResource(image, found))
                   : std::string();
    };
    // Icon group 101: 256, 48, 32 and 16 pixels, all 32-bit (GRPICONDIRENTRY of 14 bytes).
    const std::string directory = resource(IDI_APP_ICON, 14);
    ASSERT_GE(directory.size(), 6u);
    std::vector<int> sizes;
    for (std::size_t entry = 6; entry + 14 <= directory.size(); entry += 14) {
        sizes.push_back(directory[entry] == 0 ? 256 : static_cast<unsigned char>(directory[entry]));
        EXPECT_EQ(directory[entry + 6], 32) << "entry at " << entry;
    }
    EXPECT_EQ(sizes, (std::vector<int>{256, 48, 32, 16}));

    const std::string manifest = resource(1, 24);
    for (const char* part :
         {"name=\"N0CALL.Corvane\" version=\"1.0.0.0\"", "Microsoft.Windows.Common-Controls",
          "version=\"6.0.0.0\"", ">true</dpiAware>", ">system</dpiAwareness>",
          "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    FreeLibrary(image);

    DWORD ignored = 0;
    std::vector<BYTE> version(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                  fixed->dwProductVersionMS, fixed->dwProductVersionLS}),
              std::vector<DWORD>({MAKELONG(CORVANE_VERSION_MINOR, CORVANE_VERSION_MAJOR),
                                  MAKELONG(0, CORVANE_VERSION_PATCH),
                                  MAKELONG(CORVANE_VERSION_MINOR, CORVANE_VERSION_MAJOR),
                                  MAKELONG(0, CORVANE_VERSION_PATCH)}));
    const wchar_t* const dotted = L"" CORVANE_VERSION ".0";
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {{L"FileDescription", L"Corvane"},
                                                                 {L"ProductName", L"Corvane"},
                                                                 {L"FileVersion", dotted},
                                                                 {L"ProductVersion", dotted}};
    for (const auto& [name, expected] : strings) {
        wchar_t* text = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(version.data(), path.c_str(), reinterpret_cast<void**>(&text), &length));
        EXPECT_STREQ(text, expected);
    }
}

} // namespace
