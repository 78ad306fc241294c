// Accepting as Winsock does; the shared rest is in net_peers.cpp.
#include "tools/net_peers/net_peers.h"

#include "socket_api.h"

SocketHandle TcpAccept(SocketHandle listener) {
    const SOCKET s = accept(Native(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}
