#include "tools/net_peers/tcp_peer.h"

#include "tools/net_peers/net_peers.h"

bool TcpPeer::Start(int listenPort, std::function<void(SocketHandle)> serve,
                    const std::string& at) {
    address = at;
    if ((listener = TcpListen(address, listenPort)) == kInvalidSocket)
        return false;
    port = LocalPort(listener);
    running.store(true);
    // Only this thread closes the sockets, and under the slot's lock, so a stop never wakes a
    // handle that is already closed and perhaps reused.
    thread = std::thread([this, serve] {
        while (true) {
            connection.handle.store(TcpAccept(listener));
            if (!running.load())
                break; // the stop's wake-up call
            serve(connection.handle.load());
            CloseSocketSlot(connection);
        }
        CloseSocketSlot(connection);
        CloseSocket(listener);
    });
    return true;
}

void TcpPeer::Stop() {
    if (!running.exchange(false))
        return;
    WakeSocketSlot(connection);
    CloseSocket(TcpConnect(address, port, 1000)); // gets a waiting accept going
    thread.join();
}
