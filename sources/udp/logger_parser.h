#pragma once
// Turns the loggers' XML datagrams (radio and contact messages) into the station snapshot.
#include <cstddef>
#include <cstdint>
#include <string>

void ParseLoggerDatagram(const std::string& text);
std::string RootElementName(const std::string& text);
std::string ElementText(const std::string& text, const std::string& name);

// ElementText over a copy of the text that is already lower-cased (A-Z only, see LowerAscii), so
// that a datagram is lowered once however many elements are read from it.
std::string ElementText(const std::string& text, const std::string& lowered,
                        const std::string& name);
std::string LowerAscii(const std::string& text);

// Reads a decimal integer the way atoll does (leading white space, sign, digits up to the first
// non-digit; none gives 0), but saturates at the 64-bit limits instead of overflowing.
std::int64_t LeadingInteger(const std::string& text);

// The parser's monotonic clock in nanoseconds; radios expire by it. nullptr restores the steady
// clock. For tests, which cannot wait for a radio to fall silent for real.
using LoggerClock = std::int64_t (*)();
void SetLoggerParserClock(LoggerClock clock);

// Forgets every radio and the latest call and contest name. For tests and restarts.
void ResetLoggerParserState();

// Radios heard within the expiry time that the parser keeps at most; a flood of radio numbers
// from the network must not grow memory without bound.
constexpr std::size_t kMaxKeptRadios = 32;
