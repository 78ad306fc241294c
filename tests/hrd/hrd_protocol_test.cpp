#include <gtest/gtest.h>

#include <climits>

#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"

namespace {

TEST(HrdFrame, GetIdIsTheThirtyBytesHrdExpects) {
    const unsigned char expected[] = {0x1E, 0x00, 0x00, 0x00, 0xCD, 0xAB, 0x34, 0x12, 0x34, 0x12,
                                      0xCD, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x47, 0x00, 0x65, 0x00,
                                      0x74, 0x00, 0x20, 0x00, 0x49, 0x00, 0x44, 0x00, 0x00, 0x00};
    EXPECT_EQ(BuildHrdFrame(kHrdGetId),
              std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST(HrdFrame, LengthCountsUtf16UnitsOnEveryPlatform) {
    struct Case {
        std::wstring text;
        std::size_t length;
        std::string textBytes;
    };
    const Case cases[] = {
        {L"", 18, std::string("\0\0", 2)},
        {L"\u00C4", 20, std::string("\xC4\0\0\0", 4)},
        // Outside the BMP: a surrogate pair on the wire, also where wchar_t is 32 bits wide.
        {L"\U0001F4FB", 22, std::string("\x3D\xD8\xFB\xDC\0\0", 6)},
        {L"[1] get frequency", 2 * 17 + 18, std::string()},
    };
    for (const Case& c : cases) {
        const std::string frame = BuildHrdFrame(c.text);
        ASSERT_EQ(frame.size(), c.length);
        EXPECT_EQ(static_cast<unsigned char>(frame[0]), c.length);
        EXPECT_EQ(frame.substr(1, 3), std::string(3, '\0'));
        EXPECT_EQ(frame.substr(12, 4), std::string(4, '\0'));
        EXPECT_EQ(frame.substr(frame.size() - 2), std::string(2, '\0'));
        if (!c.textBytes.empty()) {
            EXPECT_EQ(frame.substr(16), c.textBytes);
        }
    }
}

TEST(HrdText, TrimRemovesOnlySpaceTabCrLf) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L" \t14074000\r\n", L"14074000"},
        {L"\r\n", L""},
        {L"", L""},
        {L"   ", L""},
        {L"USB", L"USB"},
        {L" Mode: USB ", L"Mode: USB"},
        {L"\u00A0USB\u00A0", L"\u00A0USB\u00A0"}, // no-break space is no blank here
        {L"\vUSB\f", L"\vUSB\f"},
        {std::wstring(L"\0USB", 4), std::wstring(L"\0USB", 4)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrimWhitespace(c.first), c.second) << "input size " << c.first.size();
}

TEST(HrdText, FrequencyIsASaturatingSignedPrefix) {
    const std::pair<std::wstring, std::int64_t> cases[] = {
        {L"14074000", 14074000},
        {L" \t14074000\r\n", 14074000},
        {L"7074000.9", 7074000},
        {L"+3573000", 3573000},
        {L"-5", -5},
        {L"0", 0},
        {L"", 0},
        {L"abc", 0},
        {L"+", 0},
        {L"-", 0},
        {L"0x1F", 0},
        {L"12 34", 12},
        {L"12abc", 12},
        {L"\v42", 42},
        {L"\uFF11\uFF12", 0}, // full-width digits are no digits
        {L"9223372036854775807", INT64_MAX},
        {L"9223372036854775808", INT64_MAX},
        {L"99999999999999999999999999", INT64_MAX},
        {L"-9223372036854775808", INT64_MIN},
        {L"-9223372036854775809", INT64_MIN},
        {L"-99999999999999999999999999", INT64_MIN},
        {L"000000000000000000000000000144000000", 144000000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadHrdFrequency(c.first), c.second) << "reply size " << c.first.size();
}

TEST(HrdText, ModeIsTheTextAfterTheFirstColon) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"Mode: USB", L"USB"},
        {L"USB", L"USB"},
        {L" USB \r\n", L"USB"},
        {L"a:b:c", L"b:c"},
        {L"Mode:", L""},
        {L":", L""},
        {L"", L""},
        {L"\r\n", L""},
        {L"Mode:\tCW-R \r\n", L"CW-R"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadHrdMode(c.first), c.second);
}

TEST(HrdRecord, FrequencyFormatAndBand) {
    struct Case {
        std::int64_t hertz;
        std::wstring freq;
        std::wstring band;
    };
    const Case cases[] = {
        {14074000, L"14.074", L"20m"}, {7074000, L"7.074", L"40m"},
        {1840000, L"1.840", L"160m"},  {144174999, L"144.175", L"2m"},
        {123, L"0.000", L"Unknown"},   {0, L"", L""},
        {-14074000, L"", L""},         {INT64_MAX, L"9223372036854.775", L"Unknown"},
    };
    for (const Case& c : cases) {
        const StationSnapshot record = BuildHrdRecord(c.hertz, L"USB", L"N0CALL", L"OP", L"R");
        EXPECT_EQ(record.freq, c.freq) << c.hertz;
        EXPECT_EQ(record.band, c.band) << c.hertz;
        EXPECT_EQ(record.mode, L"USB");
    }
}

} // namespace
