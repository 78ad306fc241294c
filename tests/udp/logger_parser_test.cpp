// Classifying datagrams, cutting element texts, reading numbers, and what one radio or contact
// message makes of the snapshot.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sources/udp/logger_parser.h"
#include "tests/udp/udp_test_support.h"

namespace {

struct RootCase {
    std::string text;
    std::string root;
};

TEST(RootElementName, FindsTheFirstElementTagLowerCased) {
    const std::vector<RootCase> cases = {
        {"<RadioInfo><Freq>1</Freq></RadioInfo>", "radioinfo"},
        {"<?xml version=\"1.0\"?>\r\n<!-- sent by the logger -->\r\n<ContactInfo>", "contactinfo"},
        {"<? xml version=\"1.0\"?><RADIOinfo attr=\"1\">", "radioinfo"},
        {"<!DOCTYPE x><radio\tnr=\"2\">", "radio"},
        {"<radio/>", "radio"},
        {"<radio\n>", "radio"},
        {"<radio\r>", "radio"},
        {"<radio", "radio"},
        // A "<" inside a comment is the next one found: the search goes on just after "<!".
        {"<!-- an <Example> -->\n<RadioInfo>", "example"},
        {"</RadioInfo>", ""},
        {"< RadioInfo>", ""},
        {"no tags at all", ""},
        {"", ""},
        {"text ending in <", ""},
        {"<?", ""},
        {"<!", ""},
        {"<?<!<?", ""},
        // Only A to Z change; other bytes, multi-byte UTF-8 included, stay as they are.
        {"<\xC3\x84Radio>", "\xC3\x84radio"},
        {std::string("<Ra\0dio>", 8), std::string("ra\0dio", 6)},
    };
    for (const RootCase& c : cases)
        EXPECT_EQ(RootElementName(c.text), c.root) << c.text;
}

struct ElementCase {
    std::string text;
    std::string name;
    std::string expected;
};

TEST(ElementText, CutsTheFirstMatchingElementVerbatim) {
    const std::vector<ElementCase> cases = {
        {"<r><Freq>1407400</Freq></r>", "freq", "1407400"},
        {"<r><FREQ>1407400</freq></r>", "freq", "1407400"},
        {"<r><freq>1</freq></r>", "FREQ", "1"},
        {"<r><MyCall>w1AbC</MYCALL></r>", "mycall", "w1AbC"},
        {"<r><freq unit=\"10 Hz\">1407400</freq></r>", "freq", "1407400"},
        {"<r><call>A&amp;B</call></r>", "call", "A&amp;B"},
        {"<r><call>&#x41;</call></r>", "call", "&#x41;"},
        {"<r><call><![CDATA[W1AW]]></call></r>", "call", "<![CDATA[W1AW]]>"},
        {"<r><mode> USB\r\n</mode></r>", "mode", " USB\r\n"},
        {"<r><radioname>Kenwood \xC3\x84</radioname></r>", "radioname", "Kenwood \xC3\x84"},
        {"<r><call></call></r>", "call", ""},
        {"<r><call>W1AW</r>", "call", ""},
        {"<r><call", "call", ""},
        {"<r></r>", "call", ""},
        // <mycall> does not hold the pattern "<call".
        {"<r><mycall>M0BPQ</mycall><call>K1KI</call></r>", "call", "K1KI"},
        // Prefix match: <CallSign> starts with "call", and its text runs to the first </call>.
        {"<r><CallSign>X</CallSign><call>Y</call></r>", "call", "X</CallSign><call>Y"},
        {"<r><radionr>2</radionr><RadioName>Elecraft</RadioName></r>", "radioname", "Elecraft"},
        // The first occurrence wins, however deep.
        {"<r><a><b><call>1</call></b></a><call>2</call></r>", "call", "1"},
        // The text starts after the first ">" of the opening tag, even one inside an attribute.
        {"<r><call a=\">x\">W1AW</call></r>", "call", "x\">W1AW"},
        // A self-closing tag has no text of its own: the search runs to the next closing tag.
        {"<r><call/><call>W1AW</call></r>", "call", "<call>W1AW"},
        {std::string("<r><call>A\0B</call></r>", 23), "call", std::string("A\0B", 3)},
    };
    for (const ElementCase& c : cases) {
        EXPECT_EQ(ElementText(c.text, c.name), c.expected) << c.text << " / " << c.name;
        // The parser's path (text lowered once per datagram) must agree with it.
        EXPECT_EQ(ElementText(c.text, LowerAscii(c.text), c.name), c.expected) << c.text;
    }
}

TEST(LowerAscii, ChangesOnlyAToZAndKeepsPositions) {
    const std::string text = std::string("AZaz@[`{\xC3\x84\x80\xFF\0Q", 14);
    EXPECT_EQ(LowerAscii(text), std::string("azaz@[`{\xC3\x84\x80\xFF\0q", 14));
}

struct IntegerCase {
    std::string text;
    std::int64_t value;
};

TEST(LeadingInteger, ReadsLikeAtollAndSaturates) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const std::vector<IntegerCase> cases = {
        {"1407400", 1407400},
        {"1407400.5", 1407400},
        {"14074.00", 14074},
        {" \t\r\n\v\f+12", 12},
        {"-5x", -5},
        {"0x10", 0},
        {"", 0},
        {"abc", 0},
        {"- 5", 0},
        {"+-5", 0},
        {"00042", 42},
        {"9223372036854775807", kMax},
        {"9223372036854775808", kMax},
        {"99999999999999999999999999", kMax},
        {"-9223372036854775808", kMin},
        {"-9223372036854775809", kMin},
        {"-99999999999999999999999999", kMin},
    };
    for (const IntegerCase& c : cases)
        EXPECT_EQ(LeadingInteger(c.text), c.value) << c.text;
}

class LoggerMessage : public testing::Test {
  protected:
    void SetUp() override { ResetLoggerSource(); }
    void TearDown() override { ResetLoggerSource(); }
};

// What one radio message, parsed from an empty state, shows.
struct RadioCase {
    const char* what;
    std::string inner;
    StationSnapshot expected;
};

StationSnapshot Shown(const wchar_t* freq, const wchar_t* band, const wchar_t* app = L"N1MM") {
    StationSnapshot s;
    s.freq = freq;
    s.band = band;
    s.app = app;
    return s;
}

template <typename Edit> StationSnapshot With(StationSnapshot s, Edit edit) {
    edit(s);
    return s;
}

TEST_F(LoggerMessage, RadioMessageFields) {
    const std::vector<RadioCase> cases = {
        {"frequency in tens of hertz", "<Freq>1407400</Freq>", Shown(L"14.074", L"20m")},
        {"fraction dropped", "<Freq>1407400.5</Freq>", Shown(L"14.074", L"20m")},
        {"kHz with a point", "<Freq>14074.00</Freq>", Shown(L"0.141", L"Unknown")},
        {"white space and sign", "<Freq> +352211</Freq>", Shown(L"3.522", L"80m")},
        {"rounded to three places", "<Freq>1405946</Freq>", Shown(L"14.059", L"20m")},
        {"above 2^32 Hz", "<Freq>1000000000</Freq>", Shown(L"10000.000", L"3cm")},
        // Beyond 64 bits the reading saturates, and times ten stays within range.
        {"saturated", "<Freq>99999999999999999999999</Freq>",
         Shown(L"9223372036854.775", L"Unknown")},
        {"every text element",
         "<Freq>1407400</Freq><Mode>FT8</Mode><mycall>M0BPQ</mycall><OpCall>M0LTE</OpCall>"
         "<RadioName>IC-7300</RadioName><app>Log4OM</app><call>K1KI</call>"
         "<contestname>ARRLDXSSB</contestname><IsRunning>True</IsRunning>",
         With(Shown(L"14.074", L"20m", L"Log4OM"),
              [](StationSnapshot& s) {
                  s.mode = L"FT8";
                  s.mycall = L"M0BPQ";
                  s.opcall = L"M0LTE";
                  s.radio = L"IC-7300";
                  s.call = L"K1KI";
                  s.contestname = L"ARRLDXSSB";
                  s.op_status = L"Is calling";
              })},
        {"texts keep their case and spaces", "<Freq>1407400</Freq><Mode> usb </Mode>",
         With(Shown(L"14.074", L"20m"), [](StationSnapshot& s) { s.mode = L" usb "; })},
        {"UTF-8 text",
         "<Freq>1407400</Freq><MyLocation>K\xC3\xB8"
         "benhavn</MyLocation>",
         With(Shown(L"14.074", L"20m", L"MiniBook"),
              [](StationSnapshot& s) { s.location = L"K\u00F8benhavn"; })},
        {"mylocator", "<Freq>1407400</Freq><MyLocator>JO65</MyLocator>",
         With(Shown(L"14.074", L"20m", L"MiniBook"),
              [](StationSnapshot& s) { s.locator = L"JO65"; })},
        {"locator", "<Freq>1407400</Freq><Locator>IO91</Locator>",
         With(Shown(L"14.074", L"20m", L"MiniBook"),
              [](StationSnapshot& s) { s.locator = L"IO91"; })},
        {"mylocator before locator",
         "<Freq>1407400</Freq><Locator>IO91</Locator><MyLocator>JO65</MyLocator>",
         With(Shown(L"14.074", L"20m", L"MiniBook"),
              [](StationSnapshot& s) { s.locator = L"JO65"; })},
        {"empty mylocator falls back",
         "<Freq>1407400</Freq><MyLocator></MyLocator><Locator>IO91</Locator>",
         With(Shown(L"14.074", L"20m", L"MiniBook"),
              [](StationSnapshot& s) { s.locator = L"IO91"; })},
        {"location", "<Freq>1407400</Freq><Location>Leeds</Location>",
         With(Shown(L"14.074", L"20m", L"MiniBook"),
              [](StationSnapshot& s) { s.location = L"Leeds"; })},
        {"mylocation before location",
         "<Freq>1407400</Freq><Location>Leeds</Location><MyLocation>York</MyLocation>",
         With(Shown(L"14.074", L"20m", L"MiniBook"),
              [](StationSnapshot& s) { s.location = L"York"; })},
        {"app given beats the guess", "<Freq>1407400</Freq><app>N1MM</app><Locator>IO91</Locator>",
         With(Shown(L"14.074", L"20m", L"N1MM"), [](StationSnapshot& s) { s.locator = L"IO91"; })},
        {"empty locator is no locator", "<Freq>1407400</Freq><Locator></Locator>",
         Shown(L"14.074", L"20m", L"N1MM")},
    };
    for (const RadioCase& c : cases) {
        ResetLoggerSource();
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(RadioMessage(c.inner));
        EXPECT_EQ(CurrentVersion() - before, 1u) << c.what;
        EXPECT_TRUE(CurrentSnapshot() == c.expected) << c.what;
    }
}

struct StatusCase {
    std::string isRunning; // the element's text; "-" for no element
    const wchar_t* opStatus;
};

TEST_F(LoggerMessage, OpStatusFromIsRunning) {
    const std::vector<StatusCase> cases = {
        {"True", L"Is calling"},
        {" True ", L"Is calling"},
        {"TRUE", L"Is calling"},
        {"1", L"Is calling"},
        {"t r\tu\ne", L"Is calling"},
        {"False", L"Is searching"},
        {"FALSE", L"Is searching"},
        {"0", L"Is searching"},
        {"\r\n0\v\f", L"Is searching"},
        {"yes", L""},
        {"", L""},
        {"2", L""},
        {"truee", L""},
        {"-", L""},
        {"&#84;rue", L""},
    };
    for (const StatusCase& c : cases) {
        const std::string element =
            c.isRunning == "-" ? "" : "<IsRunning>" + c.isRunning + "</IsRunning>";
        ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq>" + element));
        EXPECT_EQ(CurrentSnapshot().op_status, c.opStatus) << c.isRunning;
    }
}

TEST_F(LoggerMessage, NamesMatchInAnyCase) {
    ParseLoggerDatagram("<?XML version=\"1.0\"?><!-- mixed --><RADIOINFO><fReQ>352211</FrEq>"
                        "<MODE>CW</mode><MYCALL>W1abc</MyCall><radioNR>1</RADIONR></RADIOINFO>");
    const StationSnapshot shown = CurrentSnapshot();
    EXPECT_EQ(shown.freq, L"3.522");
    EXPECT_EQ(shown.mode, L"CW");
    EXPECT_EQ(shown.mycall, L"W1abc");
}

TEST_F(LoggerMessage, RootNamesDecideTheKind) {
    struct KindCase {
        std::string datagram;
        bool accepted;
    };
    const std::vector<KindCase> cases = {
        {"<radio><freq>1407400</freq></radio>", true},
        {"<RadioInfoExtended><freq>1407400</freq></RadioInfoExtended>", true},
        {"<contact><call>K1KI</call></contact>", true},
        {"<ContactDelete><call>K1KI</call></ContactDelete>", true},
        {"<rad><freq>1407400</freq></rad>", false},
        {"<xradio><freq>1407400</freq></xradio>", false},
        {"<Spot><freq>1407400</freq><call>K1KI</call></Spot>", false},
        {"</radio><freq>1407400</freq>", false},
        {"radio freq 1407400", false},
        {"", false},
    };
    for (const KindCase& c : cases) {
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(c.datagram);
        EXPECT_EQ(CurrentVersion() - before, c.accepted ? 1u : 0u) << c.datagram;
    }
}

TEST_F(LoggerMessage, UnusableFrequencyChangesNothing) {
    ParseLoggerDatagram(
        RadioMessage("<Freq>1407400</Freq><call>K1KI</call><contestname>CQWW</contestname>"));
    const SnapshotRead before = ReadStationSnapshot();
    const std::vector<std::string> unusable = {
        "",
        "<Freq></Freq>",
        "<Freq>0</Freq>",
        "<Freq>-1407400</Freq>",
        "<Freq>abc</Freq>",
        "<Freq>-99999999999999999999999</Freq>",
        "<Freq>1407400",
        "<TXFreq>1407400</TXFreq>",
    };
    for (const std::string& freq : unusable) {
        ParseLoggerDatagram(RadioMessage(freq + "<RadioNr>3</RadioNr><call>W1AW</call>"
                                                "<contestname>OTHER</contestname>"));
        const SnapshotRead after = ReadStationSnapshot();
        EXPECT_EQ(after.version, before.version) << freq;
        EXPECT_TRUE(after.snapshot == before.snapshot) << freq;
    }
    // Neither the radios nor the latest call and contest moved: radio 3 was never stored.
    ParseLoggerDatagram(RadioMessage("<Freq>700000</Freq>"));
    const StationSnapshot shown = CurrentSnapshot();
    EXPECT_EQ(shown.radios, 1);
    EXPECT_EQ(shown.freq, L"7.000");
    EXPECT_EQ(shown.call, L"K1KI");
    EXPECT_EQ(shown.contestname, L"CQWW");
}

TEST_F(LoggerMessage, CallAndContestKeptOrClearedByKind) {
    struct Step {
        const char* what;
        std::string datagram;
        const wchar_t* call;
        const wchar_t* contest;
        const wchar_t* mycall;
    };
    const std::string contactRoot = "<?xml version=\"1.0\"?>\r\n<contactinfo>";
    const std::vector<Step> steps = {
        {"radio brings both",
         RadioMessage("<Freq>1407400</Freq><mycall>M0BPQ</mycall><call>K1KI</call>"
                      "<contestname>ARRLDXSSB</contestname>"),
         L"K1KI", L"ARRLDXSSB", L"M0BPQ"},
        {"radio without them keeps both",
         RadioMessage("<Freq>1407400</Freq><mycall>M0BPQ</mycall>"), L"K1KI", L"ARRLDXSSB",
         L"M0BPQ"},
        {"radio with empty ones keeps both",
         RadioMessage("<Freq>1407400</Freq><mycall>M0BPQ</mycall><call></call>"
                      "<contestname></contestname>"),
         L"K1KI", L"ARRLDXSSB", L"M0BPQ"},
        {"radio with a call only",
         RadioMessage("<Freq>1407400</Freq><mycall>M0BPQ</mycall><call>W3LL</call>"), L"W3LL",
         L"ARRLDXSSB", L"M0BPQ"},
        {"contact sets them and mycall",
         contactRoot + "<mycall>GB2GP</mycall><call>VO1BQ</call><contestname>CQWPX</contestname>"
                       "</contactinfo>",
         L"VO1BQ", L"CQWPX", L"GB2GP"},
        {"contact without mycall keeps it",
         contactRoot + "<call>K3LR</call><contestname>CQWPX</contestname></contactinfo>", L"K3LR",
         L"CQWPX", L"GB2GP"},
        {"contact without them clears both", contactRoot + "<timestamp>x</timestamp></contactinfo>",
         L"", L"", L"GB2GP"},
        {"radio after it shows the cleared ones and its own mycall",
         RadioMessage("<Freq>1407400</Freq>"), L"", L"", L""},
        {"contact with empty mycall keeps mycall",
         contactRoot + "<mycall></mycall><call>K1KI</call></contactinfo>", L"K1KI", L"", L""},
        {"radio keeps the contact's call", RadioMessage("<Freq>1407400</Freq>"), L"K1KI", L"", L""},
    };
    for (const Step& step : steps) {
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(step.datagram);
        const StationSnapshot shown = CurrentSnapshot();
        EXPECT_EQ(CurrentVersion() - before, 1u) << step.what;
        EXPECT_EQ(shown.call, step.call) << step.what;
        EXPECT_EQ(shown.contestname, step.contest) << step.what;
        EXPECT_EQ(shown.mycall, step.mycall) << step.what;
    }
}

TEST_F(LoggerMessage, ContactChangesOnlyItsOwnFields) {
    ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq><Mode>FT8</Mode><OpCall>M0LTE</OpCall>"
                                     "<MyLocator>IO91</MyLocator><IsRunning>1</IsRunning>"));
    ParseLoggerDatagram(RadioMessage("<RadioNr>2</RadioNr><Freq>700000</Freq><Mode>CW</Mode>"));
    StationSnapshot expected = CurrentSnapshot();
    ASSERT_EQ(expected.radios, 2);
    ParseLoggerDatagram("<contactreplace><call>K3LR</call><mycall>M0BPQ</mycall>"
                        "<freq>999</freq><mode>SSB</mode><app>Other</app></contactreplace>");
    expected.call = L"K3LR";
    expected.mycall = L"M0BPQ";
    EXPECT_TRUE(CurrentSnapshot() == expected); // app stays "MiniBook", nothing else moves
}

TEST_F(LoggerMessage, ContactBeforeAnyRadio) {
    ParseLoggerDatagram("<contactinfo><mycall>M0BPQ</mycall><call>K1KI</call>"
                        "<contestname>ARRLDXSSB</contestname></contactinfo>");
    StationSnapshot expected;
    expected.call = L"K1KI";
    expected.contestname = L"ARRLDXSSB";
    expected.mycall = L"M0BPQ";
    expected.app = L"N1MM";
    EXPECT_TRUE(CurrentSnapshot() == expected);
}

TEST_F(LoggerMessage, EveryAcceptedMessageNotifiesEvenWithoutChange) {
    const std::string datagram = RadioMessage("<Freq>1407400</Freq>");
    const std::uint64_t before = CurrentVersion();
    for (int i = 0; i < 3; ++i)
        ParseLoggerDatagram(datagram);
    ParseLoggerDatagram("<contactinfo></contactinfo>");
    ParseLoggerDatagram("<contactinfo></contactinfo>");
    EXPECT_EQ(CurrentVersion() - before, 5u);
}

} // namespace
