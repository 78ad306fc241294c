// Accepting as BSD sockets do; the shared rest is in net_peers.cpp.
#include "tools/net_peers/net_peers.h"

#include "socket_api.h"

SocketHandle TcpAccept(SocketHandle listener) {
    int fd;
    do {
        fd = ::accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}
