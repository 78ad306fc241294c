// What the Linux front end costs, measured from outside on the real `corvane` process: it runs
// with a data folder of its own whose settings.ini points the dashboards at a sink in this
// program, and is driven by UDP datagrams on loopback like a logger would drive it.
//
//   front_end_cost latency CORVANE CONTACT_FILE [COUNT [IDLE_SECONDS]]
//       COUNT datagrams (default 100), each a copy of the contact message in CONTACT_FILE with a
//       new call: the time from sending it to the sink holding the POST that carries that call.
//       Each is sent a second after the last post, when the poster's floor lets a new call go at
//       once. The WP dashboard is the only one enabled, interval 1. Then a burst: 1,000 such
//       datagrams about a millisecond apart, and how many posts they made. Then IDLE_SECONDS
//       (default 0) of idle cost of the same process, after the work.
//   front_end_cost idle CORVANE [SECONDS [RIGCTLD_PORT]]
//       SECONDS (default 60) of a freshly started front end with UDP listening and both
//       dashboards enabled, receiving nothing: CPU time, wake-ups, resident memory. With a port,
//       it also polls the rigctld there every 2 s (the default interval).
//
// Every figure is printed as "key value" on a line of its own, for bench/run.sh to read.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/text.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/net_peers/net_peers.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The front end and its folder, so that a failure does not leave them behind.
pid_t runningChild = -1;
std::string childFolder;

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "front_end_cost: %s\n", why.c_str());
    if (runningChild > 0) {
        ::kill(runningChild, SIGTERM);
        ::waitpid(runningChild, nullptr, 0);
    }
    if (!childFolder.empty())
        std::filesystem::remove_all(childFolder);
    std::fflush(nullptr);
    std::_Exit(1);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// A UDP port that was free a moment ago; the front end says so if it no longer is.
int FreeUdpPort() {
    const SocketHandle probe = UdpBind("127.0.0.1", 0);
    const int port = probe == kInvalidSocket ? 0 : LocalPort(probe);
    CloseSocket(probe);
    return port;
}

struct Dashboards {
    int rigctldPort = 0; // 0: rigctld off
    bool hostedEnabled = false;
    std::string wpUrl;
    int wpInterval = 1;
};

std::string SettingsText(const Dashboards& dashboards, int udpPort) {
    return "[vellumar]\nenabled=" + std::string(dashboards.hostedEnabled ? "1" : "0") +
           "\nid=bench\napi_key=key\ninterval=30\n"
           "[wp]\nenabled=1\nurl=" +
           dashboards.wpUrl +
           "\nid=bench\napi_key=key\ninterval=" + std::to_string(dashboards.wpInterval) +
           "\n"
           "[udp]\nenabled=1\nip=127.0.0.1\nport=" +
           std::to_string(udpPort) +
           "\n"
           "[app]\nstart_minimized=1\n"
           "[hrd]\nenabled=0\nhost=127.0.0.1\nport=7809\ninterval=2\nmycall=\noperator=\n"
           "[rigctld]\nenabled=" +
           std::string(dashboards.rigctldPort ? "1" : "0") +
           "\nport=" + std::to_string(dashboards.rigctldPort) + "\n";
}

// The front end as a child process, its standard output read line by line on a thread of ours.
struct FrontEnd {
    pid_t pid = -1;
    int output = -1;
    std::string folder;
    std::thread reader;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
    bool ended = false;

    int CountLines(const std::string& part) {
        return static_cast<int>(
            std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) { return l.find(part) != std::string::npos; }));
    }

    // Until `count` lines holding `part` were printed, the process ended, or the time is up.
    bool WaitForLines(const std::string& part, int count, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return ended || CountLines(part) >= count; }) &&
               CountLines(part) >= count;
    }
};

void ReadOutput(FrontEnd& front) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(front.output, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            {
                std::lock_guard<std::mutex> lock(front.mutex);
                front.lines.push_back(pending.substr(0, end));
            }
            front.changed.notify_all();
            pending.erase(0, end + 1);
        }
    }
    {
        std::lock_guard<std::mutex> lock(front.mutex);
        front.ended = true;
    }
    front.changed.notify_all();
}

// Starts corvane with a data folder of its own; returns the UDP port it listens on.
int StartFrontEnd(FrontEnd& front, const std::string& program, const Dashboards& dashboards) {
    char folderTemplate[] = "/tmp/corvane-bench-XXXXXX";
    if (!::mkdtemp(folderTemplate))
        Fail("cannot make a data folder");
    front.folder = folderTemplate;
    childFolder = front.folder;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int port = FreeUdpPort();
        std::ofstream(front.folder + "/settings.ini") << SettingsText(dashboards, port);
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0)
            Fail("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
        std::string configDir = "--config-dir=" + front.folder;
        char* const argv[] = {const_cast<char*>(program.c_str()), configDir.data(), nullptr};
        const int spawned =
            posix_spawn(&front.pid, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        if (spawned != 0)
            Fail("cannot start " + program);
        runningChild = front.pid;
        front.output = pipeEnds[0];
        front.lines.clear();
        front.ended = false;
        front.reader = std::thread(ReadOutput, std::ref(front));
        const std::string listening =
            "UDP Receiver: Listening on 127.0.0.1:" + std::to_string(port);
        if (front.WaitForLines(listening, 1, std::chrono::seconds(10)))
            return port;
        // Taken in the meantime, or the front end did not come up: start afresh.
        ::kill(front.pid, SIGTERM);
        ::waitpid(front.pid, nullptr, 0);
        front.reader.join();
        ::close(front.output);
    }
    Fail("the front end never reported Listening");
}

// SIGTERM, as systemd stops it; the front end must end by itself with status 0.
void StopFrontEnd(FrontEnd& front) {
    ::kill(front.pid, SIGTERM);
    int status = 0;
    ::waitpid(front.pid, &status, 0);
    runningChild = -1;
    front.reader.join();
    ::close(front.output);
    std::filesystem::remove_all(front.folder);
    childFolder.clear();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("the front end did not stop cleanly on SIGTERM");
    std::printf("stopped_cleanly 1\n");
}

// CPU time of the whole process (all its threads), to the nanosecond.
double ProcessCpuMs(pid_t pid) {
    clockid_t clock;
    timespec now{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &now) != 0)
        Fail("cannot read the front end's CPU clock");
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// utime + stime from /proc/PID/stat, in clock ticks.
long long StatTicks(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t afterName = stat.rfind(')');
    if (afterName == std::string::npos)
        Fail("cannot read /proc/PID/stat");
    // Fields after the name start at field 3 (state); utime and stime are fields 14 and 15.
    std::vector<std::string> fields;
    std::size_t at = afterName + 2;
    while (at < stat.size()) {
        const std::size_t end = stat.find(' ', at);
        fields.push_back(stat.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    if (fields.size() < 13)
        Fail("short /proc/PID/stat");
    return std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str());
}

long long StatusValue(const std::string& status, const std::string& key) {
    const std::size_t at = status.find("\n" + key + ":");
    return at == std::string::npos ? -1 : std::atoll(status.c_str() + at + key.size() + 2);
}

// Context switches of all threads: every time a thread blocked and was woken again, or was
// preempted.
long long ContextSwitches(pid_t pid, int& threads) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = ::opendir(tasks.c_str());
    if (!folder)
        Fail("cannot list " + tasks);
    long long total = 0;
    threads = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string status = "\n" + ReadFile(tasks + "/" + entry->d_name + "/status");
        total += StatusValue(status, "voluntary_ctxt_switches") +
                 StatusValue(status, "nonvoluntary_ctxt_switches");
        ++threads;
    }
    ::closedir(folder);
    return total;
}

// Shared objects the process has mapped, the dynamic loader included.
int MappedLibraries(pid_t pid) {
    const std::string maps = ReadFile("/proc/" + std::to_string(pid) + "/maps");
    std::vector<std::string> seen;
    std::size_t at = 0;
    while (at < maps.size()) {
        std::size_t end = maps.find('\n', at);
        if (end == std::string::npos)
            end = maps.size();
        const std::string line = maps.substr(at, end - at);
        const std::size_t path = line.find('/');
        if (path != std::string::npos && line.find(".so", path) != std::string::npos &&
            std::find(seen.begin(), seen.end(), line.substr(path)) == seen.end())
            seen.push_back(line.substr(path));
        at = end + 1;
    }
    return static_cast<int>(seen.size());
}

// The floor for the poster's 200 ms wake-up on this machine: a bare thread of ours that waits on a
// condition variable with a 200 ms deadline, over and over, timed with its own CPU clock.
struct WakeFloor {
    std::mutex mutex;
    std::condition_variable condition;
    bool stop = false;
    std::thread thread;
    clockid_t clock{};

    void Start() {
        thread = std::thread([this] {
            std::unique_lock<std::mutex> lock(mutex);
            while (!stop)
                condition.wait_until(lock, Clock::now() + std::chrono::milliseconds(200));
        });
        pthread_getcpuclockid(thread.native_handle(), &clock);
    }
    double CpuMs() const {
        timespec now{};
        clock_gettime(clock, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stop = true;
        }
        condition.notify_all();
        thread.join();
    }
};

// `seconds` of the process doing nothing it is not asked to: CPU time, wake-ups, memory.
void MeasureIdle(const FrontEnd& front, int seconds, const std::string& prefix) {
    int threads = 0;
    WakeFloor floor;
    floor.Start();
    const double floorBefore = floor.CpuMs();
    const double cpuBefore = ProcessCpuMs(front.pid);
    const long long ticksBefore = StatTicks(front.pid);
    const long long switchesBefore = ContextSwitches(front.pid, threads);
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds)); // the measuring window itself
    const double cpuAfter = ProcessCpuMs(front.pid);
    const double floorAfter = floor.CpuMs();
    floor.Stop();
    const long long ticksAfter = StatTicks(front.pid);
    const long long switchesAfter = ContextSwitches(front.pid, threads);
    const double minutes = std::chrono::duration<double>(Clock::now() - start).count() / 60.0;
    const double msPerTick = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    const std::string status = "\n" + ReadFile("/proc/" + std::to_string(front.pid) + "/status");
    std::printf("%swindow_s %.1f\n", prefix.c_str(), minutes * 60.0);
    std::printf("%scpu_ms_per_min %.2f\n", prefix.c_str(), (cpuAfter - cpuBefore) / minutes);
    std::printf("%sfloor_cpu_ms_per_min %.2f\n", prefix.c_str(),
                (floorAfter - floorBefore) / minutes);
    std::printf("%sstat_ticks %lld\n", prefix.c_str(), ticksAfter - ticksBefore);
    std::printf("%sstat_cpu_ms_per_min %.1f\n", prefix.c_str(),
                static_cast<double>(ticksAfter - ticksBefore) * msPerTick / minutes);
    std::printf("%swakeups_per_min %.0f\n", prefix.c_str(),
                static_cast<double>(switchesAfter - switchesBefore) / minutes);
    std::printf("%sthreads %d\n", prefix.c_str(), threads);
    std::printf("%svm_rss_kib %lld\n", prefix.c_str(), StatusValue(status, "VmRSS"));
    std::printf("%svm_hwm_kib %lld\n", prefix.c_str(), StatusValue(status, "VmHWM"));
    std::printf("%srss_anon_kib %lld\n", prefix.c_str(), StatusValue(status, "RssAnon"));
    std::printf("%srss_file_kib %lld\n", prefix.c_str(), StatusValue(status, "RssFile"));
    // Shared library pages counted once per process that maps them, and only ours.
    const std::string rollup =
        "\n" + ReadFile("/proc/" + std::to_string(front.pid) + "/smaps_rollup");
    std::printf("%spss_kib %lld\n", prefix.c_str(), StatusValue(rollup, "Pss"));
    std::printf("%sprivate_kib %lld\n", prefix.c_str(),
                StatusValue(rollup, "Private_Clean") + StatusValue(rollup, "Private_Dirty"));
    std::printf("%slibraries %d\n", prefix.c_str(), MappedLibraries(front.pid));
}

// A call of its own for every datagram: K1AAA, K1AAB, ...
std::string CallNumber(int n) {
    std::string call = "K1";
    call += static_cast<char>('A' + n / 676 % 26);
    call += static_cast<char>('A' + n / 26 % 26);
    call += static_cast<char>('A' + n % 26);
    return call;
}

std::string WithCall(const std::string& datagram, const std::string& call) {
    const std::size_t open = datagram.find("<call>");
    const std::size_t close = datagram.find("</call>");
    if (open == std::string::npos || close == std::string::npos || close < open)
        Fail("the contact message has no <call> element");
    return datagram.substr(0, open + 6) + call + datagram.substr(close);
}

int Latency(const std::string& program, const std::string& contactFile, int count,
            int idleSeconds) {
    const std::string contact = ReadFile(contactFile);
    if (contact.empty())
        Fail("cannot read " + contactFile);

    struct Arrival {
        std::string body;
        Clock::time_point at;
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Arrival> arrivals;
    SinkOptions options;
    options.onRequest = [&](const SinkRequest& request) {
        const Clock::time_point at = Clock::now(); // the sink holds the whole request now
        {
            std::lock_guard<std::mutex> lock(mutex);
            arrivals.push_back({request.body, at});
        }
        arrived.notify_all();
    };
    DashboardSink sink;
    if (!sink.Start(options))
        Fail("no dashboard sink");

    Dashboards dashboards;
    dashboards.wpUrl = WideToUtf8(sink.BaseUrl());
    dashboards.wpInterval = 1;
    FrontEnd front;
    const int port = StartFrontEnd(front, program, dashboards);
    const SocketHandle sender = UdpConnect("127.0.0.1", port);
    if (sender == kInvalidSocket)
        Fail("no UDP sender");

    constexpr int kWarmUp = 5; // the first posts warm up the caches and the allocator
    constexpr auto kPostFloor = std::chrono::milliseconds(1000 + 20);
    std::vector<double> micros;
    double first = 0;
    for (int n = 0; n < kWarmUp + count; ++n) {
        const std::string call = CallNumber(n);
        const std::string datagram = WithCall(contact, call);
        if (n > 0)
            std::this_thread::sleep_for(kPostFloor); // pacing, so the floor holds nothing back
        const Clock::time_point sent = Clock::now();
        if (SocketSend(sender, datagram.data(), static_cast<int>(datagram.size())) !=
            static_cast<int>(datagram.size()))
            Fail("send failed");
        Arrival arrival;
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (!arrived.wait_for(lock, std::chrono::seconds(5),
                                  [&] { return arrivals.size() > static_cast<std::size_t>(n); }))
                Fail("datagram " + std::to_string(n) + " never reached the dashboard");
            arrival = arrivals[static_cast<std::size_t>(n)];
        }
        if (arrival.body.find("&call=" + call + "&") == std::string::npos)
            Fail("post " + std::to_string(n) + " does not carry " + call);
        const double us = std::chrono::duration<double, std::micro>(arrival.at - sent).count();
        if (n == 0)
            first = us;
        if (n >= kWarmUp)
            micros.push_back(us);
        // The front end's own word that the exchange is over, so that every datagram finds the
        // poster waiting again.
        if (!front.WaitForLines("WP Dashboard: Last post: OK", n + 1, std::chrono::seconds(5)))
            Fail("post " + std::to_string(n) + " was not reported OK");
    }
    // A burst of new calls, about a thousand a second as a logger replaying its log sends them:
    // the poster's floor keeps it to about one post a second, the last one carrying the newest
    // call. (Paced, so that the socket drops none of them.)
    constexpr int kBurst = 1000;
    const std::size_t postsBeforeBurst = arrivals.size();
    const Clock::time_point burstStart = Clock::now();
    for (int n = 0; n < kBurst; ++n) {
        const std::string datagram = WithCall(contact, CallNumber(kWarmUp + count + n));
        SocketSend(sender, datagram.data(), static_cast<int>(datagram.size()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double burstSeconds = std::chrono::duration<double>(Clock::now() - burstStart).count();
    // Over once no post has come for 2.5 s (the floor is 1 s; a datagram the socket dropped
    // is no failure here).
    bool lastCallPosted = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (std::size_t seen = 0; seen != arrivals.size();) {
            seen = arrivals.size();
            arrived.wait_for(lock, std::chrono::milliseconds(2500),
                             [&] { return arrivals.size() != seen; });
        }
        lastCallPosted =
            arrivals.back().body.find("&call=" + CallNumber(kWarmUp + count + kBurst - 1) + "&") !=
            std::string::npos;
    }
    CloseSocket(sender);

    std::vector<double> sorted = micros;
    std::sort(sorted.begin(), sorted.end());
    auto percentile = [&](double p) {
        const std::size_t rank = static_cast<std::size_t>(p / 100.0 * sorted.size() + 0.999999);
        return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
    };
    std::printf("datagrams %d\n", count);
    std::printf("warm_up %d\n", kWarmUp);
    std::printf("first_us %.0f\n", first);
    std::printf("p50_us %.0f\n", percentile(50));
    std::printf("p90_us %.0f\n", percentile(90));
    std::printf("p99_us %.0f\n", percentile(99));
    std::printf("max_us %.0f\n", sorted.back());
    std::printf("posts %zu\n", postsBeforeBurst);
    std::printf("burst_datagrams %d\n", kBurst);
    std::printf("burst_send_s %.3f\n", burstSeconds);
    std::printf("burst_posts %zu\n", arrivals.size() - postsBeforeBurst);
    std::printf("burst_last_call_posted %d\n", lastCallPosted ? 1 : 0);
    if (idleSeconds > 0)
        MeasureIdle(front, idleSeconds, "after_");
    const std::size_t postsBefore = arrivals.size();
    StopFrontEnd(front);
    sink.Stop();
    std::printf("posts_while_idle %zu\n", arrivals.size() - postsBefore);
    return 0;
}

int Idle(const std::string& program, int seconds, int rigctldPort) {
    SinkOptions options;
    DashboardSink sink; // where the WP dashboard points; nothing should arrive
    if (!sink.Start(options))
        Fail("no dashboard sink");
    Dashboards dashboards;
    dashboards.wpUrl = WideToUtf8(sink.BaseUrl());
    dashboards.wpInterval = 30;
    dashboards.rigctldPort = rigctldPort;
    // Polls change the record, so the hosted dashboard (a real host name) would be posted to.
    dashboards.hostedEnabled = rigctldPort == 0;
    FrontEnd front;
    StartFrontEnd(front, program, dashboards);
    if (rigctldPort && !front.WaitForLines("Hamlib (TCP): Connected", 1, std::chrono::seconds(10)))
        Fail("the front end never connected to rigctld");
    MeasureIdle(front, seconds, "");
    StopFrontEnd(front);
    std::printf("posts_while_idle %zu\n", sink.Requests().size());
    sink.Stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    NetStartup();
    if (mode == "latency" && argc >= 4)
        return Latency(argv[2], argv[3], argc > 4 ? std::max(1, std::atoi(argv[4])) : 1000,
                       argc > 5 ? std::max(0, std::atoi(argv[5])) : 0);
    if (mode == "idle" && argc >= 3)
        return Idle(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 60,
                    argc > 4 ? std::atoi(argv[4]) : 0);
    std::fprintf(stderr, "usage: front_end_cost latency CORVANE CONTACT_FILE [COUNT [IDLE_S]]\n"
                         "       front_end_cost idle CORVANE [SECONDS [RIGCTLD_PORT]]\n");
    return 2;
}
