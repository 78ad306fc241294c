#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <tuple>

#include "core/settings.h"
#include "core/station_snapshot.h"
#include "posting/poster_worker.h"
#include "sources/rigctld/rigctld_poller.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/rigctld_stand_in/rigctld_stand_in.h"

#ifndef _WIN32
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#endif

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::wstring>;

const std::wstring kConnecting = L"Connecting...";
const std::wstring kConnected = L"Connected \u2014 Hamlib Dummy";
const std::wstring kNotReachable = L"rigctld not reachable \u2014 retrying";
const std::wstring kReconnecting = L"Reconnecting...";
const std::wstring kStopped = L"Stopped";

class RigctldPoller : public ::testing::Test {
  protected:
    void TearDown() override { StopRigctldPoller(); }
    void Configure(int port, const std::wstring& myCall = L"N0CALL") {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        settings.rigctldPort = port;
        settings.rigctldIntervalSeconds = 1;
        settings.rigctldMyCall = myCall;
        settings.rigctldOperator = L"OP1";
    }
    Texts Said() { return recorder.RigTexts(RigSource::Rigctld); }
    bool WaitSaid(const std::wstring& text, long count = 1) {
        return WaitUntil(
            [&] {
                const Texts said = Said();
                return std::count(said.begin(), said.end(), text) >= count;
            },
            8s);
    }
    std::uint64_t Polls() { return ReadStationSnapshot().version - startVersion; }
    Clock::duration TimedStop() {
        const auto start = Clock::now();
        return StopRigctldPoller(), Clock::now() - start;
    }
    TempDataFolder data;
    NotifyRecorder recorder;
    std::uint64_t startVersion = ReadStationSnapshot().version;
};

// What the dummy cannot do, from the stand-in: each case changes the dummy's answers (a '|' is a
// pause, "-" no answer), then the poller is watched until its first poll ("" below) or its first
// "Reconnecting..." ("R") or its second "Connecting..." ("C"). Then: what it said before the stop,
// and freq|mode|radio if it published.
TEST_F(RigctldPoller, RefusalsSilenceSplitLinesAndHugeRepliesFromAStandIn) {
    const std::string huge(kRigctldMaxReply, 'x');
    const std::tuple<RigctldScript, const char*, std::wstring, std::wstring> cases[] = {
        {{{"f", "14|074|000.0\n"}, {"m", "U|SB\r\n24|00\r\n"}}, "", L"Hamlib Dummy", L"14.074|USB"},
        {{{"\\dump_caps", "Model name: IC-7300 \nMfg name:\tIcom\nRPRT 0\n"}},
         "",
         L"Icom IC-7300",
         L"14.074|USB"},
        {{{"\\dump_caps", "RPRT -11\n"}, {"m", "RPRT -11\n"}}, "", L"", L"14.074|"},
        {{{"f", "RPRT -5\n"}}, "R", L"Hamlib Dummy", L""},
        {{{"f", "RPRT 0\n"}}, "R", L"Hamlib Dummy", L""},            // a set's answer
        {{{"f", "14074000\n7074000\n"}}, "R", L"Hamlib Dummy", L""}, // out of step
        {{{"f", "-"}}, "R", L"Hamlib Dummy", L""},                   // given up at 4 s
        {{{"\\dump_caps", huge}}, "C", L"", L""},                    // given up at once
    };
    for (const auto& [changes, until, radio, shown] : cases) {
        SCOPED_TRACE(testing::PrintToString(*changes.begin()).substr(0, 60));
        recorder.Clear();
        startVersion = ReadStationSnapshot().version;
        RigctldScript script = DummyRigctldScript();
        for (const auto& [command, reply] : changes)
            reply == "-" ? void(script.erase(command)) : void(script[command] = reply);
        RigctldStandIn standIn;
        ASSERT_TRUE(StartRigctldStandIn(standIn, script));
        Configure(standIn.peer.port);
        const auto start = Clock::now();
        StartRigctldPoller();
        ASSERT_TRUE(
            *until ? WaitSaid(*until == 'R' ? kReconnecting : kConnecting, *until == 'C' ? 2 : 1)
                   : WaitUntil([&] { return Polls() >= 1; }));
        const auto took = Clock::now() - start;
        EXPECT_LT(TimedStop(), 400ms);
        Texts said = {kConnecting, L"Connected \u2014 " + radio};
        if (*until == 'R')
            said.push_back(kReconnecting);
        if (*until == 'C') // nothing after a failed name, and a second try 3 s later
            said = {kConnecting, kConnecting};
        said.push_back(kStopped);
        EXPECT_EQ(Said(), said);
        const StationSnapshot s = ReadStationSnapshot().snapshot;
        EXPECT_EQ(Polls() ? s.freq + L"|" + s.mode : L"", shown);
        EXPECT_TRUE(!Polls() || s.radio == radio);
        EXPECT_TRUE(changes.begin()->second != "-" || (took > 3500ms && took < 6000ms));
        EXPECT_TRUE(*until != 'C' || (took > 2800ms && took < 4500ms));
    }
}

#ifndef _WIN32
// Debian's libhamlib-utils: rigctld with its dummy radio (model 1) and rigctl to turn its dial.

struct Rigctld {
    ~Rigctld() { Kill(); }
    bool Start(int listenPort) {
        port = std::to_string(listenPort);
        const char* argv[] = {"rigctld", "-m", "1", "-T", "127.0.0.1", "-t", port.c_str(), nullptr};
        return posix_spawnp(&pid, "rigctld", nullptr, nullptr, const_cast<char**>(argv), nullptr) ==
               0;
    }
    void Kill() {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            waitpid(pid, nullptr, 0);
        pid = 0;
    }
    // One rigctl command ("F 14074000", "M USB 2400"); true when it worked.
    bool Set(const std::string& command) {
        return std::system(
                   ("rigctl -m 2 -r 127.0.0.1:" + port + " " + command + " 2>/dev/null").c_str()) ==
               0;
    }
    pid_t pid = 0;
    std::string port;
};

// The real rigctld: what it says reaches the dashboard; a new frequency follows; a Save reads the
// settings afresh; rigctld killed and started again is reconnected; a stop while connected is
// prompt.
TEST_F(RigctldPoller, TheRealRigctldReachesTheDashboardAndComesBackAfterARestart) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions()));
    Rigctld rigctld;
    const int port = FreePort(PortKind::Tcp);
    ASSERT_TRUE(rigctld.Start(port)) << "rigctld (Debian package libhamlib-utils) is needed";
    ASSERT_TRUE(WaitUntil([&] { return rigctld.Set("F 14074000"); }, 10s));
    ASSERT_TRUE(rigctld.Set("M USB 2400"));
    Configure(port);
    settings.targets[1] = {true, sink.BaseUrl(), L"id", L"key", 1};
    StartPoster();
    StartRigctldPoller();
    const auto posted = [&](const std::string& part) { // in any post so far
        return WaitUntil(
            [&] {
                std::string bodies;
                for (const SinkRequest& request : sink.Requests())
                    bodies += request.body + "\n";
                return bodies.find(part) != std::string::npos;
            },
            10s);
    };
    EXPECT_TRUE(posted("freq=14.074&band=20m&mode=USB&mycall=N0CALL&opcall=OP1&"
                       "radio=Hamlib+Dummy&radio_label=Hamlib+Dummy&"));
    EXPECT_TRUE(posted("&app=Hamlib&"));
    ASSERT_TRUE(rigctld.Set("F 7074000"));
    EXPECT_TRUE(posted("freq=7.074&band=40m&mode=USB&"));

    Configure(port, L"K1NEW"); // as a Save does
    DropRigctldConnection();
    EXPECT_TRUE(posted("&mycall=K1NEW&"));

    rigctld.Kill();
    EXPECT_TRUE(WaitSaid(kNotReachable));
    ASSERT_TRUE(rigctld.Start(port));
    ASSERT_TRUE(WaitUntil([&] { return rigctld.Set("F 3573000"); }, 10s));
    EXPECT_TRUE(WaitSaid(kConnected, 3));
    EXPECT_TRUE(posted("freq=3.573&band=80m&"));
    EXPECT_LT(TimedStop(), 400ms);
    StopPoster();
    const Texts said = Said();
    // The drop, then the kill: each ends the connection, the kill's next try finds nobody.
    const Texts expected = {kConnecting, kConnected,    kReconnecting, kConnecting,
                            kConnected,  kReconnecting, kConnecting,   kNotReachable};
    ASSERT_GE(said.size(), expected.size() + 3);
    EXPECT_EQ(Texts(said.begin(), said.begin() + 8), expected);
    EXPECT_EQ(Texts(said.end() - 3, said.end()), (Texts{kConnecting, kConnected, kStopped}));
}
#endif

} // namespace
