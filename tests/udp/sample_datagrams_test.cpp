// Real datagrams from loggers, each parsed to what a reader of the datagram expects.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "tests/udp/udp_test_support.h"

namespace fs = std::filesystem;

namespace {

// Written by reading each file; "" for a datagram that changes nothing.
const std::map<std::string, std::string> kExpected = {
    {"n1mm-contactdelete-1.xml", ""},
    {"n1mm-contactdelete-2.xml", ""},
    {"n1mm-contactdelete-3.xml", ""},
    {"n1mm-contactinfo-1.xml", "mycall=M0BPQ|app=N1MM|call=K1KI|contestname=ARRLDXSSB"},
    {"n1mm-contactinfo-2.xml", "mycall=M0BPQ|app=N1MM|call=W3LL|contestname=ARRLDXSSB"},
    {"n1mm-contactinfo-3.xml", "mycall=W2XYZ|app=N1MM|call=W1AW|contestname=CWOPS"},
    {"n1mm-contactreplace-1.xml", "mycall=M0BPQ|app=N1MM|call=K3LR|contestname=ARRLDXSSB"},
    {"rumlog-contactinfo-1.xml", "mycall=DL2RUM|app=N1MM|call=DL2RUM|contestname=Rag Chewing"},
    // Freq 352211 tens of Hz; RadioName present but empty; no call or contest.
    {"n1mm-radioinfo-1.xml",
     "freq=3.522|band=80m|mode=CW|mycall=W1ABC|opcall=W1ABC|op_status=Is searching|app=N1MM"},
    // Radio 2 alone is shown as the first radio; no app element, no locator: N1MM.
    {"n1mm-radioinfo-2.xml",
     "freq=21.200|band=15m|mode=CW|opcall=PA1M|op_status=Is searching|app=N1MM"},
    // "<? xml" is passed over like any declaration.
    {"n1mm-radioinfo-3.xml",
     "freq=14.059|band=20m|mode=USB|opcall=W7DM|radio=Manual|op_status=Is searching|app=N1MM"},
    // TXFreq is no Freq: ignored.
    {"n1mm-radioinfo-4.xml", ""},
};

class SampleDatagrams : public LoggerTest {
  protected:
    void SetUp() override {
        samples = fs::u8path(HostFolder("CORVANE_SAMPLES_DIR"));
        ASSERT_TRUE(fs::is_directory(samples)) << samples.string();
        LoggerTest::SetUp();
    }
    static std::string Bytes(const fs::path& file) { return FileBytes(file.wstring()); }
    fs::path samples;
};

TEST_F(SampleDatagrams, EachTopLevelSampleFromAnEmptyState) {
    std::size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        if (entry.path().extension() != ".xml")
            continue;
        const std::string name = entry.path().filename().string();
        ++seen;
        ASSERT_EQ(kExpected.count(name), 1u) << "no expectation written for sample " << name;
        ResetLoggerSource();
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(Bytes(entry.path()));
        EXPECT_EQ(CurrentVersion() - before, kExpected.at(name).empty() ? 0u : 1u) << name;
        EXPECT_EQ(Shown(), kExpected.at(name)) << name;
    }
    EXPECT_EQ(seen, kExpected.size());
}

TEST_F(SampleDatagrams, RadiosTwoAndOneThenAContact) {
    for (const char* name :
         {"n1mm-radioinfo-2.xml", "n1mm-radioinfo-1.xml", "n1mm-contactinfo-3.xml"})
        ParseLoggerDatagram(Bytes(samples / name));
    EXPECT_EQ(Shown(), "freq=3.522|band=80m|mode=CW|mycall=W2XYZ|opcall=W1ABC|op_status=Is "
                       "searching|app=N1MM|call=W1AW|contestname=CWOPS|freq2=21.200|band2=15m|"
                       "mode2=CW|op_status2=Is searching|radios=2");
}

// The whole contest capture replayed in receive order. Adds and replaces carry the contest and
// the station's call; deletes change nothing.
TEST_F(SampleDatagrams, ContestCaptureReplayedInOrder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(samples / "gb2gp-2018"))
        if (entry.path().extension() == ".xml")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    ASSERT_EQ(files.size(), 1424u);
    const std::regex callElement("<call>([A-Z0-9/]+)</call>");
    std::string expected; // nothing until the first add: the capture starts with a delete
    int mismatches = 0;
    for (const fs::path& file : files) {
        const std::string bytes = Bytes(file);
        std::smatch call;
        ASSERT_TRUE(std::regex_search(bytes, call, callElement)) << file.string();
        const bool isDelete = file.parent_path().filename() == "ContactDelete";
        if (!isDelete)
            expected = "mycall=M0BPQ|app=N1MM|call=" + call[1].str() + "|contestname=ARRLDXSSB";
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(bytes);
        if ((Shown() != expected || CurrentVersion() != before + !isDelete) && ++mismatches <= 5)
            ADD_FAILURE() << "after " << file.string() << ": " << Shown();
    }
    EXPECT_EQ(mismatches, 0);
}

} // namespace
