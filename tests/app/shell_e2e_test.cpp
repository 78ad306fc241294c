// Corvane.exe driven from outside under Wine and Xvfb (or on Windows): every test starts a fresh
// copy on a clean profile, works its window as a user would and checks what the user and the
// system see: texts, boxes, settings.ini, the Run key, the process's end.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsock2.h>

#include <commctrl.h>

#include "tests/app/driver.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

// Control ids as the window publishes them.
enum : int {
    kTab = 1000,
    kUdpIp = 1010,
    kUdpPort = 1011,
    kUdpEnable = 1014,
    kStartMinimized = 1030,
    kStartWithWindows = 1031,
    kTestMode = 1032,
    kSave = 1040,
    kExit = 1041,
    kVlmEnable = 1050,
    kVlmId = 1051,
    kVlmKey = 1052,
    kVlmShowKey = 1053,
    kVlmInterval = 1054,
    kWpEnable = 1060,
    kWpUrl = 1061,
    kWpId = 1062,
    kWpKey = 1063,
    kWpShowKey = 1064,
    kWpInterval = 1065,
    kHrdEnable = 1070,
    kHrdHost = 1071,
    kHrdPort = 1072,
    kHrdInterval = 1073,
    kHrdMyCall = 1074,
    kHrdOperator = 1075,
};
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kSnapshotChanged = WM_APP + 10;
constexpr UINT kUdpStatus = WM_APP + 11;
constexpr UINT kPostResult = WM_APP + 12;
constexpr int kRestoreItem = 2001;
constexpr int kExitItem = 2002;

enum Page { kHostedPage, kWpPage, kUdpPage, kHrdPage, kLivePage, kAppPage };

const wchar_t* const kExitQuestion = L"This will fully close the Corvane and stop posting your "
                                     L"station.\n\nDo you want to continue?";

// The build's hosted base URL, as CMake hands it over (the default when run by hand).
std::wstring HostedBaseUrl() {
    wchar_t value[512] = {};
    if (!GetEnvironmentVariableW(L"CORVANE_HOSTED_BASE_URL", value, ARRAYSIZE(value)))
        return L"https://dashboard.example.com";
    return value;
}

std::wstring HostOf(const std::wstring& url) {
    const std::size_t scheme = url.find(L"://");
    const std::size_t start = scheme == std::wstring::npos ? 0 : scheme + 3;
    const std::size_t end = url.find_first_of(L":/", start);
    return url.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

class Shell : public testing::Test {
  protected:
    void SetUp() override {
        if (!HaveDisplay())
            GTEST_SKIP() << "Wine needs an X display (DISPLAY) for the window tests";
        ASSERT_FALSE(AppExePath().empty()) << "CORVANE_APP_EXE is not set";
        ResetUserState();
    }
    void TearDown() override {
        app.Kill();
        ResetUserState();
    }

    // Every test starts from: window shown, no source, no dashboard; `values` change that.
    void Launch(const IniValues& values = {}) {
        IniValues all = {{{L"app", L"start_minimized"}, L"0"},
                         {{L"udp", L"enabled"}, L"0"},
                         {{L"vellumar", L"enabled"}, L"0"},
                         {{L"wp", L"enabled"}, L"0"}};
        for (const auto& value : values)
            all[value.first] = value.second;
        WriteSettings(all);
        ASSERT_TRUE(app.Start()) << "Corvane.exe did not come up";
    }

    HWND C(int id) const { return app.Control(id); }

    void ShowPage(Page page) { ASSERT_TRUE(SelectTab(app, page)); }

    // Ticks or clears a check box and waits until the window has acted on the click.
    void Toggle(int id) {
        const bool before = IsChecked(C(id));
        Send(C(id), BM_CLICK);
        ASSERT_NE(IsChecked(C(id)), before);
    }

    // A page's status line: the visible label whose top left corner is at (24, y).
    HWND Line(Page page, int y) {
        ShowPage(page);
        for (HWND label : VisibleLabels(app.window)) {
            RECT at = {};
            GetWindowRect(label, &at);
            MapWindowPoints(nullptr, app.window, reinterpret_cast<POINT*>(&at), 2);
            if (at.left == 24 && at.top == y)
                return label;
        }
        ADD_FAILURE() << "no label at (24, " << y << ") on page " << page;
        return nullptr;
    }
    HWND UdpStatusLine() { return Line(kUdpPage, 180); }
    HWND HrdStatusLine() { return Line(kHrdPage, 222); }
    HWND LastPostLine(Page page) { return Line(page, 196); }

    std::vector<std::wstring> LiveValues() {
        std::vector<std::wstring> values;
        const std::vector<HWND> labels = VisibleLabels(app.window);
        for (std::size_t at = 1; at < labels.size(); at += 2)
            values.push_back(TextOf(labels[at]));
        return values;
    }

    std::wstring LiveValue(std::size_t row) {
        const std::vector<std::wstring> values = LiveValues();
        return row < values.size() ? values[row] : std::wstring();
    }

    bool LiveValuesBecome(const std::vector<std::wstring>& expected,
                          std::chrono::milliseconds limit) {
        ShowPage(kLivePage);
        return WaitUntil([&] { return LiveValues() == expected; }, limit);
    }

    // Presses Save and answers "Settings saved."; false when the box never came.
    bool Save() {
        Click(C(kSave));
        HWND box = WaitForMessageBox(app, L"Corvane");
        if (!box)
            return false;
        EXPECT_EQ(MessageBoxText(box), L"Settings saved.");
        return AnswerMessageBox(box, IDOK);
    }

    AppProcess app;
};

TEST_F(Shell, WindowHasItsClassTitleStyleAndClientSize) {
    Launch();
    EXPECT_EQ(ClassOf(app.window), L"CorvaneWndClass");
    EXPECT_EQ(TextOf(app.window), L"Corvane by N0CALL  v1.6.2");
    const LONG frame = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME;
    EXPECT_EQ(GetWindowLongW(app.window, GWL_STYLE) & frame,
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_TRUE(IsWindowVisible(app.window));

    RECT client = {};
    GetClientRect(app.window, &client);
    EXPECT_EQ(client.right, 460);
    EXPECT_EQ(client.bottom, 414);

    struct Placed {
        int id;
        RECT expected; // left, top, width, height
    };
    for (const Placed& placed : {Placed{kTab, {8, 8, 444, 360}}, Placed{kSave, {250, 378, 110, 26}},
                                 Placed{kExit, {372, 378, 80, 26}}}) {
        RECT at = {};
        GetWindowRect(C(placed.id), &at);
        MapWindowPoints(nullptr, app.window, reinterpret_cast<POINT*>(&at), 2);
        EXPECT_EQ(at.left, placed.expected.left) << placed.id;
        EXPECT_EQ(at.top, placed.expected.top) << placed.id;
        EXPECT_EQ(at.right - at.left, placed.expected.right) << placed.id;
        EXPECT_EQ(at.bottom - at.top, placed.expected.bottom) << placed.id;
    }
    EXPECT_EQ(TextOf(C(kSave)), L"Save settings");
    EXPECT_EQ(TextOf(C(kExit)), L"Exit");
}

TEST_F(Shell, SixTabsEachShowOnlyTheirOwnControls) {
    Launch();
    EXPECT_EQ(TabTexts(app, C(kTab)),
              (std::vector<std::wstring>{L"VLM Dashboard", L"WP Dashboard", L"UDP Receiver",
                                         L"HRD (TCP)", L"Live Status", L"Application settings"}));
    EXPECT_EQ(Send(C(kTab), TCM_GETCURSEL), 0);

    struct PageContent {
        Page page;
        std::vector<int> ids;
        std::vector<std::wstring> labels; // top to bottom, left to right
    };
    std::vector<std::wstring> live;
    for (const wchar_t* caption :
         {L"Freq (MHz)", L"Band", L"Mode", L"Operating", L"Last worked", L"Contest", L"MyCall",
          L"OpCall", L"Radio", L"Locator", L"Location"}) {
        live.push_back(caption);
        live.push_back(L"-");
    }
    const PageContent pages[] = {
        {kHostedPage,
         {kVlmEnable, kVlmId, kVlmKey, kVlmShowKey, kVlmInterval},
         {L"Server URL", HostedBaseUrl(), L"Dashboard ID", L"API Key", L"Update interval",
          L"Last post: -"}},
        {kWpPage,
         {kWpEnable, kWpUrl, kWpId, kWpKey, kWpShowKey, kWpInterval},
         {L"Dashboard URL", L"Dashboard ID", L"API Key", L"Update interval", L"Last post: -"}},
        {kUdpPage,
         {kUdpEnable, kUdpIp, kUdpPort},
         {L"UDP IP", L"0.0.0.0  = listen on ALL interfaces (loopback + network broadcasts)",
          L"127.0.0.1 = this PC only (loopback \u2014 no network broadcasts)", L"UDP Port",
          L"Stopped"}},
        {kHrdPage,
         {kHrdEnable, kHrdHost, kHrdPort, kHrdInterval, kHrdMyCall, kHrdOperator},
         {L"HRD host", L"HRD port", L"Poll interval", L"MyCall", L"Operator", L"Disabled",
          L"HRD gives frequency + mode; MyCall/Operator are typed here."}},
        {kLivePage, {}, live},
        {kAppPage,
         {kStartMinimized, kStartWithWindows, kTestMode},
         {L"Applies at once (no Save needed); stored in Windows."}},
    };

    // Page 0 is shown first without any selection having happened.
    for (int pass = 0; pass < 2; ++pass) {
        for (const PageContent& content : pages) {
            if (pass == 0 && content.page != kHostedPage)
                continue;
            if (pass == 1)
                ShowPage(content.page);
            for (const PageContent& other : pages)
                for (int id : other.ids)
                    EXPECT_EQ(HasVisibleStyle(C(id)), other.page == content.page)
                        << "page " << content.page << ", control " << id;
            std::vector<std::wstring> labels;
            for (HWND label : VisibleLabels(app.window))
                labels.push_back(TextOf(label));
            EXPECT_EQ(labels, content.labels) << "page " << content.page;
            for (int id : {kTab, kSave, kExit})
                EXPECT_TRUE(HasVisibleStyle(C(id))) << "page " << content.page;
        }
    }
    ShowPage(kLivePage);
    EXPECT_EQ(VisibleLabels(app.window).size(), 22u);
}

TEST_F(Shell, ControlsHaveTheirKindsAndTexts) {
    Launch();
    struct Control {
        int id;
        const wchar_t* className;
        DWORD style; // must all be set
        std::wstring text;
    };
    const DWORD child = WS_CHILD | WS_TABSTOP;
    const Control controls[] = {
        {kVlmEnable, L"Button", child | BS_AUTOCHECKBOX,
         L"Enable posting to " + HostOf(HostedBaseUrl())},
        {kVlmId, L"Edit", child | ES_AUTOHSCROLL, L""},
        {kVlmKey, L"Edit", child | ES_AUTOHSCROLL | ES_PASSWORD, L""},
        {kVlmShowKey, L"Button", child, L"Show"},
        {kVlmInterval, L"ComboBox", child | CBS_DROPDOWNLIST, L"30 seconds"},
        {kWpEnable, L"Button", child | BS_AUTOCHECKBOX, L"Enable posting to custom WP dashboard"},
        {kWpUrl, L"Edit", child | ES_AUTOHSCROLL, L"https://wordpress.example.org"},
        {kWpKey, L"Edit", child | ES_PASSWORD, L""},
        {kWpShowKey, L"Button", child, L"Show"},
        {kWpInterval, L"ComboBox", child | CBS_DROPDOWNLIST, L"30 seconds"},
        {kUdpEnable, L"Button", child | BS_AUTOCHECKBOX,
         L"Enable UDP receiver (N1MM / MiniBook / Log4OM)"},
        {kUdpIp, L"Edit", child, L"0.0.0.0"},
        {kUdpPort, L"Edit", child | ES_NUMBER, L"12060"},
        {kHrdEnable, L"Button", child | BS_AUTOCHECKBOX,
         L"Enable HRD (Ham Radio Deluxe) TCP source"},
        {kHrdHost, L"Edit", child, L"127.0.0.1"},
        {kHrdPort, L"Edit", child | ES_NUMBER, L"7809"},
        {kHrdInterval, L"ComboBox", child | CBS_DROPDOWNLIST, L"2 seconds"},
        {kStartMinimized, L"Button", child | BS_AUTOCHECKBOX, L"Start minimized to system tray"},
        {kStartWithWindows, L"Button", child | BS_AUTOCHECKBOX,
         L"Start automatically when Windows starts"},
        {kTestMode, L"Button", child | BS_AUTOCHECKBOX,
         L"Test mode (send demo data when no UDP is received)"},
        {kSave, L"Button", child, L"Save settings"},
        {kExit, L"Button", child, L"Exit"},
    };
    for (const Control& control : controls) {
        HWND window = C(control.id);
        ASSERT_NE(window, nullptr) << control.id;
        EXPECT_EQ(_wcsicmp(ClassOf(window).c_str(), control.className), 0) << control.id;
        const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
        EXPECT_EQ(style & control.style, control.style) << control.id;
        EXPECT_EQ(TextOf(window), control.text) << control.id;
    }
    EXPECT_EQ(GetWindowLongW(C(kVlmId), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);
    // The hosted list starts at 30 seconds; the other two hold all eight entries.
    EXPECT_EQ(Send(C(kVlmInterval), CB_GETCOUNT), 4);
    EXPECT_EQ(Send(C(kWpInterval), CB_GETCOUNT), 8);
    EXPECT_EQ(Send(C(kHrdInterval), CB_GETCOUNT), 8);
}

TEST_F(Shell, PagesAreFilledFromTheSettings) {
    Launch({{{L"vellumar", L"enabled"}, L"1"},
            {{L"vellumar", L"id"}, L"station-7"},
            {{L"vellumar", L"interval"}, L"120"},
            {{L"wp", L"enabled"}, L"1"},
            {{L"wp", L"url"}, L"http://wp.example.net"},
            {{L"wp", L"id"}, L"wp-id"},
            {{L"wp", L"interval"}, L"1"},
            {{L"udp", L"ip"}, L"127.0.0.1"},
            {{L"udp", L"port"}, L"2237"},
            {{L"app", L"start_minimized"}, L"0"},
            {{L"hrd", L"host"}, L"10.1.2.3"},
            {{L"hrd", L"port"}, L"7810"},
            {{L"hrd", L"interval"}, L"10"},
            {{L"hrd", L"mycall"}, L"N0CALL"},
            {{L"hrd", L"operator"}, L"K1OP"}});
    EXPECT_TRUE(IsChecked(C(kVlmEnable)));
    EXPECT_EQ(TextOf(C(kVlmId)), L"station-7");
    EXPECT_EQ(TextOf(C(kVlmInterval)), L"120 seconds");
    EXPECT_TRUE(IsChecked(C(kWpEnable)));
    EXPECT_EQ(TextOf(C(kWpUrl)), L"http://wp.example.net");
    EXPECT_EQ(TextOf(C(kWpId)), L"wp-id");
    EXPECT_EQ(TextOf(C(kWpInterval)), L"1 second");
    EXPECT_FALSE(IsChecked(C(kUdpEnable)));
    EXPECT_EQ(TextOf(C(kUdpIp)), L"127.0.0.1");
    EXPECT_EQ(TextOf(C(kUdpPort)), L"2237");
    EXPECT_FALSE(IsChecked(C(kStartMinimized)));
    EXPECT_FALSE(IsChecked(C(kStartWithWindows)));
    EXPECT_FALSE(IsChecked(C(kTestMode)));
    EXPECT_FALSE(IsChecked(C(kHrdEnable)));
    EXPECT_EQ(TextOf(C(kHrdHost)), L"10.1.2.3");
    EXPECT_EQ(TextOf(C(kHrdPort)), L"7810");
    EXPECT_EQ(TextOf(C(kHrdInterval)), L"10 seconds");
    EXPECT_EQ(TextOf(C(kHrdMyCall)), L"N0CALL");
    EXPECT_EQ(TextOf(C(kHrdOperator)), L"K1OP");
}

TEST_F(Shell, SaveWritesWhatTheBoxesHoldAndSaysSo) {
    Launch();
    ShowPage(kWpPage);
    Toggle(kWpEnable);
    SetText(C(kWpUrl), L"http://127.0.0.1:9/wp");
    SetText(C(kWpId), L"my dash");
    SetText(C(kWpKey), L"s3cret&key");
    Send(C(kWpInterval), CB_SETCURSEL, 3); // "10 seconds"
    SetText(C(kVlmId), L"hosted-id");
    Send(C(kVlmInterval), CB_SETCURSEL, 2); // "120 seconds"
    SetText(C(kUdpIp), L"127.0.0.1");
    SetText(C(kUdpPort), L"70000");
    SetText(C(kHrdHost), L"");
    SetText(C(kHrdPort), L"abc");
    Send(C(kHrdInterval), CB_SETCURSEL, 0); // "1 second"
    SetText(C(kHrdMyCall), L"N0CALL");
    SetText(C(kHrdOperator), L"K1OP");
    ShowPage(kAppPage);
    Toggle(kStartMinimized);

    ASSERT_TRUE(Save());
    struct Stored {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* value;
    };
    for (const Stored& stored :
         {Stored{L"vellumar", L"enabled", L"0"}, Stored{L"vellumar", L"id", L"hosted-id"},
          Stored{L"vellumar", L"interval", L"120"}, Stored{L"wp", L"enabled", L"1"},
          Stored{L"wp", L"url", L"http://127.0.0.1:9/wp"}, Stored{L"wp", L"id", L"my dash"},
          Stored{L"wp", L"api_key", L"s3cret&key"}, Stored{L"wp", L"interval", L"10"},
          Stored{L"udp", L"enabled", L"0"}, Stored{L"udp", L"ip", L"127.0.0.1"},
          Stored{L"udp", L"port", L"12060"}, Stored{L"app", L"start_minimized", L"1"},
          Stored{L"hrd", L"enabled", L"0"}, Stored{L"hrd", L"host", L"127.0.0.1"},
          Stored{L"hrd", L"port", L"7809"}, Stored{L"hrd", L"interval", L"1"},
          Stored{L"hrd", L"mycall", L"N0CALL"}, Stored{L"hrd", L"operator", L"K1OP"}})
        EXPECT_EQ(ReadSetting(stored.section, stored.key), stored.value)
            << "[" << stored.section << "] " << stored.key;
    // The boxes keep what was typed; only the stored values were mended.
    EXPECT_EQ(TextOf(C(kUdpPort)), L"70000");
    EXPECT_EQ(TextOf(C(kHrdHost)), L"");
    EXPECT_EQ(TextOf(HrdStatusLine()), L"Disabled");
}

TEST_F(Shell, UdpListenerShowsItsAddressAndFeedsLiveStatus) {
    const int port = FreeUdpPort();
    Launch({{{L"udp", L"enabled"}, L"1"},
            {{L"udp", L"ip"}, L"127.0.0.1"},
            {{L"udp", L"port"}, std::to_wstring(port)}});
    const std::wstring listening = L"Listening on 127.0.0.1:" + std::to_wstring(port);
    EXPECT_TRUE(TextBecomes(UdpStatusLine(), listening, 10s)) << TextOf(UdpStatusLine());

    const std::string datagram = ReadFileBytes(SampleFile(L"n1mm-radioinfo-1.xml"));
    ASSERT_FALSE(datagram.empty());
    ASSERT_TRUE(SendDatagram(port, datagram));
    EXPECT_TRUE(LiveValuesBecome({L"3.522", L"80m", L"CW", L"Is searching", L"-", L"-", L"W1ABC",
                                  L"W1ABC", L"-", L"-", L"-"},
                                 10s))
        << testing::PrintToString(LiveValues());

    // Clearing the box stops the listener at once; udp.enabled is only changed by Save.
    ShowPage(kUdpPage);
    Toggle(kUdpEnable);
    EXPECT_TRUE(TextBecomes(UdpStatusLine(), L"Stopped", 10s));
    EXPECT_TRUE(WaitUntil([&] { return UdpPortFree(port); }, 10s));
    EXPECT_EQ(ReadSetting(L"udp", L"enabled"), L"1");
}

TEST_F(Shell, TakenPortShowsTheBindErrorAndSaveStartsAFreshListener) {
    const int port = FreeUdpPort();
    SOCKET holder = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    BOOL exclusive = TRUE;
    setsockopt(holder, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&exclusive),
               sizeof(exclusive));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port));
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);

    Launch({{{L"udp", L"port"}, std::to_wstring(port)}, {{L"udp", L"ip"}, L""}});
    ShowPage(kUdpPage);
    EXPECT_EQ(TextOf(UdpStatusLine()), L"Stopped");
    Toggle(kUdpEnable);
    EXPECT_TRUE(
        TextBecomes(UdpStatusLine(), L"Error: cannot bind port " + std::to_wstring(port), 10s))
        << TextOf(UdpStatusLine());

    closesocket(holder);
    ASSERT_TRUE(Save());
    EXPECT_TRUE(TextBecomes(UdpStatusLine(), L"Listening on 0.0.0.0:" + std::to_wstring(port), 10s))
        << TextOf(UdpStatusLine());
    EXPECT_EQ(ReadSetting(L"udp", L"enabled"), L"1");
    EXPECT_FALSE(UdpPortFree(port));
}

TEST_F(Shell, TestModeShowsItsTextAndCyclesDemoValues) {
    const int port = FreeUdpPort();
    Launch({{{L"udp", L"enabled"}, L"1"},
            {{L"udp", L"ip"}, L""},
            {{L"udp", L"port"}, std::to_wstring(port)}});
    const std::wstring listening = L"Listening on 0.0.0.0:" + std::to_wstring(port);
    ASSERT_TRUE(TextBecomes(UdpStatusLine(), listening, 10s)) << TextOf(UdpStatusLine());

    ShowPage(kAppPage);
    Toggle(kTestMode);
    EXPECT_EQ(TextOf(UdpStatusLine()), L"Test mode ON \u2014 ignoring UDP");
    EXPECT_TRUE(LiveValuesBecome({L"14.074", L"20m", L"FT8", L"Is calling", L"QQ1ABC", L"CQ WW DX",
                                  L"N0CALL", L"TEST", L"Test N1MM", L"-", L"-"},
                                 5s))
        << testing::PrintToString(LiveValues());
    EXPECT_TRUE(LiveValuesBecome({L"7.130", L"40m", L"SSB", L"Is searching", L"QQ1ABC", L"CQ WW DX",
                                  L"N0CALL", L"TEST", L"Test N1MM", L"-", L"-"},
                                 6s))
        << testing::PrintToString(LiveValues());

    // Datagrams are dropped while the demo runs.
    ASSERT_TRUE(SendDatagram(port, ReadFileBytes(SampleFile(L"n1mm-radioinfo-1.xml"))));
    ShowPage(kLivePage);
    EXPECT_FALSE(WaitUntil([&] { return LiveValue(6) == L"W1ABC"; }, 1500ms));

    ShowPage(kAppPage);
    Toggle(kTestMode);
    EXPECT_EQ(TextOf(UdpStatusLine()), listening);
}

TEST_F(Shell, PostResultsLandOnTheirOwnPage) {
    Launch();
    HWND hosted = LastPostLine(kHostedPage);
    HWND wp = LastPostLine(kWpPage);
    PostMessageW(app.window, kPostResult, 1, 1);
    EXPECT_TRUE(TextBecomes(wp, L"Last post: OK", 5s));
    EXPECT_EQ(TextOf(hosted), L"Last post: -");
    PostMessageW(app.window, kPostResult, 0, 0);
    EXPECT_TRUE(TextBecomes(hosted, L"Last post: FAILED", 5s));
    EXPECT_EQ(TextOf(wp), L"Last post: OK");
    PostMessageW(app.window, kPostResult, 1, 0);
    EXPECT_TRUE(TextBecomes(wp, L"Last post: FAILED", 5s));
}

TEST_F(Shell, UdpStatusMessagesBecomeTheirTexts) {
    Launch({{{L"udp", L"ip"}, L"192.168.1.20"}});
    HWND line = UdpStatusLine();
    PostMessageW(app.window, kUdpStatus, 2, 4242);
    EXPECT_TRUE(TextBecomes(line, L"Error: cannot bind port 4242", 5s));
    PostMessageW(app.window, kUdpStatus, 1, 5555);
    EXPECT_TRUE(TextBecomes(line, L"Listening on 192.168.1.20:5555", 5s));
    PostMessageW(app.window, kUdpStatus, 0, 5555);
    EXPECT_TRUE(TextBecomes(line, L"Stopped", 5s));

    SetText(C(kUdpIp), L"");
    PostMessageW(app.window, kUdpStatus, 1, 12060);
    EXPECT_TRUE(TextBecomes(line, L"Listening on 0.0.0.0:12060", 5s));
    // The window asks for a fresh picture, whatever woke it.
    PostMessageW(app.window, kSnapshotChanged, 0, 0);
    EXPECT_EQ(TextOf(line), L"Listening on 0.0.0.0:12060");
}

TEST_F(Shell, PostingReportsOkAndFailedOnTheRightPage) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    const int closedPort = FreeTcpPort();
    // The hosted dashboard lacks an ID and key, so each of its attempts fails without traffic.
    Launch({{{L"vellumar", L"enabled"}, L"1"},
            {{L"wp", L"enabled"}, L"1"},
            {{L"wp", L"url"}, sink.BaseUrl()},
            {{L"wp", L"id"}, L"dash-1"},
            {{L"wp", L"api_key"}, L"key-1"},
            {{L"wp", L"interval"}, L"1"}});
    HWND hosted = LastPostLine(kHostedPage);
    HWND wp = LastPostLine(kWpPage);
    ShowPage(kAppPage);
    Toggle(kTestMode);
    EXPECT_TRUE(TextBecomes(wp, L"Last post: OK", 20s)) << TextOf(wp);
    EXPECT_TRUE(TextBecomes(hosted, L"Last post: FAILED", 20s)) << TextOf(hosted);
    ASSERT_TRUE(sink.WaitForRequests(1, 10s));
    const SinkRequest request = sink.Requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/?station_update=dash-1");
    EXPECT_NE(request.body.find("api_key=key-1"), std::string::npos) << request.body;

    // Pointed at a port where nobody listens, the next post fails on the WP page.
    ShowPage(kWpPage);
    SetText(C(kWpUrl), L"http://127.0.0.1:" + std::to_wstring(closedPort));
    ASSERT_TRUE(Save());
    EXPECT_TRUE(TextBecomes(wp, L"Last post: FAILED", 20s)) << TextOf(wp);
}

TEST_F(Shell, ShowAndHideTheKeyOfOnePageOnly) {
    Launch({{{L"vellumar", L"api_key"}, L"hosted-key"}, {{L"wp", L"api_key"}, L"wp-key"}});
    const LRESULT defaultMask = Send(C(kWpKey), EM_GETPASSWORDCHAR);
    EXPECT_NE(Send(C(kVlmKey), EM_GETPASSWORDCHAR), 0);
    EXPECT_NE(defaultMask, 0);

    Send(C(kVlmShowKey), BM_CLICK);
    EXPECT_EQ(TextOf(C(kVlmShowKey)), L"Hide");
    EXPECT_EQ(Send(C(kVlmKey), EM_GETPASSWORDCHAR), 0);
    EXPECT_EQ(TextOf(C(kVlmKey)), L"hosted-key");

    Send(C(kVlmShowKey), BM_CLICK);
    EXPECT_EQ(TextOf(C(kVlmShowKey)), L"Show");
    EXPECT_EQ(Send(C(kVlmKey), EM_GETPASSWORDCHAR), L'*');

    EXPECT_EQ(TextOf(C(kWpShowKey)), L"Show");
    EXPECT_EQ(Send(C(kWpKey), EM_GETPASSWORDCHAR), defaultMask);
}

TEST_F(Shell, StartWithWindowsBoxWritesAndRemovesTheQuotedRunValue) {
    Launch();
    ShowPage(kAppPage);
    EXPECT_FALSE(IsChecked(C(kStartWithWindows)));

    Toggle(kStartWithWindows);
    std::wstring data;
    DWORD type = 0;
    ASSERT_TRUE(ReadRunValue(&data, &type));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(_wcsicmp(data.c_str(), (L"\"" + AppExePath() + L"\"").c_str()), 0) << data;
    EXPECT_EQ(ReadSetting(L"app", L"start_with_windows"), L"<absent>"); // not a stored setting

    Toggle(kStartWithWindows);
    EXPECT_FALSE(ReadRunValue(nullptr, nullptr));
}

TEST_F(Shell, StartupShortcutAloneShowsTheBoxCheckedAndAClickRemovesIt) {
    HANDLE file = CreateFileW(StartupShortcutFile().c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    Launch();
    ShowPage(kAppPage);
    EXPECT_TRUE(IsChecked(C(kStartWithWindows)));
    EXPECT_FALSE(ReadRunValue(nullptr, nullptr)); // the start-up repair leaves it alone

    Toggle(kStartWithWindows);
    EXPECT_EQ(GetFileAttributesW(StartupShortcutFile().c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(ReadRunValue(nullptr, nullptr));
}

TEST_F(Shell, SecondCopyRestoresTheFirstAndEndsWithZero) {
    Launch({{{L"app", L"start_minimized"}, L"1"}});
    EXPECT_FALSE(IsWindowVisible(app.window));

    AppProcess second;
    ASSERT_TRUE(second.Start(false));
    const ProcessResult ended = second.WaitForExit(20s);
    ASSERT_TRUE(ended.ended);
    EXPECT_EQ(ended.exitCode, 0u);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(app.window) != FALSE; }, 5s));
    EXPECT_TRUE(app.Running());
}

TEST_F(Shell, CloseAndMinimiseOnlyHideTheWindow) {
    const int port = FreeUdpPort();
    Launch({{{L"udp", L"enabled"}, L"1"}, {{L"udp", L"port"}, std::to_wstring(port)}});
    ASSERT_TRUE(WaitUntil([&] { return !UdpPortFree(port); }, 10s));

    struct Step {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        bool visibleAfter;
    };
    const Step steps[] = {
        {"close box", WM_CLOSE, 0, 0, false},
        {"tray double-click", kTrayMessage, 1, WM_LBUTTONDBLCLK, true},
        {"minimise box", WM_SYSCOMMAND, SC_MINIMIZE, 0, false},
        {"tray menu Restore", WM_COMMAND, kRestoreItem, 0, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        PostMessageW(app.window, step.message, step.wParam, step.lParam);
        EXPECT_TRUE(WaitUntil(
            [&] { return (IsWindowVisible(app.window) != FALSE) == step.visibleAfter; }, 5s));
        EXPECT_FALSE(IsIconic(app.window));
        EXPECT_TRUE(app.Running());
        EXPECT_TRUE(IsWindow(app.window));
    }
    EXPECT_FALSE(UdpPortFree(port)); // the listener ran on throughout
}

TEST_F(Shell, ExitAnsweredNoKeepsRunningAndYesEndsWithZero) {
    const int port = FreeUdpPort();
    Launch({{{L"udp", L"enabled"}, L"1"}, {{L"udp", L"port"}, std::to_wstring(port)}});
    ASSERT_TRUE(WaitUntil([&] { return !UdpPortFree(port); }, 10s));
    ShowPage(kAppPage);
    Toggle(kTestMode);

    Click(C(kExit));
    HWND box = WaitForMessageBox(app, L"Exit Corvane");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kExitQuestion);
    ASSERT_TRUE(AnswerMessageBox(box, IDNO));
    EXPECT_TRUE(app.Running());
    EXPECT_TRUE(IsWindowVisible(app.window));
    EXPECT_FALSE(UdpPortFree(port));
    // The demo still runs: the live page keeps changing.
    ShowPage(kLivePage);
    const std::wstring before = LiveValue(0);
    EXPECT_TRUE(WaitUntil([&] { return LiveValue(0) != before; }, 6s));

    // The tray menu's Exit asks the same question.
    PostMessageW(app.window, WM_COMMAND, kExitItem, 0);
    box = WaitForMessageBox(app, L"Exit Corvane");
    ASSERT_NE(box, nullptr);
    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    const ProcessResult ended = app.WaitForExit(20s);
    ASSERT_TRUE(ended.ended);
    EXPECT_EQ(ended.exitCode, 0u);
    EXPECT_TRUE(UdpPortFree(port));
}

TEST_F(Shell, StartMinimisedShowsNothingButRunsTheSources) {
    const int port = FreeUdpPort();
    Launch({{{L"app", L"start_minimized"}, L"1"},
            {{L"udp", L"enabled"}, L"1"},
            {{L"udp", L"port"}, std::to_wstring(port)}});
    EXPECT_FALSE(IsWindowVisible(app.window));
    EXPECT_TRUE(WaitUntil([&] { return !UdpPortFree(port); }, 10s));
    EXPECT_TRUE(IsChecked(C(kStartMinimized)));
}

TEST_F(Shell, HrdSourceReportsOnItsPageAndSaveDisablesIt) {
    HrdSim sim;
    ASSERT_TRUE(StartHrdSim(sim));
    Launch({{{L"hrd", L"enabled"}, L"1"},
            {{L"hrd", L"port"}, std::to_wstring(sim.port)},
            {{L"hrd", L"interval"}, L"1"},
            {{L"hrd", L"mycall"}, L"N0CALL"},
            {{L"hrd", L"operator"}, L"K1OP"}});
    EXPECT_TRUE(TextBecomes(HrdStatusLine(), L"Connected \u2014 IC-7300", 15s))
        << TextOf(HrdStatusLine());
    EXPECT_TRUE(LiveValuesBecome(
        {L"14.074", L"20m", L"USB", L"-", L"-", L"-", L"N0CALL", L"K1OP", L"IC-7300", L"-", L"-"},
        10s))
        << testing::PrintToString(LiveValues());

    ShowPage(kHrdPage);
    Toggle(kHrdEnable);
    ASSERT_TRUE(Save());
    EXPECT_EQ(TextOf(HrdStatusLine()), L"Disabled");
    EXPECT_EQ(ReadSetting(L"hrd", L"enabled"), L"0");
    // The poller is gone: the simulator sees no further commands.
    const std::size_t seen = HrdSimCommands(sim).size();
    EXPECT_FALSE(WaitUntil([&] { return HrdSimCommands(sim).size() > seen; }, 2500ms));
    StopHrdSim(sim);
}

TEST_F(Shell, LayoutFollowsTheSystemDpi) {
    // Wine takes the system DPI from this value when a process starts.
    HKEY desktop = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                              KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &desktop, nullptr),
              ERROR_SUCCESS);
    DWORD saved = 0, savedType = 0, savedSize = sizeof(saved);
    const bool hadValue =
        RegQueryValueExW(desktop, L"LogPixels", nullptr, &savedType,
                         reinterpret_cast<BYTE*>(&saved), &savedSize) == ERROR_SUCCESS;
    struct Case {
        DWORD dpi;
        SIZE client;
        RECT tab; // left, top, width, height
    };
    const Case cases[] = {{144, {690, 621}, {12, 12, 666, 540}},
                          {120, {575, 518}, {10, 10, 555, 450}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        RegSetValueExW(desktop, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&c.dpi),
                       sizeof(c.dpi));
        Launch();
        RECT client = {};
        GetClientRect(app.window, &client);
        EXPECT_EQ(client.right, c.client.cx);
        EXPECT_EQ(client.bottom, c.client.cy);
        RECT tab = {};
        GetWindowRect(C(kTab), &tab);
        MapWindowPoints(nullptr, app.window, reinterpret_cast<POINT*>(&tab), 2);
        EXPECT_EQ(tab.left, c.tab.left);
        EXPECT_EQ(tab.top, c.tab.top);
        EXPECT_EQ(tab.right - tab.left, c.tab.right);
        EXPECT_EQ(tab.bottom - tab.top, c.tab.bottom);
        app.Kill();
    }
    if (hadValue)
        RegSetValueExW(desktop, L"LogPixels", 0, savedType, reinterpret_cast<const BYTE*>(&saved),
                       savedSize);
    else
        RegDeleteValueW(desktop, L"LogPixels");
    RegCloseKey(desktop);
}

// Not a check: when CORVANE_SCREENSHOT_DIR is set, pictures of the six pages go there
// (tests/app/take_screenshots.sh runs this inside a Wine virtual desktop, so the frame shows).
TEST_F(Shell, Screenshots) {
    wchar_t folder[1024] = {};
    if (!GetEnvironmentVariableW(L"CORVANE_SCREENSHOT_DIR", folder, ARRAYSIZE(folder)))
        GTEST_SKIP() << "CORVANE_SCREENSHOT_DIR is not set";
    std::wstring target = folder;
    if (!target.empty() && target[0] == L'/')
        target = L"Z:" + target;

    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    HrdSim sim;
    ASSERT_TRUE(StartHrdSim(sim, HrdSimScript(), 7809) || StartHrdSim(sim));
    const int udpPort = UdpPortFree(12060) ? 12060 : FreeUdpPort();
    Launch({{{L"vellumar", L"id"}, L"n0call-station"},
            {{L"vellumar", L"api_key"}, L"hosted-key"},
            {{L"wp", L"enabled"}, L"1"},
            {{L"wp", L"url"}, sink.BaseUrl()},
            {{L"wp", L"id"}, L"n0call"},
            {{L"wp", L"api_key"}, L"wp-key"},
            {{L"wp", L"interval"}, L"10"},
            {{L"udp", L"enabled"}, L"1"},
            {{L"udp", L"ip"}, L"0.0.0.0"},
            {{L"udp", L"port"}, std::to_wstring(udpPort)},
            {{L"hrd", L"enabled"}, L"1"},
            {{L"hrd", L"port"}, std::to_wstring(sim.port)},
            {{L"hrd", L"mycall"}, L"N0CALL"},
            {{L"hrd", L"operator"}, L"N0CALL"}});
    ASSERT_TRUE(TextBecomes(LastPostLine(kWpPage), L"Last post: OK", 20s));
    ShowPage(kLivePage);
    ASSERT_TRUE(WaitUntil([&] { return LiveValue(0) == L"14.074"; }, 10s));

    const wchar_t* const names[] = {L"1-vlm-dashboard", L"2-wp-dashboard",
                                    L"3-udp-receiver",  L"4-hrd",
                                    L"5-live-status",   L"6-application-settings"};
    for (int page = kHostedPage; page <= kAppPage; ++page) {
        ShowPage(static_cast<Page>(page));
        Send(app.window, WM_NULL);
        Sleep(500); // painting has no event to wait for; give it a moment
        EXPECT_TRUE(SaveWindowPicture(app.window, target + L"\\" + names[page] + L".bmp"));
    }
    StopHrdSim(sim);
}

// Needs no display: the executable's resources read as data.
TEST(ShellResources, IconManifestAndVersion) {
    HMODULE image = LoadLibraryExW(AppExePath().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);

    // Icon group 101: 256, 48, 32 and 16 pixels, all 32-bit.
    HRSRC group = FindResourceW(image, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14));
    ASSERT_NE(group, nullptr);
    const BYTE* directory = static_cast<const BYTE*>(LockResource(LoadResource(image, group)));
    const WORD count = *reinterpret_cast<const WORD*>(directory + 4);
    std::vector<int> sizes;
    for (WORD index = 0; index < count; ++index) {
        const BYTE* entry = directory + 6 + 14 * index; // GRPICONDIRENTRY
        sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
        EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 6), 32) << "entry " << index;
    }
    EXPECT_EQ(sizes, (std::vector<int>{256, 48, 32, 16}));

    HRSRC manifestResource = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifestResource, nullptr);
    const std::string manifest(
        static_cast<const char*>(LockResource(LoadResource(image, manifestResource))),
        SizeofResource(image, manifestResource));
    for (const char* part :
         {"name=\"N0CALL.Corvane\" version=\"1.0.0.0\"", "Microsoft.Windows.Common-Controls",
          "version=\"6.0.0.0\"", ">true</dpiAware>", ">system</dpiAwareness>",
          "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    FreeLibrary(image);

    const std::wstring exe = AppExePath();
    DWORD ignored = 0;
    std::vector<BYTE> version(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(
        GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010006u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010006u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00020000u);
    for (const wchar_t* name : {L"FileDescription", L"ProductName"}) {
        wchar_t* text = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(version.data(), path.c_str(), reinterpret_cast<void**>(&text), &length));
        EXPECT_STREQ(text, L"Corvane");
    }
}

} // namespace
