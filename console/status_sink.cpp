#include "console/status_sink.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "console/console_output.h"
#include "core/notify.h"
#include "frontend/pages.h"

namespace {

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
    PrintStatus(kUdpPage, UdpStatusText(state, address, port));
    {
        std::lock_guard<std::mutex> lock(sinkState.mutex);
        sinkState.udpStatusSeen = true;
    }
    sinkState.udpReported.notify_all();
}

void OnPostResult(int target, const PostOutcome& outcome) {
    if (target < 0 || target >= kTargetCount)
        return;
    PrintStatus(target == 0 ? kHostedPage : kWpPage, LastPostText(outcome));
}

void OnRigStatus(RigSource source, RigLinkState state, const std::wstring& radio) {
    PrintStatus(source, RigStatusText(source, state, radio));
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
    PrintLiveStatus(line);
}

} // namespace

std::wstring LiveStatusLine(const StationSnapshot& snapshot) {
    std::wstring line;
    for (const LiveStatusRow& row : kLiveStatusRows) {
        if (!line.empty())
            line += L" | ";
        line += row.caption;
        line += L": ";
        line += LiveStatusValue(snapshot, row);
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
    consoleSink.rigStatus = OnRigStatus;
    InstallNotifySink(&consoleSink);
}

void SetConsoleUdpAddress(const std::wstring& udpAddressText) {
    std::lock_guard<std::mutex> lock(sinkState.mutex);
    sinkState.udpAddressText = udpAddressText;
}

void RemoveConsoleSink() {
    InstallNotifySink(nullptr);
}

bool WaitForUdpStatus(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(sinkState.mutex);
    return sinkState.udpReported.wait_for(lock, limit, [] { return sinkState.udpStatusSeen; });
}
