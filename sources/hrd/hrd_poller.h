#pragma once
// The HRD poller: keeps one TCP connection to HRD, learns the radio and its mode command on each
// connection, and publishes frequency and mode at the configured interval.
#include <atomic>

#include "platform/net.h"

extern std::atomic<bool>& hrdRunning;
extern SocketSlot& hrdSocket;

void StartHrdPoller();
void StopHrdPoller();
// Closes the connection; the poller reconnects and reads its settings afresh.
void DropHrdConnection();

// The diagnostic file written once per connection with what the handshake learnt.
extern const wchar_t* const kHrdControlsFileName;
