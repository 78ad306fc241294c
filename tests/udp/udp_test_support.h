#pragma once
// Shared by the logger-source tests: a clean parser and snapshot per test, a fake clock, and a
// UDP peer on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "core/station_snapshot.h"
#include "platform/net.h"

// Empty parser state and an empty published snapshot, whatever earlier tests left.
void ResetLoggerSource();

// The parser's clock while a FakeClock lives; starts at an arbitrary non-zero reading.
struct FakeClock {
    FakeClock();
    ~FakeClock();
    void Set(std::int64_t nanoseconds);
    void AdvanceSeconds(double seconds);
};

std::uint64_t CurrentVersion();
StationSnapshot CurrentSnapshot();

// Polls the condition until it holds or the limit passes.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort();

// Sends one datagram to 127.0.0.1:port from a fresh socket.
bool SendDatagram(int port, const std::string& bytes);

// A radio message with the given elements (inner XML) under a RadioInfo root.
std::string RadioMessage(const std::string& inner);
