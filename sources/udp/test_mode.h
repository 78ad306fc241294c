#pragma once
// Demonstration data cycled through the station snapshot, so the chain can be seen working
// without a logger. While it runs the UDP listener drops every datagram.
#include <atomic>
#include <cstdint>

#include "core/station_snapshot.h"

extern std::atomic<bool>& testModeRunning;

// Starts the cycle at its first step; does nothing while it runs.
void StartTestMode();
// Stops the cycle and waits for its thread; returns at once when nothing runs.
void StopTestMode();

constexpr int kDemoStepCount = 7;

// The record the test mode publishes for its step counter (0 is the first step; the cycle
// repeats after kDemoStepCount steps).
StationSnapshot DemoStepRecord(std::uint64_t counter);
