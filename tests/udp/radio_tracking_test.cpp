// Up to two radios shown, lowest number first; silent radios forgotten after 90 s.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "tests/udp/udp_test_support.h"

namespace {

std::atomic<std::int64_t> fakeNow{0};

class RadioTracking : public LoggerTest {
  protected:
    void SetUp() override {
        LoggerTest::SetUp();
        fakeNow = 1'000'000'000'000;
        SetLoggerParserClock([] { return fakeNow.load(); });
    }
    void TearDown() override {
        SetLoggerParserClock(nullptr);
        LoggerTest::TearDown();
    }
    static void Advance(double seconds) { fakeNow += static_cast<std::int64_t>(seconds * 1e9); }

    // Radio `number` reports on `megahertz` (by default its number) with mode "M<megahertz>".
    static void Report(const std::string& number, int megahertz, const std::string& extra = "") {
        ParseLoggerDatagram(RadioMessage("<RadioNr>" + number + "</RadioNr><Freq>" +
                                         std::to_string(megahertz * 100000) + "</Freq><Mode>M" +
                                         std::to_string(megahertz) + "</Mode>" + extra));
    }
    static void Report(int number, const std::string& extra = "") {
        Report(std::to_string(number), number, extra);
    }

    // The radios shown, as whole megahertz, first then second.
    static std::vector<int> Radios() {
        const StationSnapshot s = CurrentSnapshot();
        std::vector<int> shown;
        if (!s.freq.empty())
            shown.push_back(std::stoi(s.freq));
        if (s.radios >= 2)
            shown.push_back(std::stoi(s.freq2));
        return shown;
    }
};

TEST_F(RadioTracking, OrderAndExpiry) {
    struct Step {
        double advance;
        int radio;
        std::vector<int> shown;
    };
    const std::vector<std::vector<Step>> scenarios = {
        // A radio other than 1 alone is shown first.
        {{0, 2, {2}}},
        // Lowest number first, whichever spoke last.
        {{0, 1, {1}}, {0, 2, {1, 2}}, {0, 1, {1, 2}}},
        {{0, 1, {1}}, {91, 2, {2}}},
        // 90 s old still counts; 90 s and 1 ns does not.
        {{0, 1, {1}}, {90, 2, {1, 2}}, {1e-9, 2, {2}}},
        // A third radio stays hidden until radio 1 expires.
        {{0, 1, {1}}, {50, 2, {1, 2}}, {0, 3, {1, 2}}, {50, 2, {2, 3}}},
        // Radios expire only when a radio message (0: a contact) arrives.
        {{0, 1, {1}}, {0, 2, {1, 2}}, {500, 0, {1, 2}}, {0, 3, {3}}},
    };
    for (std::size_t i = 0; i < scenarios.size(); ++i) {
        ResetLoggerSource();
        for (const Step& step : scenarios[i]) {
            Advance(step.advance);
            if (step.radio == 0)
                ParseLoggerDatagram("<contactinfo><call>K1KI</call></contactinfo>");
            else
                Report(step.radio);
            EXPECT_EQ(Radios(), step.shown) << "scenario " << i << ", radio " << step.radio;
        }
    }
    EXPECT_EQ(CurrentSnapshot().call, L"K1KI"); // the latest call never expires
}

TEST_F(RadioTracking, SecondRadiosFields) {
    Report(2);
    EXPECT_EQ(Shown(), "freq=2.000|band=160m|mode=M2|app=N1MM");
    Report(1, "<RadioName>K3</RadioName>");
    Report(2, "<RadioName>K2</RadioName><IsRunning>True</IsRunning>");
    EXPECT_EQ(Shown(), "freq=1.000|band=Unknown|mode=M1|radio=K3|app=N1MM|freq2=2.000|band2=160m|"
                       "mode2=M2|radio2=K2|op_status2=Is calling|radios=2");
    // A radio's new message replaces its record whole.
    Report(1);
    EXPECT_EQ(CurrentSnapshot().radio, L"");
}

TEST_F(RadioTracking, RadioNumberReading) {
    // Whether the number in <RadioNr> ("-": no element) stands for radio 1.
    const std::pair<bool, std::vector<std::string>> cases[] = {
        {true, {"-", "", "0", "-3", "abc", "1", " 1 ", "1.9", "-4294967295"}},
        // Beyond 32 bits the number saturates: it must not wrap onto radio 1 (2^32 + 1) or
        // below it (2^31).
        {false, {"2", "+2", " 7x", "4294967297", "2147483648", "99999999999999999999999"}},
    };
    for (const auto& c : cases)
        for (const std::string& text : c.second) {
            ResetLoggerSource();
            Report(1);
            const std::string element = text == "-" ? "" : "<RadioNr>" + text + "</RadioNr>";
            ParseLoggerDatagram(RadioMessage(element + "<Freq>5000000</Freq>"));
            EXPECT_EQ(Radios(), (c.first ? std::vector<int>{50} : std::vector<int>{1, 50})) << text;
        }
}

TEST_F(RadioTracking, FloodOfRadioNumbersKeepsABoundedSet) {
    // Radio 1 is the longest silent once the limit is passed, so it makes room.
    Report(1);
    for (std::size_t i = 0; i + 1 < kMaxKeptRadios; ++i) {
        Advance(0.001);
        Report(std::to_string(1000 + i), 20);
    }
    EXPECT_EQ(Radios(), (std::vector<int>{1, 20}));
    Advance(0.001);
    Report("5000", 30);
    EXPECT_EQ(Radios(), (std::vector<int>{20, 20}));
}

TEST_F(RadioTracking, ClockJumpsNeitherOverflowNorExpireTheNewest) {
    Report(1);
    fakeNow = -5'000'000'000'000'000'000;
    Report(2); // a clock gone backwards expires nothing
    EXPECT_EQ(Radios(), (std::vector<int>{1, 2}));
    fakeNow = 5'000'000'000'000'000'000;
    Report(3); // both far older than 90 s by now: only radio 3 stays
    EXPECT_EQ(Radios(), std::vector<int>{3});
}

} // namespace
