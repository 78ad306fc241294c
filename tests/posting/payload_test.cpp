#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/text.h"
#include "posting/post_payload.h"

namespace {

std::vector<std::string> Pairs(const std::string& body) {
    std::vector<std::string> pairs;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = body.find('&', start);
        pairs.push_back(body.substr(start, end - start));
        if (end == std::string::npos)
            return pairs;
        start = end + 1;
    }
}

StationSnapshot FirstTestModeStep() {
    StationSnapshot s;
    s.freq = L"14.074";
    s.band = L"20m";
    s.mode = L"FT8";
    s.mycall = L"N0CALL";
    s.opcall = L"TEST";
    s.radio = L"Test N1MM";
    s.op_status = L"Is calling";
    s.app = L"N1MM";
    s.call = L"QQ1ABC";
    s.contestname = L"CQ WW DX";
    s.radios = 1;
    return s;
}

} // namespace

TEST(StationUpdateUrl, TrimsTrailingSeparatorsAndKeepsPathsAndIds) {
    struct Case {
        const wchar_t* base;
        const wchar_t* id;
        const wchar_t* url;
    } cases[] = {
        {L"https://dashboard.example.com", L"abc123",
         L"https://dashboard.example.com/?station_update=abc123"},
        {L"https://dashboard.example.com/", L"abc123",
         L"https://dashboard.example.com/?station_update=abc123"},
        {L"https://dashboard.example.com//", L"abc123",
         L"https://dashboard.example.com/?station_update=abc123"},
        {L"https://dashboard.example.com\\", L"abc123",
         L"https://dashboard.example.com/?station_update=abc123"},
        {L"https://dashboard.example.com/\\/\\", L"abc123",
         L"https://dashboard.example.com/?station_update=abc123"},
        {L"https://ham.example.org/wordpress", L"7",
         L"https://ham.example.org/wordpress/?station_update=7"},
        {L"https://ham.example.org/wordpress/", L"7",
         L"https://ham.example.org/wordpress/?station_update=7"},
        {L"http://127.0.0.1:8080", L"7", L"http://127.0.0.1:8080/?station_update=7"},
        {L"///", L"7", L"/?station_update=7"},
        {L"", L"7", L"/?station_update=7"},
        // The ID goes in exactly as typed: no form encoding, no trimming.
        {L"https://d.example.com", L"my id&x=1 ",
         L"https://d.example.com/?station_update=my id&x=1 "},
        {L"https://d.example.com", L"/slash/", L"https://d.example.com/?station_update=/slash/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildStationUpdateUrl(c.base, c.id), c.url) << WideToUtf8(c.base);
}

TEST(FormEncode, KeepsUnreservedTurnsSpaceToPlusAndEscapesEverythingElseUpperCase) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"14.074", "14.074"},
        {"CQ WW DX", "CQ+WW+DX"},
        {"Is calling", "Is+calling"},
        {"QQ1ABC/P", "QQ1ABC%2FP"},
        {"+", "%2B"},
        {"a-b_c.d~e", "a-b_c.d~e"},
        {"*'()!", "%2A%27%28%29%21"},
        {"&=%?#", "%26%3D%25%3F%23"},
        {"\xC3\xBC", "%C3%BC"},
        {std::string("\0\x7F\xFF", 3), "%00%7F%FF"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormEncode(c.in), c.out) << c.in;
}

TEST(FormEncode, EveryByteComesOutPrintableAndDecodesBack) {
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    const std::string encoded = FormEncode(all);
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        ASSERT_TRUE(c > 0x20 && c < 0x7F);
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            const std::string hex = encoded.substr(i + 1, 2);
            ASSERT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
            decoded += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 2;
        } else {
            decoded += c;
        }
    }
    EXPECT_EQ(decoded, all);
    // 66 unreserved bytes stay one byte, the space is one "+", the other 189 take three.
    EXPECT_EQ(encoded.size(), 66u + 1u + 189u * 3u);
}

TEST(ToUtf8, ConvertsNonAsciiAndReplacesLoneSurrogates) {
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(ToUtf8(L"M\u00FCnchen \u20AC"), "M\xC3\xBCnchen \xE2\x82\xAC");
    EXPECT_EQ(ToUtf8(std::wstring(1, wchar_t(0xD800)) + L"A"), "\xEF\xBF\xBD"
                                                               "A");
}

TEST(AppendFormField, JoinsPairsWithAmpersandAndEncodesOnlyTheValue) {
    std::string body;
    AppendFormField(body, "call", L"QQ1ABC/P");
    EXPECT_EQ(body, "call=QQ1ABC%2FP");
    AppendFormField(body, "locator", L"");
    EXPECT_EQ(body, "call=QQ1ABC%2FP&locator=");
    AppendFormField(body, "name with space", L"M\u00FCller & Co");
    EXPECT_EQ(body, "call=QQ1ABC%2FP&locator=&name with space=M%C3%BCller+%26+Co");
}

TEST(PostBody, FirstTestModeStepByteForByte) {
    EXPECT_EQ(BuildPostBody(FirstTestModeStep(), L"k3y/+\u00FC"),
              "freq=14.074&band=20m&mode=FT8&mycall=N0CALL&opcall=TEST&radio=Test+N1MM"
              "&radio_label=Test+N1MM&op_status=Is+calling&locator=&location=&call=QQ1ABC"
              "&contestname=CQ+WW+DX&app=N1MM&api_key=k3y%2F%2B%C3%BC");
}

TEST(PostBody, SecondRadioFieldsOnlyFromTwoRadiosOn) {
    StationSnapshot s = FirstTestModeStep();
    s.freq2 = L"7.074";
    s.band2 = L"40m";
    s.mode2 = L"CW";
    s.radio2 = L"IC-7300 B";
    s.op_status2 = L"Searching";
    const std::vector<std::string> one = {"freq=14.074",
                                          "band=20m",
                                          "mode=FT8",
                                          "mycall=N0CALL",
                                          "opcall=TEST",
                                          "radio=Test+N1MM",
                                          "radio_label=Test+N1MM",
                                          "op_status=Is+calling",
                                          "locator=",
                                          "location=",
                                          "call=QQ1ABC",
                                          "contestname=CQ+WW+DX",
                                          "app=N1MM",
                                          "api_key=K"};
    std::vector<std::string> two(one.begin(), one.end() - 1);
    for (const char* extra :
         {"radios=2", "freq2=7.074", "band2=40m", "mode2=CW", "radio2=IC-7300+B",
          "radio2_label=IC-7300+B", "op_status2=Searching", "api_key=K"})
        two.push_back(extra);

    struct Case {
        int radios;
        const std::vector<std::string>& pairs;
    } cases[] = {{-5, one}, {0, one}, {1, one}, {2, two}, {3, two}, {2147483647, two}};
    for (const Case& c : cases) {
        s.radios = c.radios;
        EXPECT_EQ(Pairs(BuildPostBody(s, L"K")), c.pairs) << c.radios;
    }
    ASSERT_EQ(two.size(), 21u);
    EXPECT_EQ(two[13], "radios=2");
}

TEST(PostBody, EmptySnapshotStillSendsEveryAlwaysField) {
    const std::string body = BuildPostBody(StationSnapshot{}, L"");
    EXPECT_EQ(body, "freq=&band=&mode=&mycall=&opcall=&radio=&radio_label=&op_status=&locator="
                    "&location=&call=&contestname=&app=&api_key=");
    EXPECT_NE(body.front(), '&');
    EXPECT_NE(body.back(), '&');
}
