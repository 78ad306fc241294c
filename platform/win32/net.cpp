// What Winsock does differently; the shared rest is in platform/net.cpp.
#include "platform/net.h"

#include "socket_api.h"

bool NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void NetCleanup() {
    WSACleanup();
}

void CloseSocket(SocketHandle socket) {
    if (socket != kInvalidSocket)
        closesocket(Native(socket));
}

void WakeSocket(SocketHandle socket) {
    if (socket == kInvalidSocket)
        return;
    // Closing would free the handle for the next socket any thread opens, and the owner's receive
    // that was about to start would then wait on that stranger. Instead shutdown() makes every
    // later receive fail at once, and CancelIoEx calls off one that is already blocked (Winsock
    // does not promise that shutdown() alone ends it, least of all on a datagram socket).
    shutdown(Native(socket), SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(Native(socket)), nullptr);
}

bool SetReceiveTimeout(SocketHandle socket, int milliseconds) {
    DWORD limit = static_cast<DWORD>(milliseconds);
    return setsockopt(Native(socket), SOL_SOCKET, SO_RCVTIMEO,
                      reinterpret_cast<const char*>(&limit), sizeof limit) == 0;
}

bool SocketReadable(SocketHandle socket) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(socket), &readable);
    timeval now{0, 0};
    return select(0, &readable, nullptr, nullptr, &now) > 0;
}

int SocketSend(SocketHandle socket, const char* data, int length) {
    return send(Native(socket), data, length, 0);
}

int SocketReceive(SocketHandle socket, char* buffer, int length) {
    return recv(Native(socket), buffer, length, 0);
}
