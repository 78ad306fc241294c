#include "tests/faults/fault_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/settings.h"
#include "platform/net_peers.h"
#include "tests/support/temp_folder.h"
#include "tools/dashboard_sink/dashboard_sink.h"

#ifdef _WIN32
#include <windows.h>

#include <tlhelp32.h> // needs windows.h first
#else
#include <dirent.h>
#endif

namespace {

#ifdef _WIN32
// Threads of the system's thread pool (WinHTTP resolves and waits on them) come and go as the
// system pleases; only threads that start outside ntdll are the program's own.
bool StartsInNtdll(DWORD threadId) {
    using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationThread")));
    if (!ntdll || !query)
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(ntdll);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        reinterpret_cast<const char*>(ntdll) + dos->e_lfanew);
    const auto begin = reinterpret_cast<ULONG_PTR>(ntdll);
    const ULONG_PTR end = begin + nt->OptionalHeader.SizeOfImage;
    const HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
    if (!thread)
        return false;
    ULONG_PTR start = 0;
    constexpr int kThreadQuerySetWin32StartAddress = 9;
    const bool known =
        query(thread, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0;
    CloseHandle(thread);
    return known && start >= begin && start < end;
}
#else
int CountEntries(const char* folder) {
    DIR* dir = opendir(folder);
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(dir);
    return count;
}
#endif

} // namespace

ProcessResources CountProcessResources() {
    ProcessResources counts;
#ifdef _WIN32
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0)
        counts.handles = static_cast<int>(handles);
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        int threads = 0;
        for (BOOL more = Thread32First(snapshot, &entry); more;
             more = Thread32Next(snapshot, &entry))
            threads += entry.th32OwnerProcessID == GetCurrentProcessId() &&
                       !StartsInNtdll(entry.th32ThreadID);
        CloseHandle(snapshot);
        counts.threads = threads;
    }
#else
    const int fds = CountEntries("/proc/self/fd");
    counts.handles = fds < 0 ? -1 : fds - 1; // the listing's own descriptor
    counts.threads = CountEntries("/proc/self/task");
#endif
    return counts;
}

ProcessResources WaitForResourcesBack(const ProcessResources& baseline,
                                      std::chrono::milliseconds limit) {
    const auto deadline = FaultClock::now() + limit;
    for (;;) {
        const ProcessResources now = CountProcessResources();
        if ((now.handles <= baseline.handles && now.threads <= baseline.threads) ||
            FaultClock::now() > deadline)
            return now;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ExpectNothingLeaked(const char* what, const ProcessResources& baseline) {
    const ProcessResources now = WaitForResourcesBack(baseline, std::chrono::milliseconds(3000));
    ReportFigure(std::string(what) + ": handles " + std::to_string(baseline.handles) + " -> " +
                 std::to_string(now.handles) + ", threads " + std::to_string(baseline.threads) +
                 " -> " + std::to_string(now.threads));
    if (baseline.handles >= 0) {
        EXPECT_LE(now.handles, baseline.handles) << what << ": descriptors or handles leaked";
    }
    if (baseline.threads >= 0) {
        EXPECT_LE(now.threads, baseline.threads) << what << ": threads left behind";
    }
}

double FaultScale() {
    const std::string text = EnvironmentText("CORVANE_FAULT_SCALE");
    if (!text.empty()) {
        const double value = std::atof(text.c_str());
        if (value > 0)
            return std::min(value, 1.0);
    }
    return 1.0;
}

int Scaled(int fullCount) {
    return std::max(1, static_cast<int>(fullCount * FaultScale() + 0.5));
}

bool RunningUnderWine() {
#ifdef _WIN32
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void ReportFigure(const std::string& line) {
    static std::mutex reportMutex;
    std::lock_guard<std::mutex> lock(reportMutex);
    std::printf("[ figure   ] %s\n", line.c_str());
    std::fflush(stdout);
    const std::string file = EnvironmentText("CORVANE_FAULT_FIGURES");
    if (!file.empty())
        std::ofstream(file, std::ios::app) << line << "\n";
}

double MillisecondsSince(FaultClock::time_point start) {
    return std::chrono::duration<double, std::milli>(FaultClock::now() - start).count();
}

void StopTimes::Add(double milliseconds) {
    ++count;
    total += milliseconds;
    longest = std::max(longest, milliseconds);
}

std::string StopTimes::Text() const {
    char text[128];
    std::snprintf(text, sizeof text, "%d stops, mean %.2f ms, max %.1f ms", count,
                  count ? total / count : 0.0, longest);
    return text;
}

HangWatch::HangWatch(std::chrono::milliseconds stageLimit) : limit(stageLimit) {
    thread = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done) {
            if (stage && FaultClock::now() - since > limit) {
                std::fprintf(stderr, "hung: %s has not returned after %lld ms\n", stage,
                             static_cast<long long>(limit.count()));
                std::fflush(stderr);
                std::abort();
            }
            changed.wait_for(lock, std::chrono::milliseconds(200));
        }
    });
}

HangWatch::~HangWatch() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    changed.notify_all();
    thread.join();
}

void HangWatch::Enter(const char* name) {
    std::lock_guard<std::mutex> lock(mutex);
    stage = name;
    since = FaultClock::now();
}

void HangWatch::Leave() {
    std::lock_guard<std::mutex> lock(mutex);
    stage = nullptr;
}

std::string RadioDatagram(long long tensOfHertz, const std::string& call, const std::string& mode) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>\r\n\t<app>N1MM</app>\r\n"
           "\t<RadioNr>1</RadioNr>\r\n\t<Freq>" +
           std::to_string(tensOfHertz) + "</Freq>\r\n\t<Mode>" + mode +
           "</Mode>\r\n\t<mycall>N0CALL</mycall>\r\n\t<OpCall>OP1</OpCall>\r\n"
           "\t<IsRunning>True</IsRunning>\r\n\t<call>" +
           call + "</call>\r\n\t<RadioName>IC-7610</RadioName>\r\n</RadioInfo>";
}

bool SendUntilShown(int port, const std::string& datagram, const std::wstring& call) {
    const SocketHandle socket = UdpConnect("127.0.0.1", port);
    if (socket == kInvalidSocket)
        return false;
    const bool shown = WaitForSnapshot(
        [&](const StationSnapshot& s) {
            if (s.call == call)
                return true;
            SocketSend(socket, datagram.data(), static_cast<int>(datagram.size()));
            return false;
        },
        std::chrono::seconds(10));
    CloseSocket(socket);
    return shown;
}

bool WaitForLastPost(DashboardSink& dashboard, const std::string& body,
                     std::chrono::milliseconds limit) {
    const auto deadline = FaultClock::now() + limit;
    while (FaultClock::now() < deadline) {
        const auto requests = dashboard.Requests();
        if (!requests.empty() && requests.back().body == body)
            return true;
        dashboard.WaitForRequests(requests.size() + 1, std::chrono::milliseconds(200));
    }
    return false;
}

void PointHostedTargetAt(DashboardSink& dashboard, const std::wstring& dashboardId) {
    std::lock_guard<std::mutex> lock(postSignal.mutex);
    DashboardTarget& target = settings.targets[0];
    target.enabled = true;
    target.intervalSeconds = 30;
    target.url = dashboard.BaseUrl();
    target.dashboardId = dashboardId;
    target.apiKey = L"key";
}
