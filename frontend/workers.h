#pragma once
// The order in which a front end starts and stops the workers.
#include <functional>
#include <string>

// The poster; then, when enabled, the UDP listener on the address text and port given; then
// `afterUdp`, the front end's own step; then, when enabled, the HRD poller.
void StartWorkers(const std::wstring& udpAddressText, int udpPort,
                  const std::function<void()>& afterUdp);

// The test mode, the HRD poller, the UDP listener and the poster, each joined before the next;
// stopping what does not run does nothing.
void StopWorkers();

// Which of the sources run; taken before an apply changes the settings.
struct RunningSources {
    bool udp = false;
    bool hrd = false;
};
RunningSources SourcesRunning();

// What a Save does to the sources once the settings are applied: the UDP listener started on the
// address text and port given, restarted there (a changed address or port only takes effect in a
// new listener), or stopped; the HRD poller started, reconnected with its new settings, or stopped.
void RestartSourcesAfterApply(const RunningSources& before, const std::wstring& udpAddressText,
                              int udpPort);
