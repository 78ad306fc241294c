#include "sources/udp/udp_listener.h"

std::atomic<bool> udpRunning{false};
std::atomic<SocketHandle> udpSocket{kInvalidSocket};

void StartUdpListener(const std::wstring&, int) {}
void StopUdpListener() {}
