// What only our own INI and file code on POSIX has to guarantee.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "core/diagnostic_file.h"
#include "core/settings.h"
#include "platform/files.h"
#include "platform/text.h"
#include "tests/support/temp_folder.h"

// Settings written on Windows or with a BOM read as meant, and a write keeps the encoding; a file
// that is no text or over 1 MiB is neither read nor ever replaced. A new file is the owner's alone.
TEST(PosixProfile, EncodingsAndSizes) {
    const std::string ini = "[udp]\r\nport=12345\r\n";
    const std::string utf16 = WideToUtf16Le(Utf8ToWide(ini));
    const std::pair<std::string, ProfileFileState> cases[] = {
        {"\xEF\xBB\xBF" + ini, ProfileFileState::Read},
        {"\xFF\xFE" + utf16, ProfileFileState::Read},
        {ini + std::string((1 << 20) - ini.size(), '\n'), ProfileFileState::Read},
        {ini + std::string((1 << 20) - ini.size() + 1, '\n'), ProfileFileState::TooLarge},
        {utf16, ProfileFileState::NotText},
        {"\xFE\xFF" + ini, ProfileFileState::NotText},
    };
    for (const auto& [bytes, state] : cases) {
        TempDataFolder data;
        ASSERT_TRUE(WriteWholeFile(settings.settingsPath, bytes));
        EXPECT_EQ(LoadSettings(), state) << bytes.size();
        EXPECT_EQ(settings.udpPort, state == ProfileFileState::Read ? 12345 : 12060);
        settings.hrdMyCall = L"G4\u00C5BC";
        SaveSettings();
        if (state != ProfileFileState::Read || bytes.size() > 100) {
            EXPECT_TRUE(FileBytes(settings.settingsPath).substr(0, 100) == bytes.substr(0, 100));
            continue;
        }
        EXPECT_EQ(FileBytes(settings.settingsPath).substr(0, 2), bytes.substr(0, 2));
        settings.hrdMyCall.clear();
        LoadSettings();
        EXPECT_EQ(settings.hrdMyCall, L"G4\u00C5BC");
    }
    TempDataFolder fresh;
    LoadSettings();
    struct stat info {};
    ASSERT_EQ(::stat(WideToUtf8(settings.settingsPath).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Neither a FIFO nor a symlink where a file belongs can hold the start up or be written through.
TEST(PosixProfile, FifosAndSymlinksWhereFilesBelong) {
    TempDataFolder data;
    ASSERT_EQ(::mkfifo(WideToUtf8(settings.settingsPath).c_str(), 0600), 0);
    LoadSettings();
    EXPECT_EQ(settings.udpPort, 12060);
    ASSERT_EQ(::mkfifo(WideToUtf8(data.File(L"corvane-udp-last.xml")).c_str(), 0600), 0);
    DiagnosticFileWrite(L"corvane-udp-last.xml", "<RadioInfo/>");
    ASSERT_TRUE(WriteWholeFile(data.File(L"target"), "mine"));
    ASSERT_EQ(::symlink("target", WideToUtf8(data.File(L"corvane-hrd-controls.txt")).c_str()), 0);
    DiagnosticFileWrite(L"corvane-hrd-controls.txt", "<RadioInfo/>");
    EXPECT_EQ(FileBytes(data.File(L"target")), "mine");
}
