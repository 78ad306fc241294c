#pragma once
// HRD's TCP protocol: one command and one reply, each in a frame of a 16-byte header and UTF-16LE
// text. The connection itself (connect, time-outs, command order) is the poller's business.
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/net.h"

constexpr std::uint32_t kHrdMagic1 = 0x1234ABCD;
constexpr std::uint32_t kHrdMagic2 = 0xABCD1234;
constexpr std::uint32_t kHrdHeaderSize = 16;
// A reply's length field above this (1 MiB) is refused; it also bounds the one allocation.
constexpr std::uint32_t kHrdMaxFrameSize = 0x100000;
// A whole reply must arrive within this after its request went out. (rigctld's too.)
constexpr int kHrdReplyLimitMs = 4000;

// The commands, exactly as HRD expects them; the prefixed ones follow "[context] ".
extern const wchar_t* const kHrdGetId;
extern const wchar_t* const kHrdGetContext;
extern const wchar_t* const kHrdGetRadio;
extern const wchar_t* const kHrdGetFrequency;
extern const wchar_t* const kHrdGetMode;
extern const wchar_t* const kHrdGetDropdownMode;

// The frame that carries the text: header with length 2n + 18, n UTF-16 units, one NUL unit.
std::string BuildHrdFrame(const std::wstring& text);

// Sends the command and reads one reply within limitMs. On success the reply is replaced; on any
// failure it is left exactly as it was and the socket stays open for the caller to close.
bool HrdExchange(SocketHandle socket, const std::wstring& command, std::wstring& reply,
                 int limitMs = kHrdReplyLimitMs);

// The reading half of the exchange: one frame's text, trailing NUL units removed, read before
// the deadline.
bool ReceiveHrdFrame(SocketHandle socket, std::wstring& text,
                     std::chrono::steady_clock::time_point deadline);

// Reads until count bytes have arrived; a receive of 0 or less (closed, error, time-out) fails.
// A count of 0 or less succeeds without reading. With a deadline each receive waits only for
// the time left (the socket's receive time-out is set to it), so a peer that sends a byte now
// and then cannot stretch the read past the deadline.
bool ReceiveExact(
    SocketHandle socket, char* buffer, std::int32_t count,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

// Without leading and trailing space, tab, CR and LF; other white space stays.
std::wstring TrimWhitespace(const std::wstring& text);

// The mode reply: trimmed, and when it holds a colon, the trimmed text after the first one.
std::wstring ReadHrdMode(const std::wstring& reply);
