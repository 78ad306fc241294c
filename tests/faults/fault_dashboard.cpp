#include "tests/faults/fault_dashboard.h"

#include <chrono>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Closes with a reset instead of an orderly end: no linger time at all.
void ResetAndClose(SocketHandle socket) {
    linger hard{};
    hard.l_onoff = 1;
    hard.l_linger = 0;
#ifdef _WIN32
    setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
               reinterpret_cast<const char*>(&hard), sizeof hard);
    closesocket(static_cast<SOCKET>(socket));
#else
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(static_cast<int>(socket)); // no shutdown first: that would send a FIN
#endif
}

bool SendAll(SocketHandle socket, const std::string& data) {
    return SocketSend(socket, data.data(), static_cast<int>(data.size())) ==
           static_cast<int>(data.size());
}

// The head up to the blank line, then as many body bytes as Content-Length says.
bool ReadRequest(SocketHandle socket) {
    std::string data;
    char buffer[4096];
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const int n = SocketReceive(socket, buffer, sizeof buffer);
        if (n <= 0 || data.size() > 65536)
            return false;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t length = 0;
    const std::size_t field = data.find("Content-Length:");
    if (field != std::string::npos && field < headEnd)
        length = std::strtoul(data.c_str() + field + 15, nullptr, 10);
    while (data.size() < headEnd + 4 + length) {
        const int n = SocketReceive(socket, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

bool FaultDashboard::Start(BrokenAnswer broken) {
    Stop();
    const SocketHandle socket = TcpListen("127.0.0.1", 0);
    if (socket == kInvalidSocket)
        return false;
    answer = broken;
    port = LocalPort(socket);
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopRequested = false;
        requests = 0;
        trickled = 0;
    }
    listener.store(socket);
    acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void FaultDashboard::Stop() {
    if (!acceptThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopRequested = true;
    }
    stopping.notify_all();
    // A connection of our own gets the accept going; the loop then sees the stop.
    const SocketHandle wake = TcpConnect("127.0.0.1", port, 1000);
    acceptThread.join();
    CloseSocket(wake);
    CloseSocketSlot(listener);
    // Every connection ends by itself within a second of the stop (or its receive time-out).
    for (std::thread& connection : connections)
        connection.join();
    connections.clear();
}

std::wstring FaultDashboard::BaseUrl() const {
    return L"http://127.0.0.1:" + std::to_wstring(port);
}

int FaultDashboard::Requests() {
    std::lock_guard<std::mutex> lock(mutex);
    return requests;
}

int FaultDashboard::BytesTrickled() {
    std::lock_guard<std::mutex> lock(mutex);
    return trickled;
}

void FaultDashboard::AcceptLoop() {
    for (;;) {
        const SocketHandle socket = TcpAccept(listener.load());
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopRequested || socket == kInvalidSocket) {
                CloseSocket(socket);
                if (stopRequested)
                    return;
                continue;
            }
        }
        connections.emplace_back([this, socket] { Serve(socket); });
    }
}

void FaultDashboard::Serve(SocketHandle socket) {
    SetReceiveTimeout(socket, 5000);
    if (!ReadRequest(socket)) {
        CloseSocket(socket);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++requests;
    }
    switch (answer) {
    case BrokenAnswer::ResetInStatusLine:
        SendAll(socket, "HTTP/1.1 20");
        ResetAndClose(socket);
        return;
    case BrokenAnswer::ResetInHeaders:
        SendAll(socket, "HTTP/1.1 200 OK\r\nContent-Type: text/pl");
        ResetAndClose(socket);
        return;
    case BrokenAnswer::ResetInBody:
        SendAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
        ResetAndClose(socket);
        return;
    case BrokenAnswer::Trickle: {
        const std::string head = "HTTP/1.1 200 OK\r\nX-Trickle: ";
        std::unique_lock<std::mutex> lock(mutex);
        for (std::size_t sent = 0; !stopRequested; ++sent) {
            lock.unlock();
            const char byte = sent < head.size() ? head[sent] : 'x';
            const bool delivered = SendAll(socket, std::string(1, byte));
            lock.lock();
            if (!delivered)
                break; // the client gave up
            ++trickled;
            stopping.wait_for(lock, std::chrono::seconds(1), [this] { return stopRequested; });
        }
        lock.unlock();
        CloseSocket(socket);
        return;
    }
    }
}
