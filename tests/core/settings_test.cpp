#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/station_snapshot.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tests/support/temp_folder.h"

namespace {

// settings.ini as text, whichever encoding the platform's INI code chose.
std::string IniText(const std::wstring& path) {
    const std::string bytes = FileBytes(path);
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        return WideToUtf8(Utf16LeToWide(bytes.data() + 2, bytes.size() - 2));
    return bytes;
}

// The section headers and key lines of the file, in order, without line ends.
std::vector<std::string> IniEntries(const std::wstring& path) {
    std::vector<std::string> entries;
    const std::string text = IniText(path);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            entries.push_back(line);
        start = end + 1;
    }
    return entries;
}

void WriteIni(const std::wstring& path, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(path, text));
}

const std::vector<std::string> kDefaultFile = {
    "[vellumar]",
    "enabled=1",
    "id=",
    "api_key=",
    "interval=30",
    "[wp]",
    "enabled=0",
    std::string("url=") + CORVANE_TEST_WP_URL,
    "id=",
    "api_key=",
    "interval=30",
    "[udp]",
    "enabled=1",
    "ip=0.0.0.0",
    "port=12060",
    "[app]",
    "start_minimized=1",
    "[hrd]",
    "enabled=0",
    "host=127.0.0.1",
    "port=7809",
    "interval=2",
    "mycall=",
    "operator=",
};

} // namespace

TEST(SettingsStore, FirstRunWritesEveryKeyInOrderWithItsDefault) {
    TempFolder parent;
    const std::wstring folder = parent.File(L"Corvane");
    SetDataFolderOverride(folder);
    settings = Settings{};
    LoadSettings();
    SetDataFolderOverride(L"");

    EXPECT_EQ(settings.settingsPath, folder + kPathSeparator + L"settings.ini");
    EXPECT_EQ(IniEntries(settings.settingsPath), kDefaultFile);
    EXPECT_TRUE(settings.targets[0].enabled);
    EXPECT_EQ(settings.targets[0].url, kHostedBaseUrl);
    EXPECT_EQ(settings.targets[0].intervalSeconds, 30);
    EXPECT_FALSE(settings.targets[1].enabled);
    EXPECT_EQ(settings.udpPort, 12060);
    EXPECT_EQ(settings.hrdIntervalSeconds, 2);
    EXPECT_TRUE(settings.startMinimized);
    settings = Settings{};
}

TEST(SettingsStore, LoadAppliesTheRulesOfEachKey) {
    TempDataFolder data;
    WriteIni(settings.settingsPath, "[vellumar]\n"
                                    "enabled=yes\n"
                                    "url=https://elsewhere.example.net\n"
                                    "interval=10\n"
                                    "[wp]\n"
                                    "enabled=2\n"
                                    "interval=15\n"
                                    "[udp]\n"
                                    "port=70000\n"
                                    "[hrd]\n"
                                    "port=abc\n"
                                    "mycall=QQ1ABC\n");
    LoadSettings();
    EXPECT_FALSE(settings.targets[0].enabled) << "\"yes\" is no number";
    EXPECT_EQ(settings.targets[0].url, kHostedBaseUrl) << "the hosted URL is never read";
    EXPECT_EQ(settings.targets[0].intervalSeconds, 30)
        << "10 is raised to 30 for the hosted service";
    EXPECT_TRUE(settings.targets[1].enabled) << "any non-zero number is true";
    EXPECT_EQ(settings.targets[1].intervalSeconds, 5) << "15 is no allowed interval";
    EXPECT_EQ(settings.udpPort, 70000) << "ports are taken as read";
    EXPECT_EQ(settings.hrdPort, 0);
    EXPECT_EQ(settings.hrdIntervalSeconds, 2) << "missing key: default";
    EXPECT_EQ(settings.hrdMyCall, L"QQ1ABC");

    SaveSettings();
    const std::vector<std::string> entries = IniEntries(settings.settingsPath);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "enabled=1"), 2)
        << "2 is written back as 1";
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "url=https://elsewhere.example.net"), 1)
        << "the hand-written hosted URL stays where it was and no other is added";
}

TEST(SettingsStore, IntervalsAreNormalisedPerTarget) {
    struct Case {
        int stored;
        int hosted;
        int wordPress;
    };
    const Case cases[] = {{10, 30, 10}, {7, 30, 5},   {60, 60, 60},    {1, 30, 1},
                          {0, 30, 5},   {-30, 30, 5}, {300, 300, 300}, {301, 30, 5}};
    for (const Case& c : cases) {
        TempDataFolder data;
        const std::string value = std::to_string(c.stored);
        WriteIni(settings.settingsPath, "[vellumar]\ninterval=" + value + "\n[wp]\ninterval=" +
                                            value + "\n[hrd]\ninterval=" + value + "\n");
        LoadSettings();
        EXPECT_EQ(settings.targets[0].intervalSeconds, c.hosted) << c.stored;
        EXPECT_EQ(settings.targets[1].intervalSeconds, c.wordPress) << c.stored;
        EXPECT_EQ(settings.hrdIntervalSeconds, c.wordPress) << c.stored;
    }
}

TEST(SettingsStore, AFileWithOnlyOneSectionStaysAsItIsUntilAnApply) {
    TempDataFolder data;
    const std::string text = "[wp]\nenabled=1\nid=42\n";
    WriteIni(settings.settingsPath, text);
    LoadSettings();
    EXPECT_EQ(FileBytes(settings.settingsPath), text);
    EXPECT_TRUE(settings.udpEnabled);
    EXPECT_EQ(settings.udpAddress, L"0.0.0.0");
    EXPECT_EQ(settings.hrdHost, L"127.0.0.1");
    EXPECT_EQ(settings.targets[1].dashboardId, L"42");
    EXPECT_EQ(settings.targets[1].url, kWordPressDefaultUrl);
}

TEST(SettingsStore, LongValuesAreCutAt1023Characters) {
    TempDataFolder data;
    const std::string exact(1023, 'a');
    const std::string longer(5000, 'b');
    WriteIni(settings.settingsPath, "[hrd]\nmycall=" + exact + "\noperator=" + longer + "\n");
    LoadSettings();
    EXPECT_EQ(settings.hrdMyCall, std::wstring(1023, L'a'));
    EXPECT_EQ(settings.hrdOperator, std::wstring(1023, L'b'));
    EXPECT_EQ(ReadProfileString(L"hrd", L"operator", L""), std::wstring(1023, L'b'));
}

TEST(SettingsStore, EmptyStringsAreWrittenAsKeysWithEmptyValues) {
    TempDataFolder data;
    LoadSettings();
    settings.targets[1].apiKey = L"secret";
    SaveSettings();
    settings.targets[1].apiKey.clear();
    SaveSettings();
    LoadSettings();
    EXPECT_EQ(ReadProfileString(L"wp", L"api_key", L"absent"), L"");
}

TEST(SettingsStore, NonAsciiValuesSurviveASaveAndLoad) {
    TempDataFolder data;
    LoadSettings();
    settings.hrdOperator = L"J\u00FCrgen \u00C5str\u00F6m";
    SaveSettings();
    settings.hrdOperator.clear();
    LoadSettings();
    EXPECT_EQ(settings.hrdOperator, L"J\u00FCrgen \u00C5str\u00F6m");
}

TEST(SettingsStore, AHandEditedFileKeepsItsCommentsAndUnknownSectionsAcrossASave) {
    TempDataFolder data;
    WriteIni(settings.settingsPath, "; Corvane settings, edited by hand\r\n"
                                    "[extra]\r\n"
                                    "colour=blue\r\n"
                                    "\r\n"
                                    "[udp]\r\n"
                                    "; the shack PC\r\n"
                                    "ip=192.0.2.7\r\n"
                                    "port=12061\r\n"
                                    "future_key=keep me\r\n");
    LoadSettings();
    EXPECT_EQ(settings.udpAddress, L"192.0.2.7");
    EXPECT_EQ(settings.udpPort, 12061);
    SaveSettings();
    const std::string text = IniText(settings.settingsPath);
    for (const char* kept : {"; Corvane settings, edited by hand", "[extra]", "colour=blue",
                             "; the shack PC", "future_key=keep me", "ip=192.0.2.7", "port=12061"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept;
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\r\r"), std::string::npos);
    // Values replaced in place: the udp keys stay under the comment that precedes them.
    EXPECT_LT(text.find("; the shack PC"), text.find("ip=192.0.2.7"));
    const std::vector<std::string> entries = IniEntries(settings.settingsPath);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "[udp]"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "enabled=1"), 2); // vellumar, udp
}

TEST(SettingsStore, BadFilesGiveDefaultsAndAreNeverRewrittenByALoad) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string garbage;
    for (int i = 0; i < 70000; ++i)
        garbage += static_cast<char>((i * 7919) & 0xFF);
    std::string huge = "[udp]\n" + std::string(100000, 'x') + "\nport=12345\n";
    std::string tenMegabytes = std::string(10 * 1024 * 1024, ';');
    const Case cases[] = {{"empty", ""},
                          {"binary garbage", garbage},
                          {"100,000-character line", huge},
                          {"10 MB", tenMegabytes}};
    for (const Case& c : cases) {
        TempDataFolder data;
        WriteIni(settings.settingsPath, c.bytes);
        LoadSettings();
        EXPECT_EQ(FileBytes(settings.settingsPath), c.bytes) << c.name;
        EXPECT_EQ(settings.hrdHost, L"127.0.0.1") << c.name;
        EXPECT_EQ(settings.targets[0].intervalSeconds, 30) << c.name;
    }
}

TEST(SettingsStore, ASettingsFileThatIsAFolderGivesDefaultsAndStaysAFolder) {
    TempDataFolder data;
    std::filesystem::create_directory(std::filesystem::path(settings.settingsPath));
    LoadSettings();
    EXPECT_EQ(settings.udpAddress, L"0.0.0.0");
    EXPECT_EQ(settings.udpPort, 12060);
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(settings.settingsPath)));
    EXPECT_FALSE(ProfileWriteString(settings.settingsPath, L"udp", L"ip", L"192.0.2.1"));
}

TEST(SettingsApply, RulesForEachField) {
    TempDataFolder data;
    LoadSettings();
    SettingsForm form;
    form.enabled[0] = false;
    form.enabled[1] = true;
    form.wpUrl = L"https://shack.example.org/blog";
    form.dashboardId[1] = L"7 & 8";
    form.apiKey[1] = L"k";
    form.intervalData[0] = 60;
    form.intervalData[1] = 0; // nothing selected
    form.udpEnabled = true;
    form.udpAddress = L"";
    form.udpPortText = L"70000";
    form.hrdEnabled = true;
    form.hrdHost = L"";
    form.hrdPortText = L"7810";
    form.hrdIntervalData = -1;
    ApplySettings(form);

    EXPECT_FALSE(settings.targets[0].enabled);
    EXPECT_EQ(settings.targets[0].url, kHostedBaseUrl);
    EXPECT_EQ(settings.targets[0].intervalSeconds, 60);
    EXPECT_EQ(settings.targets[1].intervalSeconds, 5);
    EXPECT_EQ(settings.targets[1].url, L"https://shack.example.org/blog");
    EXPECT_EQ(settings.targets[1].dashboardId, L"7 & 8");
    EXPECT_EQ(settings.udpAddress, L"");
    EXPECT_EQ(settings.udpPort, 12060);
    EXPECT_EQ(settings.hrdHost, L"127.0.0.1");
    EXPECT_EQ(settings.hrdPort, 7810);
    EXPECT_EQ(settings.hrdIntervalSeconds, 5);

    // And the file holds what was applied.
    settings = Settings{};
    LoadSettings();
    EXPECT_EQ(settings.targets[1].dashboardId, L"7 & 8");
    EXPECT_EQ(settings.udpPort, 12060);
    EXPECT_EQ(settings.hrdPort, 7810);
}

TEST(SettingsApply, PortTextOutsideTheRangeFallsBack) {
    struct Case {
        const wchar_t* text;
        int port;
    };
    const Case cases[] = {{L"12060", 12060}, {L"1", 1},
                          {L"65535", 65535}, {L"0", 7809},
                          {L"65536", 7809},  {L"-5", 7809},
                          {L"abc", 7809},    {L"", 7809},
                          {L" 8080", 8080},  {L"99999999999999999999", 7809}};
    for (const Case& c : cases)
        EXPECT_EQ(PortFromText(c.text, 7809), c.port) << c.text;
}

TEST(SettingsStore, NormalizeIntervalKeepsOnlyTheOfferedValues) {
    for (int allowed : {1, 2, 5, 10, 30, 60, 120, 300})
        EXPECT_EQ(NormalizeInterval(allowed), allowed);
    for (int other : {0, -1, 3, 15, 299, 301, 2147483647, -2147483647 - 1})
        EXPECT_EQ(NormalizeInterval(other), 5) << other;
}
