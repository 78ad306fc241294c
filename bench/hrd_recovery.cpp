// How the HRD poller fares against an HRD that goes wrong: for each fault, the time from the fault
// to the poller publishing HRD's next good answer; how long a stop takes wherever the poller is;
// and descriptors and threads around a thousand start/stop cycles. Prints "key value" lines.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "core/settings.h"
#include "core/station_snapshot.h"
#include "platform/net.h"
#include "sources/hrd/hrd_poller.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int CountEntries(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir)
        return -1;
    int count = 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count - 2; // . and ..
}

void Configure(int port) {
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    settings.hrdHost = L"127.0.0.1";
    settings.hrdPort = port;
    settings.hrdIntervalSeconds = 1;
}

std::wstring Shown() {
    return ReadStationSnapshot().snapshot.freq;
}

// A healthy HRD on this frequency (kHz, so the text shown is easy to tell).
HrdSimScript Healthy(int kilohertz) {
    HrdSimScript script;
    script.frequency = std::to_wstring(kilohertz) + L"000";
    return script;
}

std::wstring ShownFor(int kilohertz) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%d.%03d", kilohertz / 1000, kilohertz % 1000);
    return text;
}

int Asked(HrdSim& sim, const std::wstring& command) {
    int count = 0;
    for (const std::wstring& text : HrdSimCommands(sim))
        count += text.find(command) != std::wstring::npos;
    return count;
}

// The fault (after a reconnect, for one at the handshake) until it has hit once, then HRD well
// again: milliseconds from the hit until the poller shows HRD's new answer.
double Recovery(HrdSim& sim, HrdSimScript fault, bool reconnect, int& kilohertz) {
    const int before = Asked(sim, fault.faultCommand);
    fault.frequency = Healthy(kilohertz).frequency;
    SetHrdSimScript(sim, fault);
    if (reconnect)
        DropHrdConnection();
    if (!WaitFor([&] { return Asked(sim, fault.faultCommand) > before; }, std::chrono::seconds(10)))
        return -1;
    const auto hit = Clock::now();
    kilohertz += 1000;
    SetHrdSimScript(sim, Healthy(kilohertz));
    const std::wstring expected = ShownFor(kilohertz);
    return WaitFor([&] { return Shown() == expected; }, std::chrono::seconds(20))
               ? MillisecondsSince(hit)
               : -1;
}

double TimedStop() {
    const auto start = Clock::now();
    StopHrdPoller();
    return MillisecondsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    NetStartup();
    TempDataFolder data; // the diagnostic file goes here, never into a user's folder
    HrdSim sim;
    int kilohertz = 14074;
    if (!StartHrdSim(sim, Healthy(kilohertz))) {
        std::fprintf(stderr, "hrd_recovery: no simulator\n");
        return 1;
    }
    Configure(sim.peer.port);
    StartHrdPoller();
    if (!WaitFor([&] { return Shown() == ShownFor(kilohertz); }, std::chrono::seconds(10))) {
        std::fprintf(stderr, "hrd_recovery: the poller never showed HRD's answer\n");
        return 1;
    }
    const std::tuple<const char*, HrdSimScript, bool> faults[] = {
        {"silent_poll_ms", {HrdSimFault::Silent, L"get frequency"}, false},
        {"out_of_step_ms", {HrdSimFault::Unsolicited, L"get frequency"}, false},
        {"silent_handshake_ms", {HrdSimFault::Silent, L"Get ID"}, true},
    };
    for (const auto& [key, fault, reconnect] : faults)
        std::printf("%s %.0f\n", key, Recovery(sim, fault, reconnect, kilohertz));

    // Stops: in the wait between polls, in an exchange HRD never answers, waiting to retry.
    std::printf("stop_between_polls_ms %.1f\n", TimedStop());
    SetHrdSimScript(sim, {HrdSimFault::Silent, L"get frequency"});
    const int asked = Asked(sim, L"get frequency");
    StartHrdPoller();
    WaitFor([&] { return Asked(sim, L"get frequency") > asked; }, std::chrono::seconds(10));
    std::printf("stop_in_exchange_ms %.1f\n", TimedStop());
    NotifyRecorder recorder;
    Configure(1); // nothing listens on port 1
    StartHrdPoller();
    WaitFor([&] { return recorder.RigTexts(RigSource::Hrd).size() >= 2; },
            std::chrono::seconds(10));
    std::printf("stop_waiting_to_retry_ms %.1f\n", TimedStop());

    // Start/stop cycles against a healthy HRD, each stop at another moment.
    Configure(sim.peer.port);
    SetHrdSimScript(sim, Healthy(kilohertz));
    const int fdsBefore = CountEntries("/proc/self/fd");
    const int threadsBefore = CountEntries("/proc/self/task");
    double slowest = 0;
    const auto cyclesStart = Clock::now();
    for (int i = 0; i < cycles; ++i) {
        StartHrdPoller();
        std::this_thread::sleep_for(std::chrono::microseconds((i % 5) * 1000));
        const double stop = TimedStop();
        slowest = stop > slowest ? stop : slowest;
    }
    std::printf("cycles %d\ncycles_s %.1f\nslowest_stop_ms %.1f\n", cycles,
                MillisecondsSince(cyclesStart) / 1000, slowest);
    std::printf("fds %d %d\nthreads %d %d\n", fdsBefore, CountEntries("/proc/self/fd"),
                threadsBefore, CountEntries("/proc/self/task"));
    sim.peer.Stop();
    NetCleanup();
    return 0;
}
