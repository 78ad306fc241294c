// What one poll costs, HRD's beside rigctld's: a poll's two exchanges (HRD's "get frequency" and
// "get mode" against the in-process simulator; rigctld's "f" and "m" against a real rigctld on the
// port given), timed on the wall clock and on this thread's CPU clock. Prints "key value" lines.
//
//   rig_poll_cost RIGCTLD_PORT [POLLS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "sources/hrd/hrd_protocol.h"
#include "sources/rigctld/rigctld_poller.h"
#include "tools/hrd_sim/hrd_sim.h"
#include "tools/net_peers/net_peers.h"

namespace {

double ThreadCpuUs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// Runs `poll` the given number of times after a few to warm up; prints the wall-clock median and
// 99th percentile and the mean CPU time of this thread per poll, in microseconds.
bool Measure(const char* name, int polls, const std::function<bool()>& poll) {
    for (int i = 0; i < 20; ++i)
        if (!poll())
            return false;
    std::vector<double> wall;
    const double cpuStart = ThreadCpuUs();
    for (int i = 0; i < polls; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!poll())
            return false;
        wall.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const double cpu = (ThreadCpuUs() - cpuStart) / polls;
    std::sort(wall.begin(), wall.end());
    std::printf("%s_poll_p50_us %.0f\n%s_poll_p99_us %.0f\n%s_poll_cpu_us %.1f\n", name,
                wall[wall.size() / 2], name, wall[wall.size() * 99 / 100], name, cpu);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: rig_poll_cost RIGCTLD_PORT [POLLS]\n");
        return 2;
    }
    const int polls = argc > 2 ? std::max(100, std::atoi(argv[2])) : 2000;
    NetStartup();
    HrdSim sim;
    if (!StartHrdSim(sim)) {
        std::fprintf(stderr, "rig_poll_cost: no HRD simulator\n");
        return 1;
    }
    const SocketHandle hrd = TcpConnect("127.0.0.1", sim.peer.port, 2000);
    std::wstring reply;
    const bool hrdOk = Measure("hrd", polls, [&] {
        return HrdExchange(hrd, L"[1] get frequency", reply) &&
               HrdExchange(hrd, L"[1] get mode", reply);
    });
    CloseSocket(hrd);
    sim.peer.Stop();

    const SocketHandle rigctld = TcpConnect("127.0.0.1", std::atoi(argv[1]), 2000);
    const bool rigctldOk = Measure("rigctld", polls, [&] {
        return RigctldExchange(rigctld, "f\n", 1).state == RigctldReplyState::Complete &&
               RigctldExchange(rigctld, "m\n", 2).state == RigctldReplyState::Complete;
    });
    CloseSocket(rigctld);
    NetCleanup();
    if (!hrdOk || !rigctldOk) {
        std::fprintf(stderr, "rig_poll_cost: a poll failed (%s)\n", hrdOk ? "rigctld" : "HRD");
        return 1;
    }
    return 0;
}
