#pragma once
// BSD sockets under the portable socket code in platform/net.cpp: the headers, and the few calls
// whose form differs from Winsock's.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net.h"

using NativeSocket = int;

inline NativeSocket Native(SocketHandle socket) {
    return static_cast<NativeSocket>(socket);
}

// Not inherited by the programs we start.
inline SocketHandle OpenSocket(int type, int protocol) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

// A listener may take a port whose last connections still linger.
constexpr bool kListenerReusesAddress = true;

inline void SetBlocking(SocketHandle socket, bool blocking) {
    const int flags = ::fcntl(Native(socket), F_GETFL, 0);
    ::fcntl(Native(socket), F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

// Whether the non-blocking connect just started goes on in the background.
inline bool ConnectPending() {
    return errno == EINPROGRESS;
}

// Waits up to waitMs for the pending connect to end: above 0 when it ended either way, 0 when
// the time is up or a signal came, below 0 for an error.
inline int WaitForConnect(SocketHandle socket, int waitMs) {
    pollfd wait{Native(socket), POLLOUT, {}};
    const int result = ::poll(&wait, 1, waitMs);
    return result < 0 && errno == EINTR ? 0 : result;
}
