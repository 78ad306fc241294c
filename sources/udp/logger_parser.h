#pragma once
// Turns the loggers' XML datagrams (radio and contact messages) into the station snapshot.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The values the loggers' datagrams give the snapshot's operating state and program, which test
// mode's demo data gives too.
inline constexpr const wchar_t* kOpCalling = L"Is calling";
inline constexpr const wchar_t* kOpSearching = L"Is searching";
inline constexpr const wchar_t* kN1mmApp = L"N1MM";

void ParseLoggerDatagram(const std::string& text);
std::string RootElementName(const std::string& text);

// Element names prepared for reading them all in one pass (at most kMaxElementsAtOnce).
constexpr std::size_t kMaxElementsAtOnce = 32;
struct ElementNames {
    ElementNames(const std::string_view* list, std::size_t count);
    std::string_view names[kMaxElementsAtOnce];
    std::size_t size = 0;
    std::uint32_t byFirstByte[32] = {}; // names (bits) by their lowered first byte's low five bits
    std::uint32_t emptyNames = 0;
};

// texts[i] is the text of element names[i], as a view into `text`: from after the ">" that
// follows the first "<name" to the first "</name>" past that ">" (ASCII letters in either case),
// empty when either is missing. `texts` holds wanted.size views.
void ElementTexts(std::string_view text, const ElementNames& wanted, std::string_view* texts);

// The parser's monotonic clock in nanoseconds; radios expire by it. nullptr restores the steady
// clock. For tests, which cannot wait for a radio to fall silent for real.
using LoggerClock = std::int64_t (*)();
void SetLoggerParserClock(LoggerClock clock);

// Forgets every radio and the latest call and contest name. For tests and restarts.
void ResetLoggerParserState();

// Radios heard within the expiry time that the parser keeps at most; a flood of radio numbers
// from the network must not grow memory without bound.
constexpr std::size_t kMaxKeptRadios = 32;
