// The shell's own logic in-process: DPI scaling, status texts, interval lists, and the
// start-at-logon registration against the real registry of this (Wine) user.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include "app/lifecycle.h"
#include "app/main_window_layout.h"
#include "app/startup_registration.h"
#include "app/status_texts.h"
#include "app/ui_state.h"

namespace {

TEST(ScaleForDpi, RoundsHalvesAwayFromZero) {
    struct Case {
        int dpi, value, scaled;
    };
    const Case cases[] = {
        {96, 460, 460},  {96, 414, 414},  {120, 460, 575}, {120, 414, 518}, // 517.5 rounds up
        {144, 460, 690}, {144, 414, 621}, {144, 8, 12},    {144, 444, 666}, {144, 360, 540},
        {144, 12, 18},   {120, 1, 1},     {120, -12, -15}, {192, 22, 44},   {72, 3, 2}, // 2.25
    };
    const int saved = ui.dpi;
    for (const Case& c : cases) {
        ui.dpi = c.dpi;
        EXPECT_EQ(ScaleForDpi(c.value), c.scaled) << c.value << " at " << c.dpi;
    }
    ui.dpi = saved;
}

TEST(UdpStatusText, EachStateHasItsText) {
    struct Case {
        int state;
        std::wstring address;
        int port;
        std::wstring text;
    };
    const Case cases[] = {
        {1, L"", 12060, L"Listening on 0.0.0.0:12060"},
        {1, L"127.0.0.1", 2237, L"Listening on 127.0.0.1:2237"},
        {1, L"not an address", 1, L"Listening on not an address:1"},
        {2, L"127.0.0.1", 12060, L"Error: cannot bind port 12060"},
        {2, L"", 65535, L"Error: cannot bind port 65535"},
        {0, L"127.0.0.1", 12060, L"Stopped"},
        {3, L"127.0.0.1", 12060, L"Stopped"},
        {-1, L"", 0, L"Stopped"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatUdpStatusText(c.state, c.address, c.port), c.text);
}

TEST(UdpStatusText, LongAddressIsCutAndThePortStays) {
    const std::wstring prefix = L"Listening on ";
    // Exactly 127 characters fit unchanged; one more is cut.
    const std::size_t fits = 127 - prefix.size() - std::wstring(L":12060").size();
    const std::wstring exact(fits, L'a');
    EXPECT_EQ(FormatUdpStatusText(1, exact, 12060), prefix + exact + L":12060");

    for (std::size_t length : {fits + 1, fits + 50, std::size_t(5000)}) {
        const std::wstring text = FormatUdpStatusText(1, std::wstring(length, L'b'), 12060);
        EXPECT_EQ(text.size(), 127u) << length;
        EXPECT_EQ(text.substr(0, prefix.size() + 1), prefix + L"b");
        EXPECT_EQ(text.substr(text.size() - 9), L"...:12060");
    }
    // A longer port leaves less room for the address, never more than 127 in all.
    EXPECT_LE(FormatUdpStatusText(1, std::wstring(300, L'c'), -2147483647 - 1).size(), 127u);
}

TEST(UdpStatusText, CutNeverSplitsASurrogatePair) {
    const std::wstring prefix = L"Listening on ";
    const std::size_t keep = 127 - prefix.size() - 6 - 3; // room before "..." with ":12060"
    for (std::size_t shift : {keep - 1, keep - 2}) {
        std::wstring address(shift, L'x');
        address += L"\U0001F4E1"; // a pair
        address += std::wstring(100, L'y');
        const std::wstring text = FormatUdpStatusText(1, address, 12060);
        EXPECT_LE(text.size(), 127u);
        const std::size_t dots = text.rfind(L"...:12060");
        ASSERT_NE(dots, std::wstring::npos);
        const wchar_t last = text[dots - 1];
        EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF) << "lone high surrogate at " << shift;
    }
}

TEST(IntervalChoices, MinimumDecidesTheEntriesAndCurrentTheSelection) {
    const std::vector<IntervalChoice> hosted = IntervalChoices(30);
    std::vector<std::wstring> texts;
    for (const IntervalChoice& choice : hosted)
        texts.push_back(choice.text);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"30 seconds", L"60 seconds", L"120 seconds",
                                                L"300 seconds"}));

    const std::vector<IntervalChoice> all = IntervalChoices(0);
    ASSERT_EQ(all.size(), 8u);
    EXPECT_STREQ(all[0].text, L"1 second");
    EXPECT_EQ(all[0].seconds, 1);
    EXPECT_STREQ(all[7].text, L"300 seconds");
    EXPECT_EQ(all[7].seconds, 300);

    struct Case {
        int minimum, current, selected;
    };
    const Case cases[] = {
        {30, 30, 0}, {30, 60, 1}, {30, 120, 2}, {30, 300, 3}, {30, 5, 0}, {30, 45, 0},
        {0, 1, 0},   {0, 2, 1},   {0, 10, 3},   {0, 300, 7},  {0, 7, 0},  {0, -1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IntervalSelection(IntervalChoices(c.minimum), c.current), c.selected)
            << c.current << " with minimum " << c.minimum;
}

TEST(HostOfUrl, TakesTheHostPart) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"https://dashboard.example.com", L"dashboard.example.com"},
        {L"https://dashboard.example.com/", L"dashboard.example.com"},
        {L"http://host.example:8080/path?x=1", L"host.example"},
        {L"host.only", L"host.only"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HostOfUrl(c.first), c.second) << c.first;
}

// Saves this user's "Corvane" Run value and Startup shortcut and puts them back afterwards, so
// the tests never disturb a real registration.
class StartWithWindows : public testing::Test {
  protected:
    static constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

    void SetUp() override {
        savedPresent = Query(&savedType, &savedData);
        shortcut = StartupShortcutPath();
        ASSERT_FALSE(shortcut.empty());
        shortcutSaved = GetFileAttributesW(shortcut.c_str()) != INVALID_FILE_ATTRIBUTES;
        RemoveValue();
        DeleteFileW(shortcut.c_str());
    }
    void TearDown() override {
        RemoveValue();
        DeleteFileW(shortcut.c_str());
        if (savedPresent)
            Write(savedType, savedData.data(), static_cast<DWORD>(savedData.size()));
        if (shortcutSaved)
            MakeShortcut();
    }

    static bool Query(DWORD* type, std::vector<BYTE>* data) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return false;
        DWORD size = 0;
        LONG status = RegQueryValueExW(key, L"Corvane", nullptr, type, nullptr, &size);
        if (status == ERROR_SUCCESS) {
            data->resize(size);
            status = RegQueryValueExW(key, L"Corvane", nullptr, type, data->data(), &size);
        }
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }
    static void Write(DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"Corvane", 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    static void WriteText(DWORD type, const std::wstring& text) {
        Write(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    static void RemoveValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Corvane");
            RegCloseKey(key);
        }
    }
    void MakeShortcut() {
        HANDLE file =
            CreateFileW(shortcut.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    bool ShortcutThere() const {
        return GetFileAttributesW(shortcut.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    static std::wstring Quoted() { return L"\"" + ModulePath() + L"\""; }
    static std::wstring Lowered(std::wstring text) {
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
        return text;
    }

    bool savedPresent = false;
    DWORD savedType = 0;
    std::vector<BYTE> savedData;
    std::wstring shortcut;
    bool shortcutSaved = false;
};

TEST_F(StartWithWindows, EnableWritesTheQuotedPathAsAStringWithItsZero) {
    MakeShortcut();
    ASSERT_TRUE(SetStartWithWindows(true));
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(Query(&type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data.size(), (Quoted().size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(ReadRunValue(), Quoted());
    EXPECT_FALSE(ShortcutThere());
}

TEST_F(StartWithWindows, DisableRemovesTheValueAndAnAbsentValueCountsAsSuccess) {
    ASSERT_TRUE(SetStartWithWindows(true));
    EXPECT_TRUE(SetStartWithWindows(false));
    EXPECT_EQ(ReadRunValue(), L"");
    MakeShortcut();
    EXPECT_TRUE(SetStartWithWindows(false)); // nothing to delete
    EXPECT_FALSE(ShortcutThere());
}

TEST_F(StartWithWindows, ReadAcceptsOnlyStringsThatFitTheBuffer) {
    struct Case {
        const char* name;
        DWORD type;
        std::wstring text;
        std::wstring read;
    };
    // 1038 bytes are offered: 518 characters and their zero.
    const std::wstring longest(518, L'p');
    const Case cases[] = {
        {"string", REG_SZ, L"\"C:\\a b\\Corvane.exe\"", L"\"C:\\a b\\Corvane.exe\""},
        {"expandable, not expanded", REG_EXPAND_SZ, L"%APPDATA%\\x.exe", L"%APPDATA%\\x.exe"},
        {"518 characters fit", REG_SZ, longest, longest},
        {"519 characters do not", REG_SZ, longest + L"q", L""},
        {"binary", REG_BINARY, L"abc", L""},
        {"multi-string", REG_MULTI_SZ, L"abc", L""},
    };
    for (const Case& c : cases) {
        WriteText(c.type, c.text);
        EXPECT_EQ(ReadRunValue(), c.read) << c.name;
    }
    const DWORD number = 7;
    Write(REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(ReadRunValue(), L"");
    RemoveValue();
    EXPECT_EQ(ReadRunValue(), L"");
}

TEST_F(StartWithWindows, SyncRepairsAStaleValueAndDropsTheShortcut) {
    struct Case {
        const char* name;
        DWORD type;
        std::wstring text; // empty: no value
        bool shortcut;
        std::wstring after; // the value's text afterwards, empty: none
        bool shortcutAfter;
    };
    const std::wstring dword = L"<dword>";
    const Case cases[] = {
        {"unquoted", REG_SZ, ModulePath(), false, Quoted(), false},
        {"another folder", REG_SZ, L"\"C:\\Elsewhere\\Corvane.exe\"", true, Quoted(), false},
        {"same path, other case", REG_SZ, Lowered(Quoted()), false, Quoted(), false},
        {"expandable", REG_EXPAND_SZ, L"%Corvane%", false, Quoted(), false},
        {"already right", REG_SZ, Quoted(), true, Quoted(), false},
        {"not registered, shortcut kept", REG_NONE, L"", true, L"", true},
        {"number", REG_DWORD, dword, true, L"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveValue();
        DeleteFileW(shortcut.c_str());
        if (c.type == REG_DWORD) {
            const DWORD number = 1;
            Write(REG_DWORD, &number, sizeof(number));
        } else if (c.type != REG_NONE) {
            WriteText(c.type, c.text);
        }
        if (c.shortcut)
            MakeShortcut();
        SyncStartWithWindows();
        EXPECT_EQ(ReadRunValue(), c.after);
        EXPECT_EQ(ShortcutThere(), c.shortcutAfter);
        if (c.type == REG_DWORD) {
            DWORD type = 0;
            std::vector<BYTE> data;
            EXPECT_TRUE(Query(&type, &data)); // a value that is no string is left alone
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        }
    }
}

} // namespace
