// Real datagrams from loggers, each parsed to what a reader of the datagram expects.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "platform/text.h"
#include "sources/udp/logger_parser.h"
#include "tests/support/temp_folder.h"
#include "tests/udp/udp_test_support.h"

namespace fs = std::filesystem;

namespace {

fs::path SamplesFolder() {
    std::string folder = EnvironmentText("CORVANE_SAMPLES_DIR");
#ifdef _WIN32
    if (!folder.empty() && folder[0] == '/')
        folder = "Z:" + folder; // under Wine the host's root is drive Z:
#endif
    return fs::u8path(folder);
}

std::string SampleBytes(const fs::path& file) {
    return FileBytes(file.wstring());
}

struct SampleExpectation {
    bool accepted;
    StationSnapshot shown; // from an empty state
};

StationSnapshot Contact(const wchar_t* call, const wchar_t* contest, const wchar_t* mycall) {
    StationSnapshot s;
    s.call = call;
    s.contestname = contest;
    s.mycall = mycall;
    s.app = L"N1MM"; // nothing had set it before
    return s;
}

StationSnapshot Radio(const wchar_t* freq, const wchar_t* band, const wchar_t* mode,
                      const wchar_t* mycall, const wchar_t* opcall, const wchar_t* radio,
                      const wchar_t* opStatus) {
    StationSnapshot s;
    s.freq = freq;
    s.band = band;
    s.mode = mode;
    s.mycall = mycall;
    s.opcall = opcall;
    s.radio = radio;
    s.op_status = opStatus;
    s.app = L"N1MM";
    return s;
}

// Written by reading each file.
const std::map<std::string, SampleExpectation>& TopLevelExpectations() {
    static const std::map<std::string, SampleExpectation> expectations = {
        {"n1mm-contactdelete-1.xml", {true, Contact(L"K3LR", L"", L"")}},
        {"n1mm-contactdelete-2.xml", {true, Contact(L"W1AW", L"", L"W2XYZ")}},
        {"n1mm-contactdelete-3.xml", {true, Contact(L"W2BBB", L"", L"")}},
        {"n1mm-contactinfo-1.xml", {true, Contact(L"K1KI", L"ARRLDXSSB", L"M0BPQ")}},
        {"n1mm-contactinfo-2.xml", {true, Contact(L"W3LL", L"ARRLDXSSB", L"M0BPQ")}},
        {"n1mm-contactinfo-3.xml", {true, Contact(L"W1AW", L"CWOPS", L"W2XYZ")}},
        {"n1mm-contactreplace-1.xml", {true, Contact(L"K3LR", L"ARRLDXSSB", L"M0BPQ")}},
        {"rumlog-contactinfo-1.xml", {true, Contact(L"DL2RUM", L"Rag Chewing", L"DL2RUM")}},
        // Freq 352211 tens of Hz; RadioName present but empty; no call or contest.
        {"n1mm-radioinfo-1.xml",
         {true, Radio(L"3.522", L"80m", L"CW", L"W1ABC", L"W1ABC", L"", L"Is searching")}},
        // Radio 2 alone is shown as the first radio; no app element, no locator: N1MM.
        {"n1mm-radioinfo-2.xml",
         {true, Radio(L"21.200", L"15m", L"CW", L"", L"PA1M", L"", L"Is searching")}},
        // "<? xml" is passed over like any declaration.
        {"n1mm-radioinfo-3.xml",
         {true, Radio(L"14.059", L"20m", L"USB", L"", L"W7DM", L"Manual", L"Is searching")}},
        // TXFreq is no Freq: ignored.
        {"n1mm-radioinfo-4.xml", {false, StationSnapshot{}}},
    };
    return expectations;
}

class SampleDatagrams : public testing::Test {
  protected:
    void SetUp() override {
        if (EnvironmentText("CORVANE_SAMPLES_DIR").empty())
            GTEST_SKIP() << "CORVANE_SAMPLES_DIR not set";
        ASSERT_TRUE(fs::is_directory(SamplesFolder())) << SamplesFolder().string();
        ResetLoggerSource();
    }
    void TearDown() override { ResetLoggerSource(); }
};

TEST_F(SampleDatagrams, EachTopLevelSampleFromAnEmptyState) {
    std::vector<std::string> seen;
    for (const auto& entry : fs::directory_iterator(SamplesFolder())) {
        if (!entry.is_regular_file() || entry.path().extension() != ".xml")
            continue;
        const std::string name = entry.path().filename().string();
        seen.push_back(name);
        const auto found = TopLevelExpectations().find(name);
        if (found == TopLevelExpectations().end()) {
            ADD_FAILURE() << "no expectation written for sample " << name;
            continue;
        }
        ResetLoggerSource();
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(SampleBytes(entry.path()));
        EXPECT_EQ(CurrentVersion() - before, found->second.accepted ? 1u : 0u) << name;
        EXPECT_TRUE(CurrentSnapshot() == found->second.shown) << name;
    }
    EXPECT_EQ(seen.size(), TopLevelExpectations().size());
}

TEST_F(SampleDatagrams, RadiosTwoAndOneTogether) {
    ParseLoggerDatagram(SampleBytes(SamplesFolder() / "n1mm-radioinfo-2.xml"));
    ParseLoggerDatagram(SampleBytes(SamplesFolder() / "n1mm-radioinfo-1.xml"));
    ParseLoggerDatagram(SampleBytes(SamplesFolder() / "n1mm-contactinfo-3.xml"));
    StationSnapshot expected =
        Radio(L"3.522", L"80m", L"CW", L"W1ABC", L"W1ABC", L"", L"Is searching");
    expected.radios = 2;
    expected.freq2 = L"21.200";
    expected.band2 = L"15m";
    expected.mode2 = L"CW";
    expected.op_status2 = L"Is searching";
    expected.call = L"W1AW";
    expected.contestname = L"CWOPS";
    expected.mycall = L"W2XYZ";
    EXPECT_TRUE(CurrentSnapshot() == expected);
}

// The whole contest capture replayed in receive order. Adds and replaces carry the contest and
// the station's call; deletes carry only the call, so they clear the contest and keep mycall.
TEST_F(SampleDatagrams, ContestCaptureReplayedInOrder) {
    const fs::path capture = SamplesFolder() / "gb2gp-2018";
    if (!fs::is_directory(capture))
        GTEST_SKIP() << "no capture folder";
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(capture))
        if (entry.is_regular_file() && entry.path().extension() == ".xml")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    ASSERT_EQ(files.size(), 1424u);

    const std::regex callElement("<call>([A-Z0-9/]+)</call>");
    std::wstring mycall;
    int mismatches = 0;
    for (const fs::path& file : files) {
        const std::string bytes = SampleBytes(file);
        std::smatch match;
        ASSERT_TRUE(std::regex_search(bytes, match, callElement)) << file.string();
        const bool isDelete = file.parent_path().filename() == "ContactDelete";
        if (!isDelete)
            mycall = L"M0BPQ";

        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(bytes);
        StationSnapshot expected;
        expected.call = Utf8ToWide(match[1].str());
        expected.contestname = isDelete ? L"" : L"ARRLDXSSB";
        expected.mycall = mycall;
        expected.app = L"N1MM";
        const bool same = CurrentSnapshot() == expected && CurrentVersion() == before + 1;
        if (!same && ++mismatches <= 5)
            ADD_FAILURE() << "after " << file.string();
    }
    EXPECT_EQ(mismatches, 0);
}

} // namespace
