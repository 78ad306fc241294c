#include "console/status_sink.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "console/console_output.h"
#include "platform/notify.h"
#include "sources/udp/udp_listener.h"

namespace {

const char* const kUdpPage = "UDP Receiver";
const char* const kHrdPage = "HRD (TCP)";
const char* const kDashboardPages[2] = {"VLM Dashboard", "WP Dashboard"};

struct LiveRow {
    const wchar_t* caption;
    std::wstring StationSnapshot::*field;
};

const LiveRow kLiveRows[11] = {
    {L"Freq (MHz)", &StationSnapshot::freq},   {L"Band", &StationSnapshot::band},
    {L"Mode", &StationSnapshot::mode},         {L"Operating", &StationSnapshot::op_status},
    {L"Last worked", &StationSnapshot::call},  {L"Contest", &StationSnapshot::contestname},
    {L"MyCall", &StationSnapshot::mycall},     {L"OpCall", &StationSnapshot::opcall},
    {L"Radio", &StationSnapshot::radio},       {L"Locator", &StationSnapshot::locator},
    {L"Location", &StationSnapshot::location},
};

struct ConsoleSinkState {
    std::mutex mutex;
    std::condition_variable udpReported;
    bool udpStatusSeen = false;
    std::wstring udpAddressText;
    // What the live status line last printed, and the newest version looked at: a notification
    // that lost the race to a newer one must not print stale values after it.
    std::wstring lastLiveLine;
    std::uint64_t lastLiveVersion = 0;
};

ConsoleSinkState sinkState;
NotifySink consoleSink;

void OnUdpStatus(int state, int port) {
    std::wstring address;
    {
        std::lock_guard<std::mutex> lock(sinkState.mutex);
        address = sinkState.udpAddressText;
    }
    PrintStatus(kUdpPage, UdpStatusText(state, port, address));
    {
        std::lock_guard<std::mutex> lock(sinkState.mutex);
        sinkState.udpStatusSeen = true;
    }
    sinkState.udpReported.notify_all();
}

void OnPostResult(int target, bool delivered) {
    if (target < 0 || target > 1)
        return;
    PrintStatus(kDashboardPages[target], delivered ? L"Last post: OK" : L"Last post: FAILED");
}

void OnHrdStatus(const std::wstring& text) {
    PrintStatus(kHrdPage, text);
}

void OnSnapshotChanged() {
    const SnapshotRead read = ReadStationSnapshot(); // snapshotMutex is released before we print
    const std::wstring line = LiveStatusLine(read.snapshot);
    std::lock_guard<std::mutex> lock(sinkState.mutex);
    if (read.version < sinkState.lastLiveVersion)
        return;
    sinkState.lastLiveVersion = read.version;
    if (line == sinkState.lastLiveLine)
        return;
    sinkState.lastLiveLine = line;
    PrintStatus("Live Status", line);
}

} // namespace

std::wstring UdpStatusText(int state, int port, const std::wstring& addressText) {
    switch (state) {
    case UdpListening:
        return L"Listening on " + UdpListenAddress(addressText) + L":" + std::to_wstring(port);
    case UdpBindError:
        return L"Error: cannot bind port " + std::to_wstring(port);
    default:
        return L"Stopped";
    }
}

std::wstring LiveStatusLine(const StationSnapshot& snapshot) {
    std::wstring line;
    for (const LiveRow& row : kLiveRows) {
        const std::wstring& value = snapshot.*row.field;
        if (!line.empty())
            line += L" | ";
        line += row.caption;
        line += L": ";
        line += value.empty() ? std::wstring(L"-") : value;
    }
    return line;
}

void InstallConsoleSink(const std::wstring& udpAddressText) {
    {
        std::lock_guard<std::mutex> lock(sinkState.mutex);
        sinkState.udpAddressText = udpAddressText;
        sinkState.udpStatusSeen = false;
        // The page starts with "-" in every row; only a change from that is worth a line.
        sinkState.lastLiveLine = LiveStatusLine(StationSnapshot{});
        sinkState.lastLiveVersion = 0;
    }
    consoleSink.snapshotChanged = OnSnapshotChanged;
    consoleSink.udpStatus = OnUdpStatus;
    consoleSink.postResult = OnPostResult;
    consoleSink.hrdStatus = OnHrdStatus;
    InstallNotifySink(&consoleSink);
}

void RemoveConsoleSink() {
    InstallNotifySink(nullptr);
}

bool WaitForUdpStatus(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(sinkState.mutex);
    return sinkState.udpReported.wait_for(lock, limit, [] { return sinkState.udpStatusSeen; });
}
