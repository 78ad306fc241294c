// The Windows shell: its window, tray icon and tray menu made in this process, then
// Corvane.exe driven from outside as a user would (under Wine and Xvfb), each copy started on a
// clean profile and checked through what the user, the peers, settings.ini and the registry see.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>

#include "app/lifecycle.h"
#include "app/window_commands.h"
#include "app/window_sink.h"
#include "core/post_outcome.h"
#include "core/settings.h"
#include "frontend/pages.h"
#include "frontend/workers.h"
#include "platform/win32/handle.h"
#include "resources/resource.h"
#include "sources/udp/udp_listener.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/hrd_sim/hrd_sim.h"
#include "tools/rigctld_stand_in/rigctld_stand_in.h"

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
const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Wine hands Unix paths through the environment; Z: is the Unix root there.
std::wstring DosPath(const char* variable) {
    const std::string unix = EnvironmentText(variable);
    std::wstring path = (unix[0] == '/' ? L"Z:" : L"") + std::wstring(unix.begin(), unix.end());
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
// The Run value as Windows keeps it, with its type ("1:" for REG_SZ; "?", not ":", when its size is
// not the text's and one terminator), "" when there is none; then "+lnk" while the Startup
// shortcut is there.
std::wstring Registered() {
    wchar_t data[600] = {};
    DWORD type = 0, size = sizeof data;
    const bool none =
        RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane", RRF_RT_ANY, &type, data, &size);
    const wchar_t* sized = size == 2 * wcslen(data) + 2 ? L":" : L"?";
    return (none ? L"" : std::to_wstring(type) + sized + data) +
           (GetFileAttributesW(kShortcut.c_str()) == INVALID_FILE_ATTRIBUTES ? L"" : L"+lnk");
}
// A value of settings.ini, named "section.key".
std::wstring Setting(const std::wstring& name) {
    wchar_t value[256] = {};
    const std::wstring head = name.substr(0, name.find(L'.'));
    GetPrivateProfileStringW(head.c_str(), &name[head.size() + 1], L"?", value, 256, kIni.c_str());
    return value;
}

// The Run value (null: none) and the Startup shortcut.
void Register(const wchar_t* value, bool shortcut, DWORD type = REG_SZ) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane");
    if (value)
        RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane", type, value, 2 + 2 * wcslen(value));
    DeleteFileW(kShortcut.c_str());
    if (shortcut)
        CloseHandle(CreateFileW(kShortcut.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0));
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
    L"|0 24 106 110 18 Dashboard ID|1051 150 104 140 22 |0 24 134 110 18 API Key"
    L"|1052 150 132 200 22 |1053 358 132 52 22 Show|0 24 162 110 18 Update interval"
    L"|1054 150 160 120 0 30 seconds|0 24 196 380 18 Last post: -",
    L"WP Dashboard|1060 24 48 350 20 Enable posting to custom WP dashboard"
    L"|0 24 78 110 18 Dashboard URL|1061 150 76 285 22 |0 24 106 110 18 Dashboard ID"
    L"|1062 150 104 140 22 |0 24 134 110 18 API Key|1063 150 132 200 22 |1064 358 132 52 22 Show"
    L"|0 24 162 110 18 Update interval|1065 150 160 120 0 30 seconds|0 24 196 380 18 Last post: -",
    L"UDP Receiver|1014 24 48 400 20 Enable UDP receiver (N1MM / MiniBook / Log4OM)"
    L"|0 24 78 110 18 UDP IP|1010 150 76 140 22 0.0.0.0"
    L"|0 24 102 420 16 0.0.0.0  = listen on ALL interfaces (loopback + network broadcasts)"
    L"|0 24 120 420 16 127.0.0.1 = this PC only (loopback \u2014 no network broadcasts)"
    L"|0 24 146 110 18 UDP Port|1011 150 144 90 22 12060|0 24 180 400 18 Stopped",
    L"HRD (TCP)|1070 24 48 360 20 Enable HRD (Ham Radio Deluxe) TCP source|0 24 78 110 18 HRD host"
    L"|1071 150 76 140 22 127.0.0.1|0 24 106 110 18 HRD port|1072 150 104 90 22 7809"
    L"|0 24 134 110 18 Poll interval|1073 150 132 120 0 2 seconds|0 24 164 110 18 MyCall"
    L"|1074 150 162 140 22 |0 24 192 110 18 Operator|1075 150 190 140 22 |0 24 222 400 18 Disabled"
    L"|0 24 244 400 18 HRD gives frequency + mode; MyCall/Operator are typed here."
    L"|0 24 270 110 18 Hamlib (TCP)|0 150 270 290 18 Disabled"
    L"|1080 24 288 360 20 Enable Hamlib rigctld TCP source|0 24 314 44 18 Host"
    L"|1081 70 312 96 22 127.0.0.1|0 174 314 30 18 Port|1082 206 312 50 22 4532"
    L"|0 264 314 54 18 Interval|1083 320 312 120 0 2 seconds|0 24 340 44 18 MyCall"
    L"|1084 70 338 96 22 |0 174 340 58 18 Operator|1085 234 338 96 22 ",
    L"Live Status",
    L"Application settings|1030 24 48 320 20 Start minimized to system tray"
    L"|1031 24 76 320 20 Start automatically when Windows starts"
    L"|0 40 96 400 18 Applies at once (no Save needed); stored in Windows."
    L"|1032 24 122 400 20 Test mode (send demo data when no UDP is received)"};

std::wstring Text(HWND window) {
    wchar_t text[512] = {};
    SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

// What the tray shows, each text followed by "|": its icons' tips, and a balloon while one is up.
// Read from the tray that Wine's X11 driver draws: a window for each icon, and tooltips whose texts
// lie in the memory of the process that draws it.
HWND TrayIcon() {
    return FindWindowExW(FindWindowW(L"__winex11_standalone_tray", nullptr), 0, 0, nullptr);
}
std::wstring TrayTexts() {
    std::wstring texts;
    HWND icon = TrayIcon(); // the one there is
    DWORD owner = 0;
    GetWindowThreadProcessId(GetParent(icon), &owner);
    const ScopedFile tray(OpenProcess(PROCESS_ALL_ACCESS, FALSE, owner));
    struct {
        TTTOOLINFOW tool;
        wchar_t text[1000];
    } asked, *remote = static_cast<decltype(remote)>(
                 VirtualAllocEx(tray, nullptr, sizeof(asked), MEM_COMMIT, PAGE_READWRITE));
    for (HWND tip = nullptr; (tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr));) {
        asked = {
            {sizeof(TTTOOLINFOW), TTF_IDISHWND, icon, UINT_PTR(icon), {}, 0, remote->text, 0, 0},
            {}};
        WriteProcessMemory(tray, remote, &asked, sizeof(asked), nullptr);
        SendMessageW(tip, TTM_GETTEXTW, 1000, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(tray, remote, &asked, sizeof(asked), nullptr);
        texts += *asked.text ? asked.text + std::wstring(L"|") : L"";
    }
    VirtualFreeEx(tray, remote, 0, MEM_RELEASE);
    return texts;
}
// Corvane's window, tray icon and tray menu, made here with default settings.
TEST(MainWindow, ShowsEachPageInPlaceInTabOrderOnThePageColourWithItsTray) {
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    settings.udpEnabled = false; // no source runs
    RegisterMainWindowClass(GetModuleHandleW(nullptr));
    const HWND window = CreateMainWindow(GetModuleHandleW(nullptr)), tab = GetDlgItem(window, 1000);
    ASSERT_NE(window, nullptr) << "no window: Wine needs an X display (DISPLAY)";
    ShowWindow(window, SW_SHOW);
    EXPECT_EQ(Text(window), L"Corvane by N0CALL  v" CORVANE_VERSION);
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE), WS_EX_WINDOWEDGE); // a plain window's frame
    RECT client = {}, last = {}, inside = {8, 8, 452, 368};
    GetClientRect(window, &client);
    TabCtrl_GetItemRect(tab, 5, &last);
    TabCtrl_AdjustRect(tab, FALSE, &inside);
    // The client area is 460 by 414; the pages start 27 down, below one row of tabs as padded.
    EXPECT_EQ((client.right * 1000 + client.bottom) * 100 + inside.top, 46041427);
    EXPECT_LE(last.right, 444) << "the last tab is cut off";
    EXPECT_EQ(GetWindow(tab, GW_HWNDNEXT), nullptr) << "the tabs would paint over the page";
    const std::wstring url = kHostedBaseUrl, host = url.substr(url.find(L"//") + 2),
                       hosted = L"Enable posting to " + host.substr(0, host.find_first_of(L":/"));
    const wchar_t* const live[] = {L"Freq (MHz)",  L"Band",    L"Mode",    L"Operating",
                                   L"Last worked", L"Contest", L"MyCall",  L"OpCall",
                                   L"Radio",       L"Locator", L"Location"};
    HDC screen = GetDC(nullptr);
    for (int page = 0; page < 6; ++page) {
        const std::wstring rows =
            kPages[page] + std::wstring(L"|1040 250 378 110 26 Save settings"
                                        L"|1041 372 378 80 26 Exit|1000 8 8 444 360 ");
        TabCtrl_SetCurFocus(tab, page); // as a click does: the window hears of the change
        std::vector<std::wstring> expected, shown;
        std::vector<std::pair<POINT, POINT>> plain; // far end of each label and check box; page
        HWND focus = tab; // Tab walks the page top to bottom, then Save, Exit and the tabs
        for (std::size_t i = rows.find(L'|'); i != std::wstring::npos; i = rows.find(L'|', i + 1)) {
            int id = 0, x = 0, y = 0, w = 0, h = 0, used = 0;
            swscanf(rows.c_str() + i + 1, L"%d %d %d %d %d %n", &id, &x, &y, &w, &h, &used);
            std::wstring text = rows.substr(i + 1 + used, rows.find(L'|', i + 1) - i - 1 - used);
            text = text == L"(hosted)" ? hosted : text == L"(url)" ? url : text;
            expected.push_back(Row(id, x, y, w, h, text));
            EXPECT_EQ(id ? GetDlgCtrlID(focus = GetNextDlgTabItem(window, focus, FALSE)) : 0, id);
        }
        for (int at = 0; page == kLivePage && at < 11; ++at) {
            expected.push_back(Row(0, 24, 46 + 24 * at, 110, 18, live[at]));
            expected.push_back(Row(0, 150, 46 + 24 * at, 290, 18, L"-"));
        }
        for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            LOGFONTW font = {};
            GetObjectW(reinterpret_cast<HGDIOBJ>(SendMessageW(c, WM_GETFONT, 0, 0)), sizeof(font),
                       &font);
            // Upright, not squeezed: width, escapement, orientation 0. The tabs may shrink theirs.
            LONG h = font.lfHeight - font.lfWidth - font.lfEscapement - font.lfOrientation;
            h = c == tab && h >= -12 && h <= -9 ? -12 : h;
            EXPECT_EQ(font.lfFaceName + std::to_wstring(h), L"Segoe UI-12");
            EXPECT_EQ(GetWindowLongW(c, GWL_EXSTYLE) & ~WS_EX_CLIENTEDGE, 0) << Text(c); // flat
            RECT at = {};
            GetWindowRect(c, &at);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&at), 2);
            const std::wstring text = Text(c);
            const bool list = SendMessageW(c, CB_GETCOUNT, 0, 0) > 0;
            if (IsWindowVisible(c))
                shown.push_back(Row(GetDlgCtrlID(c), at.left, at.top, at.right - at.left,
                                    list ? 0 : at.bottom - at.top, text));
            POINT end = {at.right - 3, (at.top + at.bottom) / 2}, onPage = {inside.left + 6, end.y};
            ClientToScreen(window, &end);
            ClientToScreen(window, &onPage);
            if (IsWindowVisible(c) && !list &&
                (GetDlgCtrlID(c) == 0 || (GetWindowLongW(c, GWL_STYLE) & 0xF) == BS_AUTOCHECKBOX))
                plain.push_back({end, onPage});
        }
        std::sort(expected.begin(), expected.end());
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown, expected);
        EXPECT_TRUE(WaitUntil([&] {
            for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
                DispatchMessageW(&message);
            return std::all_of(plain.begin(), plain.end(), [&](const auto& at) {
                return GetPixel(screen, at.first.x, at.first.y) ==
                       GetPixel(screen, at.second.x, at.second.y);
            });
        })) << "a label or check box is not on the page's colour";
    }
    ReleaseDC(nullptr, screen);

    HMENU menu = BuildTrayMenu();
    std::wstring items;
    for (int at = 0; at < GetMenuItemCount(menu); ++at) {
        wchar_t text[32] = {};
        GetMenuStringW(menu, at, text, 32, MF_BYPOSITION);
        items += std::to_wstring(GetMenuItemID(menu, at)) + L" " + text + L";";
    }
    EXPECT_EQ(items, L"2001 Restore;0 ;2002 Exit;");
    DestroyMenu(menu);
    // The tray as the shell shows it. Explorer's restart brings the icon; its tip follows the
    // pages' lines (their rules: TrayTip): the UDP page's, the demo's over it, a post's.
    SendMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_EQ(TrayTexts(), L"Corvane|");
    SendMessageW(window, WM_UDP_STATUS, UdpBindError, 12060);
    EXPECT_EQ(TrayTexts(), L"Corvane \u2014 UDP Receiver: Error: cannot bind port 12060|");
    SendDlgItemMessageW(window, IDC_TEST_MODE, BM_CLICK, 0, 0); // on until StopWorkers
    EXPECT_EQ(TrayTexts(), L"Corvane|");
    SendMessageW(window, WM_POST_RESULT, 1, PackPostOutcome({PostFailure::HttpStatus, 401, 3723}));
    EXPECT_EQ(TrayTexts(), L"Corvane \u2014 WP Dashboard: Last post: FAILED \u2014 01:02:03 \u2014 "
                           L"HTTP 401|");
    RemoveTrayIcon();
    EXPECT_EQ(TrayTexts(), L"");

    StopWorkers();
    DestroyWindow(window);
}

HANDLE StartApp() {
    const std::wstring exe = DosPath("CORVANE_APP_EXE");
    return reinterpret_cast<HANDLE>(_wspawnl(_P_NOWAIT, exe.c_str(), exe.c_str(), nullptr));
}
// Its exit code if it ends within the wait (STILL_ACTIVE if not); then it is ended anyway.
DWORD End(HANDLE& process, DWORD wait = 0) {
    DWORD code = WaitForSingleObject(process, wait);
    GetExitCodeProcess(process, &code); // STILL_ACTIVE while it runs
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    process = nullptr;
    return code;
}

// Corvane.exe on a clean profile, driven from outside; killed at the end, whatever happens.
class Shell : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ThrowawayProfile()) << "CORVANE_THROWAWAY_PREFIX names no profile to wipe";
        DeleteFileW(kIni.c_str());
        Register(nullptr, false);
        CreateDirectoryW(Folder(CSIDL_APPDATA, L"\\Corvane").c_str(), nullptr);
        Store({L"app.start_minimized=0", L"udp.enabled=0", L"vellumar.enabled=0", L"wp.enabled=0"});
    }
    // Each "section.key=value" into settings.ini.
    void Store(std::initializer_list<std::wstring> settings) {
        for (const std::wstring& setting : settings) {
            const std::size_t dot = setting.find(L'.'), equals = setting.find(L'=');
            WritePrivateProfileStringW(setting.substr(0, dot).c_str(),
                                       setting.substr(dot + 1, equals - dot - 1).c_str(),
                                       setting.substr(equals + 1).c_str(), kIni.c_str());
        }
    }
    void TearDown() override { End(app); }

    // A new copy, any before it ended; false, and the reason reported, when no window came up.
    bool Launch() {
        End(app);
        app = StartApp();
        const auto up = [&] {
            return GetDlgItem(window = FindWindowW(L"CorvaneWndClass", nullptr), IDC_EXIT);
        };
        EXPECT_TRUE(WaitUntil(up, 30s)) << "no window; under Wine it needs an X display";
        return up();
    }

    HWND C(int id) const { return GetDlgItem(window, id); }
    bool Checked(int id) { return SendMessageW(C(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Toggle(int id) { SendMessageW(C(id), BM_CLICK, 0, 0); }
    // A check box reads "1" or "0", a list its choice and an edit box its text.
    bool IsBox(int id) { return SendMessageW(C(id), WM_GETDLGCODE, 0, 0) & DLGC_BUTTON; }
    std::wstring Get(int id) { return IsBox(id) ? (Checked(id) ? L"1" : L"0") : Text(C(id)); }
    void Put(int id, const std::wstring& value) { // a check box is clicked, a list chooses
        const UINT list = SendMessageW(C(id), CB_GETCOUNT, 0, 0) ? CB_SELECTSTRING : WM_SETTEXT;
        SendMessageW(C(id), IsBox(id) ? BM_CLICK : list, -1,
                     reinterpret_cast<LPARAM>(value.c_str()));
    }
    // What the page shows at (x, y) of the client area; labels have no id to find them by.
    HWND At(int page, int x, int y) {
        SendMessageW(C(IDC_TAB), TCM_SETCURFOCUS, page, 0);
        return ChildWindowFromPointEx(window, {x + 1, y + 1}, CWP_SKIPINVISIBLE);
    }
    void Shows(HWND control, const std::wstring& text, std::chrono::milliseconds limit = 10s) {
        EXPECT_TRUE(WaitUntil([&] { return Text(control) == text; }, limit))
            << testing::PrintToString(Text(control)) << ", not " << testing::PrintToString(text);
    }
    // "Last post: <verdict> — hh:mm:ss[ — reason]" on the page, at the local time of the attempt.
    void ShowsPost(int page, const std::wstring& verdict, const std::wstring& reason = L"") {
        const std::wstring head = L"Last post: " + verdict + L" \u2014 ";
        const auto shown = [&] {
            const std::wstring text = Text(At(page, 24, 196));
            if (text.size() < head.size() + 8 || text.compare(0, head.size(), head) != 0)
                return false;
            SYSTEMTIME now;
            GetLocalTime(&now);
            unsigned h = 0, m = 0, s = 0;
            swscanf(text.c_str() + head.size(), L"%2u:%2u:%2u", &h, &m, &s);
            const int apart = std::abs(int(h * 3600 + m * 60 + s) -
                                       (now.wHour * 3600 + now.wMinute * 60 + now.wSecond));
            return text.substr(head.size() + 8) == reason && std::min(apart, 86400 - apart) < 60;
        };
        EXPECT_TRUE(WaitUntil(shown, 20s)) << Text(At(page, 24, 196));
    }
    // Answers the message box (button 0: with Enter, its default); its text into `said` when given.
    bool Answer(const wchar_t* title, int button, std::wstring* said = nullptr) {
        HWND box = nullptr;
        if (!WaitUntil([&] { return (box = FindWindowW(L"#32770", title)) != nullptr; }))
            return false;
        if (said)
            *said = Text(GetDlgItem(box, 0xFFFF));
        if (!button)
            keybd_event(VK_RETURN, 0, 0, 0), keybd_event(VK_RETURN, 0, KEYEVENTF_KEYUP, 0);
        return (!button || PostMessageW(box, WM_COMMAND, button, 0)) &&
               WaitUntil([&] { return !IsWindow(box); });
    }
    // A key pressed and let go in a window of Corvane's (a control, its menu), through the loop
    // that reads its messages.
    void Press(HWND target, UINT key) {
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, 0xC0000001);
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
    RigctldStandIn rigctld;
    ASSERT_TRUE(StartRigctldStandIn(rigctld, DummyRigctldScript()));
    const std::wstring rigctldPort = std::to_wstring(rigctld.peer.port);
    const std::wstring before = std::to_wstring(FreePort(PortKind::Udp)),
                       after = std::to_wstring(FreePort(PortKind::Udp));
    const struct {
        int id;
        std::wstring name, stored, typed, shown, saved; // shown "": a masked key
    } fields[] = {
        {IDC_VLM_ENABLE, L"vellumar.enabled", L"1", L"0", L"1", L"0"},
        {IDC_VLM_ID, L"vellumar.id", L"station-7", L"hosted-id", L"station-7", L"hosted-id"},
        {IDC_VLM_KEY, L"vellumar.api_key", L"old", L"hosted&key", L"", L"hosted&key"},
        {IDC_VLM_INTERVAL, L"vellumar.interval", L"120", L"60 seconds", L"120 seconds", L"60"},
        {IDC_WP_ENABLE, L"wp.enabled", L"0", L"1", L"0", L"1"},
        {IDC_WP_URL, L"wp.url", L"http://wp.one", L"http://2", L"http://wp.one", L"http://2"},
        {IDC_WP_ID, L"wp.id", L"wp-id", L"7", L"wp-id", L"7"}, // one character
        {IDC_WP_KEY, L"wp.api_key", L"old", L"s3cret&key", L"", L"s3cret&key"},
        {IDC_WP_INTERVAL, L"wp.interval", L"1", L"10 seconds", L"1 second", L"10"},
        {IDC_UDP_IP, L"udp.ip", L"0.0.0.0", L"127.0.0.1", L"0.0.0.0", L"127.0.0.1"},
        {IDC_UDP_PORT, L"udp.port", before, after, before, after},
        {IDC_START_MINIMIZED, L"app.start_minimized", L"0", L"1", L"0", L"1"},
        {IDC_HRD_HOST, L"hrd.host", L"127.0.0.1", L"", L"127.0.0.1", L"127.0.0.1"},
        {IDC_HRD_INTERVAL, L"hrd.interval", L"1", L"2 seconds", L"1 second", L"2"},
        {IDC_HRD_MYCALL, L"hrd.mycall", L"N0CALL", L"N1NEW", L"N0CALL", L"N1NEW"},
        {IDC_HRD_OPERATOR, L"hrd.operator", L"K1OP", L"K2OP", L"K1OP", L"K2OP"},
        {IDC_RIGCTLD_HOST, L"rigctld.host", L"127.0.0.1", L"", L"127.0.0.1", L"127.0.0.1"},
        {IDC_RIGCTLD_PORT, L"rigctld.port", rigctldPort, rigctldPort, rigctldPort, rigctldPort},
        {IDC_RIGCTLD_INTERVAL, L"rigctld.interval", L"5", L"1 second", L"5 seconds", L"1"},
        {IDC_RIGCTLD_MYCALL, L"rigctld.mycall", L"N0RIG", L"N1RIG", L"N0RIG", L"N1RIG"},
        {IDC_RIGCTLD_OPERATOR, L"rigctld.operator", L"K1R", L"K2R", L"K1R", L"K2R"},
    };
    Store({L"udp.enabled=1", L"hrd.enabled=1", L"hrd.port=" + std::to_wstring(sim.peer.port),
           L"rigctld.enabled=1"});
    for (const auto& field : fields)
        Store({field.name + L"=" + field.stored});
    ASSERT_TRUE(Launch());
    HWND udpLine = At(kUdpPage, 24, 180), hrdLine = At(kHrdPage, 24, 222),
         rigctldLine = At(kHrdPage, 150, 270);
    Shows(udpLine, L"Listening on 0.0.0.0:" + before);
    Shows(hrdLine, L"Connected \u2014 IC-7300");
    Shows(rigctldLine, L"Connected \u2014 Hamlib Dummy");
    for (const auto& field : fields) {
        EXPECT_EQ(field.shown.empty() ? L"" : Get(field.id), field.shown) << field.name;
        Put(field.id, field.typed);
    }
    ASSERT_TRUE(Save());
    for (const auto& field : fields)
        EXPECT_EQ(Setting(field.name), field.saved);
    // The listener moves to the new port; the poller runs on and reconnects with the new settings.
    Shows(udpLine, L"Listening on 127.0.0.1:" + after);
    // Second connections: HRD's handshake starts with "Get ID", rigctld's asks for the radio first.
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<std::wstring> hrd = HrdSimCommands(sim);
        const std::vector<std::string> rig = RigctldStandInCommands(rigctld);
        return std::count(hrd.begin(), hrd.end(), L"Get ID") == 2 &&
               std::count(rig.begin(), rig.end(), "\\dump_caps") == 2;
    }));
    Toggle(IDC_HRD_ENABLE), Toggle(IDC_RIGCTLD_ENABLE);
    ASSERT_TRUE(Save());
    EXPECT_EQ(Text(hrdLine) + Text(rigctldLine), L"DisabledDisabled");
    const std::size_t seen = HrdSimCommands(sim).size(); // the poller is gone
    EXPECT_FALSE(WaitUntil([&] { return HrdSimCommands(sim).size() > seen; }, 1500ms));
}

TEST_F(Shell, SourcesAndPostsReportOnTheirPagesAndKeysShowOnlyTheirOwn) {
    DashboardSink sink; // refuses the first post, takes the others
    SinkOptions refusesFirst;
    refusesFirst.status = 401;
    refusesFirst.thenStatus = 200;
    ASSERT_TRUE(sink.Start(refusesFirst));
    const int port = FreePort(PortKind::Udp);
    // The hosted dashboard has no ID, so each of its attempts fails, and sends nothing.
    Store({L"udp.enabled=1", L"udp.ip=127.0.0.1", L"udp.port=" + std::to_wstring(port),
           L"vellumar.enabled=1", L"vellumar.api_key=hosted-key", L"wp.enabled=1", L"wp.id=dash-1",
           L"wp.api_key=wp-key", L"wp.interval=1", L"wp.url=" + sink.BaseUrl()});
    ASSERT_TRUE(Launch());
    HWND line = At(kUdpPage, 24, 180);
    const std::wstring listening = L"Listening on 127.0.0.1:" + std::to_wstring(port),
                       testing = L"Test mode ON \u2014 ignoring UDP";
    Shows(line, listening);
    const std::string datagram =
        FileBytes(DosPath("CORVANE_SAMPLES_DIR") + L"\\n1mm-radioinfo-1.xml");
    const SocketHandle sender = UdpConnect("127.0.0.1", port);
    SocketSend(sender, datagram.data(), static_cast<int>(datagram.size()));
    CloseSocket(sender);
    const wchar_t* const live[] = {
        L"3.522", L"80m", L"CW", L"Is searching", L"-", L"-", L"W1ABC", L"W1ABC", L"-", L"-", L"-"};
    for (int row = 0; row < 11; ++row)
        Shows(At(kLivePage, 150, 46 + 24 * row), live[row]);
    ShowsPost(kWpPage, L"FAILED", L" \u2014 HTTP 401");
    ShowsPost(kHostedPage, L"FAILED");

    Toggle(IDC_TEST_MODE);
    EXPECT_EQ(Text(line), testing);
    ShowsPost(kWpPage, L"OK"); // test mode's data
    ASSERT_TRUE(Save());       // the restarted listener's reports leave the demo's line alone
    EXPECT_FALSE(WaitUntil([&] { return Text(line) != testing; }, 1s)) << Text(line);
    Put(IDC_UDP_IP, L"0.0.0.0"); // typed, not saved: the line still names what is bound
    Toggle(IDC_TEST_MODE);
    EXPECT_EQ(Text(line), listening);
    Toggle(IDC_UDP_ENABLE); // stops the listener at once; only Save stores the box
    Shows(line, L"Stopped");
    Toggle(IDC_UDP_ENABLE); // and starts it again, on the address in the box
    Shows(line, L"Listening on 0.0.0.0:" + std::to_wstring(port));

    // Show and Hide on each page, for its own key alone.
    auto key = [&](int i) { return std::to_wstring(SendMessageW(C(i), EM_GETPASSWORDCHAR, 0, 0)); };
    const std::wstring mask = key(IDC_WP_KEY);
    EXPECT_EQ(key(IDC_VLM_KEY), mask == L"0" ? L"masked" : mask);
    Toggle(IDC_VLM_SHOW_KEY);
    EXPECT_EQ(Text(C(IDC_VLM_SHOW_KEY)) + Text(C(IDC_VLM_KEY)) + key(IDC_VLM_KEY),
              L"Hidehosted-key0");
    Press(C(IDC_VLM_SHOW_KEY), VK_RETURN); // the button clicked has the focus: Enter presses it
    EXPECT_TRUE(
        WaitUntil([&] { return Text(C(IDC_VLM_SHOW_KEY)) + key(IDC_VLM_KEY) == L"Show42"; }));
    Toggle(IDC_WP_SHOW_KEY); // the WP page's own button shows its key alone
    EXPECT_EQ(Text(C(IDC_WP_SHOW_KEY)) + key(IDC_WP_KEY) + key(IDC_VLM_KEY), L"Hide0" + mask);
}

TEST_F(Shell, HidesInTheTrayTakesKeysAndStartsWithWindowsUntilExitIsAnsweredYes) {
    Register(nullptr, true); // a shortcut alone counts as starting with Windows
    Store({L"app.start_minimized=1"});
    ASSERT_TRUE(Launch());
    EXPECT_FALSE(WaitUntil([&] { return IsWindowVisible(window); }, 1s));
    // What installers look for to know that Corvane runs.
    EXPECT_TRUE(ScopedFile(OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\Corvane_Running")).Valid());
    HANDLE second = StartApp(); // shows the first copy's window, and ends
    EXPECT_EQ(End(second, 20000), 0u);
    SendMessageW(window, WM_NULL, 0, 0); // behind what it sent on its way out
    // Close, the tray's double-click, minimise and the tray's Restore hide and show it in turn.
    const UINT shows[][3] = {{WM_CLOSE, 0, 0},
                             {WM_LBUTTONDBLCLK, 0, 0}, // on the tray's icon
                             {WM_SYSCOMMAND, SC_MINIMIZE, 0},
                             {WM_COMMAND, IDM_TRAY_RESTORE, 0}};
    for (const auto& show : shows) {
        const bool visible = IsWindowVisible(window);
        PostMessageW(show[0] == WM_LBUTTONDBLCLK ? TrayIcon() : window, show[0], show[1], show[2]);
        EXPECT_TRUE(WaitUntil([&] {
            return IsWindowVisible(window) != visible && !IsIconic(window);
        })) << show[0];
    }
    SetForegroundWindow(window);
    // Keys pressed together, then the page shown and the control with the focus.
    const std::vector<int> steps[] = {
        {kHostedPage, IDC_TAB},
        {VK_CONTROL, VK_PRIOR, kAppPage, IDC_TAB},
        {VK_CONTROL, VK_TAB, kHostedPage, IDC_TAB},
        {VK_TAB, kHostedPage, IDC_VLM_ENABLE},
        {VK_RETURN, kHostedPage, IDC_VLM_ENABLE}, // Enter on a check box saves
        {VK_CONTROL, VK_NEXT, kWpPage, IDC_TAB},  // off a control that is hidden now
        {VK_CONTROL, VK_SHIFT, VK_TAB, kHostedPage, IDC_TAB},
        {VK_SHIFT, VK_TAB, kHostedPage, IDC_EXIT},
        {VK_SHIFT, VK_TAB, kHostedPage, IDC_SAVE},
        {VK_SPACE, kHostedPage, IDC_SAVE}}; // and Space pressed Save
    for (const auto& step : steps) {
        const std::size_t keys = step.size() - 2;
        for (std::size_t at = 0; at < keys * 2; ++at) // down in order, up in reverse
            keybd_event(static_cast<BYTE>(step[at < keys ? at : 2 * keys - 1 - at]), 0,
                        at < keys ? 0 : KEYEVENTF_KEYUP, 0);
        EXPECT_TRUE((step[0] != VK_SPACE && step[0] != VK_RETURN) || Answer(L"Corvane", IDOK));
        GUITHREADINFO info = {sizeof(info), 0, {}, {}, {}, {}, {}, {}, {}};
        EXPECT_TRUE(WaitUntil([&] {
            GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
            return SendMessageW(C(IDC_TAB), TCM_GETCURSEL, 0, 0) == step[keys] &&
                   info.hwndFocus == C(step[keys + 1]);
        })) << step[0];
    }

    EXPECT_TRUE(Checked(IDC_START_WITH_WINDOWS));
    Toggle(IDC_START_WITH_WINDOWS);
    EXPECT_EQ(Registered(), L"");
    Toggle(IDC_START_WITH_WINDOWS);
    const std::wstring quoted = L"1:\"" + DosPath("CORVANE_APP_EXE") + L"\"";
    EXPECT_EQ(Registered(), quoted);

    PostMessageW(C(IDC_EXIT), BM_CLICK, 0, 0);
    std::wstring said; // the question, whose default answer is No: all runs on
    ASSERT_TRUE(Answer(L"Exit Corvane", 0, &said));
    EXPECT_EQ(said, L"This will fully close the Corvane and stop posting your station.\n\n"
                    L"Do you want to continue?");
    // The tray menu's Exit asks the same; it takes keys with the window hidden too.
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); })); // before the menu opens
    PostMessageW(TrayIcon(), WM_RBUTTONUP, 0, 0);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(menu = FindWindowW(L"#32768", nullptr)); }));
    // It opens at the pointer (Xvfb's, in the screen's middle).
    POINT pointer = {};
    EXPECT_TRUE(GetCursorPos(&pointer) && WindowFromPoint(pointer) == menu);
    EXPECT_EQ(GetForegroundWindow(), window); // or a click elsewhere would not close the menu
    // From the bottom: Exit. Posted: keybd_event's keys were lost while X's focus lagged.
    Press(menu, VK_UP), Press(menu, VK_RETURN);
    ASSERT_TRUE(Answer(L"Exit Corvane", IDYES));
    EXPECT_EQ(End(app, 20000), 0u);
    // A value naming another copy (expandable, as some tools store it; the longest read) is pointed
    // at the one that starts; a shortcut beside a value goes.
    for (const std::wstring& value :
         {std::wstring(L"%SystemDrive%\\Old.exe"), quoted.substr(2), std::wstring(518, L'x')}) {
        Register(value.c_str(), true, value[0] == L'%' ? REG_EXPAND_SZ : REG_SZ);
        ASSERT_TRUE(Launch());
        EXPECT_TRUE(WaitUntil([&] { return Registered() == quoted; })) << Registered();
        EXPECT_TRUE(Checked(IDC_START_WITH_WINDOWS)); // the value alone shows it too
    }
    Register(std::wstring(519, L'x').c_str(), true); // too long to be ours: both left alone
    ASSERT_TRUE(Launch() && Registered() == L"1:" + std::wstring(519, L'x') + L"+lnk");
    // A message loop ended by anything but Exit still stops the workers before the process ends.
    PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0);
    EXPECT_EQ(End(app, 20000), 0u);
}

// Enter in a box saves, and the boxes then show what was stored; Esc hides the window.
TEST_F(Shell, EnterSavesWhatIsUsedAndEscHides) {
    Store({L"hrd.enabled=1", L"hrd.port=" + std::to_wstring(FreePort(PortKind::Tcp))});
    ASSERT_TRUE(Launch()); // and the tray tip tells of the rig program that is not there
    EXPECT_TRUE(WaitUntil([] {
        return TrayTexts() == L"Corvane \u2014 HRD (TCP): HRD not reachable \u2014 retrying|";
    })) << TrayTexts();
    Put(IDC_UDP_PORT, L"99999"), Put(IDC_RIGCTLD_PORT, L"0");
    for (int list : {IDC_VLM_INTERVAL, IDC_WP_INTERVAL, IDC_HRD_INTERVAL, IDC_RIGCTLD_INTERVAL})
        SendMessageW(C(list), CB_SETCURSEL, WPARAM(-1), 0); // none chosen
    Press(C(IDC_UDP_PORT), VK_RETURN);
    std::wstring said;
    ASSERT_TRUE(Answer(L"Corvane", IDOK, &said));
    EXPECT_EQ(said, L"Settings saved.\n\nCorrected to the values in use:\n"
                    L"VLM Dashboard update interval: 30 seconds\n"
                    L"WP Dashboard update interval: 5 seconds\nUDP port: 12060\n"
                    L"HRD poll interval: 5 seconds\nHamlib (TCP) port: 4532\n"
                    L"Hamlib (TCP) poll interval: 5 seconds");
    EXPECT_EQ(Get(IDC_UDP_PORT) + L" " + Get(IDC_WP_INTERVAL) + L" " + Get(IDC_RIGCTLD_PORT),
              L"12060 5 seconds 4532");
    EXPECT_EQ(Setting(L"udp.port") + L" " + Setting(L"wp.interval"), L"12060 5");
    Press(C(IDC_HRD_MYCALL), VK_RETURN); // nothing to correct
    ASSERT_TRUE(Answer(L"Corvane", IDOK, &said));
    EXPECT_EQ(said, L"Settings saved.");
    ASSERT_TRUE(IsWindowVisible(window));
    Press(C(IDC_WP_ID), VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }));
}

// The first start with the window hidden leaves a balloon in the tray, once; a later start does
// not, nor does a file that was already there.
TEST_F(Shell, AFirstHiddenStartSaysWhereItIsOnce) {
    // Whether settings.ini is deleted before the start, and the mark it holds after.
    const std::pair<bool, std::wstring> starts[] = {{false, L"?"}, {true, L"1"}, {false, L"1"}};
    Store({L"app.start_minimized=1"});
    for (const auto& [fresh, shown] : starts) {
        if (fresh)
            DeleteFileW(kIni.c_str());
        ASSERT_TRUE(Launch());
        const auto balloon = [] { // its text, with the tip; marked in settings.ini before
            return TrayTexts() ==
                   L"Corvane keeps running here in the notification area. Double-"
                   L"click its icon to open the window; right-click it for the menu.|Corvane|";
        };
        EXPECT_EQ(WaitUntil(balloon, fresh ? 10s : 1s), fresh) << TrayTexts();
        EXPECT_EQ(Setting(L"app.first_start_hint_shown"), shown) << fresh;
    }
}

// Value and status lines draw "&" as itself and end a long value on one line, at every DPI.
TEST_F(Shell, ValueLinesKeepAmpersandsOnOneLineAtEveryDpi) {
    const wchar_t* const desktop = L"Control Panel\\Desktop";
    for (const DWORD dpi : {120, 144, 96}) { // 96, the default, last
        const auto at = [&](int page, int x, int y) {
            return At(page, MulDiv(x, dpi, 96), MulDiv(y, dpi, 96));
        };
        RegSetKeyValueW(HKEY_CURRENT_USER, desktop, L"LogPixels", REG_DWORD, &dpi, sizeof(dpi));
        ASSERT_TRUE(Launch());
        std::vector<HWND> lines = {at(kHostedPage, 24, 196), at(kHostedPage, 150, 78),
                                   at(kWpPage, 24, 196),     at(kUdpPage, 24, 180),
                                   at(kHrdPage, 24, 222),    at(kHrdPage, 150, 270)};
        for (int row = 0; row < 11; ++row)
            lines.push_back(at(kLivePage, 150, 46 + 24 * row));
        for (HWND line : lines) {
            const LONG style = GetWindowLongW(line, GWL_STYLE);
            RECT area = {};
            GetClientRect(line, &area);
            EXPECT_EQ(style & (SS_TYPEMASK | SS_NOPREFIX | SS_ELLIPSISMASK),
                      SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS)
                << dpi << " " << testing::PrintToString(Text(line));
            EXPECT_EQ(area.bottom, MulDiv(18, dpi, 96)) << dpi;
        }
    }
}

} // namespace
