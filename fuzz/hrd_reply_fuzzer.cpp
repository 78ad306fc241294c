// Whatever an HRD port sends back: the input is the byte stream a loopback connection delivers,
// read as a run of replies until one fails. Nothing may crash, hang or read outside the frame.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/numbers.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/hrd/hrd_record.h"
#include "tools/net_peers/net_peers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const SocketHandle listener = NetStartup() ? TcpListen("127.0.0.1", 0) : kInvalidSocket;
    const SocketHandle socket = TcpConnect("127.0.0.1", LocalPort(listener), 2000);
    const SocketHandle writer = TcpAccept(listener);
    if (socket == kInvalidSocket || writer == kInvalidSocket)
        std::abort();
    // A loopback connection holds this much without a reader.
    const int length = static_cast<int>(size < 65536 ? size : 65536);
    for (int written = 0, n = 1; written < length && n > 0; written += n)
        n = SocketSend(writer, reinterpret_cast<const char*>(data) + written, length - written);
    WakeSocket(writer); // shut down: the reader sees the end of the stream, never waits
    for (int i = 0; i < 64; ++i) {
        std::wstring reply = L"sentinel";
        if (!HrdExchange(socket, L"[1] get frequency", reply)) {
            if (reply != L"sentinel")
                std::abort();
            break;
        }
        const std::int64_t hertz = LeadingInteger(reply);
        const StationSnapshot record = BuildRigRecord(hertz, ReadHrdMode(reply), L"N0CALL", L"",
                                                      TrimWhitespace(reply), L"HRD");
        if (reply.size() > (kHrdMaxFrameSize - kHrdHeaderSize) / 2 ||
            (hertz > 0) == record.freq.empty() || record.freq.size() > 31)
            std::abort();
    }
    CloseSocket(socket);
    CloseSocket(writer);
    return 0;
}
