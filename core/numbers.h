#pragma once
// The numbers that arrive as text (ports, settings, frequencies), and megahertz shown as text.
#include <cstdint>
#include <string>
#include <string_view>

// The C locale's white space, as atoll and isspace know it.
template <typename Char> constexpr bool IsCSpace(Char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A decimal integer read the way atoll reads one (leading white space, a sign, digits up to the
// first other character; none gives 0), but with its magnitude held at the largest 64-bit value
// instead of overflowing. Callers apply their own ranges to it.
std::int64_t LeadingInteger(std::string_view text);
std::int64_t LeadingInteger(std::wstring_view text);

// Hertz as megahertz with three decimals, exactly as printf's "%.3f" shows hz / 1e6, with a full
// stop whatever the locale. Written into `out`, whose storage is reused: the logger formats one
// per datagram.
void FormatMegahertz(std::int64_t hz, std::wstring& out);

// Four decimal octets 0..255 without leading zeros, as the platforms' numeric IPv4 parsers take
// them: the one form of a local or HRD address that is used as typed.
bool IsDottedIpv4(std::wstring_view text);

// The text with every letter in lower case, as towlower has it.
std::wstring LowerCase(std::wstring text);

// "http" or "https" when the URL begins with one of them and "://", in any case; empty otherwise.
std::wstring HttpSchemeOf(const std::wstring& url);
