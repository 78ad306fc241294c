// The logger source: what radio and contact messages make of the snapshot, real loggers'
// datagrams included, the readers underneath, and the listener over real UDP sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <tuple>
#include <vector>

#include "core/numbers.h"
#include "core/settings.h"
#include "core/station_snapshot.h"
#include "platform/text.h"
#include "sources/udp/logger_parser.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"
#include "tests/support/element_text.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The non-empty fields as "key=value|...": an expectation is one line, a failure names the field.
std::string Shown() {
    const StationSnapshot s = ReadStationSnapshot().snapshot;
    std::string text;
    for (const SnapshotField& field : kSnapshotFields)
        if (!(s.*field.value).empty())
            text += (text.empty() ? "" : "|") + std::string(field.key) + "=" +
                    WideToUtf8(s.*field.value);
    return s.radios == 1 ? text : text + "|radios=" + std::to_string(s.radios);
}

std::string RadioMessage(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>" + inner + "</RadioInfo>";
}

// The parser's clock, which only the tests move: radios age when they say so.
std::atomic<std::int64_t> fakeNow{0};

// A clean parser and snapshot for every test.
struct LoggerTest : testing::Test {
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        SetLoggerParserClock([] { return fakeNow.load(); });
        ResetLoggerParserState();
        RaiseStationUpdate(StationSnapshot{});
    }
};

// The real loggers' datagrams, from the source folder, which the test runs in.
const fs::path kSamples = "tests/data/samples";

// The one-pass reader against the plain search, all names at once, on random texts of the bytes
// that matter to it: tags opening and closing, names sharing first bytes, any case.
TEST(ElementText, OnePassFindsWhatThePlainSearchFinds) {
    const char alphabet[] = {'<', '/', '>', 'c', 'a', 'C', 'l', ' '};
    const std::string_view names[] = {"", "c", "ca", "cal", "CAL", "/", "/c", ">", "c>", "<"};
    std::uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 16; };
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (std::uint32_t length = next() % 15; length > 0; --length)
            text += alphabet[next() % sizeof alphabet];
        std::string_view texts[std::size(names)];
        ElementTexts(text, ElementNames(names, std::size(names)), texts);
        for (std::size_t i = 0; i < std::size(names); ++i)
            ASSERT_EQ(texts[i], ElementText(text, std::string(names[i]))) << text << names[i];
    }
}

// Against printf's "%.3f" of hz / 1e6: kilohertz ties, huge values, and random tens of hertz.
TEST(FormatMegahertz, ShowsWhatPrintfShows) {
    std::vector<std::int64_t> values = {0, 499, 500, 2500, 3522500, 999999999999500, INT64_MAX};
    std::uint32_t seed = 99;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (int i = 0; i < 20000; ++i)
        values.push_back((static_cast<std::int64_t>(next()) * next() % 17000000000000 + i) * 10);
    std::wstring shown = L"storage from before";
    for (const std::int64_t hz : values) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.3f", static_cast<double>(hz) / 1e6);
        FormatMegahertz(hz, shown);
        ASSERT_EQ(WideToUtf8(shown), expected) << hz;
    }
}

// Datagrams parsed in turn from an empty state ("@name": a real logger's), and what is shown.
TEST_F(LoggerTest, WhatTheSnapshotShows) {
    const std::string f = "<Freq>1407400</Freq>", at = "freq=14.074|band=20m|";
    const auto r = [&f](const std::string& inner) { return RadioMessage(f + inner); };
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{RadioMessage("<Freq>14074.00</Freq>")}, "freq=0.141|band=Unknown|app=N1MM"},
        {{RadioMessage("<Freq>1</Freq>")}, "freq=0.000|band=Unknown|app=N1MM"}, // 10 Hz
        {{RadioMessage("<Freq>99999999999999999999</Freq>")},
         "freq=9223372036854.775|band=Unknown|app=N1MM"},
        {{r("<Mode> ft8 </Mode><mycall>M0BPQ</mycall><OpCall>M0LTE</OpCall><RadioName>K3"
            "</RadioName><app>Log4OM</app><call>K&amp;I</call><IsRunning>True</IsRunning>")},
         at + "mode= ft8 |mycall=M0BPQ|opcall=M0LTE|radio=K3|op_status=Is calling|app=Log4OM|"
              "call=K&amp;I"},
        {{r("<Location>T\xC3\xB8nsberg</Location>")}, at + "location=T\xC3\xB8nsberg|app=MiniBook"},
        {{r("<Locator>IO91</Locator><MyLocator>JO65</MyLocator><Location>L</Location>"
            "<MyLocation>\xC3\x98</MyLocation>")},
         at + "locator=JO65|location=\xC3\x98|app=MiniBook"},
        {{r("<IsRunning> t R\tu\nE </IsRunning>")}, at + "op_status=Is calling|app=N1MM"},
        {{r("<IsRunning>\r\n0\v\f</IsRunning>")}, at + "op_status=Is searching|app=N1MM"},
        {{r("<IsRunning>yes</IsRunning>"), r("<IsRunning>truee</IsRunning>")}, at + "app=N1MM"},
        // A radio message without a call keeps the last one; a contact without one clears it.
        {{r("<call>K1KI</call><contestname>DX</contestname>"), r("<call></call>")},
         at + "app=N1MM|call=K1KI|contestname=DX"},
        {{r("<call>K1KI</call><contestname>DX</contestname>"), "<contact><mycall>M0</mycall>"},
         at + "mycall=M0|app=N1MM"},
        // Nothing of an ignored datagram stays: a radio message without a usable frequency, a
        // root neither radio nor contact (after a comment too), a deleted contact, no element.
        {{r("<call>K1KI</call>"), RadioMessage("<Freq>0</Freq><call>X</call>"),
          RadioMessage("<RadioNr>3</RadioNr><Freq>-1</Freq>"), RadioMessage("<Freq>abc</Freq>"),
          RadioMessage("<Freq>1407400"), RadioMessage("<TXFreq>1</TXFreq><call>X</call>"),
          "<xradio>" + f, "</radio>" + f, "<!-- <x> --><radio>" + f, "<rad>" + f,
          "<ContactDelete><call>X</call>", "contactinfo"},
         at + "app=N1MM|call=K1KI"},
        // Radio numbers below 1 are radio 1; beyond 32 bits they saturate, never wrap onto it.
        {{r(""), RadioMessage("<RadioNr>-3</RadioNr><Freq>700000</Freq>")},
         "freq=7.000|band=40m|app=N1MM"},
        {{r(""), RadioMessage("<RadioNr>4294967297</RadioNr><Freq>700000</Freq>")},
         at + "app=N1MM|freq2=7.000|band2=40m|radios=2"},
        // A contact after two radios changes only its own fields.
        {{r("<Mode>FT8</Mode><MyLocator>IO91</MyLocator>"),
          RadioMessage("<RadioNr>2</RadioNr><Freq>700000</Freq><IsRunning>1</IsRunning><Mode>CW"
                       "</Mode><RadioName>K3 B</RadioName><call>K1KI</call>"),
          "<contactreplace><call>K3LR</call><contestname>WPX</contestname><freq>9</freq><app>X"
          "</app></contactreplace>"},
         at + "mode=FT8|locator=IO91|app=MiniBook|call=K3LR|contestname=WPX|freq2=7.000|"
              "band2=40m|mode2=CW|radio2=K3 B|op_status2=Is calling|radios=2"},
        {{"@gb2gp-2018/ContactReplace/20180303-084811.353.xml", // a real contest's
          "@gb2gp-2018/ContactAdd/20180303-101910.321.xml",
          "@gb2gp-2018/ContactDelete/20180303-084811.274.xml"},
         "mycall=M0BPQ|app=N1MM|call=VO1BQ|contestname=ARRLDXSSB"},
        {{"@n1mm-radioinfo-2.xml", "@n1mm-radioinfo-1.xml", "@n1mm-contactinfo-3.xml"},
         "freq=3.522|band=80m|mode=CW|mycall=W2XYZ|opcall=W1ABC|op_status=Is searching|app=N1MM|"
         "call=W1AW|contestname=CWOPS|freq2=21.200|band2=15m|mode2=CW|op_status2=Is "
         "searching|radios=2"},
    };
    for (const auto& [datagrams, expected] : cases) {
        Reset();
        for (const std::string& d : datagrams)
            ParseLoggerDatagram(d[0] == '@' ? FileBytes((kSamples / d.substr(1)).wstring()) : d);
        EXPECT_EQ(Shown(), expected) << datagrams.back();
    }
    // Test mode's seven steps, each calling (c) or searching (s), then the first again.
    std::wstring steps;
    for (std::uint64_t at = 0; at < 8; ++at)
        steps += DemoStepRecord(at).band + DemoStepRecord(at).op_status[3];
    EXPECT_EQ(steps, L"20mc40ms15mc80ms10mc6ms2mc20mc");
}

// A radio reporting on `mhz` megahertz; the radios shown, first then second, in megahertz.
void Report(int mhz, const std::string& nr) {
    ParseLoggerDatagram(RadioMessage("<RadioNr>" + nr + "</RadioNr><Freq>" +
                                     std::to_string(mhz * 100000) + "</Freq>"));
}

std::vector<int> Radios() {
    const StationSnapshot s = ReadStationSnapshot().snapshot;
    std::vector<int> shown = {std::stoi(s.freq)};
    if (s.radios == 2)
        shown.push_back(std::stoi(s.freq2));
    return shown;
}

TEST_F(LoggerTest, LowestNumberFirstAndSilentRadiosExpireAfter90Seconds) {
    // Each step: seconds on, the radio that reports (on its own number of megahertz; 0: a contact
    // message), the radios shown.
    using Step = std::tuple<double, int, std::vector<int>>;
    const std::vector<std::vector<Step>> scenarios = {
        {{0, 2, {2}}, {0, 1, {1, 2}}, {0, 2, {1, 2}}},
        {{0, 1, {1}}, {90, 2, {1, 2}}, {1e-9, 2, {2}}}, // 90 s still counts, a nanosecond more not
        {{0, 1, {1}}, {50, 2, {1, 2}}, {0, 3, {1, 2}}, {50, 2, {2, 3}}, {50, 3, {2, 3}}},
        {{0, 1, {1}}, {0, 2, {1, 2}}, {500, 0, {1, 2}}, {0, 3, {3}}}, // only radio messages expire
    };
    for (const auto& steps : scenarios) {
        Reset();
        for (const auto& [advance, radio, shown] : steps) {
            fakeNow += static_cast<std::int64_t>(advance * 1e9);
            if (radio == 0)
                ParseLoggerDatagram("<contactinfo><call>K1KI</call></contactinfo>");
            else
                Report(radio, std::to_string(radio));
            EXPECT_EQ(Radios(), shown) << "after radio " << radio;
        }
    }
}

TEST_F(LoggerTest, AtMost32RadiosAndTheFloodNeverPushesOutTheLowest) {
    // Radio 1, then 2 to 33: the highest but the newest makes room; 32 and 33 come 50 s later.
    for (int radio = 1; radio <= 33; ++radio) {
        fakeNow += radio == 32 ? 50'000'000'000 : 1000;
        Report(radio, std::to_string(radio));
        EXPECT_EQ(Radios(), (radio == 1 ? std::vector<int>{1} : std::vector<int>{1, 2})) << radio;
    }
    // 32 went for 33: once 1 to 31 have expired, only 33 is left.
    fakeNow += 41'000'000'000;
    Report(33, "33");
    EXPECT_EQ(Radios(), std::vector<int>{33});
}

struct UdpListener : LoggerTest {
    void TearDown() override {
        StopUdpListener();
        LoggerTest::TearDown();
    }
    void Start(const std::wstring& address) {
        recorder.Clear();
        port = FreePort(PortKind::Udp);
        StartUdpListener(address, port);
        ASSERT_TRUE(WaitUntil([&] { return recorder.UdpStates() == std::vector<int>{1}; }));
    }
    void Send(const std::string& bytes, const std::string& host = "127.0.0.1") {
        const SocketHandle sender = UdpConnect(host, port);
        EXPECT_EQ(SocketSend(sender, bytes.data(), int(bytes.size())), int(bytes.size()));
        CloseSocket(sender);
    }
    // Sends and waits until the worker has taken the datagram off its socket and dealt with it.
    void Take(const std::string& bytes) {
        const std::uint64_t taken = udpDatagramsTaken.load();
        Send(bytes);
        ASSERT_TRUE(WaitUntil([&] { return udpDatagramsTaken.load() > taken; }));
    }
    std::string LastDatagram() { return FileBytes(folder.File(kUdpLastDatagramFile)); }

    TempDataFolder folder;
    NotifyRecorder recorder;
    int port = 0;
};

TEST_F(UdpListener, KeepsTheLastDatagramSharesItsPortAndStopsAtOnce) {
    Start(L"127.0.0.1");
    StartUdpListener(L"127.0.0.1", FreePort(PortKind::Udp)); // already running: ignored
    // The port is shared with a socket that asks to (SO_REUSEADDR), as Save's restart needs.
    const SocketHandle sharing = UdpBind("127.0.0.1", port);
    EXPECT_NE(sharing, kInvalidSocket);
    CloseSocket(sharing);
    const std::string inner = "<Freq>2120000</Freq><RadioName>tail</RadioName>";
    const std::string largest =
        RadioMessage(std::string(65507 - RadioMessage(inner).size(), ' ') + inner);
    Take(largest);
    EXPECT_EQ(Shown(), "freq=21.200|band=15m|radio=tail|app=N1MM");
    EXPECT_TRUE(LastDatagram() == largest);
    const std::string odd("<x>\r\n\0\xff\xfe</x>", 12); // ignored, but kept as it came
    Take(odd);
    Take(""); // passed over, and the listener goes on
    EXPECT_EQ(LastDatagram(), odd);
    const auto stopping = Clock::now();
    StopUdpListener();
    EXPECT_LT(Clock::now() - stopping, 1s);
    StopUdpListener();
    EXPECT_EQ(recorder.UdpStates(), (std::vector<int>{UdpListening, UdpStopped}));
}

// An address it cannot bind is a bind error, and a later start works.
TEST_F(UdpListener, ReportsABindError) {
    port = FreePort(PortKind::Udp);
    StartUdpListener(L"192.0.2.1", port); // a documentation address, on no interface here
    ASSERT_TRUE(WaitUntil([&] { return recorder.UdpStates() == std::vector<int>{2}; }));
    EXPECT_TRUE(WaitUntil([] { return !udpRunning.load(); }));
    StartUdpListener(L"127.0.0.1", port);
    EXPECT_TRUE(WaitUntil([&] { return recorder.UdpStates() == std::vector<int>{2, 1}; }));
}

// Only a dotted quad is bound as typed, and the status names the address bound: 127.0.0.1 hears
// nothing sent to 127.0.0.2, every other address hears it.
TEST_F(UdpListener, BindsTheDottedQuadElseEveryInterface) {
    for (const wchar_t* address : {L"127.0.0.1", L"0.0.0.0", L"", L"localhost", L"127.0.0.1x",
                                   L"127.000.0.1", L"::1", L"\u00E9t\u00E9"}) {
        const bool loopbackOnly = std::wstring(address) == L"127.0.0.1";
        EXPECT_EQ(UdpListenAddress(address), loopbackOnly ? address : L"0.0.0.0");
        Reset();
        Start(address);
        Send("<contactinfo><call>VIA2</call></contactinfo>", "127.0.0.2");
        Take(RadioMessage("<Freq>1407400</Freq>"));
        EXPECT_EQ(ReadStationSnapshot().snapshot.call, loopbackOnly ? L"" : L"VIA2")
            << WideToUtf8(address);
        StopUdpListener();
    }
}

} // namespace
