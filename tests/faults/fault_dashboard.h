#pragma once
// Dashboards that go wrong half-way through an answer, which the dashboard sink does not do: one
// that trickles its answer a byte a second and never finishes it, and ones that reset the
// connection in the middle of the answer's status line, headers or body.
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "platform/net_peers.h"

enum class BrokenAnswer {
    Trickle,           // "HTTP/1.1 200 OK" and a header that grows by one byte a second, forever
    ResetInStatusLine, // part of the status line, then a reset
    ResetInHeaders,    // the status line and part of the headers, then a reset
    ResetInBody,       // the whole head and part of the body, then a reset
};

struct FaultDashboard {
    FaultDashboard() = default;
    FaultDashboard(const FaultDashboard&) = delete;
    FaultDashboard& operator=(const FaultDashboard&) = delete;
    ~FaultDashboard() { Stop(); }

    bool Start(BrokenAnswer answer);
    void Stop();
    std::wstring BaseUrl() const;
    int Requests(); // read whole so far
    int BytesTrickled();

    // Internals, shared with the connection threads.
    void AcceptLoop();
    void Serve(SocketHandle socket);

    BrokenAnswer answer = BrokenAnswer::Trickle;
    int port = 0;
    std::mutex mutex;
    std::condition_variable stopping;
    bool stopRequested = false;
    int requests = 0;
    int trickled = 0;
    std::atomic<SocketHandle> listener{kInvalidSocket};
    std::thread acceptThread;
    std::list<std::thread> connections;
};
