// Time from RaiseStationUpdate with a newly worked call to the dashboard sink holding the request,
// over loopback, through the real poster thread and HTTP client. Prints p50 and p99, and the heap
// in use after every thousand posts, which must not grow with the posts.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/net.h"
#include "posting/poster_worker.h"
#include "tools/dashboard_sink/dashboard_sink.h"

namespace {

using Clock = std::chrono::steady_clock;

// The poster's one-second floor would make this a bench of patience: every look at its clock
// finds another second gone by, so each new call finds the last post old enough.
std::atomic<int> looks{0};

Clock::time_point HurriedClock() {
    return Clock::now() + std::chrono::seconds(++looks);
}

} // namespace

int main() {
    constexpr int kPosts = 5000;
    constexpr int kBatch = 1000;
    NetStartup();
    DashboardSink sink;
    if (!sink.Start(SinkOptions())) {
        std::fprintf(stderr, "post_latency: no sink\n");
        return 1;
    }
    {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        DashboardTarget& target = settings.targets[0];
        target.enabled = true;
        target.url = sink.BaseUrl();
        target.dashboardId = L"bench";
        target.apiKey = L"key";
        target.intervalSeconds = 300;
        settings.targets[1].enabled = false;
    }
    posterClock = &HurriedClock;
    StartPoster();
    std::vector<double> micros;
    micros.reserve(kPosts);
    std::string heap;
    for (int i = 1; i <= kPosts; ++i) {
        const auto start = Clock::now();
        RaiseStationUpdate([i](StationSnapshot& s) {
            s.freq = L"14.074";
            s.band = L"20m";
            s.mode = L"FT8";
            s.call = L"QQ" + std::to_wstring(i);
        });
        if (!sink.WaitForRequests(static_cast<std::size_t>((i - 1) % kBatch + 1),
                                  std::chrono::seconds(10))) {
            std::fprintf(stderr, "post_latency: post %d never arrived\n", i);
            StopPoster();
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (i % kBatch == 0) {
            // The sink keeps what it got; started afresh on the same port, it lets that go.
            const int port = sink.port;
            sink.Stop();
            if (!sink.Start(SinkOptions(), port)) {
                std::fprintf(stderr, "post_latency: the sink did not come back\n");
                StopPoster();
                return 1;
            }
            heap += " " + std::to_string(mallinfo2().uordblks);
        }
    }
    StopPoster();
    sink.Stop();
    std::sort(micros.begin(), micros.end());
    std::printf("post_latency over %d posts on loopback: p50 %.0f us, p99 %.0f us, max %.0f us\n",
                kPosts, micros[kPosts / 2], micros[kPosts * 99 / 100], micros.back());
    std::printf("heap in use (bytes) after every %d posts:%s\n", kBatch, heap.c_str());
    NetCleanup();
    return 0;
}
