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
