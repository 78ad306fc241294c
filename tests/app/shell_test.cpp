// The Windows shell: its window, tray menu, exit question and start-at-logon registration made
// in this process, then Corvane.exe driven from outside as a user would (under Wine and Xvfb),
// each copy started on a clean profile and checked through what the user, the peers,
// settings.ini and the registry see.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <thread>

#include "app/lifecycle.h"
#include "app/startup_registration.h"
#include "app/window_commands.h"
#include "app/window_sink.h"
#include "core/settings.h"
#include "frontend/pages.h"
#include "frontend/workers.h"
#include "resources/resource.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/hrd_sim/hrd_sim.h"

using namespace std::chrono_literals;

namespace {

// These tests delete settings.ini (API keys included), the Run value and the Startup shortcut of
// whoever runs them. They run only in a profile made to be thrown away and named in
// CORVANE_THROWAWAY_PREFIX (under Wine the WINEPREFIX the test command made, on Windows
// %USERPROFILE%); anywhere else they refuse, and refusing is a failure.
bool ThrowawayProfile() {
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
    const std::string named = EnvironmentText("CORVANE_THROWAWAY_PREFIX");
    return !named.empty() && named == EnvironmentText(wine ? "WINEPREFIX" : "USERPROFILE");
}
const char* const kRefusal = "set CORVANE_THROWAWAY_PREFIX to a profile that may be wiped";
const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Wine hands Unix paths through the environment; Z: is the Unix root there.
std::wstring DosPath(const char* variable) {
    const std::string unix = EnvironmentText(variable);
    std::wstring path =
        (unix.rfind('/', 0) == 0 ? L"Z:" : L"") + std::wstring(unix.begin(), unix.end());
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::wstring Folder(int id, const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, id, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder + std::wstring(name);
}
const std::wstring kIni = Folder(CSIDL_APPDATA, L"\\Corvane\\settings.ini");
const std::wstring kShortcut = Folder(CSIDL_STARTUP, L"\\Corvane.lnk");
std::wstring Setting(const wchar_t* section, const wchar_t* key) {
    wchar_t value[256] = {};
    GetPrivateProfileStringW(section, key, L"<absent>", value, 256, kIni.c_str());
    return value;
}

// The Run value (REG_NONE: none; L"\x7" as REG_DWORD is four bytes) and the Startup shortcut.
void Register(DWORD type, const std::wstring& text, bool shortcut) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane");
    if (type != REG_NONE)
        RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane", type, text.c_str(),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    DeleteFileW(kShortcut.c_str());
    if (shortcut)
        CloseHandle(CreateFileW(kShortcut.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0));
}
bool ShortcutThere() {
    return GetFileAttributesW(kShortcut.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Row(int id, int x, int y, int w, int h, const std::wstring& text) {
    wchar_t row[300];
    std::swprintf(row, 300, L"%03d,%03d id %d %dx%d %ls", y, x, id, w, h, text.c_str());
    return row;
}

// Each page: its tab's name, then "id x y w h text" for each control in creation order, at 96 DPI
// in the client area. Labels have id 0; a drop-down list has height 0, as its font decides it.
const wchar_t* const kPages[] = {
    L"VLM Dashboard|1050 24 48 320 20 (hosted)|0 24 78 110 18 Server URL|0 150 78 280 18 (url)"
    L"|0 24 106 110 18 Dashboard ID|1051 150 104 140 22 |0 24 134 110 18 API Key|1052 150 132 200 "
    L"22 |1053 358 132 52 22 Show|0 24 162 110 18 Update interval|1054 150 160 120 0 30 seconds"
    L"|0 24 196 380 18 Last post: -",
    L"WP Dashboard|1060 24 48 350 20 Enable posting to custom WP dashboard|0 24 78 110 18 "
    L"Dashboard "
    L"URL|1061 150 76 285 22 |0 24 106 110 18 Dashboard ID|1062 150 104 140 22 |0 24 134 110 18 "
    L"API Key|1063 150 132 200 22 |1064 358 132 52 22 Show|0 24 162 110 18 Update interval|1065 "
    L"150 160 120 0 30 seconds|0 24 196 380 18 Last post: -",
    L"UDP Receiver|1014 24 48 400 20 Enable UDP receiver (N1MM / MiniBook / Log4OM)|0 24 78 110 18 "
    L"UDP IP|1010 150 76 140 22 0.0.0.0|0 24 102 420 16 0.0.0.0  = listen on ALL interfaces "
    L"(loopback + network broadcasts)|0 24 120 420 16 127.0.0.1 = this PC only (loopback \u2014 "
    L"no network broadcasts)|0 24 146 110 18 UDP Port|1011 150 144 90 22 12060|0 24 180 400 18 "
    L"Stopped",
    L"HRD (TCP)|1070 24 48 360 20 Enable HRD (Ham Radio Deluxe) TCP source|0 24 78 110 18 HRD host"
    L"|1071 150 76 140 22 127.0.0.1|0 24 106 110 18 HRD port|1072 150 104 90 22 7809|0 24 134 110 "
    L"18 Poll interval|1073 150 132 120 0 2 seconds|0 24 164 110 18 MyCall|1074 150 162 140 22 |0 "
    L"24 192 110 18 Operator|1075 150 190 140 22 |0 24 222 400 18 Disabled|0 24 244 400 18 HRD "
    L"gives frequency + mode; MyCall/Operator are typed here.",
    L"Live Status",
    L"Application settings|1030 24 48 320 20 Start minimized to system tray|1031 24 76 320 20 "
    L"Start "
    L"automatically when Windows starts|0 40 96 400 18 Applies at once (no Save needed); stored in "
    L"Windows.|1032 24 122 400 20 Test mode (send demo data when no UDP is received)"};

TEST(MainWindow, PagesShowTheirControlsInPlaceInTabOrderOnThePageColour) {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    settings.udpEnabled = false; // otherwise the defaults; no source runs
    RegisterMainWindowClass(GetModuleHandleW(nullptr));
    const HWND window = CreateMainWindow(GetModuleHandleW(nullptr)), tab = GetDlgItem(window, 1000);
    ASSERT_NE(window, nullptr) << "no window: Wine needs an X display (DISPLAY)";
    ShowWindow(window, SW_SHOW);
    RECT client = {}, last = {}, inside = {8, 8, 452, 368};
    GetClientRect(window, &client);
    EXPECT_EQ(Row(0, 0, 0, client.right, client.bottom, L""), Row(0, 0, 0, 460, 414, L""));
    TabCtrl_GetItemRect(tab, 5, &last);
    EXPECT_LE(last.right, 444) << "the last tab is cut off";
    EXPECT_EQ(GetWindow(tab, GW_HWNDNEXT), nullptr) << "the tabs would paint over the page";
    TabCtrl_AdjustRect(tab, FALSE, &inside);
    const std::wstring url = kHostedBaseUrl, host = url.substr(url.find(L"//") + 2);
    const wchar_t* const live[] = {L"Freq (MHz)",  L"Band",    L"Mode",    L"Operating",
                                   L"Last worked", L"Contest", L"MyCall",  L"OpCall",
                                   L"Radio",       L"Locator", L"Location"};
    for (int page = 0; page < 6; ++page) {
        SCOPED_TRACE(page);
        const std::wstring spec =
            kPages[page] + std::wstring(L"|1040 250 378 110 26 Save settings"
                                        L"|1041 372 378 80 26 Exit|1000 8 8 444 360 ");
        wchar_t name[32] = {};
        TCITEMW item = {TCIF_TEXT, 0, 0, name, 32, 0, 0};
        TabCtrl_GetItem(tab, page, &item);
        EXPECT_EQ(name, spec.substr(0, spec.find(L'|')));
        TabCtrl_SetCurFocus(tab, page); // as a click does: the window hears of the change
        std::vector<std::wstring> expected, shown;
        HWND focus = tab; // Tab walks the page top to bottom, then Save, Exit and the tabs
        for (std::size_t at = spec.find(L'|'); at != std::wstring::npos;
             at = spec.find(L'|', at + 1)) {
            int id = 0, x = 0, y = 0, w = 0, h = 0, used = 0;
            swscanf(spec.c_str() + at + 1, L"%d %d %d %d %d %n", &id, &x, &y, &w, &h, &used);
            std::wstring text = spec.substr(at + 1 + used, spec.find(L'|', at + 1) - at - 1 - used);
            text = text == L"(hosted)"
                       ? L"Enable posting to " + host.substr(0, host.find_first_of(L":/"))
                   : text == L"(url)" ? url
                                      : text;
            expected.push_back(Row(id, x, y, w, h, text));
            EXPECT_EQ(id ? GetDlgCtrlID(focus = GetNextDlgTabItem(window, focus, FALSE)) : 0, id);
        }
        for (int at = 0; page == kLivePage && at < 11; ++at) {
            expected.push_back(Row(0, 24, 46 + 24 * at, 110, 18, live[at]));
            expected.push_back(Row(0, 150, 46 + 24 * at, 290, 18, L"-"));
        }
        std::vector<RECT> plain; // labels and check boxes
        for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            LOGFONTW font = {};
            GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(c, WM_GETFONT, 0, 0)), sizeof(font),
                       &font);
            const LONG height = c == tab ? std::clamp(font.lfHeight, -12L, -9L) : -12; // may shrink
            EXPECT_EQ(font.lfFaceName + std::to_wstring(font.lfHeight),
                      L"Segoe UI" + std::to_wstring(height));
            RECT at = {};
            GetWindowRect(c, &at);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&at), 2);
            wchar_t text[128] = {};
            GetWindowTextW(c, text, 128);
            const bool list = SendMessageW(c, CB_GETCOUNT, 0, 0) > 0, shows = IsWindowVisible(c);
            if (shows)
                shown.push_back(Row(GetDlgCtrlID(c), at.left, at.top, at.right - at.left,
                                    list ? 0 : at.bottom - at.top, text));
            if (shows && !list &&
                (GetDlgCtrlID(c) == 0 || (GetWindowLongW(c, GWL_STYLE) & 0xF) == BS_AUTOCHECKBOX))
                plain.push_back(at);
        }
        std::sort(expected.begin(), expected.end());
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown, expected);
        // Where no text reaches, at the far end, each label and check box shows the page.
        EXPECT_TRUE(WaitUntil([&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            HDC screen = GetDC(window);
            const bool same = std::all_of(plain.begin(), plain.end(), [&](const RECT& at) {
                const int y = (at.top + at.bottom) / 2;
                return GetPixel(screen, at.right - 3, y) == GetPixel(screen, inside.left + 6, y);
            });
            ReleaseDC(window, screen);
            return same;
        }));
    }
    StopWorkers();
    DestroyWindow(window);
}

TEST(Tray, IconTipAndMenu) {
    const NOTIFYICONDATAW icon = TrayIconData();
    EXPECT_EQ(std::wstring(icon.szTip) + L" " + std::to_wstring(icon.uID) + L" " +
                  std::to_wstring(icon.uFlags) + L" " + std::to_wstring(icon.uCallbackMessage),
              L"Corvane 1 7 32769"); // NIF_MESSAGE | NIF_ICON | NIF_TIP, WM_APP + 1
    HMENU menu = BuildTrayMenu();
    std::wstring items;
    for (int at = 0; at < GetMenuItemCount(menu); ++at) {
        wchar_t text[32] = {};
        GetMenuStringW(menu, at, text, 32, MF_BYPOSITION);
        items += std::to_wstring(GetMenuItemID(menu, at)) + L" " + text + L";";
    }
    EXPECT_EQ(items, L"2001 Restore;0 ;2002 Exit;");
    DestroyMenu(menu);
}

TEST(ExitQuestion, AsksWithTheQuestionIconAndNoAsDefault) {
    std::thread asking([] { ConfirmExit(nullptr); });
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindWindowW(L"#32770", nullptr)) != nullptr; });
    wchar_t title[32] = {}, text[128] = {};
    GetWindowTextW(box, title, 32);
    GetDlgItemTextW(box, 0xFFFF, text, 128);
    const UINT icon = GetDlgItem(box, 0x14) ? 0x14 : 0x440; // Windows' id of the icon, then Wine's
    const LRESULT shown = SendDlgItemMessageW(box, icon, STM_GETICON, 0, 0);
    const LONG noStyle = GetWindowLongW(GetDlgItem(box, IDNO), GWL_STYLE);
    PostMessageW(box, WM_COMMAND, IDNO, 0);
    asking.join();
    EXPECT_STREQ(title, L"Exit Corvane");
    EXPECT_STREQ(text, L"This will fully close the Corvane and stop posting your station.\n\nDo "
                       L"you want to continue?");
    EXPECT_EQ(shown, reinterpret_cast<LRESULT>(LoadIconW(nullptr, IDI_QUESTION)));
    EXPECT_EQ(noStyle & 0xF, BS_DEFPUSHBUTTON);
}

HANDLE StartApp() {
    std::wstring line = L"\"" + DosPath("CORVANE_APP_EXE") + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                   &started);
    CloseHandle(started.hThread);
    return started.hProcess;
}
// STILL_ACTIVE when it has not ended within 20 seconds.
DWORD ExitCode(HANDLE process) {
    DWORD code = 0;
    WaitForSingleObject(process, 20000);
    GetExitCodeProcess(process, &code);
    return code;
}
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
}
std::wstring Text(HWND window) {
    wchar_t text[512] = {};
    Send(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}
// INVALID_SOCKET when someone has the port. Holding it exclusively keeps out even a socket that
// would share it; probing plainly leaves a sharing one alone.
SOCKET HoldUdp(int port, BOOL exclusive = TRUE) {
    SOCKET holder = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    setsockopt(holder, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&exclusive), 4);
    sockaddr_in local = {AF_INET, htons(static_cast<u_short>(port)), {}, {}};
    if (bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0)
        return holder;
    closesocket(holder);
    return INVALID_SOCKET;
}
bool UdpPortFree(int port) {
    const SOCKET probe = HoldUdp(port, FALSE);
    closesocket(probe);
    return probe != INVALID_SOCKET;
}

// Corvane.exe on a clean profile, driven from outside; killed at the end, whatever happens.
class Shell : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ThrowawayProfile()) << kRefusal;
        DeleteFileW(kIni.c_str());
        Register(REG_NONE, L"", false);
    }
    void TearDown() override { Kill(app); }
    void Kill(HANDLE& process) {
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
        process = nullptr;
    }

    // Settings as {section, key, value}, over a shown window with no source and no dashboard.
    void Launch(std::vector<std::array<std::wstring, 3>> values = {}) {
        CreateDirectoryW(Folder(CSIDL_APPDATA, L"\\Corvane").c_str(), nullptr);
        values.insert(values.begin(), {{L"app", L"start_minimized", L"0"},
                                       {L"udp", L"enabled", L"0"},
                                       {L"vellumar", L"enabled", L"0"},
                                       {L"wp", L"enabled", L"0"}});
        for (const auto& value : values)
            WritePrivateProfileStringW(value[0].c_str(), value[1].c_str(), value[2].c_str(),
                                       kIni.c_str());
        app = StartApp();
        WaitForInputIdle(app, 30000); // the message loop runs: the tray icon is there
        ASSERT_TRUE(WaitUntil(
            [&] { return GetDlgItem(window = FindWindowW(L"CorvaneWndClass", nullptr), IDC_EXIT); },
            30s))
            << "Corvane.exe did not come up; under Wine it needs an X display (DISPLAY)";
    }

    HWND C(int id) const { return GetDlgItem(window, id); }
    bool Checked(int id) { return Send(C(id), BM_GETCHECK) == BST_CHECKED; }
    void Toggle(int id) { Send(C(id), BM_CLICK); }
    // A check box reads "1" or "0", a list its choice and an edit box its text.
    std::wstring Get(int id) {
        const bool box = Send(C(id), WM_GETDLGCODE) & DLGC_BUTTON;
        return box ? (Checked(id) ? L"1" : L"0") : Text(C(id));
    }
    void Put(int id, const std::wstring& value) {
        if (Get(id) != value) // the check box is clicked, the others take the text
            Send(C(id),
                 (Send(C(id), WM_GETDLGCODE) & DLGC_BUTTON) ? BM_CLICK
                 : Send(C(id), CB_GETCOUNT)                 ? CB_SELECTSTRING
                                                            : WM_SETTEXT,
                 -1, reinterpret_cast<LPARAM>(value.c_str()));
    }
    // What the page shows at (x, y) of the client area; labels have no id to find them by.
    HWND At(int page, int x, int y) {
        Send(C(IDC_TAB), TCM_SETCURFOCUS, page);
        return ChildWindowFromPointEx(window, {x + 1, y + 1}, CWP_SKIPINVISIBLE);
    }
    void Shows(HWND control, const std::wstring& text, std::chrono::milliseconds limit = 10s) {
        EXPECT_TRUE(WaitUntil([&] { return Text(control) == text; }, limit))
            << testing::PrintToString(Text(control)) << ", not " << testing::PrintToString(text);
    }
    bool Answer(const wchar_t* title, int button) {
        HWND box = nullptr;
        return WaitUntil([&] { return (box = FindWindowW(L"#32770", title)) != nullptr; }) &&
               PostMessageW(box, WM_COMMAND, button, 0) &&
               WaitUntil([&] { return !IsWindow(box); });
    }
    // Presses Save and answers "Settings saved."
    bool Save() {
        PostMessageW(C(IDC_SAVE), BM_CLICK, 0, 0);
        return Answer(L"Corvane", IDOK);
    }

    HANDLE app = nullptr;
    HWND window = nullptr;
};

TEST_F(Shell, SaveWritesEveryBoxAndRestartsTheSources) {
    HrdSim sim;
    ASSERT_TRUE(StartHrdSim(sim));
    const int oldPort = FreePort(PortKind::Udp), newPort = FreePort(PortKind::Udp);
    const std::wstring hrd = std::to_wstring(sim.port), before = std::to_wstring(oldPort),
                       after = std::to_wstring(newPort);
    const struct {
        int id;
        const wchar_t *section, *key;
        std::wstring stored, typed, shown, saved; // shown "": a masked key
    } fields[] = {
        {IDC_VLM_ENABLE, L"vellumar", L"enabled", L"1", L"0", L"1", L"0"},
        {IDC_VLM_ID, L"vellumar", L"id", L"station-7", L"hosted-id", L"station-7", L"hosted-id"},
        {IDC_VLM_KEY, L"vellumar", L"api_key", L"old", L"hosted&key", L"", L"hosted&key"},
        {IDC_VLM_INTERVAL, L"vellumar", L"interval", L"120", L"60 seconds", L"120 seconds", L"60"},
        {IDC_WP_ENABLE, L"wp", L"enabled", L"0", L"1", L"0", L"1"},
        {IDC_WP_URL, L"wp", L"url", L"http://wp.example.net", L"http://127.0.0.1:9/wp",
         L"http://wp.example.net", L"http://127.0.0.1:9/wp"},
        {IDC_WP_ID, L"wp", L"id", L"wp-id", L"my dash", L"wp-id", L"my dash"},
        {IDC_WP_KEY, L"wp", L"api_key", L"old", L"s3cret&key", L"", L"s3cret&key"},
        {IDC_WP_INTERVAL, L"wp", L"interval", L"1", L"10 seconds", L"1 second", L"10"},
        {IDC_UDP_ENABLE, L"udp", L"enabled", L"1", L"1", L"1", L"1"},
        {IDC_UDP_IP, L"udp", L"ip", L"0.0.0.0", L"127.0.0.1", L"0.0.0.0", L"127.0.0.1"},
        {IDC_UDP_PORT, L"udp", L"port", before, after, before, after},
        {IDC_START_MINIMIZED, L"app", L"start_minimized", L"0", L"1", L"0", L"1"},
        {IDC_HRD_ENABLE, L"hrd", L"enabled", L"1", L"1", L"1", L"1"},
        {IDC_HRD_HOST, L"hrd", L"host", L"127.0.0.1", L"", L"127.0.0.1", L"127.0.0.1"},
        {IDC_HRD_PORT, L"hrd", L"port", hrd, hrd, hrd, hrd},
        {IDC_HRD_INTERVAL, L"hrd", L"interval", L"1", L"2 seconds", L"1 second", L"2"},
        {IDC_HRD_MYCALL, L"hrd", L"mycall", L"N0CALL", L"N1NEW", L"N0CALL", L"N1NEW"},
        {IDC_HRD_OPERATOR, L"hrd", L"operator", L"K1OP", L"K2OP", L"K1OP", L"K2OP"},
    };
    std::vector<std::array<std::wstring, 3>> stored;
    for (const auto& field : fields)
        stored.push_back({field.section, field.key, field.stored});
    Launch(stored);
    HWND udpLine = At(kUdpPage, 24, 180), hrdLine = At(kHrdPage, 24, 222);
    Shows(udpLine, L"Listening on 0.0.0.0:" + before);
    Shows(hrdLine, L"Connected \u2014 IC-7300");
    for (const auto& field : fields) {
        EXPECT_EQ(field.shown.empty() ? L"" : Get(field.id), field.shown) << field.key;
        Put(field.id, field.typed);
    }
    ASSERT_TRUE(Save());
    for (const auto& field : fields) { // the boxes keep what was typed
        EXPECT_EQ(Setting(field.section, field.key), field.saved) << field.key;
        EXPECT_EQ(field.shown.empty() ? field.typed : Get(field.id), field.typed) << field.key;
    }
    // The listener moves to the new port; the poller runs on and reconnects with the new settings.
    Shows(udpLine, L"Listening on 127.0.0.1:" + after);
    EXPECT_TRUE(WaitUntil([&] { return UdpPortFree(oldPort) && !UdpPortFree(newPort); }));
    EXPECT_TRUE(WaitUntil([&] { return HrdSimConnections(sim) == 2; }));
    Toggle(IDC_HRD_ENABLE);
    ASSERT_TRUE(Save());
    EXPECT_EQ(Text(hrdLine), L"Disabled");
    const std::size_t seen = HrdSimCommands(sim).size(); // the poller is gone
    EXPECT_FALSE(WaitUntil([&] { return HrdSimCommands(sim).size() > seen; }, 1500ms));
}

TEST_F(Shell, UdpFeedsLiveStatusUntilTestModeOrTheBoxStopsIt) {
    const int port = FreePort(PortKind::Udp);
    Launch({{L"udp", L"enabled", L"1"},
            {L"udp", L"ip", L"127.0.0.1"},
            {L"udp", L"port", std::to_wstring(port)}});
    HWND line = At(kUdpPage, 24, 180);
    const std::wstring listening = L"Listening on 127.0.0.1:" + std::to_wstring(port),
                       testing = L"Test mode ON \u2014 ignoring UDP";
    Shows(line, listening);
    const std::string datagram =
        FileBytes(DosPath("CORVANE_SAMPLES_DIR") + L"\\n1mm-radioinfo-1.xml");
    const SocketHandle sender = UdpConnect("127.0.0.1", port);
    SocketSend(sender, datagram.data(), static_cast<int>(datagram.size()));
    CloseSocket(sender);
    std::vector<std::wstring> shown,
        expected = {L"3.522", L"80m", L"CW", L"Is searching", L"-", L"-", L"W1ABC", L"W1ABC",
                    L"-",     L"-",   L"-"};
    EXPECT_TRUE(WaitUntil([&] {
        shown.clear();
        for (int row = 0; row < 11; ++row)
            shown.push_back(Text(At(kLivePage, 150, 46 + 24 * row)));
        return shown == expected;
    })) << testing::PrintToString(shown);
    EXPECT_EQ(Text(line), listening);
    Toggle(IDC_TEST_MODE);
    EXPECT_EQ(Text(line), testing);
    ASSERT_TRUE(Save()); // the restarted listener's reports leave the demo's line alone
    EXPECT_FALSE(WaitUntil([&] { return Text(line) != testing; }, 1s)) << Text(line);
    Toggle(IDC_TEST_MODE);
    EXPECT_EQ(Text(line), listening);
    // Clearing the box stops the listener at once; only Save stores the box.
    Toggle(IDC_UDP_ENABLE);
    Shows(line, L"Stopped");
    EXPECT_TRUE(WaitUntil([&] { return UdpPortFree(port); }));
    EXPECT_EQ(Setting(L"udp", L"enabled"), L"1");
    // A port someone else holds shows the error; Save then starts a fresh listener.
    const SOCKET holder = HoldUdp(port);
    Toggle(IDC_UDP_ENABLE);
    Shows(line, L"Error: cannot bind port " + std::to_wstring(port));
    closesocket(holder);
    ASSERT_TRUE(Save());
    Shows(line, listening);
}

TEST_F(Shell, DashboardPagesReportPostsAndShowTheirOwnKeys) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    // The hosted dashboard lacks an ID, so each of its attempts fails without traffic.
    Launch({{L"vellumar", L"enabled", L"1"},
            {L"vellumar", L"api_key", L"hosted-key"},
            {L"wp", L"enabled", L"1"},
            {L"wp", L"id", L"dash-1"},
            {L"wp", L"api_key", L"wp-key"},
            {L"wp", L"interval", L"1"},
            {L"wp", L"url", sink.BaseUrl()}});
    HWND hosted = At(kHostedPage, 24, 196), wp = At(kWpPage, 24, 196);
    Toggle(IDC_TEST_MODE);
    Shows(wp, L"Last post: OK", 20s);
    Shows(hosted, L"Last post: FAILED", 20s);
    EXPECT_TRUE(sink.WaitForRequests(1, 10s));
    // Pointed at a port where nobody listens, the next post fails on the WP page.
    Put(IDC_WP_URL, L"http://127.0.0.1:" + std::to_wstring(FreePort(PortKind::Tcp)));
    ASSERT_TRUE(Save());
    Shows(wp, L"Last post: FAILED", 20s);

    const LRESULT mask = Send(C(IDC_WP_KEY), EM_GETPASSWORDCHAR);
    EXPECT_EQ(Send(C(IDC_VLM_KEY), EM_GETPASSWORDCHAR) * (mask != 0), mask);
    Toggle(IDC_VLM_SHOW_KEY);
    EXPECT_EQ(Text(C(IDC_VLM_SHOW_KEY)) + Text(C(IDC_VLM_KEY)), L"Hidehosted-key");
    EXPECT_EQ(Send(C(IDC_VLM_KEY), EM_GETPASSWORDCHAR), 0);
    Toggle(IDC_VLM_SHOW_KEY);
    EXPECT_EQ(Text(C(IDC_VLM_SHOW_KEY)) + Text(C(IDC_WP_SHOW_KEY)), L"ShowShow");
    EXPECT_EQ(Send(C(IDC_VLM_KEY), EM_GETPASSWORDCHAR), L'*');
    EXPECT_EQ(Send(C(IDC_WP_KEY), EM_GETPASSWORDCHAR), mask);
}

TEST_F(Shell, StartWithWindowsBoxShowsAndSetsTheRunValue) {
    Register(REG_NONE, L"", true);
    Launch();
    EXPECT_TRUE(Checked(IDC_START_WITH_WINDOWS)); // a shortcut alone counts
    Toggle(IDC_START_WITH_WINDOWS);
    EXPECT_FALSE(ShortcutThere());
    EXPECT_EQ(ReadRunValue(), L"");
    Toggle(IDC_START_WITH_WINDOWS);
    const std::wstring quoted = L"\"" + DosPath("CORVANE_APP_EXE") + L"\"";
    EXPECT_EQ(ReadRunValue(), quoted);
    Kill(app);
    Register(REG_SZ, L"C:\\Old\\Corvane.exe", false); // pointed at the copy that starts
    Launch();
    EXPECT_EQ(ReadRunValue(), quoted);
    EXPECT_TRUE(Checked(IDC_START_WITH_WINDOWS));
}

TEST_F(Shell, HidesInTheTrayComesBackAndEndsOnlyOnYes) {
    const int port = FreePort(PortKind::Udp);
    Launch({{L"app", L"start_minimized", L"1"},
            {L"udp", L"enabled", L"1"},
            {L"udp", L"port", std::to_wstring(port)}});
    EXPECT_TRUE(WaitUntil([&] { return !UdpPortFree(port); }));
    // A restarted shell has lost the icon, and says so to every window.
    NOTIFYICONDATAW icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
    PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return Shell_NotifyIconW(NIM_MODIFY, &icon); }));
    // Hidden at start; a second copy shows it and ends; then close, the tray and minimise.
    HANDLE second = nullptr;
    const UINT steps[][3] = {{0, 0, 0},
                             {WM_CLOSE, 0, 0},
                             {WM_TRAYICON, 1, WM_LBUTTONDBLCLK},
                             {WM_SYSCOMMAND, SC_MINIMIZE, 0},
                             {WM_COMMAND, IDM_TRAY_RESTORE, 0}};
    for (const auto& step : steps) {
        const bool visible = IsWindowVisible(window);
        step[0] ? PostMessageW(window, step[0], step[1], step[2])
                : (second = StartApp()) != nullptr;
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(window) != visible; })) << step[0];
        EXPECT_FALSE(IsIconic(window));
    }
    EXPECT_EQ(ExitCode(second), 0u);
    Kill(second);
    PostMessageW(C(IDC_EXIT), BM_CLICK, 0, 0);
    ASSERT_TRUE(Answer(L"Exit Corvane", IDNO));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(UdpPortFree(port));                    // the listener ran on throughout
    PostMessageW(window, WM_COMMAND, IDM_TRAY_EXIT, 0); // the tray menu's Exit asks the same
    ASSERT_TRUE(Answer(L"Exit Corvane", IDYES));
    EXPECT_EQ(ExitCode(app), 0u);
    EXPECT_TRUE(UdpPortFree(port));
}

TEST_F(Shell, KeyboardChangesPagesMovesTheFocusAndPressesButtons) {
    Launch();
    SetForegroundWindow(window);
    const int firstOf[] = {IDC_VLM_ENABLE,     IDC_WP_ENABLE, IDC_UDP_ENABLE, IDC_HRD_ENABLE, 0,
                           IDC_START_MINIMIZED};
    // Keys pressed together, then the page shown and the control with the focus.
    const std::vector<int> steps[] = {
        {kHostedPage, IDC_TAB},
        {VK_CONTROL, VK_PRIOR, kAppPage, IDC_TAB},
        {VK_CONTROL, VK_TAB, kHostedPage, IDC_TAB},
        {VK_RIGHT, kWpPage, IDC_TAB},
        {VK_CONTROL, VK_SHIFT, VK_TAB, kHostedPage, IDC_TAB},
        {VK_CONTROL, VK_NEXT, kWpPage, IDC_TAB},
        {VK_TAB, kWpPage, IDC_WP_ENABLE},
        {VK_CONTROL, VK_TAB, kUdpPage, IDC_TAB}, // off a hidden control
        {VK_SHIFT, VK_TAB, kUdpPage, IDC_EXIT},
        {VK_SHIFT, VK_TAB, kUdpPage, IDC_SAVE},
        {VK_SPACE, kUdpPage, IDC_SAVE}};
    for (const auto& step : steps) {
        const std::size_t keys = step.size() - 2;
        for (std::size_t at = 0; at < keys * 2; ++at) // down in order, up in reverse
            keybd_event(static_cast<BYTE>(step[at < keys ? at : 2 * keys - 1 - at]), 0,
                        at < keys ? 0 : KEYEVENTF_KEYUP, 0);
        EXPECT_TRUE(step[0] != VK_SPACE || Answer(L"Corvane", IDOK)); // Space pressed Save
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        EXPECT_TRUE(WaitUntil([&] {
            GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
            return Send(C(IDC_TAB), TCM_GETCURSEL) == step[keys] &&
                   info.hwndFocus == C(step[keys + 1]) &&
                   (GetWindowLongW(C(firstOf[step[keys]]), GWL_STYLE) & WS_VISIBLE);
        })) << step[0]
            << ": focus on " << GetDlgCtrlID(info.hwndFocus);
    }
}

} // namespace
