#include "sources/hrd/hrd_protocol.h"

#include <algorithm>
#include <climits>

#include "platform/text.h"

const wchar_t* const kHrdGetId = L"Get ID";
const wchar_t* const kHrdGetContext = L"Get Context";
const wchar_t* const kHrdGetRadio = L"Get Radio";
const wchar_t* const kHrdGetFrequency = L"get frequency";
const wchar_t* const kHrdGetMode = L"get mode";
const wchar_t* const kHrdGetDropdownMode = L"get dropdown-text {Main~Mode}";

namespace {

void AppendUint32(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

std::uint32_t ReadUint32(const unsigned char* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

} // namespace

std::string BuildHrdFrame(const std::wstring& text) {
    // Through the text seam, so a wide string is counted in UTF-16 units on every platform.
    const std::string units = WideToUtf16Le(text);
    std::string frame;
    frame.reserve(kHrdHeaderSize + units.size() + 2);
    AppendUint32(frame, static_cast<std::uint32_t>(kHrdHeaderSize + units.size() + 2));
    AppendUint32(frame, kHrdMagic1);
    AppendUint32(frame, kHrdMagic2);
    AppendUint32(frame, 0);
    frame += units;
    frame.append(2, '\0');
    return frame;
}

bool ReceiveExact(SocketHandle socket, char* buffer, std::int32_t count,
                  std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    std::int32_t received = 0;
    while (received < count) {
        if (deadline != steady_clock::time_point::max()) {
            const auto left = ceil<milliseconds>(deadline - steady_clock::now()).count();
            const auto wait = std::min<decltype(left)>(left, INT_MAX); // 24 days at most
            if (left <= 0 || !SetReceiveTimeout(socket, static_cast<int>(wait)))
                return false;
        }
        const int n = SocketReceive(socket, buffer + received, count - received);
        if (n <= 0)
            return false;
        received += n;
    }
    return true;
}

bool ReceiveHrdFrame(SocketHandle socket, std::wstring& text,
                     std::chrono::steady_clock::time_point deadline) {
    unsigned char field[4];
    if (!ReceiveExact(socket, reinterpret_cast<char*>(field), 4, deadline))
        return false;
    const std::uint32_t length = ReadUint32(field);
    // Unsigned wrap-around folds "below 16" into "too large"; nothing more is read either way.
    if (length - kHrdHeaderSize > kHrdMaxFrameSize - kHrdHeaderSize)
        return false;
    std::string rest(length - 4, '\0');
    if (!ReceiveExact(socket, &rest[0], static_cast<std::int32_t>(rest.size()), deadline))
        return false;
    // Magic words and the reserved field are not checked: HRD versions differ in them.
    const std::size_t textOffset = kHrdHeaderSize - 4;
    std::wstring decoded = Utf16LeToWide(rest.data() + textOffset, rest.size() - textOffset);
    while (!decoded.empty() && decoded.back() == L'\0')
        decoded.pop_back();
    text = std::move(decoded);
    return true;
}

bool HrdExchange(SocketHandle socket, const std::wstring& command, std::wstring& reply,
                 int limitMs) {
    const std::string frame = BuildHrdFrame(command);
    if (frame.size() > static_cast<std::size_t>(INT_MAX))
        return false;
    const int length = static_cast<int>(frame.size());
    // One send; a short count is a failure, never continued.
    if (SocketSend(socket, frame.data(), length) != length)
        return false;
    // The whole reply, not each receive, is bounded: a peer could otherwise keep one exchange
    // alive for ever by sending a byte just before every receive time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::wstring text;
    if (!ReceiveHrdFrame(socket, text, deadline))
        return false;
    reply = std::move(text);
    return true;
}

std::wstring TrimWhitespace(const std::wstring& text) {
    const wchar_t* const kBlank = L" \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::wstring::npos)
        return std::wstring();
    const std::size_t last = text.find_last_not_of(kBlank);
    return text.substr(first, last - first + 1);
}

std::wstring ReadHrdMode(const std::wstring& reply) {
    const std::wstring text = TrimWhitespace(reply);
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring::npos)
        return text;
    return TrimWhitespace(text.substr(colon + 1));
}
