#include "tools/net_peers/net_peers.h"

#include "platform/ipv4_address.h"

SocketHandle TcpConnect(const std::string& host, int port, int timeoutMs,
                        const std::atomic<bool>* keepWaiting) {
    const SocketHandle socket = TcpSocket();
    if (socket != kInvalidSocket && !TcpConnectSocket(socket, host, port, timeoutMs, keepWaiting)) {
        CloseSocket(socket);
        return kInvalidSocket;
    }
    return socket;
}

SocketHandle UdpConnect(const std::string& host, int port) {
    sockaddr_in remote{};
    if (!ResolveIpv4(host, port, remote))
        return kInvalidSocket;
    const SocketHandle socket = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (socket != kInvalidSocket &&
        ::connect(Native(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        CloseSocket(socket);
        return kInvalidSocket;
    }
    return socket;
}

SocketHandle TcpListen(const std::string& address, int port, int backlog) {
    const SocketHandle socket = OpenSocket(SOCK_STREAM, IPPROTO_TCP);
    if (socket == kInvalidSocket)
        return kInvalidSocket;
    int on = 1;
    if (kListenerReusesAddress)
        ::setsockopt(Native(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                     sizeof on);
    const sockaddr_in local = LocalIpv4(address, port, INADDR_LOOPBACK);
    if (::bind(Native(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(Native(socket), backlog) != 0) {
        CloseSocket(socket);
        return kInvalidSocket;
    }
    return socket;
}

int LocalPort(SocketHandle socket) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}
