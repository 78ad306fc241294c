// Classifying datagrams, cutting element texts, reading numbers, and what radio and contact
// messages make of the snapshot.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/numbers.h"
#include "tests/support/element_text.h"
#include "tests/udp/udp_test_support.h"

namespace {

std::string OnePass(const std::string& text, const std::string& name) {
    const std::string_view names[] = {"mode", name, "freq"}; // with others around it
    std::string_view texts[3];
    ElementTexts(text, ElementNames(names, 3), texts);
    return std::string(texts[1]);
}

TEST(RootElementName, FirstElementTagLowerCased) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"radioinfo",
         {"<RadioInfo><Freq>1</Freq></RadioInfo>", "<? xml version=\"1.0\"?><RADIOinfo a=\"1\">"}},
        {"contactinfo",
         {"<?xml version=\"1.0\"?>\r\n<!-- sent by the logger -->\r\n<ContactInfo>"}},
        {"radio",
         {"<!DOCTYPE x><radio\tnr=\"2\">", "<radio/>", "<radio\n>", "<radio\r>", "<radio"}},
        // A "<" inside a comment is the next one found: the search goes on just after "<!".
        {"example", {"<!-- an <Example> -->\n<RadioInfo>"}},
        {"", {"</RadioInfo>", "< RadioInfo>", "no tags at all", "", "text ending in <", "<?<!<?"}},
        // Only A to Z change; other bytes, multi-byte UTF-8 and NUL included, stay as they are.
        {std::string("\xC3\x84ra\0dio", 8), {std::string("<\xC3\x84Ra\0dio>", 9)}},
    };
    for (const auto& c : cases)
        for (const std::string& text : c.second)
            EXPECT_EQ(RootElementName(text), c.first) << text;
}

TEST(ElementText, CutsTheFirstMatchingElementVerbatim) {
    struct Case {
        std::string text, name, expected;
    };
    const Case cases[] = {
        {"<r><Freq>1407400</Freq></r>", "freq", "1407400"},
        {"<r><FREQ>1407400</freq></r>", "fReQ", "1407400"},
        {"<r><MyCall>w1AbC</MYCALL></r>", "mycall", "w1AbC"},
        {"<r><freq unit=\"10 Hz\">1407400</freq></r>", "freq", "1407400"},
        {"<r><call>A&amp;B&#x41;</call></r>", "call", "A&amp;B&#x41;"},
        {"<r><call><![CDATA[W1AW]]></call></r>", "call", "<![CDATA[W1AW]]>"},
        {"<r><mode> USB\r\n</mode></r>", "mode", " USB\r\n"},
        {"<r><radioname>Kenwood \xC3\x84</radioname></r>", "radioname", "Kenwood \xC3\x84"},
        // <mycall> does not hold the pattern "<call".
        {"<r><mycall>M0BPQ</mycall><call>K1KI</call></r>", "call", "K1KI"},
        // Prefix match: <CallSign> starts with "call", and its text runs to the first </call>.
        {"<r><CallSign>X</CallSign><call>Y</call></r>", "call", "X</CallSign><call>Y"},
        {"<r><a><b><call>1</call></b></a><call>2</call></r>", "call", "1"},
        // The text starts after the first ">" of the opening tag, even one inside an attribute.
        {"<r><call a=\">x\">W1AW</call></r>", "call", "x\">W1AW"},
        // A self-closing tag has no text of its own: the search runs to the next closing tag.
        {"<r><call/><call>W1AW</call></r>", "call", "<call>W1AW"},
        {std::string("<r><call>A\0B</call></r>", 23), "call", std::string("A\0B", 3)},
        // A closing tag before the opening one ends nothing.
        {"</call><call>K1KI</call>", "call", "K1KI"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ElementText(c.text, c.name), c.expected) << c.text << " / " << c.name;
        // The parser's path (all names in one pass) must agree with it.
        EXPECT_EQ(OnePass(c.text, c.name), c.expected) << c.text;
    }
    for (const std::string text : {"<r><call></call></r>", "<r><call>W1AW</r>", "<r><call",
                                   "<r></r>", "<r><call>W1AW</", "<r><call>W1AW</call"}) {
        EXPECT_EQ(ElementText(text, "call"), "") << text;
        EXPECT_EQ(OnePass(text, "call"), "") << text;
    }
}

// The one-pass reader against the plain search, all names at once, on every text up to 14 bytes
// drawn at random from the bytes that matter to it: tags opening and closing, names sharing first
// bytes or beginning with "/", "<" or ">", a "<" or "</" at the very end, any case, the empty name.
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
            ASSERT_EQ(texts[i], ElementText(text, std::string(names[i])))
                << text << " / " << names[i];
    }
}

// Against printf's "%.3f" of hz / 1e6, ties between two kilohertz and huge values included.
TEST(FormatMegahertz, ShowsWhatPrintfShows) {
    // Kilohertz ties (x500) and their neighbours, single hertz too, at small and huge values.
    std::vector<std::int64_t> values = {0,
                                        1,
                                        10,
                                        499,
                                        500,
                                        501,
                                        510,
                                        1000,
                                        1500,
                                        2500,
                                        3522110,
                                        3522500,
                                        3523500,
                                        14074000,
                                        140744990,
                                        999999500,
                                        999999510,
                                        999999999999499,
                                        999999999999500,
                                        999999999999501,
                                        1000000000000000};
    values.push_back(std::numeric_limits<std::int64_t>::max() / 10 * 10);
    std::uint32_t seed = 99;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (int i = 0; i < 20000; ++i) // tens of hertz, up to about 1.7e14 Hz, kHz ties among them
        values.push_back((static_cast<std::int64_t>(next()) * next() % 17000000000000 + i) * 10);
    std::wstring shown = L"storage from before";
    for (const std::int64_t hz : values) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.3f", static_cast<double>(hz) / 1000000.0);
        FormatMegahertz(hz, shown);
        ASSERT_EQ(WideToUtf8(shown), expected) << hz;
    }
}

TEST(LeadingInteger, ReadsLikeAtollAndSaturates) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const std::pair<std::int64_t, std::vector<std::string>> cases[] = {
        {1407400, {"1407400", "1407400.5", " \t\r\n\v\f+1407400", "001407400x"}},
        {-5, {"-5x"}},
        {0, {"0x10", "", "abc", "- 5", "+-5", "+", "-"}},
        {kMax, {"9223372036854775807", "9223372036854775808", "99999999999999999999999999"}},
        {kMin, {"-9223372036854775808", "-9223372036854775809", "-99999999999999999999999999"}},
    };
    for (const auto& c : cases)
        for (const std::string& text : c.second) {
            EXPECT_EQ(LeadingInteger(text), c.first) << text;
            EXPECT_EQ(LeadingInteger(std::wstring(text.begin(), text.end())), c.first) << text;
        }
    EXPECT_EQ(LeadingInteger(L"\uFF11\uFF12"), 0) << "full-width digits are no digits";
}

using LoggerMessage = LoggerTest;

// What one radio message, parsed from an empty state, shows.
TEST_F(LoggerMessage, RadioMessageFields) {
    const std::pair<std::string, std::string> cases[] = {
        {"<Freq>14074.00</Freq>", "freq=0.141|band=Unknown|app=N1MM"},
        {"<Freq>1000000000</Freq>", "freq=10000.000|band=3cm|app=N1MM"},
        // Beyond 64 bits the reading saturates, and times ten stays within range.
        {"<Freq>99999999999999999999999</Freq>", "freq=9223372036854.775|band=Unknown|app=N1MM"},
        {"<Freq>1407400</Freq><Mode> ft8 </Mode><mycall>M0BPQ</mycall><OpCall>M0LTE</OpCall>"
         "<RadioName>IC-7300</RadioName><app>Log4OM</app><call>K1KI</call>"
         "<contestname>ARRLDXSSB</contestname><IsRunning>True</IsRunning>",
         "freq=14.074|band=20m|mode= ft8 |mycall=M0BPQ|opcall=M0LTE|radio=IC-7300|"
         "op_status=Is calling|app=Log4OM|call=K1KI|contestname=ARRLDXSSB"},
        // A locator or location without an app element means MiniBook.
        {"<Freq>1407400</Freq><Location>T\xC3\xB8nsberg</Location>",
         "freq=14.074|band=20m|location=T\xC3\xB8nsberg|app=MiniBook"},
        {"<Freq>1407400</Freq><Locator>IO91</Locator><MyLocator>JO65</MyLocator>"
         "<Location>Leeds</Location><MyLocation>York</MyLocation>",
         "freq=14.074|band=20m|locator=JO65|location=York|app=MiniBook"},
        {"<Freq>1407400</Freq><MyLocator></MyLocator><Locator>IO91</Locator>",
         "freq=14.074|band=20m|locator=IO91|app=MiniBook"},
        {"<Freq>1407400</Freq><app>N1MM</app><Locator>IO91</Locator>",
         "freq=14.074|band=20m|locator=IO91|app=N1MM"},
        {"<Freq>1407400</Freq><Locator></Locator>", "freq=14.074|band=20m|app=N1MM"},
    };
    for (const auto& c : cases) {
        ResetLoggerSource();
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(RadioMessage(c.first));
        EXPECT_EQ(CurrentVersion() - before, 1u) << c.first;
        EXPECT_EQ(Shown(), c.second) << c.first;
    }
}

TEST_F(LoggerMessage, OpStatusFromIsRunning) {
    // The status and the element texts ("-": no element) that give it.
    const std::pair<const wchar_t*, std::vector<std::string>> cases[] = {
        {L"Is calling", {"True", " tRUE ", "1", "t r\tu\ne"}},
        {L"Is searching", {"False", "FALSE", "0", "\r\n0\v\f"}},
        {L"", {"yes", "", "2", "truee", "-", "&#84;rue"}},
    };
    for (const auto& c : cases)
        for (const std::string& text : c.second) {
            const std::string element = text == "-" ? "" : "<IsRunning>" + text + "</IsRunning>";
            ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq>" + element));
            EXPECT_EQ(CurrentSnapshot().op_status, c.first) << text;
        }
}

TEST_F(LoggerMessage, IgnoredDatagramsChangeNothing) {
    ParseLoggerDatagram(
        RadioMessage("<Freq>1407400</Freq><call>K1KI</call><contestname>CQWW</contestname>"));
    const SnapshotRead before = ReadStationSnapshot();
    const std::string rest = "<RadioNr>3</RadioNr><call>W1AW</call><contestname>X</contestname>";
    // Radio messages without a usable frequency, roots that are neither radio nor contact, and
    // deleted contacts.
    std::vector<std::string> ignored;
    for (const std::string freq : {"", "<Freq></Freq>", "<Freq>0</Freq>", "<Freq>-1407400</Freq>",
                                   "<Freq>abc</Freq>", "<Freq>1407400", "<TXFreq>1407400</TXFreq>"})
        ignored.push_back(RadioMessage(freq + rest));
    for (const std::string root : {"rad", "xradio", "Spot", "/radio", "", "ContactDelete"})
        ignored.push_back("<" + root + "><Freq>1407400</Freq>" + rest + "</" + root + ">");
    for (const std::string& datagram : ignored) {
        ParseLoggerDatagram(datagram);
        EXPECT_EQ(CurrentVersion(), before.version) << datagram;
        EXPECT_EQ(Shown(), Describe(before.snapshot)) << datagram;
    }
    // Neither the radios nor the latest call and contest moved: radio 3 was never stored.
    ParseLoggerDatagram(RadioMessage("<Freq>700000</Freq>"));
    EXPECT_EQ(Shown(), "freq=7.000|band=40m|app=N1MM|call=K1KI|contestname=CQWW");
}

TEST_F(LoggerMessage, CallAndContestKeptOrClearedByKind) {
    // The bare roots "radio" and "contact" are prefixes enough.
    auto radio = [](const std::string& inner) {
        return "<radio><Freq>1407400</Freq>" + inner + "</radio>";
    };
    auto contact = [](const std::string& inner) {
        return "<?xml version=\"1.0\"?>\r\n<contact>" + inner + "</contact>";
    };
    // Each datagram in turn, and the call, contest and mycall shown after it.
    const std::pair<std::string, std::string> steps[] = {
        {radio("<mycall>M0BPQ</mycall><call>K1KI</call><contestname>ARRLDXSSB</contestname>"),
         "K1KI/ARRLDXSSB/M0BPQ"},
        // A radio message without them, or with empty ones, keeps both.
        {radio(""), "K1KI/ARRLDXSSB/"},
        {radio("<call></call><contestname></contestname>"), "K1KI/ARRLDXSSB/"},
        {radio("<call>W3LL</call>"), "W3LL/ARRLDXSSB/"},
        {contact("<mycall>GB2GP</mycall><call>VO1BQ</call><contestname>CQWPX</contestname>"),
         "VO1BQ/CQWPX/GB2GP"},
        {contact("<call>K3LR</call><contestname>CQWPX</contestname>"), "K3LR/CQWPX/GB2GP"},
        // A contact without them clears both; the next radio message shows its own mycall.
        {contact("<timestamp>x</timestamp>"), "//GB2GP"},
        {radio(""), "//"},
        {contact("<mycall></mycall><call>K1KI</call>"), "K1KI//"},
        {radio(""), "K1KI//"},
    };
    for (const auto& step : steps) {
        // Every accepted message counts, whether or not it changes anything.
        const std::uint64_t before = CurrentVersion();
        ParseLoggerDatagram(step.first);
        const StationSnapshot s = CurrentSnapshot();
        EXPECT_EQ(CurrentVersion() - before, 1u) << step.first;
        EXPECT_EQ(WideToUtf8(s.call + L"/" + s.contestname + L"/" + s.mycall), step.second)
            << step.first;
    }
}

TEST_F(LoggerMessage, ContactChangesOnlyItsOwnFields) {
    ParseLoggerDatagram(RadioMessage("<Freq>1407400</Freq><Mode>FT8</Mode><OpCall>M0LTE</OpCall>"
                                     "<MyLocator>IO91</MyLocator><IsRunning>1</IsRunning>"));
    ParseLoggerDatagram(RadioMessage("<RadioNr>2</RadioNr><Freq>700000</Freq><Mode>CW</Mode>"));
    ParseLoggerDatagram("<contactreplace><call>K3LR</call><mycall>M0BPQ</mycall>"
                        "<freq>999</freq><mode>SSB</mode><app>Other</app></contactreplace>");
    EXPECT_EQ(Shown(), "freq=14.074|band=20m|mode=FT8|mycall=M0BPQ|opcall=M0LTE|op_status=Is "
                       "calling|locator=IO91|app=MiniBook|call=K3LR|freq2=7.000|band2=40m|"
                       "mode2=CW|radios=2");
}

} // namespace
