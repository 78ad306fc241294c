#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

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
using Texts = std::vector<std::wstring>;

const std::wstring kConnecting = L"Connecting...";
const std::wstring kNotReachable = L"HRD not reachable \u2014 retrying";
const std::wstring kReconnecting = L"Reconnecting...";
const std::wstring kStopped = L"Stopped";
const std::wstring kConnected = L"Connected \u2014 IC-7300";

void ConfigureHrd(const std::wstring& host, int port, int interval,
                  const std::wstring& myCall = L"N0CALL", const std::wstring& opCall = L"OP1") {
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    settings.hrdHost = host;
    settings.hrdPort = port;
    settings.hrdIntervalSeconds = interval;
    settings.hrdMyCall = myCall;
    settings.hrdOperator = opCall;
}

class HrdPollerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(StartHrdSim(sim));
        ConfigureHrd(L"127.0.0.1", sim.port, 1);
        {
            std::lock_guard<std::mutex> lock(snapshotMutex);
            stationSnapshot = other;
        }
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        postSignal.postRequested = false;
        startVersion = ReadStationSnapshot().version;
    }
    void TearDown() override { StopHrdPoller(); }

    int Count(const std::wstring& text) {
        const Texts texts = recorder.HrdTexts();
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }
    bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 8s) {
        for (const auto end = Clock::now() + limit; !done(); std::this_thread::sleep_for(2ms))
            if (Clock::now() > end)
                return false;
        return true;
    }
    bool WaitForText(const std::wstring& text, int count = 1) {
        return WaitUntil([&] { return Count(text) >= count; });
    }
    bool WaitForPolls(int count, std::chrono::milliseconds limit = 8s) {
        return WaitUntil([&] { return recorder.SnapshotChanges() >= count; }, limit);
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
    // What another source had published before HRD took over: every field set.
    const StationSnapshot other{L"7.010", L"40m",          L"CW",     L"DL1ABC", L"DL2XYZ",
                                L"K3",    L"Is calling",   L"JO62",   L"Berlin", L"N1MM",
                                L"W1AW",  L"CQWW",         L"14.020", L"20m",    L"SSB",
                                L"K2",    L"Is searching", 2};
    std::uint64_t startVersion = 0;
};

TEST_F(HrdPollerTest, ConnectsLearnsTheRadioAndPublishesEachPoll) {
    StopHrdPoller(); // never started: nothing to do, no status text
    StartHrdPoller();
    StartHrdPoller(); // already running: no second worker
    ASSERT_TRUE(WaitForPolls(3));
    StopHrdPoller();

    // A whole record: freq, band, mode, mycall, opcall, radio and app; the others' fields cleared.
    const StationSnapshot expected{L"14.074", L"20m", L"USB", L"N0CALL", L"OP1", L"IC-7300",
                                   L"",       L"",    L"",    L"HRD",    L"",    L"",
                                   L"",       L"",    L"",    L"",       L"",    1};
    EXPECT_EQ(ReadStationSnapshot().snapshot, expected);
    EXPECT_EQ(Dump(), "HRD radio: IC-7300\r\nget mode -> 'USB'\r\n"
                      "chosen mode command -> '[1] get mode'\r\n");
    const std::vector<HrdSimCommand> commands = HrdSimCommands(sim);
    const Texts opening = {L"Get ID",       L"Get Context",       L"Get Radio",
                           L"[1] get mode", L"[1] get frequency", L"[1] get mode"};
    ASSERT_GE(commands.size(), opening.size());
    for (std::size_t i = 0; i < opening.size(); ++i)
        EXPECT_EQ(commands[i].text, opening[i]);

    // Same values every time, yet every poll counts, tells the window once and wakes the poster.
    const int polls = CountHrdSimCommands(commands, kHrdGetFrequency);
    EXPECT_EQ(ReadStationSnapshot().version - startVersion, std::uint64_t(polls));
    EXPECT_TRUE(WaitForPolls(polls, 2s));
    EXPECT_FALSE(WaitForPolls(polls + 1, 200ms));
    {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        EXPECT_TRUE(postSignal.postRequested);
    }
    EXPECT_EQ(HrdSimConnections(sim), 1);
    EXPECT_EQ(hrdSocket.handle.load(), kInvalidSocket);
    EXPECT_EQ(recorder.HrdTexts(), (Texts{kConnecting, kConnected, kStopped}));
}

// Also with replies sent a byte at a time and padded with NUL units.
TEST_F(HrdPollerTest, BlankContextNoGetModeAnswerAndZeroFrequency) {
    HrdSimScript script;
    script.oneBytePerSend = true;
    script.trailingNuls = 3;
    script.contextReply = L" \t\r\n";
    script.modeReply = L" \r\n";
    script.radioReply = L" FT-991A \u00C4\r\n";
    script.dropdownModeReply = L"Mode: LSB";
    script.frequencyReply = L"0";
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(2));
    StopHrdPoller();

    EXPECT_EQ(Dump(), "HRD radio: FT-991A \xC3\x84\r\nget mode -> ''\r\n"
                      "chosen mode command -> '[0] get dropdown-text {Main~Mode}'\r\n");
    // The probe is the only "get mode"; every poll reads the dropdown instead.
    const std::vector<HrdSimCommand> commands = HrdSimCommands(sim);
    ASSERT_GE(commands.size(), 8u);
    for (std::size_t i = 3; i < commands.size(); ++i)
        EXPECT_EQ(commands[i].text, i == 3       ? L"[0] get mode"
                                    : i % 2 == 0 ? L"[0] get frequency"
                                                 : L"[0] get dropdown-text {Main~Mode}");
    // No frequency, yet the rest is published.
    const StationSnapshot s = ReadStationSnapshot().snapshot;
    EXPECT_EQ(s.freq + L"|" + s.band + L"|" + s.mode + L"|" + s.radio, L"||LSB|FT-991A \u00C4");
    EXPECT_EQ(Count(L"Connected \u2014 FT-991A \u00C4"), 1);
}

TEST_F(HrdPollerTest, ServerDropMidPollPublishesAnEmptyModeThenReconnects) {
    HrdSimScript script;
    script.fault = HrdSimCloseAfterLength;
    script.faultCommand = L"get mode";
    script.faultAfter = 1; // the probe is answered, the first poll's mode read is not
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));
    EXPECT_EQ(ReadStationSnapshot().snapshot.freq, L"14.074");
    EXPECT_EQ(ReadStationSnapshot().snapshot.mode, L"");
    ASSERT_TRUE(WaitForText(kConnected, 2));
    StopHrdPoller();
    const Texts texts = recorder.HrdTexts();
    ASSERT_GE(texts.size(), 6u);
    EXPECT_EQ(Texts(texts.begin(), texts.begin() + 5),
              (Texts{kConnecting, kConnected, kReconnecting, kConnecting, kConnected}));
    EXPECT_EQ(texts.back(), kStopped);
}

TEST_F(HrdPollerTest, DropHrdConnectionReadsChangedSettings) {
    HrdSim moved;
    HrdSimScript script;
    script.radioReply = L"FT-991A";
    script.contextReply = L"2";
    ASSERT_TRUE(StartHrdSim(moved, script));
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));
    ConfigureHrd(L"127.0.0.1", moved.port, 1, L"K1ABC", L"K1XYZ");
    DropHrdConnection();
    ASSERT_TRUE(WaitUntil([&] { return ReadStationSnapshot().snapshot.radio == L"FT-991A"; }));
    StopHrdPoller();
    const StationSnapshot s = ReadStationSnapshot().snapshot;
    EXPECT_EQ(s.mycall + L"|" + s.opcall + L"|" + s.radio, L"K1ABC|K1XYZ|FT-991A");
    EXPECT_EQ(HrdSimCommands(moved).back().text.substr(0, 4), L"[2] ");
    EXPECT_EQ(recorder.HrdTexts(), (Texts{kConnecting, kConnected, kReconnecting, kConnecting,
                                          L"Connected \u2014 FT-991A", kStopped}));
}

TEST_F(HrdPollerTest, StopIsPromptInTheWaitBetweenPollsAndInAnExchange) {
    ConfigureHrd(L"127.0.0.1", sim.port, 5);
    StartHrdPoller();
    ASSERT_TRUE(WaitForPolls(1));
    EXPECT_LT(TimedStop(), 400ms);
    EXPECT_EQ(recorder.HrdTexts(), (Texts{kConnecting, kConnected, kStopped}));

    recorder.Clear();
    HrdSimScript script;
    script.fault = HrdSimSilent;
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitForHrdSim(
        sim, [](const auto& c) { return c.back().connection == 2; }, 5s));
    EXPECT_LT(TimedStop(), 1000ms);
    EXPECT_EQ(recorder.HrdTexts(), (Texts{kConnecting, kStopped}));
}

// A peer that fails every handshake or every poll is not hammered: the next connect waits as
// after a refused one, with no new status text after a failed "Get ID"; a drop (a Save) cuts the
// wait short.
TEST_F(HrdPollerTest, FailedHandshakeOrPollWaitsBeforeTheNextConnect) {
    for (const std::wstring failing : {kHrdGetId, kHrdGetFrequency}) {
        recorder.Clear();
        HrdSimScript script;
        script.fault = HrdSimHugeLength;
        script.faultCommand = failing;
        SetHrdSimScript(sim, script);
        const int before = CountHrdSimCommands(HrdSimCommands(sim), kHrdGetId);
        const auto connects = [&](int count, std::chrono::milliseconds limit) {
            return WaitForHrdSim(
                sim, [&](const auto& c) { return CountHrdSimCommands(c, kHrdGetId) >= count; },
                limit);
        };
        StartHrdPoller();
        ASSERT_TRUE(connects(before + 1, 5s));
        EXPECT_FALSE(connects(before + 2, 2s));
        DropHrdConnection();
        EXPECT_TRUE(connects(before + 2, 1s));
        StopHrdPoller();
        EXPECT_EQ(Count(kReconnecting) > 0, failing == kHrdGetFrequency);
        EXPECT_EQ(Count(kNotReachable), 0);
        EXPECT_EQ(ReadStationSnapshot().version, startVersion);
    }
}

// A Save while the connect waits on a host that never answers (a listener whose queue is full
// drops the connect) cuts the connect short and connects where the new settings say.
TEST_F(HrdPollerTest, DropWhileConnectingConnectsWithTheNewSettingsAtOnce) {
    const SocketHandle full = TcpListen("127.0.0.1", 0, 0);
    std::vector<SocketHandle> queued;
    for (SocketHandle s; queued.size() < 8 &&
                         (s = TcpConnect("127.0.0.1", LocalPort(full), 300)) != kInvalidSocket;)
        queued.push_back(s);
    ASSERT_LT(queued.size(), 8u) << "the queue never filled, so no connect would wait";
    ConfigureHrd(L"127.0.0.1", LocalPort(full), 1, L"K1OLD");
    StartHrdPoller();
    EXPECT_TRUE(WaitUntil([] { return hrdSocket.handle.load() != kInvalidSocket; }, 2s));
    ConfigureHrd(L"127.0.0.1", sim.port, 1, L"K1NEW");
    DropHrdConnection();
    EXPECT_TRUE(WaitForPolls(1, 1500ms));
    StopHrdPoller();
    for (const SocketHandle socket : queued)
        CloseSocket(socket);
    CloseSocket(full);
    EXPECT_EQ(ReadStationSnapshot().snapshot.mycall, L"K1NEW");
    EXPECT_EQ(recorder.HrdTexts(), (Texts{kConnecting, kConnecting, kConnected, kStopped}));
}

TEST_F(HrdPollerTest, NothingListeningRetriesEveryThreeSecondsAndStopsPromptly) {
    ASSERT_TRUE(SetHrdSimRefusing(sim, true));
    StartHrdPoller();
    ASSERT_TRUE(WaitForText(kNotReachable));
    const auto failed = Clock::now();
    ASSERT_TRUE(WaitForText(kConnecting, 2));
    EXPECT_GE(Clock::now() - failed, 2800ms);
    EXPECT_LT(Clock::now() - failed, 4500ms);
    ASSERT_TRUE(WaitForText(kNotReachable, 2));
    EXPECT_LT(TimedStop(), 400ms);
    EXPECT_EQ(recorder.HrdTexts(),
              (Texts{kConnecting, kNotReachable, kConnecting, kNotReachable, kStopped}));
    EXPECT_EQ(ReadStationSnapshot().version, startVersion);
    EXPECT_EQ(ReadStationSnapshot().snapshot, other);
}

TEST_F(HrdPollerTest, OnlyNumericIpv4HostsAndPortsInRangeAreUsed) {
    // Whether the host and the simulator's port plus the offset reach the simulator on 127.0.0.1.
    // 2130706434 is 127.0.0.2 to some parsers, but no dotted quad; 127.0.0.2 is honoured, and
    // nothing listens there. A port out of range means 7809, where nothing listens either, never
    // its low 16 bits.
    const std::tuple<std::wstring, int, bool> cases[] = {
        {L"", 0, true},           {L"localhost", 0, true},   {L"hrd.invalid", 0, true},
        {L"::1", 0, true},        {L"127.0.0.256", 0, true}, {L"127.0.0.02", 0, true},
        {L"127.0.0.2 ", 0, true}, {L"2130706434", 0, true},  {L"127.0.0.1", 0, true},
        {L"127.0.0.2", 0, false}, {L"", 65536, false},       {L"", -65536, false}};
    for (const auto& [host, offset, reachable] : cases) {
        recorder.Clear();
        ConfigureHrd(host, sim.port + offset, 1);
        StartHrdPoller();
        EXPECT_TRUE(WaitForText(reachable ? kConnected : kNotReachable));
        StopHrdPoller();
        EXPECT_EQ(Count(kNotReachable), reachable ? 0 : 1) << host.size() << " " << offset;
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
    EXPECT_GE(polls[1] - polls[0], 1950ms);
    EXPECT_LT(polls[1] - polls[0], 3000ms);
}

} // namespace
