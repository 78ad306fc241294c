#pragma once
// Winsock under the portable socket code in platform/net.cpp: the headers, and the few calls
// whose form differs from BSD sockets'.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/net.h"

using NativeSocket = SOCKET;

inline NativeSocket Native(SocketHandle socket) {
    return static_cast<NativeSocket>(socket);
}

inline SocketHandle OpenSocket(int type, int protocol) {
    const SOCKET s = ::socket(AF_INET, type, protocol);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

// SO_REUSEADDR on Windows would let a listener take a port that another one holds.
constexpr bool kListenerReusesAddress = false;

inline void SetBlocking(SocketHandle socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(Native(socket), FIONBIO, &nonBlocking);
}

// Whether the non-blocking connect just started goes on in the background.
inline bool ConnectPending() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// Waits up to waitMs for the pending connect to end: above 0 when it ended either way (a failed
// one shows in the exception set, and SO_ERROR tells), 0 when the time is up, below 0 for an error.
inline int WaitForConnect(SocketHandle socket, int waitMs) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Native(socket), &writable);
    FD_SET(Native(socket), &failed);
    timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
    return select(0, nullptr, &writable, &failed, &limit);
}
