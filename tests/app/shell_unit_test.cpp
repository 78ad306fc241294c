// The shell's own logic in-process: DPI scaling, interval lists, and the start-at-logon
// registration against the registry of a throwaway (Wine) user.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include "app/lifecycle.h"
#include "app/main_window_layout.h"
#include "app/startup_registration.h"
#include "app/ui_state.h"
#include "tests/app/throwaway_profile.h"

namespace {

TEST(ScaleForDpi, RoundsHalvesAwayFromZero) {
    struct Case {
        int dpi, value, scaled;
    };
    const Case cases[] = {{96, 460, 460},  {120, 414, 518}, {144, 8, 12}, {120, 1, 1},
                          {120, -12, -15}, {192, 22, 44},   {72, 3, 2}}; // 517.5, 1.25, 2.25
    const int saved = ui.dpi;
    for (const Case& c : cases) {
        ui.dpi = c.dpi;
        EXPECT_EQ(ScaleForDpi(c.value), c.scaled) << c.value << " at " << c.dpi;
    }
    ui.dpi = saved;
}

TEST(IntervalChoices, MinimumDecidesTheEntriesAndCurrentTheSelection) {
    std::vector<std::pair<std::wstring, int>> hosted;
    for (const IntervalChoice& choice : IntervalChoices(30))
        hosted.emplace_back(choice.text, choice.seconds);
    EXPECT_EQ(hosted, (decltype(hosted){{L"30 seconds", 30},
                                        {L"60 seconds", 60},
                                        {L"120 seconds", 120},
                                        {L"300 seconds", 300}}));
    EXPECT_STREQ(IntervalChoices(0).front().text, L"1 second");
    EXPECT_EQ(IntervalChoices(0).front().seconds, 1);

    struct Case {
        int minimum, current, selected;
    };
    const Case cases[] = {{30, 60, 1}, {30, 300, 3}, {30, 5, 0}, {30, 45, 0},
                          {0, 2, 1},   {0, 300, 7},  {0, 7, 0},  {0, -1, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(IntervalSelection(IntervalChoices(c.minimum), c.current), c.selected)
            << c.current << " with minimum " << c.minimum;
}

TEST(HostOfUrl, TakesTheHostPart) {
    EXPECT_EQ(HostOfUrl(L"http://host.example:8080/path?x=1"), L"host.example");
    EXPECT_EQ(HostOfUrl(L"https://dashboard.example.com/"), L"dashboard.example.com");
    EXPECT_EQ(HostOfUrl(L"host.only"), L"host.only");
    EXPECT_EQ(HostOfUrl(L""), L"");
}

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The text and its zero as a value of any type: L"\x7" makes a four-byte REG_DWORD.
void WriteRun(DWORD type, const std::wstring& text) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane", type, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
bool QueryRun(DWORD* type, std::vector<BYTE>* data) {
    DWORD size = 4096;
    data->resize(size);
    const bool found =
        RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane", RRF_RT_ANY | RRF_NOEXPAND, type,
                     data->data(), &size) == ERROR_SUCCESS;
    data->resize(found ? size : 0);
    return found;
}
void RemoveRun() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Corvane");
}

// Starts and ends with no Run value and no Startup shortcut for this user.
class StartWithWindows : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ThrowawayProfile()) << kThrowawayRefusal;
        shortcut = StartupShortcutPath();
        ASSERT_FALSE(shortcut.empty());
        Clear();
    }
    void TearDown() override { Clear(); }
    void Clear() {
        if (!ThrowawayProfile())
            return;
        RemoveRun();
        DeleteFileW(shortcut.c_str());
    }
    void MakeShortcut() {
        CloseHandle(
            CreateFileW(shortcut.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    bool ShortcutThere() const {
        return GetFileAttributesW(shortcut.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    static std::wstring Quoted() { return L"\"" + ModulePath() + L"\""; }

    std::wstring shortcut;
};

TEST_F(StartWithWindows, SetWritesTheQuotedStringOrRemovesItAndTheShortcut) {
    MakeShortcut();
    ASSERT_TRUE(SetStartWithWindows(true));
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(QueryRun(&type, &data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(data.size(), (Quoted().size() + 1) * sizeof(wchar_t)); // with its zero
    EXPECT_EQ(ReadRunValue(), Quoted());
    EXPECT_FALSE(ShortcutThere());

    EXPECT_TRUE(SetStartWithWindows(false));
    EXPECT_EQ(ReadRunValue(), L"");
    MakeShortcut();
    EXPECT_TRUE(SetStartWithWindows(false)); // no value to delete is no failure
    EXPECT_FALSE(ShortcutThere());
}

TEST_F(StartWithWindows, ReadAcceptsOnlyStringsThatFitTheBuffer) {
    // 1038 bytes are offered: 518 characters and their zero.
    const std::wstring longest(518, L'p');
    const struct {
        DWORD type;
        std::wstring text, read;
    } cases[] = {
        {REG_SZ, L"\"C:\\a b\\Corvane.exe\"", L"\"C:\\a b\\Corvane.exe\""},
        {REG_EXPAND_SZ, L"%APPDATA%\\x.exe", L"%APPDATA%\\x.exe"}, // not expanded
        {REG_SZ, longest, longest},
        {REG_SZ, longest + L"q", L""},
        {REG_BINARY, L"abc", L""},
        {REG_MULTI_SZ, L"abc", L""},
        {REG_DWORD, L"\x7", L""},
    };
    for (const auto& c : cases) {
        WriteRun(c.type, c.text);
        EXPECT_EQ(ReadRunValue(), c.read) << c.type << " of " << c.text.size();
    }
}

TEST_F(StartWithWindows, SyncRepairsAStaleValueAndDropsTheShortcut) {
    std::wstring lowered = Quoted();
    CharLowerBuffW(&lowered[0], static_cast<DWORD>(lowered.size()));
    const struct {
        DWORD type; // REG_NONE: no value
        std::wstring text;
        bool shortcut;
        std::wstring after; // empty: no string value
    } cases[] = {
        {REG_SZ, ModulePath(), false, Quoted()},
        {REG_SZ, L"\"C:\\Elsewhere\\Corvane.exe\"", true, Quoted()},
        {REG_SZ, lowered, false, Quoted()},
        {REG_EXPAND_SZ, L"%Corvane%", false, Quoted()},
        {REG_SZ, Quoted(), true, Quoted()},
        {REG_NONE, L"", true, L""},     // not registered: the shortcut is kept
        {REG_DWORD, L"\x1", true, L""}, // not a string: left alone, shortcut kept
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " " << c.text.size());
        Clear();
        if (c.type != REG_NONE)
            WriteRun(c.type, c.text);
        if (c.shortcut)
            MakeShortcut();
        SyncStartWithWindows();
        EXPECT_EQ(ReadRunValue(), c.after);
        EXPECT_EQ(ShortcutThere(), c.after.empty());
        DWORD type = 0;
        std::vector<BYTE> data;
        EXPECT_EQ(QueryRun(&type, &data), c.type != REG_NONE);
        EXPECT_EQ(type, c.type == REG_DWORD ? REG_DWORD : c.type == REG_NONE ? 0u : REG_SZ);
    }
}

} // namespace
