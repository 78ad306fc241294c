// Time from RaiseStationUpdate with a newly worked call to the dashboard sink holding the request,
// over loopback, through the real poster thread and HTTP client. Prints p50 and p99.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/net.h"
#include "posting/poster_worker.h"
#include "tools/dashboard_sink/dashboard_sink.h"

int main() {
    constexpr int kPosts = 1000;
    using Clock = std::chrono::steady_clock;
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
    StartPoster();
    std::vector<double> micros;
    micros.reserve(kPosts);
    for (int i = 1; i <= kPosts; ++i) {
        const auto start = Clock::now();
        RaiseStationUpdate([i](StationSnapshot& s) {
            s.freq = L"14.074";
            s.band = L"20m";
            s.mode = L"FT8";
            s.call = L"QQ" + std::to_wstring(i);
        });
        if (!sink.WaitForRequests(static_cast<std::size_t>(i), std::chrono::seconds(10))) {
            std::fprintf(stderr, "post_latency: post %d never arrived\n", i);
            StopPoster();
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    StopPoster();
    sink.Stop();
    std::sort(micros.begin(), micros.end());
    std::printf("post_latency over %d posts on loopback: p50 %.0f us, p99 %.0f us, max %.0f us\n",
                kPosts, micros[kPosts / 2], micros[kPosts * 99 / 100], micros.back());
    NetCleanup();
    return 0;
}
