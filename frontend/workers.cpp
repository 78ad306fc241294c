#include "frontend/workers.h"

#include <atomic>
#include <iterator>

#include "core/settings.h"
#include "posting/poster_worker.h"
#include "sources/hrd/hrd_poller.h"
#include "sources/rigctld/rigctld_poller.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"

namespace {

struct RigPoller {
    RigSource source;
    bool Settings::*enabled;
    std::atomic<bool>& running;
    void (*start)();
    void (*stop)();
    void (*drop)();
};

// In the order they start; they stop the other way round.
const RigPoller kRigPollers[] = {
    {RigSource::Hrd, &Settings::hrdEnabled, hrdRunning, StartHrdPoller, StopHrdPoller,
     DropHrdConnection},
    {RigSource::Rigctld, &Settings::rigctldEnabled, rigctldRunning, StartRigctldPoller,
     StopRigctldPoller, DropRigctldConnection},
};

} // namespace

void StartWorkers(const std::wstring& udpAddressText, int udpPort,
                  const std::function<void()>& afterUdp) {
    StartPoster();
    if (settings.udpEnabled)
        StartUdpListener(udpAddressText, udpPort);
    afterUdp();
    for (const RigPoller& poller : kRigPollers)
        if (settings.*poller.enabled)
            poller.start();
}

void StopWorkers() {
    StopTestMode();
    for (auto poller = std::rbegin(kRigPollers); poller != std::rend(kRigPollers); ++poller)
        poller->stop();
    StopUdpListener();
    StopPoster();
}

RunningSources SourcesRunning() {
    RunningSources running;
    running.udp = udpRunning.load();
    return running;
}

void RestartSourcesAfterApply(const RunningSources& before, const std::wstring& udpAddressText,
                              int udpPort, const std::function<void(RigSource, bool)>& disabled) {
    if (before.udp)
        StopUdpListener();
    if (settings.udpEnabled)
        StartUdpListener(udpAddressText, udpPort);

    for (const RigPoller& poller : kRigPollers) {
        const bool wasRunning = poller.running.load();
        if (!(settings.*poller.enabled)) {
            poller.stop();
            disabled(poller.source, wasRunning);
        } else if (wasRunning) {
            poller.drop(); // it reconnects with the new settings
        } else {
            poller.start();
        }
    }
}
