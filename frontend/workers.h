#pragma once
// The order in which a front end starts and stops the workers.
#include <functional>
#include <string>

#include "platform/notify.h"

// The poster; then, when enabled, the UDP listener on the address text and port given; then
// `afterUdp`, the front end's own step; then, when enabled, the HRD poller and the rigctld poller.
void StartWorkers(const std::wstring& udpAddressText, int udpPort,
                  const std::function<void()>& afterUdp);

// The test mode, the rigctld poller, the HRD poller, the UDP listener and the poster, each joined
// before the next; stopping what does not run does nothing.
void StopWorkers();

// After the settings changed (Save, a reload): each rig poller that is enabled now starts, or,
// when it runs, drops its connection and reconnects with the new settings; one that is disabled
// now stops, and `disabled` is told so.
void ApplyRigSettings(const std::function<void(RigSource)>& disabled);
