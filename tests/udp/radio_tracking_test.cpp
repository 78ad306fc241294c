// Up to two radios shown, lowest number first; silent radios forgotten after 90 s.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sources/udp/logger_parser.h"
#include "tests/udp/udp_test_support.h"

namespace {

class RadioTracking : public testing::Test {
  protected:
    void SetUp() override { ResetLoggerSource(); }
    void TearDown() override { ResetLoggerSource(); }

    // Radio `number` reports; its frequency in MHz tells the radios apart in the snapshot
    // (radio n on n MHz, 10 MHz and up given directly).
    void Report(const std::string& number, int megahertz, const std::string& extra = "") {
        const std::string freq = std::to_string(megahertz * 100000);
        ParseLoggerDatagram(RadioMessage("<RadioNr>" + number + "</RadioNr><Freq>" + freq +
                                         "</Freq><Mode>M" + std::to_string(megahertz) + "</Mode>" +
                                         extra));
    }
    void Report(int number, const std::string& extra = "") {
        Report(std::to_string(number), number, extra);
    }

    static std::wstring Mhz(int megahertz) { return std::to_wstring(megahertz) + L".000"; }

    // The radios shown, as their frequencies: {} when none, {first} or {first, second}.
    static std::vector<std::wstring> Shown() {
        const StationSnapshot s = CurrentSnapshot();
        std::vector<std::wstring> shown;
        if (!s.freq.empty())
            shown.push_back(s.freq);
        if (s.radios >= 2)
            shown.push_back(s.freq2);
        return shown;
    }

    FakeClock clock;
};

TEST_F(RadioTracking, OneRadioOtherThanOneIsShownFirst) {
    Report(2);
    EXPECT_EQ(Shown(), std::vector<std::wstring>{Mhz(2)});
    const StationSnapshot s = CurrentSnapshot();
    EXPECT_EQ(s.radios, 1);
    EXPECT_EQ(s.mode, L"M2");
    EXPECT_TRUE(s.freq2.empty() && s.band2.empty() && s.mode2.empty() && s.radio2.empty() &&
                s.op_status2.empty());
}

TEST_F(RadioTracking, TwoRadiosLowestNumberFirstWhicheverSpokeLast) {
    Report(1);
    Report(2, "<RadioName>K3</RadioName><IsRunning>True</IsRunning>");
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(1), Mhz(2)}));
    Report(1);
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(1), Mhz(2)}));
    const StationSnapshot s = CurrentSnapshot();
    EXPECT_EQ(s.radios, 2);
    EXPECT_EQ(s.band2, L"160m");
    EXPECT_EQ(s.mode2, L"M2");
    EXPECT_EQ(s.radio2, L"K3");
    EXPECT_EQ(s.op_status2, L"Is calling");
}

TEST_F(RadioTracking, RadioTwoAloneAfterRadioOneFellSilent) {
    Report(1);
    clock.AdvanceSeconds(91);
    Report(2);
    EXPECT_EQ(Shown(), std::vector<std::wstring>{Mhz(2)});
    EXPECT_EQ(CurrentSnapshot().radios, 1);
}

TEST_F(RadioTracking, ExpiryBoundaryIsNinetySecondsExactly) {
    Report(1);
    clock.AdvanceSeconds(90); // exactly 90 s old: still there
    Report(2);
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(1), Mhz(2)}));
    clock.AdvanceSeconds(1e-9); // radio 1 now 90 s + 1 ns old
    Report(2);
    EXPECT_EQ(Shown(), std::vector<std::wstring>{Mhz(2)});
}

TEST_F(RadioTracking, ThirdRadioHiddenUntilRadioOneExpires) {
    Report(1);
    clock.AdvanceSeconds(50);
    Report(2);
    Report(3);
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(1), Mhz(2)}));
    clock.AdvanceSeconds(50); // radio 1 100 s old, radios 2 and 3 50 s
    Report(2);
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(2), Mhz(3)}));
}

TEST_F(RadioTracking, ExpiryOnlyWhenARadioMessageArrives) {
    Report(1);
    Report(2);
    clock.AdvanceSeconds(500);
    ParseLoggerDatagram("<contactinfo><call>K1KI</call></contactinfo>");
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(1), Mhz(2)}));
    Report(3); // now both others expire
    EXPECT_EQ(Shown(), std::vector<std::wstring>{Mhz(3)});
    EXPECT_EQ(CurrentSnapshot().call, L"K1KI"); // the latest call never expires
}

TEST_F(RadioTracking, ARadiosNewMessageReplacesItsRecordWhole) {
    Report(1, "<RadioName>K3</RadioName><OpCall>M0LTE</OpCall>");
    Report(1);
    const StationSnapshot s = CurrentSnapshot();
    EXPECT_TRUE(s.radio.empty());
    EXPECT_TRUE(s.opcall.empty());
}

TEST_F(RadioTracking, RadioNumberReading) {
    struct NumberCase {
        std::string text; // "-" for no element
        bool actsAsRadioOne;
    };
    const std::vector<NumberCase> cases = {
        {"-", true},
        {"", true},
        {"0", true},
        {"-3", true},
        {"abc", true},
        {"1", true},
        {" 1 ", true},
        {"1.9", true},
        {"2", false},
        {"+2", false},
        {" 7x", false},
        // Beyond 32 bits the number saturates: it must not wrap onto radio 1 (2^32 + 1) or
        // below it (2^31).
        {"4294967297", false},
        {"2147483648", false},
        {"99999999999999999999999", false},
        {"-4294967295", true},
    };
    for (const NumberCase& c : cases) {
        ResetLoggerSource();
        Report(1);
        const std::string element = c.text == "-" ? "" : "<RadioNr>" + c.text + "</RadioNr>";
        ParseLoggerDatagram(RadioMessage(element + "<Freq>5000000</Freq>"));
        const std::vector<std::wstring> expected =
            c.actsAsRadioOne ? std::vector<std::wstring>{L"50.000"}
                             : std::vector<std::wstring>{Mhz(1), L"50.000"};
        EXPECT_EQ(Shown(), expected) << c.text;
    }
}

TEST_F(RadioTracking, FloodOfRadioNumbersKeepsABoundedSet) {
    // Radio 1 is the longest silent once the limit is passed, so it makes room.
    Report(1);
    for (std::size_t i = 0; i + 1 < kMaxKeptRadios; ++i) {
        clock.AdvanceSeconds(0.001);
        Report(std::to_string(1000 + i), 20);
    }
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(1), Mhz(20)}));
    clock.AdvanceSeconds(0.001);
    Report("5000", 30);
    EXPECT_EQ(Shown(), (std::vector<std::wstring>{Mhz(20), Mhz(20)}));
    EXPECT_EQ(CurrentSnapshot().mode, L"M20");
}

TEST_F(RadioTracking, ClockGoingBackwardsExpiresNothing) {
    Report(1);
    clock.Set(-5'000'000'000'000'000'000);
    Report(2);
    clock.Set(5'000'000'000'000'000'000);
    Report(3); // both far older than 90 s by now: only radio 3 stays
    EXPECT_EQ(Shown(), std::vector<std::wstring>{Mhz(3)});
}

} // namespace
