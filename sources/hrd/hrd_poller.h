#pragma once
#include <atomic>

#include "platform/net.h"

extern std::atomic<bool> hrdRunning;
extern std::atomic<SocketHandle> hrdSocket;

void StartHrdPoller();
void StopHrdPoller();
// Closes the connection; the poller reconnects and reads its settings afresh.
void DropHrdConnection();
