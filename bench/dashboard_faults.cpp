// What misbehaving dashboards cost: for each one, the POST client's verdict and how long it took,
// then how long the poster takes to stop while idle and while a dashboard never answers, and the
// descriptors left open afterwards. Prints "key value" lines for bench/run.sh.
//   dashboard_faults
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/settings.h"
#include "platform/net.h"
#include "posting/post_client.h"
#include "posting/poster_worker.h"
#include "tools/dashboard_sink/dashboard_sink.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (readdir(folder))
            ++count;
        closedir(folder);
    }
    return count;
}

// The time StopPoster takes once `sink` holds the worker's first post.
double StopMilliseconds(DashboardSink& sink) {
    RaiseStationUpdate(StationSnapshot());
    StartPoster();
    if (!sink.WaitForRequests(1, std::chrono::seconds(10)))
        std::printf("warning no_post_reached_the_sink\n");
    const auto start = Clock::now();
    StopPoster();
    return MillisecondsSince(start);
}

} // namespace

int main() {
    NetStartup();
    const int descriptorsBefore = OpenDescriptors();
    const std::string ok = "HTTP/1.1 200 OK\r\n";
    const struct {
        const char* key;
        SinkOptions options;
    } dashboards[] = {
        {"answers_200", {}},
        {"answers_401", {401}},
        {"redirects_301", {301}},
        {"never_answers", {0, 1 << 30}},
        {"resets", {0, 0, "", "", 0, true}},
        {"sends_garbage", {0, 0, "\x01\x02garbage\r\n\r\n"}},
        {"trickles_its_head", {0, 0, ok + "X: ", "x", 400}},
        {"sends_an_endless_head", {0, 0, ok, "X: " + std::string(999, 'x') + "\r\n"}},
        {"sends_an_endless_body", {0, 0, ok + "Content-Length: 99999999\r\n\r\n", "body"}},
    };
    for (const auto& dashboard : dashboards) {
        DashboardSink sink;
        if (!sink.Start(dashboard.options))
            return 1;
        const auto start = Clock::now();
        const bool delivered =
            PostStationUpdate(StationSnapshot(), sink.BaseUrl(), L"id", L"k").Delivered();
        std::printf("%s_ms %.0f\n%s_delivered %d\n", dashboard.key, MillisecondsSince(start),
                    dashboard.key, delivered ? 1 : 0);
    }

    DashboardSink answering, silent;
    if (!answering.Start({}) || !silent.Start({200, 1 << 30}))
        return 1;
    settings.targets[0] = {true, answering.BaseUrl(), L"id", L"k", 30};
    settings.targets[1] = {false, answering.BaseUrl(), L"id", L"k", 30};
    std::printf("poster_stop_idle_ms %.1f\n", StopMilliseconds(answering));
    settings.targets[0].url = silent.BaseUrl();
    std::printf("poster_stop_while_hanging_ms %.0f\n", StopMilliseconds(silent));
    answering.Stop();
    silent.Stop();
    std::printf("descriptors_left %d\n", OpenDescriptors() - descriptorsBefore);
    NetCleanup();
    return 0;
}
