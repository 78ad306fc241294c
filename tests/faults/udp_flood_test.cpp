// A logger flood: 10,000 datagrams a second for 10 s while the listener is stopped and started
// every 100 ms, as Save does. Nothing may crash or hang, every restart binds again, and once the
// flood is over the last datagram sent is what is shown, kept on disk and posted.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "posting/post_payload.h"
#include "posting/poster_worker.h"
#include "sources/udp/udp_listener.h"
#include "tests/faults/fault_support.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tools/dashboard_sink/dashboard_sink.h"

namespace {

using namespace std::chrono_literals;

constexpr int kDatagramsPerSecond = 10000;
constexpr int kFullFloodSeconds = 10;
constexpr auto kRestartEvery = 100ms;
constexpr double kUdpStopBoundMs = 1000;

int FreeUdpPort() {
    const SocketHandle probe = UdpBind("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);
    return port;
}

// What the final datagram shows once parsed.
StationSnapshot FinalRecord() {
    StationSnapshot s;
    s.freq = L"28.074";
    s.band = L"10m";
    s.mode = L"SSB";
    s.mycall = L"N0CALL";
    s.opcall = L"OP1";
    s.radio = L"IC-7610";
    s.op_status = L"Is calling";
    s.app = L"N1MM";
    s.call = L"QQ9END";
    s.radios = 1;
    return s;
}

int LastUdpState(NotifyRecorder& recorder) {
    const auto states = recorder.UdpStates();
    return states.empty() ? -1 : states.back();
}

} // namespace

TEST(UdpFlood, TenThousandDatagramsASecondWhileSaveRestartsTheListener) {
    // The full flood natively; slower builds may shorten it, never below two seconds.
    const int seconds = std::max(2, Scaled(kFullFloodSeconds));
    const ProcessResources before = CountProcessResources();
    {
        TempDataFolder data;
        NotifyRecorder recorder;
        DashboardSink dashboard;
        ASSERT_TRUE(dashboard.Start(SinkOptions()));
        PointHostedTargetAt(dashboard, L"flood");
        const int port = FreeUdpPort();
        ASSERT_GT(port, 0);
        StartPoster();
        StartUdpListener(L"127.0.0.1", port);
        const std::uint64_t takenBefore = udpDatagramsTaken.load();

        std::atomic<bool> flooding{true};
        std::atomic<double> floodMs{0};
        std::atomic<long long> sent{0};
        std::atomic<long long> refused{0};
        std::thread sender([&] {
            const SocketHandle socket = UdpConnect("127.0.0.1", port);
            if (socket == kInvalidSocket) {
                flooding = false;
                return;
            }
            const long long total = static_cast<long long>(seconds) * kDatagramsPerSecond;
            const auto start = FaultClock::now();
            long long i = 0;
            // A host that cannot send this fast still floods for the whole time, as fast as it can.
            for (double elapsed = 0; i < total && elapsed < seconds * 1000.0;
                 elapsed = MillisecondsSince(start)) {
                // Catch up with the schedule every millisecond, however late the wake-up was.
                const double due = elapsed * kDatagramsPerSecond / 1000.0;
                for (; i < total && i < static_cast<long long>(due) &&
                       (i % 64 != 0 || MillisecondsSince(start) < seconds * 1000.0);
                     ++i) {
                    const std::string datagram =
                        RadioDatagram(1407400 + i % 1000, "QQ1FLD", i % 2 ? "FT8" : "CW");
                    if (SocketSend(socket, datagram.data(), static_cast<int>(datagram.size())) > 0)
                        ++sent;
                    else
                        ++refused; // the port was closed a moment ago: the stack says so once
                }
                std::this_thread::sleep_for(1ms);
            }
            CloseSocket(socket);
            floodMs = MillisecondsSince(start);
            flooding = false;
        });

        // Save, every 100 ms for as long as the flood lasts.
        StopTimes stops;
        int restarts = 0;
        auto next = FaultClock::now();
        while (flooding.load()) {
            next += kRestartEvery;
            std::this_thread::sleep_until(next);
            const auto start = FaultClock::now();
            StopUdpListener();
            stops.Add(MillisecondsSince(start));
            StartUdpListener(L"127.0.0.1", port);
            ++restarts;
        }
        sender.join();
        const std::uint64_t taken = udpDatagramsTaken.load() - takenBefore;

        EXPECT_GE(restarts, seconds * 9);
        EXPECT_LT(stops.longest, kUdpStopBoundMs);
        const auto states = recorder.UdpStates();
        EXPECT_EQ(std::count(states.begin(), states.end(), int(UdpBindError)), 0);
        EXPECT_TRUE(recorder.WaitFor(
            [](const std::vector<NotifyEvent>& events) {
                for (auto it = events.rbegin(); it != events.rend(); ++it)
                    if (it->kind == NotifyEvent::UdpStatus)
                        return it->first == UdpListening;
                return false;
            },
            5s));
        EXPECT_TRUE(udpRunning.load());

        // The flood is over; the last word is the final datagram. A datagram may still be lost
        // in a full socket buffer, so it is sent again until it shows.
        const std::string last = RadioDatagram(2807400, "QQ9END", "SSB");
        ASSERT_TRUE(SendUntilShown(port, last, L"QQ9END"));
        const SnapshotRead read = ReadStationSnapshot();
        EXPECT_EQ(read.snapshot, FinalRecord());
        EXPECT_EQ(FileBytes(data.File(kUdpLastDatagramFile)), last);

        // The new call goes out at once, and the dashboard holds the final state.
        const std::string body = BuildPostBody(FinalRecord(), L"key");
        EXPECT_TRUE(WaitForLastPost(dashboard, body, 10s));
        EXPECT_EQ(ReadStationSnapshot().snapshot, FinalRecord()); // nothing came after it

        const auto start = FaultClock::now();
        StopUdpListener();
        const double lastStop = MillisecondsSince(start);
        StopPoster();
        EXPECT_EQ(LastUdpState(recorder), UdpStopped);

        ReportFigure("UDP flood: " + std::to_string(seconds) + " s at " +
                     std::to_string(kDatagramsPerSecond) + "/s planned, " +
                     std::to_string(static_cast<int>(floodMs.load())) + " ms taken; " +
                     std::to_string(sent.load()) + " datagrams sent (" +
                     std::to_string(refused.load()) +
                     " sends refused while the port was closed), " + std::to_string(taken) +
                     " taken by the listener, " + std::to_string(restarts) + " restarts");
        ReportFigure("UDP listener stop during the flood: " + stops.Text() + "; last stop " +
                     std::to_string(lastStop) + " ms");
    }
    ExpectNothingLeaked("UDP flood", before);
}
