#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"

namespace {

TEST(HrdFrame, HeaderUtf16UnitsAndATerminatingNul) {
    const unsigned char getId[] = {0x1E, 0x00, 0x00, 0x00, 0xCD, 0xAB, 0x34, 0x12, 0x34, 0x12,
                                   0xCD, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x47, 0x00, 0x65, 0x00,
                                   0x74, 0x00, 0x20, 0x00, 0x49, 0x00, 0x44, 0x00, 0x00, 0x00};
    EXPECT_EQ(BuildHrdFrame(kHrdGetId), std::string(reinterpret_cast<const char*>(getId), 30));
    // Outside the BMP a character is a surrogate pair, also where wchar_t is 32 bits wide.
    const std::pair<std::wstring, std::string> cases[] = {
        {L"", std::string("\0\0", 2)},
        {L"\u00C4", std::string("\xC4\0\0\0", 4)},
        {L"\U0001F4FB", std::string("\x3D\xD8\xFB\xDC\0\0", 6)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BuildHrdFrame(c.first),
                  std::string(1, static_cast<char>(16 + c.second.size())) +
                      std::string("\0\0\0\xCD\xAB\x34\x12\x34\x12\xCD\xAB\0\0\0\0", 15) + c.second);
}

// Trimming takes off space, tab, CR and LF only: no-break space, vertical tab, form feed and NUL
// stay.
TEST(HrdText, ModeIsTheTrimmedTextAfterTheFirstColon) {
    const std::pair<std::wstring, std::vector<std::wstring>> cases[] = {
        {L"USB", {L"Mode: USB", L"USB", L" \t USB \r\n"}},
        {L"\u00A0USB\vUSB\f", {L"\u00A0USB\vUSB\f", L"Mode:\r\n\u00A0USB\vUSB\f\t"}},
        {std::wstring(L"\0USB\0", 5), {std::wstring(L" \0USB\0 ", 7)}},
        {L"CW-R", {L"Mode:\tCW-R \r\n"}},
        {L"b:c", {L"a:b:c"}},
        {L"", {L"Mode:", L":", L"", L"\r\n", L"  "}},
    };
    for (const auto& c : cases)
        for (const std::wstring& reply : c.second)
            EXPECT_EQ(ReadHrdMode(reply), c.first);
}

TEST(HrdRecord, FrequencyFormatAndBand) {
    const std::pair<std::int64_t, std::wstring> cases[] = {
        {14074000, L"14.074 20m"},
        {1840000, L"1.840 160m"},
        {144174999, L"144.175 2m"},
        {123, L"0.000 Unknown"},
        {0, L" "},
        {-14074000, L" "},
        {INT64_MAX, L"9223372036854.775 Unknown"}};
    for (const auto& c : cases) {
        const StationSnapshot record = BuildHrdRecord(c.first, L"USB", L"N0CALL", L"OP", L"R");
        EXPECT_EQ(record.freq + L" " + record.band, c.second) << c.first;
    }
}

} // namespace
