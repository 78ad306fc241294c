// Any bytes a host on the network may send as a logger datagram. Nothing may crash or hang, and
// whatever is accepted must leave a snapshot that holds together.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "core/station_snapshot.h"
#include "sources/udp/logger_parser.h"
#include "tests/support/element_text.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

// Seven seconds pass per input, so radios keep expiring and coming back.
std::int64_t fuzzNow = 0;
std::int64_t FuzzClock() {
    return fuzzNow;
}

bool IsSubstring(const std::string& part, const std::string& whole) {
    return part.empty() || whole.find(part) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65507) // the largest UDP payload the listener can receive
        return 0;
    static const bool clockSet = (SetLoggerParserClock(&FuzzClock), true);
    (void)clockSet;
    fuzzNow += 7'000'000'000;

    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string root = RootElementName(text);
    for (char c : root)
        Check(c != '\t' && c != '\n' && c != '\r' && c != ' ' && c != '/' && c != '>' &&
              !(c >= 'A' && c <= 'Z'));

    const std::string_view names[] = {"freq", "call", "radionr", "isrunning", "mylocator", "c"};
    std::string_view texts[std::size(names)];
    ElementTexts(text, ElementNames(names, std::size(names)), texts);
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string cut = ElementText(text, std::string(names[i]));
        Check(cut == texts[i]);
        Check(IsSubstring(cut, text));
    }

    const std::uint64_t before = ReadStationSnapshot().version;
    ParseLoggerDatagram(text);
    const SnapshotRead after = ReadStationSnapshot();
    Check(after.version - before <= 1);
    const StationSnapshot& s = after.snapshot;
    Check(s.radios == 1 || s.radios == 2);
    if (s.radios == 1)
        Check(s.freq2.empty() && s.band2.empty() && s.mode2.empty() && s.radio2.empty() &&
              s.op_status2.empty());
    else
        Check(!s.freq2.empty() && !s.band2.empty());
    if (!s.freq.empty())
        Check(!s.band.empty() && !s.app.empty() && s.freq.size() < 32);
    Check(s.op_status.empty() || s.op_status == L"Is calling" || s.op_status == L"Is searching");
    return 0;
}
