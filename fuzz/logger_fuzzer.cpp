// Any bytes a host on the network may send as a logger datagram: nothing may crash or hang, the
// one-pass reader finds what the plain search finds, and the snapshot holds together.
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "core/station_snapshot.h"
#include "sources/udp/logger_parser.h"
#include "tests/support/element_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65507) // the largest UDP payload the listener can receive
        return 0;
    // Seven seconds pass per radio message, so radios keep expiring and coming back.
    SetLoggerParserClock([] {
        static std::int64_t now = 0;
        return now += 7'000'000'000;
    });
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string_view names[] = {"freq", "call", "radionr", "isrunning", "c", ""};
    std::string_view texts[std::size(names)];
    ElementTexts(text, ElementNames(names, std::size(names)), texts);
    for (std::size_t i = 0; i < std::size(names); ++i)
        if (texts[i] != ElementText(text, std::string(names[i])))
            std::abort();
    ParseLoggerDatagram(text);
    const StationSnapshot s = ReadStationSnapshot().snapshot;
    if ((s.radios != 1 && s.radios != 2) || (s.radios == 2) == s.freq2.empty() ||
        s.freq.size() > 31)
        std::abort();
    return 0;
}
