#pragma once
// Sockets: Winsock on Windows, BSD sockets on POSIX. IPv4 only, as the sources need.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~SocketHandle(0);

// Winsock 2.2 start-up and clean-up; nothing to do on POSIX.
bool NetStartup();
void NetCleanup();

// Closes a socket so that a receive blocked on it in another thread returns at once.
void CloseSocket(SocketHandle socket);

// Takes the handle out of the slot and closes it; whoever gets there first closes it, exactly once.
void CloseSocketSlot(std::atomic<SocketHandle>& slot);

// Makes a receive blocked on the socket in another thread return at once, and every later one
// fail or return 0, without closing it: the owner still closes the socket, so its handle cannot
// be reused by another socket under a receive that is about to start. Returns whether the socket
// was closed after all (never, on either platform).
bool WakeSocket(SocketHandle socket);

// UDP: an IPv4 datagram socket with SO_REUSEADDR bound to the dotted-quad address (anything that
// is not one binds 0.0.0.0) and port. kInvalidSocket when it cannot be created or bound.
SocketHandle UdpBind(const std::string& address, int port);

// UDP sender: an IPv4 datagram socket connected to the host (resolved) and port, so that
// SocketSend sends one datagram per call, a zero-length one included. For test peers and tools.
SocketHandle UdpConnect(const std::string& host, int port);

// TCP in two steps, so that a worker can put the socket where a stop or a drop finds it before
// the connect begins: an IPv4 stream socket, or kInvalidSocket.
SocketHandle TcpSocket();

// Resolves the host (IPv4) and connects the socket within timeoutMs with a non-blocking connect;
// the socket is blocking again afterwards, and the caller closes it whatever the result. With
// `keepWaiting` (a worker's flag) the connect is also given up within about 100 ms of the flag
// falling, so that stopping a worker never waits for a host that does not answer.
bool TcpConnectSocket(SocketHandle socket, const std::string& host, int port, int timeoutMs,
                      const std::atomic<bool>* keepWaiting = nullptr);

// Both steps: a connected, blocking socket, or kInvalidSocket.
inline SocketHandle TcpConnect(const std::string& host, int port, int timeoutMs,
                               const std::atomic<bool>* keepWaiting = nullptr) {
    const SocketHandle socket = TcpSocket();
    if (socket != kInvalidSocket && !TcpConnectSocket(socket, host, port, timeoutMs, keepWaiting)) {
        CloseSocket(socket);
        return kInvalidSocket;
    }
    return socket;
}

// How often a connect looks at its keepWaiting flag.
constexpr int kConnectSliceMs = 100;

// The steps in which both halves of TcpConnect wait for the connect: sets waitMs to the next wait
// (the time left, at most kConnectSliceMs when there is a flag to watch) and returns true; after
// the first wait (waitMs starts negative), false once the time is up or the flag has fallen.
inline bool NextConnectWait(std::chrono::steady_clock::time_point deadline,
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

bool SetReceiveTimeout(SocketHandle socket, int milliseconds);

// Whether a receive would return at once (data waiting, or the peer's close), without waiting
// and without reading.
bool SocketReadable(SocketHandle socket);

// TCP server side, for the test peers: a listening socket on the IPv4 address (port 0 picks a
// free one) with room for `backlog` connections not yet accepted, the port it got, and accept.
SocketHandle TcpListen(const std::string& address, int port, int backlog = 16);
int LocalPort(SocketHandle socket);
SocketHandle TcpAccept(SocketHandle listener);

// Thin wrappers over send/recv: the OS result (bytes, 0, or below 0 for an error).
int SocketSend(SocketHandle socket, const char* data, int length);
int SocketReceive(SocketHandle socket, char* buffer, int length);
