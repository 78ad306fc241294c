// A thousand starts and stops of every worker, as a thousand program starts and exits would do
// them, each stop landing at another moment of the worker's life. Every stop returns within its
// bound, nothing is left behind, and afterwards each worker still works and shows the last state.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "posting/post_payload.h"
#include "posting/poster_worker.h"
#include "sources/hrd/hrd_poller.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"
#include "tests/faults/fault_support.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/udp/udp_test_support.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

using namespace std::chrono_literals;

constexpr int kFullCycles = 1000;

// Bounds of one stop: the test mode, the UDP listener and the HRD poller are woken at once; the
// poster finishes the pass in progress, whose post to a healthy local dashboard takes
// milliseconds (its worst case is two whole exchanges).
constexpr double kTestModeStopBoundMs = 500;
constexpr double kUdpStopBoundMs = 500;
constexpr double kHrdStopBoundMs = 1000;
constexpr double kPosterStopBoundMs = 2 * 9500 + 200;

template <typename Step> double Timed(HangWatch& watch, const char* stage, Step step) {
    watch.Enter(stage);
    const auto start = FaultClock::now();
    step();
    const double elapsed = MillisecondsSince(start);
    watch.Leave();
    return elapsed;
}

int CountOf(const std::vector<int>& values, int value) {
    return static_cast<int>(std::count(values.begin(), values.end(), value));
}

} // namespace

TEST(WorkerCycles, AThousandStartsAndStopsOfEveryWorker) {
    const int cycles = Scaled(kFullCycles);
    const ProcessResources before = CountProcessResources();
    {
        TempDataFolder data;
        NotifyRecorder recorder;
        DashboardSink dashboard;
        ASSERT_TRUE(dashboard.Start(SinkOptions()));
        HrdSim sim;
        HrdSimScript script;
        script.frequencyReply = L"7074000";
        script.modeReply = L"LSB";
        ASSERT_TRUE(StartHrdSim(sim, script));
        PointHostedTargetAt(dashboard, L"cycles");
        {
            std::lock_guard<std::mutex> lock(postSignal.mutex);
            settings.hrdHost = L"127.0.0.1";
            settings.hrdPort = sim.port;
            settings.hrdIntervalSeconds = 1;
            settings.hrdMyCall = L"N0CALL";
        }
        const int port = FreeUdpPort();
        ASSERT_GT(port, 0);

        // HRD as found on each start: answering, answering a byte at a time, or silent at the
        // first command or at the first poll; so the stop finds the poller waiting between polls,
        // in the middle of an exchange, or blocked in a receive.
        HrdSimScript scripts[4] = {script, script, script, script};
        scripts[1].oneBytePerSend = true;
        scripts[2].fault = HrdSimSilent;
        scripts[2].faultCommand = L"Get ID";
        scripts[3].fault = HrdSimSilent;
        scripts[3].faultCommand = L"get frequency";

        StopTimes poster, udp, hrd, testMode;
        HangWatch watch(std::chrono::seconds(30));
        const auto start = FaultClock::now();
        for (int cycle = 0; cycle < cycles; ++cycle) {
            SetHrdSimScript(sim, scripts[cycle % 4]);
            // Started as the window's creation does, stopped in the order of the exit.
            Timed(watch, "starting the workers", [port] {
                StartPoster();
                StartUdpListener(L"127.0.0.1", port);
                StartHrdPoller();
                StartTestMode();
            });
            // Not a wait for anything: it only moves the moment of the stop around, from at once
            // to well into the HRD handshake and the first post.
            if (cycle % 3 != 0)
                std::this_thread::sleep_for(std::chrono::microseconds((cycle * 397) % 4000));
            testMode.Add(Timed(watch, "StopTestMode", StopTestMode));
            hrd.Add(Timed(watch, "StopHrdPoller", StopHrdPoller));
            udp.Add(Timed(watch, "StopUdpListener", StopUdpListener));
            poster.Add(Timed(watch, "StopPoster", StopPoster));
        }
        const double totalSeconds = MillisecondsSince(start) / 1000;

        EXPECT_LT(testMode.longest, kTestModeStopBoundMs);
        EXPECT_LT(hrd.longest, kHrdStopBoundMs);
        EXPECT_LT(udp.longest, kUdpStopBoundMs);
        EXPECT_LT(poster.longest, kPosterStopBoundMs);
        EXPECT_FALSE(posterRunning.load() || udpRunning.load() || hrdRunning.load() ||
                     testModeRunning.load());

        // Every listener that started said so and said it stopped; no restart failed to bind.
        const auto states = recorder.UdpStates();
        EXPECT_EQ(CountOf(states, UdpBindError), 0);
        EXPECT_EQ(CountOf(states, UdpListening), cycles);
        EXPECT_EQ(CountOf(states, UdpStopped), cycles);
        const auto texts = recorder.HrdTexts();
        EXPECT_EQ(static_cast<int>(std::count(texts.begin(), texts.end(), L"Stopped")), cycles);

        ReportFigure(std::to_string(cycles) + " start/stop cycles of all four workers in " +
                     std::to_string(totalSeconds) + " s; " +
                     std::to_string(HrdSimConnections(sim)) + " HRD connections, " +
                     std::to_string(dashboard.Requests().size()) + " posts received");
        ReportFigure("test mode stop: " + testMode.Text());
        ReportFigure("HRD poller stop: " + hrd.Text());
        ReportFigure("UDP listener stop: " + udp.Text());
        ReportFigure("poster stop: " + poster.Text());

        // And after all that, one more start: each source is shown as it speaks last.
        SetHrdSimScript(sim, script);
        recorder.Clear();
        StartPoster();
        StartTestMode();
        EXPECT_TRUE(
            WaitForSnapshot([](const StationSnapshot& s) { return s == DemoStepRecord(0); }, 5s));
        StopTestMode();

        StartHrdPoller();
        EXPECT_TRUE(
            WaitForSnapshot([](const StationSnapshot& s) { return s.freq == L"7.074"; }, 10s));
        script.frequencyReply = L"10136000";
        SetHrdSimScript(sim, script);
        EXPECT_TRUE(
            WaitForSnapshot([](const StationSnapshot& s) { return s.freq == L"10.136"; }, 10s));
        StopHrdPoller();

        StartUdpListener(L"127.0.0.1", port);
        const std::string last = RadioDatagram(2107400, "QQ7CYC", "RTTY");
        EXPECT_TRUE(SendUntilShown(port, last, L"QQ7CYC"));
        const StationSnapshot shownLast = ReadStationSnapshot().snapshot;
        EXPECT_EQ(shownLast.freq, L"21.074");
        EXPECT_EQ(shownLast.mode, L"RTTY");

        // The new call goes out at once: the dashboard's last post is the state shown.
        const std::string body = BuildPostBody(shownLast, L"key");
        EXPECT_TRUE(WaitForLastPost(dashboard, body, 10s));
        StopUdpListener();
        StopPoster();
    }
    ExpectNothingLeaked("worker cycles", before);
}
