// The demonstration cycle: its table, its pace, its stop, and that it leaves the parser alone.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "sources/udp/logger_parser.h"
#include "sources/udp/test_mode.h"
#include "tests/support/notify_recorder.h"
#include "tests/udp/udp_test_support.h"

namespace {

using namespace std::chrono_literals;

struct DemoRow {
    const wchar_t* freq;
    const wchar_t* band;
    const wchar_t* mode;
    const wchar_t* opStatus;
};

TEST(DemoCycle, SevenStepsThenFromTheTop) {
    const std::vector<DemoRow> rows = {
        {L"14.074", L"20m", L"FT8", L"Is calling"}, {L"7.130", L"40m", L"SSB", L"Is searching"},
        {L"21.025", L"15m", L"CW", L"Is calling"},  {L"3.573", L"80m", L"FT8", L"Is searching"},
        {L"28.480", L"10m", L"SSB", L"Is calling"}, {L"50.313", L"6m", L"FT8", L"Is searching"},
        {L"144.174", L"2m", L"FT8", L"Is calling"},
    };
    for (std::uint64_t counter = 0; counter < 3 * rows.size(); ++counter) {
        const DemoRow& row = rows[counter % rows.size()];
        StationSnapshot expected;
        expected.freq = row.freq;
        expected.band = row.band;
        expected.mode = row.mode;
        expected.op_status = row.opStatus;
        expected.mycall = L"N0CALL";
        expected.opcall = L"TEST";
        expected.radio = L"Test N1MM";
        expected.app = L"N1MM";
        expected.call = L"QQ1ABC";
        expected.contestname = L"CQ WW DX";
        expected.radios = 1;
        EXPECT_TRUE(DemoStepRecord(counter) == expected) << counter;
    }
}

class TestMode : public testing::Test {
  protected:
    void SetUp() override { ResetLoggerSource(); }
    void TearDown() override {
        StopTestMode();
        ResetLoggerSource();
    }
    NotifyRecorder recorder;
};

TEST_F(TestMode, StepOneAtOnceStepTwoAboutThreeSecondsLaterStopPromptly) {
    const std::uint64_t before = CurrentVersion();
    StartTestMode();
    EXPECT_TRUE(testModeRunning.load());
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() == before + 1; }, 2000ms));
    const auto first = std::chrono::steady_clock::now();
    EXPECT_TRUE(CurrentSnapshot() == DemoStepRecord(0));
    StartTestMode(); // already on: no second cycle, no restart

    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() >= before + 2; }, 6000ms));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
    EXPECT_GE(seconds, 2.5);
    EXPECT_LE(seconds, 4.5);
    const SnapshotRead second = ReadStationSnapshot();
    EXPECT_EQ(second.version, before + 2);
    EXPECT_TRUE(second.snapshot == DemoStepRecord(1));
    // Each step is told to the window and wakes the poster, like any source.
    EXPECT_TRUE(recorder.WaitFor(
        [](const std::vector<NotifyEvent>& events) {
            int changes = 0;
            for (const NotifyEvent& e : events)
                changes += e.kind == NotifyEvent::SnapshotChanged;
            return changes >= 2;
        },
        2000ms));

    // Mid-wait, the stop comes back well within a slice.
    const auto stopping = std::chrono::steady_clock::now();
    StopTestMode();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
    EXPECT_FALSE(testModeRunning.load());
    // The last demo values stay until a source writes again.
    EXPECT_TRUE(CurrentSnapshot() == DemoStepRecord(1));
}

TEST_F(TestMode, EachStartBeginsAtStepOne) {
    for (int round = 0; round < 3; ++round) {
        RaiseStationUpdate(StationSnapshot{});
        const std::uint64_t before = CurrentVersion();
        StartTestMode();
        ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() > before; }, 2000ms));
        EXPECT_TRUE(CurrentSnapshot() == DemoStepRecord(0)) << round;
        StopTestMode();
    }
    StopTestMode(); // stopping when off does nothing
    EXPECT_FALSE(testModeRunning.load());
}

TEST_F(TestMode, LeavesTheParserStateAlone) {
    ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq><call>K1KI</call>"));
    ParseLoggerDatagram(RadioMessage("<RadioNr>2</RadioNr><Freq>700000</Freq>"));
    const std::uint64_t before = CurrentVersion();
    StartTestMode();
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() > before; }, 2000ms));
    StopTestMode();
    ASSERT_EQ(CurrentSnapshot().call, L"QQ1ABC");
    // The next radio message rebuilds the snapshot from the radios and call kept before.
    ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq>"));
    const StationSnapshot shown = CurrentSnapshot();
    EXPECT_EQ(shown.radios, 2);
    EXPECT_EQ(shown.freq2, L"7.000");
    EXPECT_EQ(shown.call, L"K1KI");
    EXPECT_EQ(shown.app, L"N1MM");
    EXPECT_TRUE(shown.contestname.empty());
}

} // namespace
