// The socket code both platforms share; what differs lives in each half's socket_api.h and
// net.cpp.
#include "platform/net.h"
#include "platform/ipv4_address.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "socket_api.h"

namespace {

// How often a connect looks at its keepWaiting flag.
constexpr int kConnectSliceMs = 100;

// The steps in which a connect waits: sets waitMs to the next wait (the time left, at most
// kConnectSliceMs when there is a flag to watch) and returns true; after the first wait (waitMs
// starts negative), false once the time is up or the flag has fallen.
bool NextConnectWait(std::chrono::steady_clock::time_point deadline,
                     const std::atomic<bool>* keepWaiting, int& waitMs) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (waitMs >= 0 && (left <= 0 || (keepWaiting && !keepWaiting->load())))
        return false;
    waitMs = static_cast<int>(
        std::max<long long>(0, keepWaiting ? std::min<long long>(left, kConnectSliceMs) : left));
    return true;
}

} // namespace

void CloseSocketSlot(std::atomic<SocketHandle>& slot) {
    CloseSocket(slot.exchange(kInvalidSocket));
}

void WakeSocketSlot(SocketSlot& slot) {
    std::lock_guard<std::mutex> lock(slot.mutex);
    WakeSocket(slot.handle.load());
}

void CloseSocketSlot(SocketSlot& slot) {
    std::lock_guard<std::mutex> lock(slot.mutex);
    CloseSocketSlot(slot.handle);
}

SocketHandle UdpBind(const std::string& address, int port) {
    const SocketHandle socket = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (socket == kInvalidSocket)
        return kInvalidSocket;
    int on = 1;
    ::setsockopt(Native(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on),
                 sizeof on);
    const sockaddr_in local = LocalIpv4(address, port, INADDR_ANY);
    if (::bind(Native(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        CloseSocket(socket);
        return kInvalidSocket;
    }
    return socket;
}

SocketHandle TcpSocket() {
    return OpenSocket(SOCK_STREAM, IPPROTO_TCP);
}

bool TcpConnectSocket(SocketHandle socket, const std::string& host, int port, int timeoutMs,
                      const std::atomic<bool>* keepWaiting) {
    sockaddr_in remote{};
    if (socket == kInvalidSocket || !ResolveIpv4(host, port, remote))
        return false;
    SetBlocking(socket, false);
    bool connected =
        ::connect(Native(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0;
    if (!connected && ConnectPending()) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int ready = 0;
        for (int waitMs = -1; ready == 0 && NextConnectWait(deadline, keepWaiting, waitMs);)
            ready = WaitForConnect(socket, waitMs);
        int error = 0;
        socklen_t length = sizeof error;
        connected = ready > 0 &&
                    ::getsockopt(Native(socket), SOL_SOCKET, SO_ERROR,
                                 reinterpret_cast<char*>(&error), &length) == 0 &&
                    error == 0;
    }
    SetBlocking(socket, true);
    return connected;
}

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

sockaddr_in LocalIpv4(const std::string& address, int port, std::uint32_t fallback) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1)
        local.sin_addr.s_addr = htonl(fallback);
    return local;
}
