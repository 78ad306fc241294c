// What BSD sockets do differently; the shared rest is in platform/net.cpp.
#include "platform/net.h"

#include <sys/time.h>

#include "socket_api.h"

bool NetStartup() {
    return true;
}
void NetCleanup() {}

void CloseSocket(SocketHandle socket) {
    if (socket == kInvalidSocket)
        return;
    // On Linux close() alone does not wake a recv() blocked in another thread; shutdown() does.
    ::shutdown(Native(socket), SHUT_RDWR);
    ::close(Native(socket));
}

void WakeSocket(SocketHandle socket) {
    if (socket != kInvalidSocket)
        ::shutdown(Native(socket), SHUT_RDWR); // on an unconnected UDP socket too, despite ENOTCONN
}

bool SetReceiveTimeout(SocketHandle socket, int milliseconds) {
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(Native(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

bool SocketReadable(SocketHandle socket) {
    pollfd ready{Native(socket), POLLIN, {}};
    return ::poll(&ready, 1, 0) > 0;
}

int SocketSend(SocketHandle socket, const char* data, int length) {
    ssize_t n;
    do {
        n = ::send(Native(socket), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int SocketReceive(SocketHandle socket, char* buffer, int length) {
    ssize_t n;
    do {
        n = ::recv(Native(socket), buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}
