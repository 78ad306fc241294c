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
