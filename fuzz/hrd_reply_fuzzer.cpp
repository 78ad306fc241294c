// Whatever an HRD port sends back: the input is the byte stream that recv returns, read as a
// run of replies until one fails. Nothing may crash, hang or read outside the frame.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A socket pair holds this much without a reader on the other end.
    if (size > 65536)
        size = 65536;
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return 0;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(ends[1], data + written, size - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    ::shutdown(ends[1], SHUT_WR); // then the reader sees the end of the stream, never waits

    const SocketHandle socket = static_cast<SocketHandle>(ends[0]);
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
        const std::int64_t hertz = ReadHrdFrequency(reply);
        const StationSnapshot record = BuildHrdRecord(hertz, mode, L"N0CALL", L"", trimmed);
        Check((hertz > 0) == !record.freq.empty());
        Check(record.freq.size() <= 31);
        WideToUtf8(record.radio);
    }
    ::close(ends[0]);
    ::close(ends[1]);
    return 0;
}
