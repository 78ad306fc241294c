// What a logger datagram costs to parse: a typical radio message, the largest datagram, and how
// the cost grows with the length. The parser reads every element it needs in one pass over the
// datagram; the "PlainSearch" runs show what searching the whole text for each would cost.
#include <benchmark/benchmark.h>

#include <iterator>
#include <string>
#include <string_view>

#include "sources/udp/logger_parser.h"
#include "tests/support/element_text.h"

namespace {

const std::string kRadioMessage =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>\r\n\t<app>N1MM</app>\r\n"
    "\t<StationName>CW-80m</StationName>\r\n\t<RadioNr>1</RadioNr>\r\n\t<Freq>352211</Freq>\r\n"
    "\t<TXFreq>352211</TXFreq>\r\n\t<Mode>CW</Mode>\r\n\t<mycall>W1ABC</mycall>\r\n"
    "\t<OpCall>W1ABC</OpCall>\r\n\t<IsRunning>False</IsRunning>\r\n"
    "\t<FocusEntry>204626</FocusEntry>\r\n\t<EntryWindowHwnd>275678</EntryWindowHwnd>\r\n"
    "\t<Antenna>8</Antenna>\r\n\t<Rotors></Rotors>\r\n\t<FocusRadioNr>1</FocusRadioNr>\r\n"
    "\t<IsStereo>False</IsStereo>\r\n\t<IsSplit>False</IsSplit>\r\n"
    "\t<ActiveRadioNr>1</ActiveRadioNr>\r\n\t<IsTransmitting>False</IsTransmitting>\r\n"
    "\t<FunctionKeyCaption></FunctionKeyCaption>\r\n\t<RadioName>K3</RadioName>\r\n"
    "\t<AuxAntSelected>-1</AuxAntSelected>\r\n\t<AuxAntSelectedName></AuxAntSelectedName>\r\n"
    "\t<IsConnected>True</IsConnected>\r\n</RadioInfo>";

// A radio message of about `length` bytes: filler elements first, the ones read at the end, so
// that every search runs across the whole text.
std::string RadioMessageOfLength(std::size_t length) {
    const std::string head = "<?xml version=\"1.0\"?>\r\n<RadioInfo>\r\n";
    const std::string tail = "\t<RadioNr>1</RadioNr>\r\n\t<Freq>1407400</Freq>\r\n"
                             "\t<Mode>FT8</Mode>\r\n\t<IsRunning>True</IsRunning>\r\n"
                             "</RadioInfo>";
    std::string text = head;
    while (text.size() + tail.size() + 40 < length)
        text += "\t<Filler>Some Text Of The Logger</Filler>\r\n";
    return text + tail;
}

// Every element a radio message reads, in the parser's order.
const std::string_view kElementsRead[] = {
    "freq",       "mode",     "mycall", "opcall",    "radioname", "mylocator",   "locator",
    "mylocation", "location", "app",    "isrunning", "call",      "contestname", "radionr"};
const ElementNames kNames(kElementsRead, std::size(kElementsRead));

void BM_ParseTypicalRadioMessage(benchmark::State& state) {
    for (auto _ : state)
        ParseLoggerDatagram(kRadioMessage);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kRadioMessage.size()));
}
BENCHMARK(BM_ParseTypicalRadioMessage);

void BM_Parse64KiBDatagram(benchmark::State& state) {
    const std::string text = RadioMessageOfLength(65507);
    for (auto _ : state)
        ParseLoggerDatagram(text);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Parse64KiBDatagram);

// Linear in the length: the fitted complexity should come out as O(N).
void BM_ParseByLength(benchmark::State& state) {
    const std::string text = RadioMessageOfLength(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        ParseLoggerDatagram(text);
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseByLength)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();

// Reading all elements the way the parser does (in one pass) ...
void BM_ElementsInOnePass(benchmark::State& state) {
    const std::string text = RadioMessageOfLength(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string_view texts[std::size(kElementsRead)];
        ElementTexts(text, kNames, texts);
        benchmark::DoNotOptimize(texts);
    }
}
BENCHMARK(BM_ElementsInOnePass)->Arg(1 << 10)->Arg(1 << 16);

// ... and searching the whole text for each element, the path to stay away from.
void BM_ElementsPlainSearch(benchmark::State& state) {
    const std::string text = RadioMessageOfLength(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        for (const std::string_view name : kElementsRead)
            benchmark::DoNotOptimize(ElementText(text, std::string(name)));
}
BENCHMARK(BM_ElementsPlainSearch)->Arg(1 << 10)->Arg(1 << 16);

} // namespace

BENCHMARK_MAIN();
