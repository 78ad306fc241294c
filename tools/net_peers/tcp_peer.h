#pragma once
// A test peer's server: listens on an IPv4 address (127.0.0.1 unless told) and serves one
// connection at a time on a thread of its own until stopped.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/net.h"

struct TcpPeer {
    ~TcpPeer() { Stop(); }
    // Port 0 takes a free one. `serve` reads and answers one connection until it ends.
    bool Start(int port, std::function<void(SocketHandle)> serve,
               const std::string& at = "127.0.0.1");
    void Stop();

    int port = 0;
    std::string address;
    std::atomic<bool> running{false};
    SocketHandle listener = kInvalidSocket;
    SocketSlot connection;
    std::thread thread;
};
