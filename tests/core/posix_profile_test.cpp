// What only our own INI code on POSIX has to guarantee.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/diagnostic_file.h"

#include "core/settings.h"
#include "platform/files.h"
#include "platform/posix/ini_text.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "tests/support/temp_folder.h"

TEST(PosixProfile, ANewSettingsFileIsReadableOnlyByItsOwner) {
    TempDataFolder data;
    LoadSettings();
    struct stat info {};
    ASSERT_EQ(::stat(WideToUtf8(settings.settingsPath).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(PosixProfile, ALineBreakInAValueCannotAddKeys) {
    const std::string text = IniSet("[wp]\nid=1\n", "wp", "api_key", "x\n[udp]\nport=1");
    std::string value;
    EXPECT_FALSE(IniFind(text, "udp", "port", value));
    EXPECT_TRUE(IniFind(text, "wp", "api_key", value));
    EXPECT_EQ(value, "x [udp] port=1");
}

TEST(PosixProfile, NamesIgnoreCaseAndBlanksAndTheFirstOneWins) {
    const std::string text = "[UDP]\n  Port = 123 \nport=9\n[udp]\nport=7\n";
    std::string value;
    ASSERT_TRUE(IniFind(text, "udp", "port", value));
    EXPECT_EQ(value, "123");
    EXPECT_EQ(IniSet(text, "udp", "port", "5"), "[UDP]\nport=5\nport=9\n[udp]\nport=7\n");
    EXPECT_EQ(IniSet("[a]\nx=1\n\n[b]\n", "a", "y", "2"), "[a]\nx=1\ny=2\n\n[b]\n");
    EXPECT_EQ(IniSet("[a]\nx=1", "b", "y", "2"), "[a]\nx=1\n[b]\ny=2\n");
}

TEST(PosixProfile, AFifoWhereAFileBelongsNeverBlocks) {
    // Opening a FIFO without a peer would wait forever; the test hangs if that ever comes back.
    TempDataFolder data;
    ASSERT_EQ(::mkfifo(WideToUtf8(settings.settingsPath).c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(WideToUtf8(data.File(L"corvane-udp-last.xml")).c_str(), 0600), 0);
    LoadSettings();
    EXPECT_EQ(settings.udpPort, 12060);
    DiagnosticFileWrite(L"corvane-udp-last.xml", "<RadioInfo/>");
}

TEST(PosixProfile, ADiagnosticFileNeverFollowsASymlink) {
    TempDataFolder data;
    const std::wstring target = data.File(L"target");
    ASSERT_TRUE(WriteWholeFile(target, "mine"));
    for (const wchar_t* name : {L"corvane-udp-last.xml", L"corvane-hrd-controls.txt"}) {
        ASSERT_EQ(::symlink("target", WideToUtf8(data.File(name)).c_str()), 0);
        DiagnosticFileWrite(name, "<RadioInfo/>");
    }
    EXPECT_EQ(FileBytes(target), "mine");
}

// Settings written on Windows or with a BOM read as meant, and a write keeps the encoding; a file
// that is no text or far too large is neither read nor ever replaced.
TEST(PosixProfile, EncodingsAndSizes) {
    struct Case {
        std::string bytes;
        ProfileFileState state;
    };
    const std::string ini = "[udp]\r\nport=12345\r\n";
    const std::string utf16 = WideToUtf16Le(Utf8ToWide(ini));
    const Case cases[] = {
        {"\xEF\xBB\xBF" + ini, ProfileFileState::Read},
        {"\xFF\xFE" + utf16, ProfileFileState::Read},
        {ini + std::string(kProfileFileMax - ini.size(), '\n'), ProfileFileState::Read},
        {ini + std::string(kProfileFileMax - ini.size() + 1, '\n'), ProfileFileState::TooLarge},
        {utf16, ProfileFileState::NotText},
        {"\xFE\xFF" + ini, ProfileFileState::NotText},
    };
    for (const Case& c : cases) {
        TempDataFolder data;
        ASSERT_TRUE(WriteWholeFile(settings.settingsPath, c.bytes));
        EXPECT_EQ(LoadSettings(), c.state) << c.bytes.size();
        EXPECT_EQ(settings.udpPort, c.state == ProfileFileState::Read ? 12345 : 12060);
        if (c.bytes.size() > 100)
            continue; // a save would take the file over the limit on the way
        settings.hrdMyCall = L"G4\u00C5BC";
        SaveSettings();
        const std::string saved = FileBytes(settings.settingsPath);
        if (c.state != ProfileFileState::Read) {
            EXPECT_TRUE(saved == c.bytes);
            continue;
        }
        EXPECT_EQ(saved.substr(0, 2), c.bytes.substr(0, 2));
        settings.hrdMyCall.clear();
        LoadSettings();
        EXPECT_EQ(settings.hrdMyCall, L"G4\u00C5BC");
        EXPECT_EQ(settings.udpPort, 12345);
    }
}
