#pragma once
// The order in which a front end starts and stops the workers.
#include <functional>
#include <string>

#include "core/notify.h"

// The poster; then, when enabled, the UDP listener on the address text and port given; then
// `afterUdp`, the front end's own step; then, when enabled, the HRD poller and the rigctld poller.
void StartWorkers(const std::wstring& udpAddressText, int udpPort,
                  const std::function<void()>& afterUdp);

// The test mode, the rigctld poller, the HRD poller, the UDP listener and the poster, each joined
// before the next; stopping what does not run does nothing.
void StopWorkers();

// Which of the sources run; taken before an apply changes the settings.
struct RunningSources {
    bool udp = false;
};
RunningSources SourcesRunning();

// What a Save (or a reload) does to the sources once the settings are applied: the UDP listener
// started on the address text and port given, restarted there (a changed address or port only
// takes effect in a new listener), or stopped; each rig poller, in start order, started,
// reconnected with its new settings, or stopped, and then `disabled` is told of it and of whether
// it ran.
void RestartSourcesAfterApply(
    const RunningSources& before, const std::wstring& udpAddressText, int udpPort,
    const std::function<void(RigSource source, bool wasRunning)>& disabled);
