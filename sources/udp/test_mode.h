#pragma once
#include <atomic>

extern std::atomic<bool> testModeRunning;

void StartTestMode();
void StopTestMode();
