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
// that is no text or over 1 MiB is neither read nor ever replaced. A file edited by hand reads as
// Windows reads it (names in any case, blanks and quotes around values, comments, the first of two
// sections or keys); a Save rewrites values where they stand, adds what is missing at the end of
// its section and leaves every other line alone. A new file is the owner's alone.
TEST(PosixProfile, EncodingsSizesAndHandEdits) {
    const std::string ini =
        "; mine\r\n[ UDP ]\r\n  Port = 12345 \r\n#port=1\r\nip=\"\"\r\n\r\n"
        "[hrd]\r\nMyCall\t=\t'N0 CALL'\r\nport=7\r\nport=8\r\n[udp]\r\nport=9\r\n";
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
        EXPECT_EQ(settings.udpAddress + L" " + settings.hrdMyCall + L" " +
                      std::to_wstring(settings.hrdPort) + L" " + std::to_wstring(settings.udpPort),
                  state == ProfileFileState::Read ? L" N0 CALL 7 12345" : L"0.0.0.0  7809 12060");
        settings.hrdMyCall = L"G4\u00C5\r\nBC"; // a line break stays on the value's line
        SaveSettings();
        const std::string saved = FileBytes(settings.settingsPath);
        if (state != ProfileFileState::Read || bytes.size() > 1000) {
            EXPECT_TRUE(saved.substr(0, 100) == bytes.substr(0, 100));
            continue;
        }
        const std::string text = bytes[0] == '\xEF'
                                     ? saved.substr(3)
                                     : WideToUtf8(Utf16LeToWide(&saved[2], saved.size() - 2));
        EXPECT_EQ(text.substr(0, text.find("[vellumar]")),
                  "; mine\r\n[ UDP ]\r\nport=12345\r\n#port=1\r\nip=\r\nenabled=1\r\n\r\n"
                  "[hrd]\r\nmycall=G4\xC3\x85"
                  "  BC\r\nport=7\r\nport=8\r\nenabled=0\r\n"
                  "host=127.0.0.1\r\ninterval=2\r\noperator=\r\n[udp]\r\nport=9\r\n");
    }
    TempDataFolder fresh;
    SetDataFolderOverride(fresh.File(L"new/Corvane")); // with the parents it needs
    LoadSettings();
    struct stat info {};
    EXPECT_EQ(::stat(WideToUtf8(settings.settingsPath).c_str(), &info) ? 0 : info.st_mode & 0777,
              0600u);
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

// Every code point there is, both ways and in as many bytes as it takes; broken UTF-8 as one U+FFFD
// for the bytes that were valid so far; a UTF-16 pair in a wide text is one character, a lone half
// is not.
TEST(PosixText, EveryCodePointBothWaysAndBrokenTextAsReplacements) {
    std::wstring all;
    for (wchar_t c = 1; c <= 0x10FFFF; ++c)
        if (c < 0xD800 || c > 0xDFFF)
            all += c;
    const std::string utf8 = WideToUtf8(all), utf16 = WideToUtf16Le(all);
    EXPECT_EQ(utf8.size(), 127 + 1920 * 2 + 61440 * 3 + 1048576 * 4u);
    EXPECT_EQ(utf16.size(), 2 * (all.size() + 1048576));
    EXPECT_TRUE(Utf8ToWide(utf8) == all && Utf16LeToWide(utf16.data(), utf16.size()) == all);
    const std::pair<std::string, std::wstring> broken[] = {
        {"\xC0\x80\xC1\xBF", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xE0\x9F\xBFx", L"\uFFFDx"},
        {"\xED\xA0\x80\xF4\x90\x80\x80", L"\uFFFD\uFFFD"},
        {"\xF5\xE2\x82x\xE2\x82", L"\uFFFD\uFFFDx\uFFFD"},
        {"\xF0\x8F\xBF\xBF\x80", L"\uFFFD\uFFFD"}};
    for (const auto& [bytes, wide] : broken)
        EXPECT_EQ(Utf8ToWide(bytes), wide) << bytes;
    EXPECT_EQ(WideToUtf8(std::wstring{0xDBFF, 0xDFFF, 0xDC00, 0xD800, 0xDC00, 0xD800, 0x110000}),
              "\xF4\x8F\xBF\xBF\xEF\xBF\xBD\xF0\x90\x80\x80\xEF\xBF\xBD\xEF\xBF\xBD");
    // Nothing past the length given is read.
    EXPECT_EQ(Utf16LeToWide("\x3D\xD8\xFB\xDC\x00\xD8x", 7) + Utf8ToWide("\xC3\xA9", 1),
              (std::wstring{0x1F4FB, 0xD800, 0xFFFD}));
}
