#pragma once
// A stand-in dashboard for tests and by hand: a real HTTP (or, on POSIX, HTTPS) server on
// 127.0.0.1 that records every request and answers as it is told: a chosen status, late, not at
// all, by closing, or with any bytes at all.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/net_peers.h"

struct SinkRequest {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers; // in the order sent
    std::string body;

    // How often a header appears, and the first one's value (empty when absent); case-blind.
    int HeaderCount(const std::string& name) const;
    std::string Header(const std::string& name) const;
};

enum class SinkBehaviour {
    Answer,             // the status below, after delayMs
    CloseWithoutAnswer, // reads the request, then closes
    NeverAnswer,        // reads the request, then holds the connection until Stop
    Reset,              // closes with the request unread, so the stack sends a reset
    Raw,                // reads the request, sends `raw`, closes
    RawEndless,         // reads the request, sends `raw`, then `rawRepeat` until the client goes
};

struct SinkOptions {
    SinkBehaviour behaviour = SinkBehaviour::Answer;
    int status = 200;
    std::string body = "ok";
    int delayMs = 0;
    std::string location = "/moved"; // sent with a 3xx status
    std::string raw;
    std::string rawRepeat;
    // Called on a connection thread for every complete request, after it was recorded.
    std::function<void(const SinkRequest&)> onRequest;
};

struct SinkTls; // a TLS server context, see sink_tls.h (POSIX with OpenSSL only)

struct DashboardSink {
    DashboardSink() = default;
    DashboardSink(const DashboardSink&) = delete;
    DashboardSink& operator=(const DashboardSink&) = delete;
    ~DashboardSink() { Stop(); }

    // Listens on 127.0.0.1 (port 0: a free one). With `tls` it speaks HTTPS; the context must
    // outlive the sink.
    bool Start(const SinkOptions& options, int port = 0, SinkTls* tls = nullptr);
    void Stop();
    void SetOptions(const SinkOptions& options);

    std::wstring BaseUrl() const; // http(s)://127.0.0.1:port
    std::vector<SinkRequest> Requests();
    int Connections(); // accepted so far, answered or not
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit);

    int port = 0;

    // Internals, shared with the connection threads.
    struct Connection {
        SocketHandle socket = kInvalidSocket;
        std::thread thread;
        bool done = false;
    };
    void AcceptLoop();
    void Serve(Connection& connection);
    void Reap(bool all);

    std::mutex mutex;
    std::condition_variable changed;
    SinkOptions options;
    SinkTls* tls = nullptr;
    std::atomic<SocketHandle> listener{kInvalidSocket};
    std::atomic<bool> stopping{false};
    std::thread acceptThread;
    std::list<Connection> connections;
    std::vector<SinkRequest> requests;
    int accepted = 0;
};

// The reason phrase the sink sends with a status.
const char* SinkReason(int status);
