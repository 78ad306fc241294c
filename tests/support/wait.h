#pragma once
// The suite's one wait and one free port: tests await a condition instead of sleeping, and peers
// take a loopback port that nobody holds.
#include <chrono>
#include <functional>
#include <thread>

#include "platform/net.h"
#include "tools/net_peers/net_peers.h"

// Polls the condition every 2 ms until it holds (true) or the limit passes (false).
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > end)
            return false;
    return true;
}

enum class PortKind { Udp, Tcp };

// A port on 127.0.0.1 that was free a moment ago.
inline int FreePort(PortKind kind) {
    const SocketHandle probe =
        kind == PortKind::Udp ? UdpBind("127.0.0.1", 0) : TcpListen("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);
    return port;
}
