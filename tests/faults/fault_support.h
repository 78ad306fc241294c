#pragma once
// Shared by the fault tests: what the process holds (descriptors and threads), how far the counts
// are scaled down in slow builds, stop timing, and the figures each run reports.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "core/station_snapshot.h"

struct DashboardSink;

using FaultClock = std::chrono::steady_clock;
double MillisecondsSince(FaultClock::time_point start);

// Open descriptors (handles on Windows) and threads of this process; -1 where the platform cannot
// tell.
struct ProcessResources {
    int handles = -1;
    int threads = -1;
};
ProcessResources CountProcessResources();

// Waits until the counts are back at (or below) the baseline, as threads that were joined may
// take a moment to leave the task list; returns the last counts seen.
ProcessResources WaitForResourcesBack(const ProcessResources& baseline,
                                      std::chrono::milliseconds limit);

// Checks that what a test opened it also closed, and reports the counts as a figure.
void ExpectNothingLeaked(const char* what, const ProcessResources& baseline);

// How much of the full counts to run: all of them, unless CORVANE_FAULT_SCALE in the environment
// asks for a part (Valgrind runs a fiftieth).
double FaultScale();
int Scaled(int fullCount);

bool RunningUnderWine();

// A line of the run's figures: printed, and appended to the file CORVANE_FAULT_FIGURES names.
void ReportFigure(const std::string& line);

// Times stops: the longest and the mean so far.
struct StopTimes {
    void Add(double milliseconds);
    std::string Text() const; // "n stops, mean x ms, max y ms"
    int count = 0;
    double total = 0;
    double longest = 0;
};

// Ends the process with a message naming the stage when a stage runs longer than its limit, so
// a hang shows where it is instead of running into the test driver's time-out.
struct HangWatch {
    explicit HangWatch(std::chrono::milliseconds limit);
    ~HangWatch();
    HangWatch(const HangWatch&) = delete;
    HangWatch& operator=(const HangWatch&) = delete;
    void Enter(const char* stage); // a string literal
    void Leave();

    std::chrono::milliseconds limit;
    std::mutex mutex;
    std::condition_variable changed;
    const char* stage = nullptr;
    FaultClock::time_point since;
    bool done = false;
    std::thread thread;
};

// A logger radio message for radio 1, frequency in tens of hertz.
std::string RadioDatagram(long long tensOfHertz, const std::string& call, const std::string& mode);

// Waits until the published snapshot satisfies the predicate.
template <typename Predicate>
bool WaitForSnapshot(Predicate predicate, std::chrono::milliseconds limit) {
    const auto deadline = FaultClock::now() + limit;
    for (;;) {
        if (predicate(ReadStationSnapshot().snapshot))
            return true;
        if (FaultClock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Sends the datagram to 127.0.0.1:port again and again until the snapshot shows its call: after a
// flood a datagram may be lost in a full socket buffer.
bool SendUntilShown(int port, const std::string& datagram, const std::wstring& call);

// Waits until the dashboard's last request carries exactly this body.
bool WaitForLastPost(DashboardSink& dashboard, const std::string& body,
                     std::chrono::milliseconds limit);

// Enables the hosted dashboard target with a 30 s interval, pointed at the sink, key "key".
void PointHostedTargetAt(DashboardSink& dashboard, const std::wstring& dashboardId);
