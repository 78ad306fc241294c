// How a stop gets a worker out of its receive: the wake-up must end a receive that is blocked,
// fail one that starts later, and keep the handle, so that no socket opened meanwhile by another
// thread can take the number the worker is about to receive on. (Closing it instead left the
// poller or the listener waiting on a stranger's socket now and then, and the stop never ended.)
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/net_peers.h"
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
        WakeSocket(pair.socket);
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

// A host that never answers the connect (here a listener whose queue of unaccepted connections is
// full, so that the kernel drops the next SYN) must not hold a stopping worker for the whole
// connect limit: the connect looks at the worker's flag between short waits.
TEST(SocketWake, ConnectToAHostThatNeverAnswersEndsSoonAfterItsFlagFalls) {
    const SocketHandle listener = TcpListen("127.0.0.1", 0, 0);
    ASSERT_NE(listener, kInvalidSocket);
    const int port = LocalPort(listener);
    std::vector<SocketHandle> queued;
    bool full = false;
    for (int i = 0; i < 8 && !full; ++i) {
        const SocketHandle filler = TcpConnect("127.0.0.1", port, 300);
        full = filler == kInvalidSocket;
        if (!full)
            queued.push_back(filler);
    }

    std::atomic<bool> keepWaiting{true};
    std::atomic<bool> ended{false};
    SocketHandle connected = kInvalidSocket;
    std::thread connecting([&] {
        connected = TcpConnect("127.0.0.1", port, 10000, &keepWaiting);
        ended = true;
    });
    std::this_thread::sleep_for(300ms); // well inside the connect, if it hangs at all
    const bool hung = !ended.load();
    keepWaiting = false;
    const auto fell = FaultClock::now();
    connecting.join();
    const double afterFall = MillisecondsSince(fell);
    CloseSocket(connected);
    for (const SocketHandle socket : queued)
        CloseSocket(socket);
    CloseSocket(listener);
    if (!full || !hung)
        GTEST_SKIP() << "connects to a full listener do not hang here";
    EXPECT_EQ(connected, kInvalidSocket);
    EXPECT_LT(afterFall, 1000.0) << "the connect went on after its flag fell";
}
