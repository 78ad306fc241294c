#include "sources/udp/test_mode.h"

std::atomic<bool> testModeRunning{false};

void StartTestMode() {}
void StopTestMode() {}
