#include "platform/net.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

int Fd(SocketHandle socket) {
    return static_cast<int>(socket);
}

// The host's first IPv4 address (numeric or resolved) with the port.
bool ResolveIpv4(const std::string& host, int port, sockaddr_in& remote) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    std::memcpy(&remote, found->ai_addr, sizeof remote);
    ::freeaddrinfo(found);
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    return true;
}

// The dotted-quad address with the port; anything else means the fallback (host names are
// never resolved for a local address).
sockaddr_in LocalIpv4(const std::string& address, int port, std::uint32_t fallback) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1)
        local.sin_addr.s_addr = htonl(fallback);
    return local;
}

} // namespace

bool NetStartup() {
    return true;
}
void NetCleanup() {}

void CloseSocket(SocketHandle socket) {
    if (socket == kInvalidSocket)
        return;
    // On Linux close() alone does not wake a recv() blocked in another thread; shutdown() does.
    ::shutdown(Fd(socket), SHUT_RDWR);
    ::close(Fd(socket));
}

void CloseSocketSlot(std::atomic<SocketHandle>& slot) {
    CloseSocket(slot.exchange(kInvalidSocket));
}

bool WakeSocket(SocketHandle socket) {
    if (socket != kInvalidSocket)
        ::shutdown(Fd(socket), SHUT_RDWR); // on an unconnected UDP socket too, despite ENOTCONN
    return false;
}

SocketHandle UdpBind(const std::string& address, int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return kInvalidSocket;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in local = LocalIpv4(address, port, INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(fd);
}

SocketHandle UdpConnect(const std::string& host, int port) {
    sockaddr_in remote{};
    if (!ResolveIpv4(host, port, remote))
        return kInvalidSocket;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return kInvalidSocket;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(fd);
}

SocketHandle TcpSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

bool TcpConnectSocket(SocketHandle socket, const std::string& host, int port, int timeoutMs,
                      const std::atomic<bool>* keepWaiting) {
    sockaddr_in remote{};
    if (socket == kInvalidSocket || !ResolveIpv4(host, port, remote))
        return false;
    const int fd = Fd(socket);
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    if (result != 0 && errno == EINPROGRESS) {
        pollfd wait{fd, POLLOUT, 0};
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int waitMs = -1; NextConnectWait(deadline, keepWaiting, waitMs);) {
            result = ::poll(&wait, 1, waitMs);
            if (result != 0 && !(result < 0 && errno == EINTR))
                break;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (result == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
            error == 0)
            result = 0;
        else
            result = -1;
    }
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return result == 0;
}

bool SetReceiveTimeout(SocketHandle socket, int milliseconds) {
    timeval limit{};
    limit.tv_sec = milliseconds / 1000;
    limit.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(Fd(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

bool SocketReadable(SocketHandle socket) {
    pollfd ready{Fd(socket), POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0;
}

int SocketSend(SocketHandle socket, const char* data, int length) {
    ssize_t n;
    do {
        n = ::send(Fd(socket), data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int SocketReceive(SocketHandle socket, char* buffer, int length) {
    ssize_t n;
    do {
        n = ::recv(Fd(socket), buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

SocketHandle TcpListen(const std::string& address, int port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return kInvalidSocket;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in local = LocalIpv4(address, port, INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(fd);
}

int LocalPort(SocketHandle socket) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

SocketHandle TcpAccept(SocketHandle listener) {
    int fd;
    do {
        fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}
