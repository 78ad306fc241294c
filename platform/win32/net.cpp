#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

namespace {

SOCKET Sock(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// The host's first IPv4 address (numeric or resolved) with the port.
bool ResolveIpv4(const std::string& host, int port, sockaddr_in& remote) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    memcpy(&remote, found->ai_addr, sizeof remote);
    freeaddrinfo(found);
    remote.sin_port = htons(static_cast<u_short>(port));
    return true;
}

// The dotted-quad address with the port; anything else means the fallback (host names are
// never resolved for a local address).
sockaddr_in LocalIpv4(const std::string& address, int port, std::uint32_t fallback) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1)
        local.sin_addr.s_addr = htonl(fallback);
    return local;
}

} // namespace

bool NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() {
    WSACleanup();
}

void CloseSocket(SocketHandle socket) {
    if (socket != kInvalidSocket)
        closesocket(Sock(socket));
}

void CloseSocketSlot(std::atomic<SocketHandle>& slot) {
    CloseSocket(slot.exchange(kInvalidSocket));
}

bool WakeSocket(SocketHandle socket) {
    if (socket == kInvalidSocket)
        return false;
    // Closing would free the handle for the next socket any thread opens, and the owner's receive
    // that was about to start would then wait on that stranger. Instead shutdown() makes every
    // later receive fail at once, and CancelIoEx calls off one that is already blocked (Winsock
    // does not promise that shutdown() alone ends it, least of all on a datagram socket).
    shutdown(Sock(socket), SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(Sock(socket)), nullptr);
    return false;
}

SocketHandle UdpBind(const std::string& address, int port) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    const sockaddr_in local = LocalIpv4(address, port, INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
        closesocket(s);
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

SocketHandle UdpConnect(const std::string& host, int port) {
    sockaddr_in remote{};
    if (!ResolveIpv4(host, port, remote))
        return kInvalidSocket;
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    if (connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == SOCKET_ERROR) {
        closesocket(s);
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

SocketHandle TcpSocket() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool TcpConnectSocket(SocketHandle socket, const std::string& host, int port, int timeoutMs,
                      const std::atomic<bool>* keepWaiting) {
    sockaddr_in remote{};
    if (socket == kInvalidSocket || !ResolveIpv4(host, port, remote))
        return false;
    const SOCKET s = Sock(socket);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    bool connected = connect(s, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int waitMs = -1; NextConnectWait(deadline, keepWaiting, waitMs);) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
            const int ready = select(0, nullptr, &writable, &failed, &limit);
            if (ready != 0) {
                connected = ready == 1 && FD_ISSET(s, &writable);
                break;
            }
        }
    }
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return connected;
}

bool SetReceiveTimeout(SocketHandle socket, int milliseconds) {
    DWORD limit = static_cast<DWORD>(milliseconds);
    return setsockopt(Sock(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                      sizeof limit) == 0;
}

bool SocketReadable(SocketHandle socket) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Sock(socket), &readable);
    timeval now{0, 0};
    return select(0, &readable, nullptr, nullptr, &now) > 0;
}

int SocketSend(SocketHandle socket, const char* data, int length) {
    return send(Sock(socket), data, length, 0);
}

int SocketReceive(SocketHandle socket, char* buffer, int length) {
    return recv(Sock(socket), buffer, length, 0);
}

SocketHandle TcpListen(const std::string& address, int port, int backlog) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    const sockaddr_in local = LocalIpv4(address, port, INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR ||
        listen(s, backlog) == SOCKET_ERROR) {
        closesocket(s);
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(s);
}

int LocalPort(SocketHandle socket) {
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

SocketHandle TcpAccept(SocketHandle listener) {
    SOCKET s = accept(Sock(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}
