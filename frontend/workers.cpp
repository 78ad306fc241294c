#include "frontend/workers.h"

#include "core/settings.h"
#include "posting/poster_worker.h"
#include "sources/hrd/hrd_poller.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"

void StartWorkers(const std::wstring& udpAddressText, int udpPort,
                  const std::function<void()>& afterUdp) {
    StartPoster();
    if (settings.udpEnabled)
        StartUdpListener(udpAddressText, udpPort);
    afterUdp();
    if (settings.hrdEnabled)
        StartHrdPoller();
}

void StopWorkers() {
    StopTestMode();
    StopHrdPoller();
    StopUdpListener();
    StopPoster();
}

RunningSources SourcesRunning() {
    RunningSources running;
    running.udp = udpRunning.load();
    running.hrd = hrdRunning.load();
    return running;
}

void RestartSourcesAfterApply(const RunningSources& before, const std::wstring& udpAddressText,
                              int udpPort) {
    if (before.udp)
        StopUdpListener();
    if (settings.udpEnabled)
        StartUdpListener(udpAddressText, udpPort);

    if (!settings.hrdEnabled)
        StopHrdPoller();
    else if (before.hrd)
        DropHrdConnection(); // it reconnects with the new settings
    else
        StartHrdPoller();
}
