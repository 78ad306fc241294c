// Whatever an HRD port sends back: the input is the byte stream that recv returns, read as a
// run of replies until one fails. Nothing may crash, hang or read outside the frame.
#include <cstdint>
#include <cstdlib>
#include <string>
#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include "core/numbers.h"
#include "platform/net_peers.h"
#include "platform/text.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool Blank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// A connected pair: a socket pair, or where there is none (the replay under Windows) a loopback
// TCP connection.
bool ConnectedPair(SocketHandle& reader, SocketHandle& writer) {
#ifdef _WIN32
    static const SocketHandle listener = NetStartup() ? TcpListen("127.0.0.1", 0) : kInvalidSocket;
    reader = TcpConnect("127.0.0.1", LocalPort(listener), 2000);
    writer = TcpAccept(listener);
    return reader != kInvalidSocket && writer != kInvalidSocket;
#else
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return false;
    reader = static_cast<SocketHandle>(ends[0]);
    writer = static_cast<SocketHandle>(ends[1]);
    return true;
#endif
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Either pair holds this much without a reader on the other end.
    if (size > 65536)
        size = 65536;
    SocketHandle socket = kInvalidSocket, writer = kInvalidSocket;
    Check(ConnectedPair(socket, writer));
    std::size_t written = 0;
    while (written < size) {
        const int n = SocketSend(writer, reinterpret_cast<const char*>(data) + written,
                                 static_cast<int>(size - written));
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    ::shutdown(writer, 1); // SHUT_WR, SD_SEND: the reader sees the end of the stream, never waits

    for (int i = 0; i < 64; ++i) {
        std::wstring reply = L"sentinel";
        if (!HrdExchange(socket, L"[1] get frequency", reply)) {
            Check(reply == L"sentinel");
            break;
        }
        Check(reply.size() <= (kHrdMaxFrameSize - kHrdHeaderSize) / 2);
        Check(reply.empty() || reply.back() != L'\0');

        const std::wstring trimmed = TrimWhitespace(reply);
        Check(trimmed.empty() || (!Blank(trimmed.front()) && !Blank(trimmed.back())));
        const std::wstring mode = ReadHrdMode(reply);
        Check(mode.size() <= trimmed.size());
        const std::int64_t hertz = LeadingInteger(reply);
        const StationSnapshot record = BuildHrdRecord(hertz, mode, L"N0CALL", L"", trimmed);
        Check((hertz > 0) == !record.freq.empty());
        Check(record.freq.size() <= 31);
        WideToUtf8(record.radio);
    }
    CloseSocket(socket);
    CloseSocket(writer);
    return 0;
}
