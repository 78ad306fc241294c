#pragma once
// Socket calls that only the test peers and tools make: the other ends of the workers' sockets.
// They live here, outside the product, beside the OS half they need (TcpAccept).
#include "platform/net.h"

// UDP sender: an IPv4 datagram socket connected to the host (resolved) and port, so that
// SocketSend sends one datagram per call, a zero-length one included.
SocketHandle UdpConnect(const std::string& host, int port);

// Both steps of a TCP connect: a connected, blocking socket, or kInvalidSocket.
SocketHandle TcpConnect(const std::string& host, int port, int timeoutMs,
                        const std::atomic<bool>* keepWaiting = nullptr);

// TCP server side: a listening socket on the IPv4 address (port 0 picks a free one) with room for
// `backlog` connections not yet accepted, the port it got, and accept.
SocketHandle TcpListen(const std::string& address, int port, int backlog = 16);
int LocalPort(SocketHandle socket);
SocketHandle TcpAccept(SocketHandle listener);
