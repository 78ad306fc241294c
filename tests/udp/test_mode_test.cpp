// The demonstration cycle: its table, its pace, its stop, and that it leaves the parser alone.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sources/udp/test_mode.h"
#include "tests/support/notify_recorder.h"
#include "tests/udp/udp_test_support.h"

namespace {

using namespace std::chrono_literals;

TEST(DemoCycle, SevenStepsThenFromTheTop) {
    const char* const steps[] = {"freq=14.074|band=20m|mode=FT8|", "freq=7.130|band=40m|mode=SSB|",
                                 "freq=21.025|band=15m|mode=CW|",  "freq=3.573|band=80m|mode=FT8|",
                                 "freq=28.480|band=10m|mode=SSB|", "freq=50.313|band=6m|mode=FT8|",
                                 "freq=144.174|band=2m|mode=FT8|"};
    // Calling and searching alternate within the cycle, which starts over after seven steps.
    for (std::uint64_t counter = 0; counter < 21; ++counter)
        EXPECT_EQ(Describe(DemoStepRecord(counter)),
                  steps[counter % 7] + std::string("mycall=N0CALL|opcall=TEST|radio=Test N1MM|") +
                      (counter % 7 % 2 == 0 ? "op_status=Is calling" : "op_status=Is searching") +
                      "|app=N1MM|call=QQ1ABC|contestname=CQ WW DX")
            << counter;
}

struct TestMode : LoggerTest {
    void TearDown() override {
        StopTestMode();
        LoggerTest::TearDown();
    }
    NotifyRecorder recorder;
};

TEST_F(TestMode, StepOneAtOnceStepTwoAboutThreeSecondsLaterStopPromptly) {
    // The parser's radios and call, kept apart from the demo's values.
    ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq><call>K1KI</call>"));
    ParseLoggerDatagram(RadioMessage("<RadioNr>2</RadioNr><Freq>700000</Freq>"));
    const std::uint64_t before = CurrentVersion();
    StartTestMode();
    EXPECT_TRUE(testModeRunning.load());
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() == before + 1; }, 2000ms));
    const auto first = std::chrono::steady_clock::now();
    EXPECT_EQ(Shown(), Describe(DemoStepRecord(0)));
    StartTestMode(); // already on: no second cycle, no restart

    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() >= before + 2; }, 6000ms));
    const auto took = std::chrono::steady_clock::now() - first;
    EXPECT_GE(took, 2500ms);
    EXPECT_LE(took, 4500ms);
    EXPECT_EQ(CurrentVersion(), before + 2);
    EXPECT_EQ(Shown(), Describe(DemoStepRecord(1)));
    // Each step is told to the window, like any source's.
    EXPECT_TRUE(WaitUntil([&] { return recorder.SnapshotChanges() >= 2; }, 2000ms));

    // Mid-wait, the stop comes back well within a slice; the last demo values stay.
    const auto stopping = std::chrono::steady_clock::now();
    StopTestMode();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
    EXPECT_FALSE(testModeRunning.load());
    EXPECT_EQ(Shown(), Describe(DemoStepRecord(1)));
    StopTestMode(); // stopping when off does nothing

    // A new start begins at step one again.
    const std::uint64_t restarted = CurrentVersion();
    StartTestMode();
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() > restarted; }, 2000ms));
    EXPECT_EQ(Shown(), Describe(DemoStepRecord(0)));
    StopTestMode();

    // The next radio message rebuilds the snapshot from the radios and call kept before.
    ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq>"));
    EXPECT_EQ(Shown(), "freq=14.074|band=20m|app=N1MM|call=K1KI|freq2=7.000|band2=40m|radios=2");
}

} // namespace
