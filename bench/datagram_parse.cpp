// CPU time of the logger parser for the bytes of one datagram file, measured the same way as
// bench/etree_parse.py measures Python's xml.etree, so that the figures can be set side by side:
// batches of calls timed with the process's CPU clock, the median batch per call.
//
//   datagram_parse FILE [BATCHES]
//
// Prints two lines, each "<what> ns_per_datagram <median> min <fastest> batches <n>
// calls_per_batch <m>": "parse" for ParseLoggerDatagram (the texts read and the snapshot
// published), "extract" for reading the texts of the elements a radio message is read for, as
// wide strings, and no more (what Python's fromstring and findtext give).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "core/station_snapshot.h"
#include "platform/text.h"
#include "sources/udp/logger_parser.h"

namespace {

// The elements a radio message is read for.
const std::string_view kElementsRead[] = {
    "freq",       "mode",     "mycall", "opcall",    "radioname", "mylocator",   "locator",
    "mylocation", "location", "app",    "isrunning", "call",      "contestname", "radionr"};
const ElementNames kNames(kElementsRead, std::size(kElementsRead));

void ParseOnly(const std::string& datagram) {
    ParseLoggerDatagram(datagram);
}

std::size_t extracted = 0; // keeps the texts from being optimised away

void ExtractOnly(const std::string& datagram) {
    std::string_view texts[std::size(kElementsRead)];
    ElementTexts(datagram, kNames, texts);
    for (const std::string_view text : texts)
        extracted += Utf8ToWide(text.data(), text.size()).size();
}

double ProcessCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Calls per batch so that one batch takes about `targetNs` of CPU time.
long CallsPerBatch(void (*work)(const std::string&), const std::string& datagram, double targetNs) {
    long calls = 1;
    for (;;) {
        const double start = ProcessCpuNs();
        for (long i = 0; i < calls; ++i)
            work(datagram);
        const double spent = ProcessCpuNs() - start;
        if (spent >= targetNs / 4 || calls >= (1L << 30))
            return std::max(1L, static_cast<long>(static_cast<double>(calls) * targetNs /
                                                  std::max(spent, 1.0)));
        calls *= 2;
    }
}

void Measure(const char* what, void (*work)(const std::string&), const std::string& datagram,
             int batches) {
    const long calls = CallsPerBatch(work, datagram, 20e6);
    std::vector<double> perCall;
    for (int batch = 0; batch < batches; ++batch) {
        const double start = ProcessCpuNs();
        for (long i = 0; i < calls; ++i)
            work(datagram);
        perCall.push_back((ProcessCpuNs() - start) / static_cast<double>(calls));
    }
    std::sort(perCall.begin(), perCall.end());
    std::printf("%s ns_per_datagram %.1f min %.1f batches %d calls_per_batch %ld\n", what,
                perCall[perCall.size() / 2], perCall.front(), batches, calls);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: datagram_parse FILE [BATCHES]\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::string datagram((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    if (!file || datagram.empty()) {
        std::fprintf(stderr, "datagram_parse: cannot read %s\n", argv[1]);
        return 2;
    }
    const int batches = argc > 2 ? std::max(3, std::atoi(argv[2])) : 15;

    // A datagram the parser passes over would time nothing worth comparing.
    const std::uint64_t before = ReadStationSnapshot().version;
    ParseLoggerDatagram(datagram);
    if (ReadStationSnapshot().version == before) {
        std::fprintf(stderr, "datagram_parse: %s is not a radio or contact message\n", argv[1]);
        return 1;
    }

    Measure("parse", ParseOnly, datagram, batches);
    Measure("extract", ExtractOnly, datagram, batches);
    return 0;
}
