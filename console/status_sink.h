#pragma once
// What the window would show, printed instead: the workers' notifications arrive here on their
// own threads and become status lines.
#include <chrono>
#include <string>

#include "core/station_snapshot.h"

// The eleven rows of the live status page in one line, "-" for an empty value.
std::wstring LiveStatusLine(const StationSnapshot& snapshot);

// Installs the sink that prints; `udpAddressText` is the listen address as configured. Call
// before any worker starts and remove after every worker has been stopped.
void InstallConsoleSink(const std::wstring& udpAddressText);
void RemoveConsoleSink();

// The listen address as configured anew, for the listener's next lines.
void SetConsoleUdpAddress(const std::wstring& udpAddressText);

// Waits until the UDP listener has reported its first state (bound or not); false on time-out.
bool WaitForUdpStatus(std::chrono::milliseconds limit);
