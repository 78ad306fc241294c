// How a stop gets a worker out of its receive: the wake-up must end a receive that is blocked,
// fail one that starts later, and keep the handle, so that no socket opened meanwhile by another
// thread can take the number the worker is about to receive on. (Closing it instead left the
// poller or the listener waiting on a stranger's socket now and then, and the stop never ended.)
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/net.h"
#include "tests/faults/fault_support.h"

namespace {

using namespace std::chrono_literals;

struct SocketPair {
    SocketHandle socket = kInvalidSocket; // the one that is woken
    SocketHandle peer = kInvalidSocket;
    SocketHandle listener = kInvalidSocket;
    ~SocketPair() {
        CloseSocket(socket);
        CloseSocket(peer);
        CloseSocket(listener);
    }
};

void OpenPair(bool tcp, SocketPair& pair) {
    if (!tcp) {
        pair.socket = UdpBind("127.0.0.1", 0);
        return;
    }
    pair.listener = TcpListen("127.0.0.1", 0);
    pair.socket = TcpConnect("127.0.0.1", LocalPort(pair.listener), 2000);
    pair.peer = TcpAccept(pair.listener);
}

} // namespace

TEST(SocketWake, EndsTheReceiveAndKeepsTheHandleFromOtherSockets) {
    struct Case {
        const char* name;
        bool tcp;
        bool blockedFirst; // a receive waits when the wake-up comes, or starts after it
    } cases[] = {
        {"UDP, receive blocked", false, true},
        {"UDP, receive after the wake-up", false, false},
        {"TCP, receive blocked", true, true},
        {"TCP, receive after the wake-up", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SocketPair pair;
        OpenPair(c.tcp, pair);
        ASSERT_NE(pair.socket, kInvalidSocket);
        const int port = LocalPort(pair.socket);

        std::atomic<bool> started{false};
        std::atomic<bool> ended{false};
        int result = 1;
        const auto receive = [&] {
            char buffer[64];
            started = true;
            result = SocketReceive(pair.socket, buffer, sizeof buffer);
            ended = true;
        };
        std::thread receiver;
        if (c.blockedFirst) {
            receiver = std::thread(receive);
            while (!started.load())
                std::this_thread::yield();
            // Give the receive a moment to block; it returns only when woken either way.
            std::this_thread::sleep_for(50ms);
            EXPECT_FALSE(ended.load());
        }
        const bool closed = WakeSocket(pair.socket);
        EXPECT_FALSE(closed);
        // Any socket opened now must get a handle of its own.
        const SocketHandle other = UdpBind("127.0.0.1", 0);
        EXPECT_NE(other, pair.socket);
        if (!c.blockedFirst)
            receiver = std::thread(receive);

        const auto start = FaultClock::now();
        while (!ended.load() && MillisecondsSince(start) < 5000)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(ended.load()) << "the receive was not woken";
        if (!ended.load()) { // let the thread go rather than hang the suite
            const SocketHandle sender = c.tcp ? pair.peer : UdpConnect("127.0.0.1", port);
            SocketSend(sender, "x", 1);
            if (!c.tcp)
                CloseSocket(sender);
        }
        receiver.join();
        EXPECT_LE(result, 0);
        EXPECT_EQ(LocalPort(pair.socket), port); // still ours, still open
        CloseSocket(other);
    }
}
