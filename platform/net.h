#pragma once
// Sockets: Winsock on Windows, BSD sockets on POSIX. IPv4 only, as the sources need.
#include <atomic>
#include <cstdint>
#include <mutex>
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
// be reused by another socket under a receive that is about to start.
void WakeSocket(SocketHandle socket);

// A worker's socket where a stop can reach it. The mutex keeps a stop's wake-up and the worker's
// close apart, so that nobody wakes a handle that is already closed and perhaps reused.
struct SocketSlot {
    std::atomic<SocketHandle> handle{kInvalidSocket};
    std::mutex mutex;
};
void WakeSocketSlot(SocketSlot& slot);
void CloseSocketSlot(SocketSlot& slot);

// UDP: an IPv4 datagram socket with SO_REUSEADDR bound to the dotted-quad address (anything that
// is not one binds 0.0.0.0) and port. kInvalidSocket when it cannot be created or bound.
SocketHandle UdpBind(const std::string& address, int port);

// TCP in two steps, so that a worker can put the socket where a stop or a drop finds it before
// the connect begins: an IPv4 stream socket, or kInvalidSocket.
SocketHandle TcpSocket();

// Resolves the host (IPv4) and connects the socket within timeoutMs with a non-blocking connect;
// the socket is blocking again afterwards, and the caller closes it whatever the result. With
// `keepWaiting` (a worker's flag) the connect is also given up within about 100 ms of the flag
// falling, so that stopping a worker never waits for a host that does not answer.
bool TcpConnectSocket(SocketHandle socket, const std::string& host, int port, int timeoutMs,
                      const std::atomic<bool>* keepWaiting = nullptr);

bool SetReceiveTimeout(SocketHandle socket, int milliseconds);

// Whether a receive would return at once (data waiting, or the peer's close), without waiting
// and without reading.
bool SocketReadable(SocketHandle socket);

// Thin wrappers over send/recv: the OS result (bytes, 0, or below 0 for an error).
int SocketSend(SocketHandle socket, const char* data, int length);
int SocketReceive(SocketHandle socket, char* buffer, int length);
