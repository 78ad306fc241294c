#include "sources/hrd/hrd_poller.h"

std::atomic<bool> hrdRunning{false};
std::atomic<SocketHandle> hrdSocket{kInvalidSocket};

void StartHrdPoller() {}
void StopHrdPoller() {}
void DropHrdConnection() {}
