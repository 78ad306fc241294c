// What a thousand program starts and exits, and Save under a logger flood, cost: every worker
// started and stopped a thousand times, each stop timed, with the process's descriptors and
// threads counted before and after; then the UDP listener restarted every 100 ms for 10 s while
// 10,000 datagrams a second arrive. Prints "key value" lines.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

#include "core/settings.h"
#include "platform/paths.h"
#include "posting/poster_worker.h"
#include "sources/hrd/hrd_poller.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/net_peers/net_peers.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int Entries(const char* folder) {
    std::error_code error;
    const auto it = std::filesystem::directory_iterator(folder, error);
    return error ? -1 : static_cast<int>(std::distance(it, {}));
}

struct StopTimes {
    void Add(double ms) { count++, total += ms, longest = std::max(longest, ms); }
    void Print(const char* name) const {
        std::printf("%s_stop_mean_ms %.3f\n%s_stop_max_ms %.3f\n", name, total / count, name,
                    longest);
    }
    int count = 0;
    double total = 0, longest = 0;
};

template <typename Stop> void Timed(StopTimes& times, Stop stop) {
    const auto start = Clock::now();
    stop();
    times.Add(MsSince(start));
}

std::string Datagram(long long tensOfHz) {
    return "<RadioInfo><RadioNr>1</RadioNr><Freq>" + std::to_string(tensOfHz) +
           "</Freq><Mode>CW</Mode><call>QQ1FLD</call></RadioInfo>";
}

} // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int floodSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    NetStartup();
    // A folder of our own for settings and diagnostic files; a silent HRD (it takes the connection
    // and never answers, so a stop finds the poller in an exchange); a dashboard that records.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("corvane-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    SetDataFolderOverride(folder.wstring());
    LoadSettings();
    const SocketHandle silentHrd = TcpListen("127.0.0.1", 0);
    DashboardSink sink;
    if (!sink.Start(SinkOptions()) || silentHrd == kInvalidSocket) {
        std::fprintf(stderr, "worker_cycles: no peers\n");
        return 1;
    }
    settings.targets[0] = {true, sink.BaseUrl(), L"cycles", L"key", 30};
    settings.targets[1].enabled = false;
    settings.hrdHost = L"127.0.0.1";
    settings.hrdPort = LocalPort(silentHrd);
    settings.hrdIntervalSeconds = 1;
    const SocketHandle probe = UdpBind("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);

    const int descriptorsBefore = Entries("/proc/self/fd"),
              threadsBefore = Entries("/proc/self/task");
    StopTimes poster, udp, hrd, testMode;
    const auto start = Clock::now();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        StartPoster();
        StartUdpListener(L"127.0.0.1", port);
        StartHrdPoller();
        StartTestMode();
        // Moves the moment of the stop about, from at once to well into the HRD exchange.
        std::this_thread::sleep_for(std::chrono::microseconds((cycle * 397) % 4000));
        Timed(testMode, StopTestMode);
        Timed(hrd, StopHrdPoller);
        Timed(udp, StopUdpListener);
        Timed(poster, StopPoster);
    }
    std::printf("cycles %d\ncycles_s %.2f\nposts %zu\n", cycles, MsSince(start) / 1000,
                sink.Requests().size());
    testMode.Print("test_mode");
    hrd.Print("hrd");
    udp.Print("udp");
    poster.Print("poster");

    // Save every 100 ms under a flood.
    std::atomic<bool> flooding{true};
    std::atomic<long long> sent{0};
    const std::uint64_t takenBefore = udpDatagramsTaken.load();
    std::thread sender([&] {
        const SocketHandle socket = UdpConnect("127.0.0.1", port);
        const auto begin = Clock::now();
        for (long long i = 0; MsSince(begin) < floodSeconds * 1000.0;
             std::this_thread::sleep_for(std::chrono::milliseconds(1)))
            for (const long long due = static_cast<long long>(MsSince(begin) * 10); i < due; ++i) {
                const std::string datagram = Datagram(1407400 + i % 1000);
                sent += SocketSend(socket, datagram.data(), static_cast<int>(datagram.size())) > 0;
            }
        CloseSocket(socket);
        flooding = false;
    });
    StopTimes save;
    int restarts = 0;
    for (auto next = Clock::now(); flooding.load(); ++restarts) {
        std::this_thread::sleep_until(next += std::chrono::milliseconds(100));
        Timed(save, StopUdpListener);
        StartUdpListener(L"127.0.0.1", port);
    }
    sender.join();
    StopUdpListener();
    std::printf("flood_sent %lld\nflood_taken %llu\nflood_restarts %d\n", sent.load(),
                static_cast<unsigned long long>(udpDatagramsTaken.load() - takenBefore), restarts);
    save.Print("flood_udp");

    CloseSocket(silentHrd);
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // joined threads leave the list
    std::printf(
        "descriptors_before %d\ndescriptors_after %d\nthreads_before %d\nthreads_after %d\n",
        descriptorsBefore, Entries("/proc/self/fd"), threadsBefore, Entries("/proc/self/task"));
    SetDataFolderOverride(L"");
    std::filesystem::remove_all(folder);
    return 0;
}
