#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/text.h"
#include "posting/post_payload.h"

namespace {

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

const std::string kFirstStepFields =
    "freq=14.074&band=20m&mode=FT8&mycall=N0CALL&opcall=TEST&radio=Test+N1MM"
    "&radio_label=Test+N1MM&op_status=Is+calling&locator=&location=&call=QQ1ABC"
    "&contestname=CQ+WW+DX&app=N1MM";

} // namespace

TEST(StationUpdateUrl, TrimsTrailingSeparatorsAndKeepsPathsAndIds) {
    for (const wchar_t* base : {L"https://d.example.com", L"https://d.example.com//",
                                L"https://d.example.com\\", L"https://d.example.com/\\/\\"})
        EXPECT_EQ(BuildStationUpdateUrl(base, L"abc"), L"https://d.example.com/?station_update=abc")
            << WideToUtf8(base);
    EXPECT_EQ(BuildStationUpdateUrl(L"http://h:8080/wp/", L"7"),
              L"http://h:8080/wp/?station_update=7");
    EXPECT_EQ(BuildStationUpdateUrl(L"///", L"7"), L"/?station_update=7");
    EXPECT_EQ(BuildStationUpdateUrl(L"", L"7"), L"/?station_update=7");
    // The ID is one query value whatever it holds: percent-encoded as UTF-8, never trimmed.
    EXPECT_EQ(BuildStationUpdateUrl(L"h", L" my id&x=1/+\u00FC"),
              L"h/?station_update=%20my%20id%26x%3D1%2F%2B%C3%BC");
}

TEST(FormEncode, KeepsUnreservedTurnsSpaceToPlusAndEscapesEverythingElseUpperCase) {
    const std::pair<std::string, std::string> cases[] = {
        {"a-b_c.d~e09AZ", "a-b_c.d~e09AZ"},
        {"CQ WW DX", "CQ+WW+DX"},
        {"QQ1ABC/P+", "QQ1ABC%2FP%2B"},
        {"*'()!&=%?#", "%2A%27%28%29%21%26%3D%25%3F%23"},
        {"\xC3\xBC", "%C3%BC"},
        {std::string("\0\x7F\xFF", 3), "%00%7F%FF"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(FormEncode(in), out) << in;
}

TEST(AppendFormField, JoinsPairsWithAmpersandAndEncodesOnlyTheValueAsUtf8) {
    std::string body;
    AppendFormField(body, "call", L"QQ1ABC/P");
    AppendFormField(body, "locator", L"");
    AppendFormField(body, "name with space", L"M\u00FCller & Co \u20AC");
    EXPECT_EQ(body, "call=QQ1ABC%2FP&locator=&name with space=M%C3%BCller+%26+Co+%E2%82%AC");
}

TEST(PostBody, FirstTestModeStepByteForByte) {
    EXPECT_EQ(BuildPostBody(FirstTestModeStep(), L"k3y/+\u00FC"),
              kFirstStepFields + "&api_key=k3y%2F%2B%C3%BC");
}

TEST(PostBody, SecondRadioFieldsOnlyFromTwoRadiosOn) {
    StationSnapshot s = FirstTestModeStep();
    s.freq2 = L"7.074";
    s.band2 = L"40m";
    s.mode2 = L"CW";
    s.radio2 = L"IC-7300 B";
    s.op_status2 = L"Searching";
    const std::string one = kFirstStepFields + "&api_key=K";
    const std::string two = kFirstStepFields +
                            "&radios=2&freq2=7.074&band2=40m&mode2=CW&radio2=IC-7300+B"
                            "&radio2_label=IC-7300+B&op_status2=Searching&api_key=K";
    for (const int radios : {-5, 0, 1, 2, 3, INT_MAX}) {
        s.radios = radios;
        EXPECT_EQ(BuildPostBody(s, L"K"), radios >= 2 ? two : one) << radios;
    }
}

TEST(PostBody, EmptySnapshotStillSendsEveryAlwaysField) {
    EXPECT_EQ(BuildPostBody(StationSnapshot{}, L""),
              "freq=&band=&mode=&mycall=&opcall=&radio=&radio_label=&op_status=&locator="
              "&location=&call=&contestname=&app=&api_key=");
}
