// The settings store and its rules, the band plan, and the tray tip's rules.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

#include "core/band_plan.h"
#include "core/settings.h"
#include "frontend/pages.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tests/support/temp_folder.h"

namespace {

// settings.ini's lines, in whichever encoding the platform wrote it, without blank lines.
std::string IniLines() {
    std::string bytes = FileBytes(settings.settingsPath), lines;
    if (bytes.rfind("\xFF\xFE", 0) == 0)
        bytes = WideToUtf8(Utf16LeToWide(bytes.data() + 2, bytes.size() - 2));
    for (const char c : bytes)
        if (c != '\r' && (c != '\n' || (!lines.empty() && lines.back() != '\n')))
            lines += c;
    return lines;
}

TEST(SettingsStore, FirstRunWritesEveryKeyInOrderWithItsDefault) {
    TempFolder parent;
    SetDataFolderOverride(parent.File(L"Corvane"));
    settings = Settings{};
    LoadSettings();
    SetDataFolderOverride(L"");
    EXPECT_EQ(IniLines(), "[vellumar]\nenabled=1\nid=\napi_key=\ninterval=30\n[wp]\nenabled=0\n"
                          "url=" CORVANE_TEST_WP_URL "\nid=\napi_key=\ninterval=30\n[udp]\n"
                          "enabled=1\nip=0.0.0.0\nport=12060\n[app]\nstart_minimized=1\n[hrd]\n"
                          "enabled=0\nhost=127.0.0.1\nport=7809\ninterval=2\nmycall=\noperator=\n"
                          "[rigctld]\nenabled=0\nhost=127.0.0.1\nport=4532\ninterval=2\n"
                          "mycall=\noperator=\n");
    settings = Settings{};
}

TEST(SettingsStore, LoadAppliesTheRulesOfEachKeyAndLeavesTheFileAlone) {
    TempDataFolder data;
    const std::string text = "[vellumar]\nenabled=yes\nurl=https://elsewhere.example.net\n[wp]\n"
                             "enabled=2\n[udp]\nenabled=0\nport=70000\n[app]\nstart_minimized=0\n"
                             "[hrd]\nport=abc\nmycall=" +
                             std::string(5000, 'b') + "\n";
    ASSERT_TRUE(WriteWholeFile(settings.settingsPath, text));
    LoadSettings();
    EXPECT_TRUE(FileBytes(settings.settingsPath) == text);
    EXPECT_EQ(settings.targets[0].url, kHostedBaseUrl); // the file's is not ours
    // Each value as loaded, where it stood; what was missing at the end of its section; no
    // [rigctld]: off, as before there was one.
    SaveSettings();
    EXPECT_EQ(
        IniLines(),
        "[vellumar]\nenabled=0\nurl=https://elsewhere.example.net\nid=\napi_key=\ninterval=30\n"
        "[wp]\nenabled=1\nurl=" CORVANE_TEST_WP_URL "\nid=\napi_key=\ninterval=30\n[udp]\n"
        "enabled=0\nport=70000\nip=0.0.0.0\n[app]\nstart_minimized=0\n[hrd]\nport=0\nmycall=" +
            std::string(1023, 'b') +
            "\nenabled=0\nhost=127.0.0.1\ninterval=2\noperator=\n[rigctld]\nenabled=0\n"
            "host=127.0.0.1\nport=4532\ninterval=2\nmycall=\noperator=\n");
    // Intervals: stored, then as loaded for the hosted dashboard and for the others.
    for (const auto& [stored, hosted, other] :
         {std::array{10, 30, 10}, {7, 30, 5}, {60, 60, 60}, {1, 30, 1}, {0, 30, 5}, {301, 30, 5}}) {
        const std::string value = "interval=" + std::to_string(stored) + "\n";
        ASSERT_TRUE(WriteWholeFile(settings.settingsPath, "[vellumar]\n" + value + "[wp]\n" +
                                                              value + "[hrd]\n" + value +
                                                              "[rigctld]\n" + value));
        LoadSettings();
        EXPECT_EQ(settings.targets[0].intervalSeconds, hosted) << stored;
        EXPECT_EQ(settings.targets[1].intervalSeconds + settings.hrdIntervalSeconds +
                      settings.rigctldIntervalSeconds,
                  3 * other);
    }
    // rigctld's port out of range is its default at once (HRD's waits for the poller).
    ASSERT_TRUE(WriteWholeFile(settings.settingsPath, "[rigctld]\nport=65536"));
    LoadSettings();
    EXPECT_EQ(settings.rigctldPort, 4532);
}

TEST(SettingsApply, RulesForEachFieldThenTheFile) {
    TempDataFolder data;
    LoadSettings();
    SettingsForm form;
    form.enabled[1] = true;
    form.wpUrl = L"https://shack.example.org/blog";
    form.dashboardId[1] = L"7 & \u00C5";
    form.intervalData[0] = 60;
    form.udpPortText = L"70000";
    form.hrdPortText = L" 7810";
    form.hrdIntervalData = -1;
    settings.targets[0].url.clear();
    ApplySettings(form);
    EXPECT_EQ(settings.targets[0].url, kHostedBaseUrl);
    settings = Settings{};
    LoadSettings();
    std::wostringstream loaded; // the WP interval and HRD's: nothing selected
    loaded << settings.targets[0].enabled << L" " << settings.targets[0].intervalSeconds << L" "
           << settings.targets[1].intervalSeconds << L" " << settings.targets[1].url << L" "
           << settings.targets[1].dashboardId << L"|" << settings.udpAddress << L"|"
           << settings.udpPort << L" " << settings.hrdHost << L":" << settings.hrdPort << L" "
           << settings.hrdIntervalSeconds << settings.udpEnabled << settings.startMinimized;
    EXPECT_EQ(loaded.str(),
              L"0 60 5 https://shack.example.org/blog 7 & \u00C5||12060 127.0.0.1:7810 500");
    for (const wchar_t* text : {L"0", L"65536", L"-5", L"abc", L"", L"99999999999999999999"})
        EXPECT_EQ(PortFromText(text, 7809), 7809) << WideToUtf8(text);
    EXPECT_EQ(PortFromText(L"1", 7809) + PortFromText(L"65535", 7809), 65536);
}

// Every band's edges belong to it, the hertz either side to no band; 2^32 Hz does not wrap.
TEST(BandPlan, EdgesBelongToTheirBandAndGapsAreUnknown) {
    std::istringstream plan(
        "1.8 2 160m 3.5 4 80m 5.2 5.4 60m 7 7.3 40m 10.1 10.2 30m 14 14.35 20m 18.068 18.168 17m "
        "21 21.45 15m 24.89 24.99 12m 28 29.7 10m 50 54 6m 70 70.5 4m 144 148 2m 222 225 1.25m "
        "420 450 70cm 902 928 33cm 1240 1300 23cm 2300 2450 13cm 3300 3500 9cm 5650 5850 6cm "
        "10000 10500 3cm");
    std::string band;
    for (double lower, upper; plan >> lower >> upper >> band;) {
        const std::wstring in = Utf8ToWide(band),
                           edges[] = {L"Unknown", in, in, in, in, L"Unknown"};
        int at = 0;
        for (const double mhz : {lower, upper})
            for (const int step : {-1, 0, 1})
                EXPECT_EQ(BandForFrequency(std::llround(mhz * 1e6) + step), edges[at++]) << mhz;
    }
    EXPECT_EQ(BandForFrequency(-14074000) + BandForFrequency(14662934592), L"UnknownUnknown");
}

// The tip names the first page whose line tells of a problem, on one line of at most 127
// characters, never cut inside a surrogate pair.
TEST(TrayTip, TheFirstProblemOnOneShortLine) {
    const std::wstring hrd = RigStatusText(RigSource::Hrd, RigLinkState::NotReachable, L""),
                       rigctld = RigStatusText(RigSource::Rigctld, RigLinkState::NotReachable, L""),
                       bind = std::wstring(kUdpBindErrorText) + std::wstring(93, L'9'),
                       cut = {wchar_t(0xDBFF), wchar_t(0xDFFF), L'z'}, head = L"Corvane \u2014 ";
    const std::pair<std::vector<PageStatusLine>, std::wstring> cases[] = {
        {{{kHostedPage, L"Last post: OK"}, {kHrdPage, L"Reconnecting..."}}, L"Corvane"},
        {{{kUdpPage, L"Stopped"}, {kHrdPage, rigctld}, {kWpPage, L"Last post: FAILED"}},
         head + L"HRD (TCP): " + rigctld},
        {{{kHrdPage, hrd}, {kUdpPage, bind}}, head + L"HRD (TCP): " + hrd},
        {{{kWpPage, L"Last post: FAILED \u2014 x\r\n\ty"}},
         head + L"WP Dashboard: Last post: FAILED \u2014 x   y"},
        {{{kUdpPage, bind}}, (head + L"UDP Receiver: " + bind).substr(0, 126) + L"\u2026"},
        {{{kUdpPage, bind.substr(0, 101) + cut}},
         head + L"UDP Receiver: " + bind.substr(0, 101) + L"\u2026"},
    };
    for (const auto& [lines, tip] : cases)
        EXPECT_EQ(TrayTipText(lines), tip) << lines.size();
    // The high surrogates' other edge.
    EXPECT_EQ(TrayTipText({{kUdpPage, bind.substr(0, 101) + L"\xD800\xDC00z"}}), cases[5].second);
}

} // namespace
