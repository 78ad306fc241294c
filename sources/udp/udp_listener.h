#pragma once
#include <atomic>
#include <string>

#include "platform/net.h"

extern std::atomic<bool> udpRunning;
extern std::atomic<SocketHandle> udpSocket;

// Starts the listener on the address text (dotted quad; anything else listens on all interfaces)
// and port (outside 1..65535: 12060). Does nothing while it runs.
void StartUdpListener(const std::wstring& addressText, int port);
void StopUdpListener();
