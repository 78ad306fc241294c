#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "core/settings.h"
#include "core/station_snapshot.h"
#include "sources/hrd/hrd_poller.h"
#include "sources/hrd/hrd_protocol.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::wstring kConnecting = L"Connecting...";
const std::wstring kNotReachable = L"HRD not reachable \u2014 retrying";
const std::wstring kReconnecting = L"Reconnecting...";
const std::wstring kStopped = L"Stopped";

std::wstring Connected(const std::wstring& radio) {
    return L"Connected \u2014 " + radio;
}

void ConfigureHrd(const std::wstring& host, int port, int interval,
                  const std::wstring& myCall = L"N0CALL", const std::wstring& opCall = L"OP1") {
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    settings.hrdHost = host;
    settings.hrdPort = port;
    settings.hrdIntervalSeconds = interval;
    settings.hrdMyCall = myCall;
    settings.hrdOperator = opCall;
}

int Count(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

// What another source had published before HRD took over.
StationSnapshot OtherSourcesRecord() {
    StationSnapshot record;
    record.freq = L"7.010";
    record.band = L"40m";
    record.mode = L"CW";
    record.radio = L"Logger radio";
    record.op_status = L"RUN";
    record.locator = L"JO62";
    record.location = L"Berlin";
    record.app = L"N1MM";
    record.call = L"DL1ABC";
    record.contestname = L"CQWW";
    record.freq2 = L"14.020";
    record.band2 = L"20m";
    record.mode2 = L"CW";
    record.radio2 = L"Second";
    record.op_status2 = L"S&P";
    record.radios = 2;
    return record;
}

class HrdPollerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(StartHrdSim(sim));
        ConfigureHrd(L"127.0.0.1", sim.port, 1);
        {
            std::lock_guard<std::mutex> lock(snapshotMutex);
            stationSnapshot = OtherSourcesRecord();
        }
        {
            std::lock_guard<std::mutex> lock(postSignal.mutex);
            postSignal.postRequested = false;
        }
        startVersion = ReadStationSnapshot().version;
    }
    void TearDown() override { StopHrdPoller(); }

    bool WaitForText(const std::wstring& text, int count = 1,
                     std::chrono::milliseconds limit = 8s) {
        return recorder.WaitFor(
            [&](const std::vector<NotifyEvent>& events) {
                int seen = 0;
                for (const NotifyEvent& event : events)
                    seen += event.kind == NotifyEvent::HrdStatus && event.text == text;
                return seen >= count;
            },
            limit);
    }
    bool WaitForPolls(int count, std::chrono::milliseconds limit = 8s) {
        return recorder.WaitFor(
            [&](const std::vector<NotifyEvent>& events) {
                int seen = 0;
                for (const NotifyEvent& event : events)
                    seen += event.kind == NotifyEvent::SnapshotChanged;
                return seen >= count;
            },
            limit);
    }
    std::chrono::milliseconds TimedStop() {
        const auto start = Clock::now();
        StopHrdPoller();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }
    std::string Dump() { return FileBytes(data.File(kHrdControlsFileName)); }

    TempDataFolder data;
    NotifyRecorder recorder;
    HrdSim sim;
    std::uint64_t startVersion = 0;
};

TEST_F(HrdPollerTest, ConnectsLearnsTheRadioAndPublishesAWholeRecord) {
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));

    StationSnapshot expected;
    expected.freq = L"14.074";
    expected.band = L"20m";
    expected.mode = L"USB";
    expected.mycall = L"N0CALL";
    expected.opcall = L"OP1";
    expected.radio = L"IC-7300";
    expected.app = L"HRD";
    expected.radios = 1;
    EXPECT_EQ(ReadStationSnapshot().snapshot, expected);

    EXPECT_EQ(Dump(), "HRD radio: IC-7300\r\n"
                      "get mode -> 'USB'\r\n"
                      "chosen mode command -> '[1] get mode'\r\n");

    const std::vector<HrdSimCommand> commands = HrdSimCommands(sim);
    const std::vector<std::wstring> opening = {
        L"Get ID",       L"Get Context",       L"Get Radio",
        L"[1] get mode", L"[1] get frequency", L"[1] get mode"};
    ASSERT_GE(commands.size(), opening.size());
    for (std::size_t i = 0; i < opening.size(); ++i)
        EXPECT_EQ(commands[i].text, opening[i]);
    EXPECT_EQ(commands[0].frame, BuildHrdFrame(L"Get ID"));

    StopHrdPoller();
    EXPECT_EQ(recorder.HrdTexts(),
              (std::vector<std::wstring>{kConnecting, Connected(L"IC-7300"), kStopped}));
}

TEST_F(HrdPollerTest, WithoutAGetModeAnswerEveryPollUsesTheDropdown) {
    HrdSimScript script;
    script.modeReply = L" \r\n";
    script.radioReply = L" FT-991A \u00C4\r\n";
    script.dropdownModeReply = L"Mode: LSB";
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(2));
    StopHrdPoller();

    EXPECT_EQ(Dump(), "HRD radio: FT-991A \xC3\x84\r\n"
                      "get mode -> ''\r\n"
                      "chosen mode command -> '[1] get dropdown-text {Main~Mode}'\r\n");
    const std::vector<HrdSimCommand> commands = HrdSimCommands(sim);
    EXPECT_EQ(CountHrdSimCommands(commands, kHrdGetMode), 1); // the probe alone
    const int polls = CountHrdSimCommands(commands, kHrdGetFrequency);
    EXPECT_GE(polls, 2);
    EXPECT_EQ(CountHrdSimCommands(commands, kHrdGetDropdownMode), polls);
    for (std::size_t i = 4; i < commands.size(); ++i)
        EXPECT_EQ(commands[i].text,
                  i % 2 == 0 ? L"[1] get frequency" : L"[1] get dropdown-text {Main~Mode}");
    EXPECT_EQ(ReadStationSnapshot().snapshot.mode, L"LSB");
    EXPECT_EQ(ReadStationSnapshot().snapshot.radio, L"FT-991A \u00C4");
    EXPECT_EQ(Count(recorder.HrdTexts(), Connected(L"FT-991A \u00C4")), 1);
}

TEST_F(HrdPollerTest, BlankContextAndRadioGiveContextZeroAndABareConnectedText) {
    HrdSimScript script;
    script.contextReply = L" \t\r\n";
    script.radioReply = L"";
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));
    StopHrdPoller();
    const std::vector<HrdSimCommand> commands = HrdSimCommands(sim);
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(commands[3].text, L"[0] get mode");
    EXPECT_EQ(commands[4].text, L"[0] get frequency");
    EXPECT_EQ(Count(recorder.HrdTexts(), L"Connected \u2014 "), 1);
    EXPECT_EQ(ReadStationSnapshot().snapshot.radio, L"");
}

TEST_F(HrdPollerTest, EveryPollAddsOneToVersionAndRequestsAPost) {
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(3));
    StopHrdPoller();
    const SnapshotRead read = ReadStationSnapshot();
    const int published = static_cast<int>(read.version - startVersion);
    EXPECT_GE(published, 3);
    // Same values every time, yet every poll counts and tells the window once.
    EXPECT_TRUE(WaitForPolls(published, 2s));
    EXPECT_FALSE(WaitForPolls(published + 1, 200ms));
    EXPECT_EQ(published, CountHrdSimCommands(HrdSimCommands(sim), kHrdGetFrequency));
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    EXPECT_TRUE(postSignal.postRequested);
}

TEST_F(HrdPollerTest, ZeroFrequencyStillPublishesTheRest) {
    HrdSimScript script;
    script.frequencyReply = L"0";
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));
    const StationSnapshot snapshot = ReadStationSnapshot().snapshot;
    EXPECT_EQ(snapshot.freq, L"");
    EXPECT_EQ(snapshot.band, L"");
    EXPECT_EQ(snapshot.mode, L"USB");
    EXPECT_EQ(snapshot.mycall, L"N0CALL");
    EXPECT_EQ(snapshot.opcall, L"OP1");
    EXPECT_EQ(snapshot.radio, L"IC-7300");
    EXPECT_EQ(snapshot.app, L"HRD");
    EXPECT_EQ(snapshot.radios, 1);
}

TEST_F(HrdPollerTest, FailedModeReadStillPublishesWithAnEmptyMode) {
    HrdSimScript script;
    script.fault = HrdSimCloseAfterLength;
    script.faultCommand = L"get mode";
    script.faultAfter = 1; // the probe is answered, the first poll's mode read is not
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));
    const StationSnapshot snapshot = ReadStationSnapshot().snapshot;
    EXPECT_EQ(snapshot.freq, L"14.074");
    EXPECT_EQ(snapshot.mode, L"");
    // The connection is gone, so the next poll fails and the poller reconnects.
    EXPECT_TRUE(WaitForText(kReconnecting));
    EXPECT_TRUE(WaitForText(Connected(L"IC-7300"), 2));
}

TEST_F(HrdPollerTest, ReconnectsAfterTheServerDrops) {
    HrdSimScript script;
    script.dropAfterPolls = 1;
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForText(Connected(L"IC-7300"), 2));
    StopHrdPoller();
    const std::vector<std::wstring> texts = recorder.HrdTexts();
    const std::vector<std::wstring> expected = {kConnecting, Connected(L"IC-7300"), kReconnecting,
                                                kConnecting, Connected(L"IC-7300")};
    ASSERT_GE(texts.size(), expected.size());
    EXPECT_EQ(std::vector<std::wstring>(texts.begin(), texts.begin() + 5), expected);
    EXPECT_EQ(texts.back(), kStopped);
    EXPECT_GE(HrdSimConnections(sim), 2);
}

TEST_F(HrdPollerTest, DropHrdConnectionReadsChangedSettings) {
    HrdSim other;
    HrdSimScript otherScript;
    otherScript.radioReply = L"FT-991A";
    otherScript.contextReply = L"2";
    ASSERT_TRUE(StartHrdSim(other, otherScript));
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));

    ConfigureHrd(L"127.0.0.1", other.port, 1, L"K1ABC", L"K1XYZ");
    DropHrdConnection();
    ASSERT_TRUE(WaitForText(Connected(L"FT-991A")));
    EXPECT_EQ(Count(recorder.HrdTexts(), kReconnecting), 1);
    ASSERT_TRUE(WaitForHrdSim(
        other, [](const auto& c) { return CountHrdSimCommands(c, kHrdGetMode) >= 2; }, 5s));
    ASSERT_TRUE(WaitForPolls(2));
    StopHrdPoller();
    const StationSnapshot snapshot = ReadStationSnapshot().snapshot;
    EXPECT_EQ(snapshot.mycall, L"K1ABC");
    EXPECT_EQ(snapshot.opcall, L"K1XYZ");
    EXPECT_EQ(snapshot.radio, L"FT-991A");
    EXPECT_EQ(HrdSimCommands(other).back().text.substr(0, 4), L"[2] ");
}

TEST_F(HrdPollerTest, StopDuringTheWaitBetweenPollsIsPrompt) {
    ConfigureHrd(L"127.0.0.1", sim.port, 5);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));
    EXPECT_LT(TimedStop(), 400ms);
    const std::vector<std::wstring> texts = recorder.HrdTexts();
    EXPECT_EQ(Count(texts, kReconnecting), 0);
    EXPECT_EQ(texts.back(), kStopped);
}

TEST_F(HrdPollerTest, StopWhileAnExchangeWaitsForASilentServerIsPrompt) {
    HrdSimScript script;
    script.fault = HrdSimSilent;
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForHrdSim(
        sim, [](const auto& c) { return !c.empty(); }, 5s));
    EXPECT_LT(TimedStop(), 1000ms);
    EXPECT_EQ(recorder.HrdTexts(), (std::vector<std::wstring>{kConnecting, kStopped}));
}

TEST_F(HrdPollerTest, BadGetIdRepliesRetryAtOnceWithoutAStatusChange) {
    for (HrdSimFault fault : {HrdSimCloseAfterLength, HrdSimShortLength, HrdSimHugeLength}) {
        SCOPED_TRACE(int(fault));
        recorder.Clear();
        HrdSimScript script;
        script.fault = fault;
        script.faultCommand = L"Get ID";
        ASSERT_TRUE(StartHrdSim(sim, script));
        ConfigureHrd(L"127.0.0.1", sim.port, 1);
        StartHrdPoller();
        // No pause between attempts: three connections come well within a second.
        EXPECT_TRUE(WaitForHrdSim(
            sim, [](const auto& c) { return CountHrdSimCommands(c, kHrdGetId) >= 3; }, 1500ms));
        EXPECT_LT(TimedStop(), 1000ms);
        const std::vector<std::wstring> texts = recorder.HrdTexts();
        EXPECT_EQ(Count(texts, kConnecting) + 1, static_cast<int>(texts.size()));
        EXPECT_EQ(texts.back(), kStopped);
        EXPECT_EQ(ReadStationSnapshot().version, startVersion);
    }
}

TEST_F(HrdPollerTest, NothingListeningRetriesEveryThreeSecondsUntilHrdAppears) {
    ASSERT_TRUE(SetHrdSimRefusing(sim, true));
    StartHrdPoller();
    ASSERT_TRUE(WaitForText(kNotReachable));
    const auto failed = Clock::now();
    ASSERT_TRUE(WaitForText(kConnecting, 2));
    const auto retried = Clock::now();
    EXPECT_GE(retried - failed, 2800ms);
    EXPECT_LT(retried - failed, 4500ms);
    ASSERT_TRUE(WaitForText(kNotReachable, 2));
    EXPECT_EQ(ReadStationSnapshot().version, startVersion);
    EXPECT_EQ(ReadStationSnapshot().snapshot, OtherSourcesRecord());

    ASSERT_TRUE(SetHrdSimRefusing(sim, false));
    ASSERT_TRUE(WaitForText(Connected(L"IC-7300")));
    const std::vector<std::wstring> texts = recorder.HrdTexts();
    for (std::size_t i = 0; i + 1 < texts.size(); ++i)
        EXPECT_EQ(texts[i], i % 2 == 0 ? kConnecting : kNotReachable);
}

TEST_F(HrdPollerTest, StopWhileWaitingToRetryIsPrompt) {
    ASSERT_TRUE(SetHrdSimRefusing(sim, true));
    StartHrdPoller();
    ASSERT_TRUE(WaitForText(kNotReachable));
    EXPECT_LT(TimedStop(), 400ms);
    EXPECT_EQ(recorder.HrdTexts(),
              (std::vector<std::wstring>{kConnecting, kNotReachable, kStopped}));
}

TEST_F(HrdPollerTest, OnlyNumericIpv4HostsAreUsedOthersMeanThisComputer) {
    struct Case {
        std::wstring host;
        bool reachesSimulator;
    };
    const Case cases[] = {
        {L"", true},           {L"localhost", true},   {L"hrd.invalid", true},
        {L"::1", true},        {L"127.0.0.256", true}, {L"127.0.0.02", true},
        {L"127.0.0.2 ", true}, {L"2130706434", true}, // 127.0.0.2 to some parsers, no dotted quad
        {L"127.0.0.1", true},  {L"127.0.0.2", false}, // honoured, and nothing listens there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host.begin(), c.host.end()));
        recorder.Clear();
        ConfigureHrd(c.host, sim.port, 1);
        StartHrdPoller();
        EXPECT_TRUE(WaitForText(c.reachesSimulator ? Connected(L"IC-7300") : kNotReachable));
        StopHrdPoller();
        EXPECT_EQ(Count(recorder.HrdTexts(), kNotReachable), c.reachesSimulator ? 0 : 1);
    }
}

TEST_F(HrdPollerTest, IntervalBelowOneMeansTwoSecondsBetweenPolls) {
    ConfigureHrd(L"127.0.0.1", sim.port, 0);
    StartHrdPoller();
    ASSERT_TRUE(WaitForHrdSim(
        sim, [](const auto& c) { return CountHrdSimCommands(c, kHrdGetFrequency) >= 2; }, 8s));
    StopHrdPoller();
    std::vector<Clock::time_point> polls;
    for (const HrdSimCommand& command : HrdSimCommands(sim))
        if (command.text == L"[1] get frequency")
            polls.push_back(command.received);
    ASSERT_GE(polls.size(), 2u);
    EXPECT_GE(polls[1] - polls[0], 1950ms);
    EXPECT_LT(polls[1] - polls[0], 3000ms);
}

TEST(HrdPollerControl, StopWithoutStartAndStartTwice) {
    StopHrdPoller(); // never started: nothing to do
    EXPECT_FALSE(hrdRunning.load());

    TempDataFolder data;
    NotifyRecorder recorder;
    HrdSim sim;
    ASSERT_TRUE(StartHrdSim(sim));
    ConfigureHrd(L"127.0.0.1", sim.port, 1);
    StartHrdPoller();
    StartHrdPoller();
    EXPECT_TRUE(recorder.WaitFor(
        [](const std::vector<NotifyEvent>& events) {
            int polls = 0;
            for (const NotifyEvent& event : events)
                polls += event.kind == NotifyEvent::SnapshotChanged;
            return polls >= 2;
        },
        8s));
    StopHrdPoller();
    EXPECT_EQ(HrdSimConnections(sim), 1);
    EXPECT_EQ(hrdSocket.load(), kInvalidSocket);
    StopHrdPoller(); // a second stop finds nothing to do
}

} // namespace
