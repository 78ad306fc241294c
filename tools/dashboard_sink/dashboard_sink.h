#pragma once
// A stand-in dashboard for tests: an HTTP server on 127.0.0.1 that records every request and
// answers as told: a status, late, never, with a reset, or with bytes of its own. Natively it also
// speaks HTTPS, through cpp-httplib (a status and a location only).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/net_peers/net_peers.h"
#include "tools/net_peers/tcp_peer.h"

namespace httplib {
class Server;
}

struct SinkRequest {
    std::string method, target, version;
    std::string head; // the request line and every header line, each ending in CR LF
    std::string body;
    std::string Header(const std::string& name) const; // the first one's value, or empty
};

// Every member has a default, so that a test can name the first few only.
struct SinkOptions {
    int status = 200;     // 0: no answer of its own
    int delayMs = 0;      // before the answer; a stop cuts it short
    std::string raw{};    // sent instead of the answer,
    std::string repeat{}; // then this again and again until the client goes
    int repeatPauseMs = 0;
    bool reset = false; // closes with the request unread, so that the stack sends a reset
    std::string location = "/moved";                     // sent with every answer
    std::function<void(const SinkRequest&)> onRequest{}; // before recording, on the sink's thread
    int thenStatus = 0;                // from the second request on, this status (0: the same)
    std::string address = "127.0.0.1"; // where it listens (plain HTTP)
};

struct DashboardSink {
    ~DashboardSink() { Stop(); }
    // Listens on the options' address (port 0: a free one) and serves one connection at a time.
    // With `tls` (POSIX only, always on a free port) it speaks HTTPS with a certificate for
    // 127.0.0.1 from the test CA, whose own certificate is CORVANE_TEST_PKI "/ca.pem".
    bool Start(const SinkOptions& options, int port = 0, bool tls = false);
    void Stop();
    std::wstring BaseUrl() const; // http(s)://address:port
    std::vector<SinkRequest> Requests();
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit);

    int port = 0;

    // Internals.
    std::mutex mutex;
    std::condition_variable changed;
    SinkOptions options; // read-only while the sink runs
    std::vector<SinkRequest> requests;
    bool stopping = false;
    TcpPeer peer;                               // plain HTTP
    std::shared_ptr<httplib::Server> tlsServer; // HTTPS, on a thread of its own
    std::thread thread;
};
