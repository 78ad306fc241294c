#pragma once
// Turns the loggers' XML datagrams (radio and contact messages) into the station snapshot.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

void ParseLoggerDatagram(const std::string& text);
std::string RootElementName(const std::string& text);
std::string ElementText(const std::string& text, const std::string& name);

// ElementText over a copy of the text that is already lower-cased (A-Z only, see LowerAscii). It
// looks among the tags (see DatagramTags); the overload above searches the whole text, the plain
// way, and both must always agree.
std::string ElementText(const std::string& text, const std::string& lowered,
                        const std::string& name);
std::string LowerAscii(const std::string& text);

// A datagram lowered once, with every "<" in it chained by the byte that follows it (and, for a
// closing "</", by the byte after that), so that finding an element looks only at the few tags that
// begin like its name instead of searching the whole text once per name read.
struct DatagramTags {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Tag {
        std::size_t at;          // where its "<" stands
        std::size_t nextOpening; // the next tag with the same byte after "<"
        std::size_t nextClosing; // the next "</" tag with the same byte after "</"
    };
    std::string lowered;
    std::vector<Tag> tags; // in the order of the text
    std::size_t firstOpening[256];
    std::size_t firstClosing[256];
};
DatagramTags IndexDatagram(const std::string& text);
std::string ElementText(const std::string& text, const DatagramTags& tags, const std::string& name);

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
