// The rig-control sources: HRD's frames and exchanges, then both pollers against their scripted
// stand-ins (tools/hrd_sim, tools/rigctld_stand_in), and natively against the real rigctld.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>

#include "core/settings.h"
#include "core/station_snapshot.h"
#include "posting/poster_worker.h"
#include "sources/hrd/hrd_poller.h"
#include "sources/hrd/hrd_protocol.h"
#include "sources/rigctld/rigctld_poller.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"
#include "tools/dashboard_sink/dashboard_sink.h"
#include "tools/hrd_sim/hrd_sim.h"
#include "tools/net_peers/net_peers.h"
#include "tools/rigctld_stand_in/rigctld_stand_in.h"

#ifndef _WIN32
#include <csignal>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#endif

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using Texts = std::vector<std::wstring>;

const std::wstring kConnecting = L"Connecting...", kReconnecting = L"Reconnecting...",
                   kStopped = L"Stopped", kConnected = L"Connected \u2014 IC-7300",
                   kNotReachable = L"HRD not reachable \u2014 retrying";

std::string Le32(std::uint32_t v) {
    return {char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24)};
}

// A frame of the text's UTF-16LE units; the length field is the true one unless given.
std::string Frame(const std::u16string& text, std::uint32_t length = 0,
                  std::uint32_t magic = kHrdMagic1) {
    std::string bytes = Le32(length ? length : std::uint32_t(16 + 2 * text.size())) + Le32(magic) +
                        Le32(kHrdMagic2) + Le32(0);
    for (char16_t unit : text)
        bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

// A connected pair on 127.0.0.1; the test writes the peer's bytes before the client reads.
struct LoopbackPair {
    ~LoopbackPair() {
        for (const SocketHandle socket : {client, server, listener})
            CloseSocket(socket);
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(SocketSend(server, bytes.data(), int(bytes.size())), int(bytes.size()));
    }
    SocketHandle listener = TcpListen("127.0.0.1", 0);
    SocketHandle client = TcpConnect("127.0.0.1", LocalPort(listener), 2000);
    SocketHandle server = TcpAccept(listener);
};

TEST(HrdFrame, HeaderUtf16UnitsAndOneNul) {
    EXPECT_EQ(BuildHrdFrame(L"Get ID"),
              "\x1E\0\0\0\xCD\xAB\x34\x12\x34\x12\xCD\xAB\0\0\0\0G\0e\0t\0 \0I\0D\0\0\0"s);
    // Outside the BMP a character is a surrogate pair, also where wchar_t is 32 bits wide.
    EXPECT_EQ(BuildHrdFrame(L"\u00C4\U0001F4FB"), Frame(u"\u00C4\U0001F4FB\0"s));
}

TEST(HrdExchange, ReadsReplyFramesByTheRules) {
    // Trailing NUL units go, magic words are not checked, UTF-16 passes as it is.
    // The largest is more than a socket buffer holds: it arrives over many receives.
    const std::pair<std::string, std::wstring> replies[] = {
        {Frame(u""), L""},
        {Frame(std::u16string(524279, u'7') + u'\0'), std::wstring(524279, L'7')},
        {Frame(u"USB\0\0\0"s), L"USB"},
        {Frame(u"A\0B\0"s), L"A"s + L'\0' + L"B"},
        {Frame(u"AB", 21) + "C", L"AB"}, // an odd length drops the last byte
        {Frame(u"OK", 20, 0xDEADBEEF), L"OK"},
        {Frame(u"\xD800x\U0001F4FB"), wchar_t(0xD800) + L"x\U0001F4FB"s},
    };
    for (const auto& [frame, text] : replies) {
        LoopbackPair pair;
        std::thread sender([&] { pair.Send(frame); });
        std::wstring reply;
        EXPECT_TRUE(HrdExchange(pair.client, L"get frequency", reply));
        sender.join();
        EXPECT_EQ(reply, text);
    }
    // A length below 16 or above 1 MiB fails before anything more is read, so the frame after it
    // is still whole; a peer that closes inside the length or the body fails the exchange at
    // once, not at its limit.
    for (const std::string& bytes :
         {Le32(0), Le32(15), Le32(0x100001), Le32(~0u), "\x1E\0"s, Frame(u"Get", 30)}) {
        const bool closes = bytes.size() != 4;
        LoopbackPair pair;
        pair.Send(closes ? bytes : bytes + Frame(u"after\0"s));
        if (closes)
            CloseSocket(std::exchange(pair.server, kInvalidSocket));
        std::wstring reply = L"unchanged";
        const auto start = Clock::now();
        EXPECT_FALSE(HrdExchange(pair.client, L"Get ID", reply, 30000)) << bytes.size();
        EXPECT_LT(Clock::now() - start, 10s);
        EXPECT_EQ(reply, L"unchanged");
        EXPECT_EQ(HrdExchange(pair.client, L"Get ID", reply), !closes);
        EXPECT_EQ(reply, closes ? L"unchanged" : L"after");
    }
}

// The limit holds for the whole reply: a byte every 100 ms, each well within the socket's
// receive time-out, does not keep an exchange going past it.
TEST(HrdExchange, ATrickleFailsAtTheLimit) {
    LoopbackPair pair;
    std::thread trickle([&] { // a byte every 100 ms until the client has gone
        for (const char byte : Frame(u"14074000"))
            if (SocketSend(pair.server, &byte, 1) == 1)
                std::this_thread::sleep_for(100ms);
    });
    std::wstring reply = L"unchanged";
    const auto start = Clock::now();
    EXPECT_FALSE(HrdExchange(pair.client, L"get frequency", reply, 400));
    EXPECT_LT(Clock::now() - start, 1500ms);
    EXPECT_EQ(reply, L"unchanged");
    CloseSocket(std::exchange(pair.client, kInvalidSocket));
    trickle.join();
}

// A stop's wake-up fails a receive that starts after it, and keeps the handle, so that no socket
// opened meanwhile takes the number a worker receives on. (A blocked receive: the listener's and
// the pollers' stops.)
TEST(SocketWake, FailsALaterReceiveAndKeepsTheHandle) {
    const SocketHandle socket = UdpBind("127.0.0.1", 0);
    const int port = LocalPort(socket);
    WakeSocket(socket);
    const SocketHandle other = UdpBind("127.0.0.1", 0);
    SetReceiveTimeout(socket, 3000); // not woken, it ends all the same
    const auto start = Clock::now();
    char byte;
    EXPECT_LE(SocketReceive(socket, &byte, 1), 0);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_NE(other, socket);
    EXPECT_EQ(LocalPort(socket), port); // still ours, still open
    CloseSocket(other), CloseSocket(socket);
}

// How many of the texts contain the part.
int Count(const Texts& texts, const std::wstring& part) {
    return int(std::count_if(texts.begin(), texts.end(), [&](const std::wstring& text) {
        return text.find(part) != std::wstring::npos;
    }));
}

// A poller's lines as the front ends show them, its polls since the test began, a timed stop.
class RigPoller : public ::testing::Test {
  protected:
    RigPoller(RigSource of, void (*stopper)()) : source(of), stop(stopper) {}
    void TearDown() override { stop(); }
    Texts Said() { return recorder.RigTexts(source); }
    bool WaitSaid(const std::wstring& text, int count = 1, std::chrono::milliseconds limit = 8s) {
        return WaitUntil([&] { return Count(Said(), text) >= count; }, limit);
    }
    Clock::duration TimedStop() {
        const auto start = Clock::now();
        return stop(), Clock::now() - start;
    }
    std::uint64_t Polls() { return ReadStationSnapshot().version - startVersion; }

    const RigSource source;
    void (*const stop)();
    TempDataFolder data;
    NotifyRecorder recorder;
    std::uint64_t startVersion = ReadStationSnapshot().version;
};

class HrdPoller : public RigPoller {
  protected:
    HrdPoller() : RigPoller(RigSource::Hrd, StopHrdPoller) {}
    void SetUp() override {
        ASSERT_TRUE(StartHrdSim(sim));
        Configure(sim.peer.port, 1);
        // What another source had published before HRD took over: every field set.
        std::lock_guard<std::mutex> lock(snapshotMutex);
        for (const SnapshotField& field : kSnapshotFields)
            stationSnapshot.*field.value = L"other";
        stationSnapshot.radios = 2;
        startVersion = version;
    }

    void Configure(int port, int interval, const std::wstring& myCall = L"N0CALL",
                   const std::wstring& host = L"127.0.0.1") {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        settings.hrdHost = host;
        settings.hrdPort = port;
        settings.hrdIntervalSeconds = interval;
        settings.hrdMyCall = myCall;
        settings.hrdOperator = L"OP1";
    }
    bool WaitAsked(const std::wstring& command, int count, std::chrono::milliseconds limit = 8s) {
        return WaitUntil([&] { return Count(HrdSimCommands(sim), command) >= count; }, limit);
    }
    HrdSim sim;
};

TEST_F(HrdPoller, HandshakeThenAWholeRecordEveryPoll) {
    Configure(sim.peer.port, 0); // below 1: every 2 s
    StopHrdPoller();             // never started: nothing to do
    StartHrdPoller();
    StartHrdPoller(); // already running: no second worker
    ASSERT_TRUE(WaitAsked(L"get frequency", 1));
    const auto first = Clock::now();
    ASSERT_TRUE(WaitAsked(L"get frequency", 2));
    EXPECT_GT(Clock::now() - first, 1900ms);
    EXPECT_LT(Clock::now() - first, 3000ms);
    ASSERT_TRUE(WaitUntil([&] { return Polls() == 2; }));
    EXPECT_LT(TimedStop(), 400ms); // in the wait between polls

    const StationSnapshot expected{L"14.074", L"20m", L"USB", L"N0CALL", L"OP1", L"IC-7300",
                                   L"",       L"",    L"",    L"HRD",    L"",    L"",
                                   L"",       L"",    L"",    L"",       L"",    1};
    EXPECT_EQ(ReadStationSnapshot().snapshot, expected);
    EXPECT_EQ(HrdSimCommands(sim),
              (Texts{L"Get ID", L"Get Context", L"Get Radio", L"[1] get mode", L"[1] get frequency",
                     L"[1] get mode", L"[1] get frequency", L"[1] get mode"}));
    EXPECT_EQ(FileBytes(data.File(kHrdControlsFileName)),
              "HRD radio: IC-7300\r\nget mode -> 'USB'\r\n"
              "chosen mode command -> '[1] get mode'\r\n");
    EXPECT_EQ(Said(), (Texts{kConnecting, kConnected, kStopped}));
}

TEST_F(HrdPoller, DropdownModeZeroFrequencyAndAStopInAnExchange) {
    HrdSimScript script;
    script.context = L" \t\r\n";
    script.mode = L" \r\n"; // no answer to "get mode": the dropdown is read instead
    script.radio = L" FT-991A \u00C4\r\n" + std::wstring(2, L'\0');
    // The text after the first colon, without edge spaces, tabs, CRs and LFs only.
    script.dropdownMode = L"Mode:\t\u00A0LSB:x\v \r\n";
    script.frequency = L"0";
    SetHrdSimScript(sim, script);
    StartHrdPoller();
    ASSERT_TRUE(WaitUntil([&] { return Polls() == 1; }));
    EXPECT_EQ(FileBytes(data.File(kHrdControlsFileName)),
              "HRD radio: FT-991A \xC3\x84\r\nget mode -> ''\r\n"
              "chosen mode command -> '[0] get dropdown-text {Main~Mode}'\r\n");
    const StationSnapshot s = ReadStationSnapshot().snapshot;
    EXPECT_EQ(s.freq + L"|" + s.band + L"|" + s.mode + L"|" + s.radio,
              L"||\u00A0LSB:x\v|FT-991A \u00C4");

    SetHrdSimScript(sim, {HrdSimFault::Silent, L"get frequency"});
    ASSERT_TRUE(WaitAsked(L"[0] get frequency", 2));
    EXPECT_LT(TimedStop(), 1000ms); // wakes the exchange
    EXPECT_EQ(Said(), (Texts{kConnecting, L"Connected \u2014 FT-991A \u00C4", kStopped}));
}

// A silent HRD fails the exchange at the reply limit; after a failed poll the next connect waits
// as after a refused one, unless a Save cuts the wait short. Replies out of step end the
// connection unpublished.
TEST_F(HrdPoller, FailedPollsReconnectAfterAPauseThatADropCutsShort) {
    SetHrdSimScript(sim, {HrdSimFault::Silent, L"get frequency"});
    StartHrdPoller();
    ASSERT_TRUE(WaitAsked(L"get frequency", 1));
    const auto asked = Clock::now();
    ASSERT_TRUE(WaitSaid(kReconnecting, 1, 8s));
    EXPECT_GT(Clock::now() - asked, 3500ms);
    EXPECT_LT(Clock::now() - asked, 6000ms);

    SetHrdSimScript(sim, {HrdSimFault::Unsolicited, L"get frequency"});
    EXPECT_FALSE(WaitAsked(L"Get ID", 2, 1500ms));
    DropHrdConnection();
    EXPECT_TRUE(WaitAsked(L"Get ID", 2, 1000ms));
    ASSERT_TRUE(WaitSaid(kReconnecting, 2));
    EXPECT_EQ(Polls(), 0u);

    EXPECT_LT(TimedStop(), 400ms);
    EXPECT_EQ(Said(), (Texts{kConnecting, kConnected, kReconnecting, kConnecting, kConnected,
                             kReconnecting, kStopped}));
}

// A mode reply that comes after its limit would answer the next question: the poll it belongs to
// is published with an empty mode, and the connection is given up rather than read on.
TEST_F(HrdPoller, ALateReplyIsNeverPairedWithTheNextQuestion) {
    HrdSimScript script;
    script.mode = L""; // the dropdown is polled for the mode
    script.fault = HrdSimFault::Late;
    script.faultCommand = L"dropdown";
    script.lateMs = 5500;
    SetHrdSimScript(sim, script);
    const auto shown = [&] {
        const StationSnapshot s = ReadStationSnapshot().snapshot;
        return s.freq + L"|" + s.mode + L" " + std::to_wstring(Polls());
    };
    StartHrdPoller();
    ASSERT_TRUE(WaitSaid(kReconnecting)); // the late reply is not yet there
    EXPECT_EQ(shown(), L"14.074| 1");
    script.faultCommand = L""; // from now on every answer a little late
    script.lateMs = 300;
    SetHrdSimScript(sim, script);
    EXPECT_TRUE(WaitUntil([&] { return Polls() >= 3; }, 20s));
    StopHrdPoller();
    EXPECT_EQ(shown().substr(0, 11), L"14.074|USB ");
    EXPECT_EQ(Said(),
              (Texts{kConnecting, kConnected, kReconnecting, kConnecting, kConnected, kStopped}));
}

// A host that never answers the connect: a listener with no room for a connection not yet
// accepted, whose queue one connection fills, so that the next connect is dropped.
TEST_F(HrdPoller, ConnectLimitAndASaveWhileConnecting) {
    const SocketHandle full = TcpListen("127.0.0.1", 0, 0);
    const SocketHandle queued = TcpConnect("127.0.0.1", LocalPort(full), 300);
    Configure(LocalPort(full), 1, L"K1OLD");
    const auto start = Clock::now();
    StartHrdPoller();
    ASSERT_TRUE(WaitSaid(kNotReachable));
    EXPECT_GT(Clock::now() - start, 2500ms);
    EXPECT_LT(Clock::now() - start, 5000ms);
    EXPECT_FALSE(WaitSaid(kConnecting, 2, 300ms)); // the wait before the next try
    EXPECT_LT(TimedStop(), 400ms);

    StartHrdPoller(); // a Save while the connect waits
    ASSERT_TRUE(WaitUntil([] { return hrdSocket.handle.load() != kInvalidSocket; }));
    Configure(sim.peer.port, 1, L"K1NEW");
    DropHrdConnection();
    EXPECT_TRUE(WaitUntil([&] { return Polls() == 1; }, 1500ms));
    StopHrdPoller();
    CloseSocket(queued), CloseSocket(full);
    EXPECT_EQ(ReadStationSnapshot().snapshot.mycall, L"K1NEW");
    EXPECT_EQ(Said(), (Texts{kConnecting, kNotReachable, kStopped, kConnecting, kConnecting,
                             kConnected, kStopped}));
}

TEST_F(HrdPoller, OnlyNumericIpv4HostsAndPortsInRangeAreUsed) {
    // Whether the host and the simulator's port plus the offset reach the simulator: anything but
    // a dotted quad means 127.0.0.1 (2130706434 is 127.0.0.2 to some parsers); 127.0.0.2 is
    // honoured, and nothing listens there. A port out of range means 7809, where nothing listens
    // either, never its low 16 bits.
    const std::tuple<std::wstring, int, bool> cases[] = {
        {L"", 0, true},           {L"localhost", 0, true},   {L"hrd.invalid", 0, true},
        {L"::1", 0, true},        {L"127.0.0.256", 0, true}, {L"127.0.0.02", 0, true},
        {L"127.0.0.2 ", 0, true}, {L"2130706434", 0, true},  {L"127.0.0.2", 0, false},
        {L"", 65536, false},      {L"", -65536, false}};
    for (const auto& [host, offset, reachable] : cases) {
        recorder.Clear();
        Configure(sim.peer.port + offset, 1, L"N0CALL", host);
        StartHrdPoller();
        ASSERT_TRUE(WaitUntil([&] { return Said().size() >= 2; }));
        StopHrdPoller();
        EXPECT_EQ(Said()[1], reachable ? kConnected : kNotReachable)
            << host.size() << " " << offset;
    }
}

#ifndef _WIN32
// Out of descriptors, the poller cannot make a socket: it waits before the next try, as after a
// refused connect, rather than spinning, and connects once one is free again.
TEST_F(HrdPoller, NoSocketToBeHadWaitsBeforeTheNextTry) {
    rlimit was{};
    getrlimit(RLIMIT_NOFILE, &was);
    const rlimit none{0, was.rlim_max}; // the open ones stay open; no new one is made
    setrlimit(RLIMIT_NOFILE, &none);
    StartHrdPoller();
    EXPECT_FALSE(WaitSaid(kConnecting, 2, 1000ms));
    setrlimit(RLIMIT_NOFILE, &was);
    EXPECT_TRUE(WaitSaid(kConnected));
}
#endif

class RigctldPoller : public RigPoller {
  protected:
    RigctldPoller() : RigPoller(RigSource::Rigctld, StopRigctldPoller) {}
    void Configure(int port, const std::wstring& myCall = L"N0CALL") {
        std::lock_guard<std::mutex> lock(postSignal.mutex);
        settings.rigctldPort = port;
        settings.rigctldIntervalSeconds = 1;
        settings.rigctldMyCall = myCall;
        settings.rigctldOperator = L"OP1";
    }
};

// What the dummy cannot do, from the stand-in: each case changes the dummy's answers (a '|' is a
// pause, "-" no answer), then the poller is watched until its first poll ("" below) or its first
// "Reconnecting..." ("R") or its second "Connecting..." ("C"). Then: what it said before the stop,
// and freq|mode|radio if it published.
TEST_F(RigctldPoller, RefusalsSilenceSplitLinesAndHugeRepliesFromAStandIn) {
    const std::string huge(kRigctldMaxReply, 'x');
    const std::tuple<RigctldScript, const char*, std::wstring, std::wstring> cases[] = {
        {{{"f", "14|074|000.0\n"},
          {"m", "U|SB\r\n24|00\r\n"},
          {"\\dump_caps", "Model name: IC-7300 \nMfg name:\tIcom\nRPRT 0\n"}},
         "",
         L"Icom IC-7300",
         L"14.074|USB"},
        {{{"\\dump_caps", "RPRT -11\n"}, {"m", "RPRT -11\n"}}, "", L"", L"14.074|"},
        {{{"f", "RPRT -5\n"}}, "R", L"Hamlib Dummy", L""},
        {{{"f", "RPRT 0\n"}}, "R", L"Hamlib Dummy", L""},                        // a set's answer
        {{{"f", "14074000\n7074000\n"}}, "R", L"Hamlib Dummy", L""},             // out of step
        {{{"m", "USB\n2400\n|7074000\n"}}, "R", L"Hamlib Dummy", L"14.074|USB"}, // unasked
        {{{"f", "-"}}, "R", L"Hamlib Dummy", L""},                               // given up at 4 s
        {{{"m", "-"}}, "R", L"Hamlib Dummy", L"14.074|"},        // published empty, then given up
        {{{"\\dump_caps", huge}}, "C", L"", L""},                // given up at once
        {{{"\\dump_caps", "RPRT 4294967295\n"}}, "C", L"", L""}, // no refusal, however cut
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
        // Frequency and mode as polled, the radio's name as learned ("|?" when it is not).
        EXPECT_EQ(Polls() ? s.freq + L"|" + s.mode + (s.radio == radio ? L"" : L"|?") : L"", shown);
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
        return !posix_spawnp(&pid, "rigctld", nullptr, nullptr, const_cast<char**>(argv), nullptr);
    }
    void Kill() {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            waitpid(pid, nullptr, 0);
        pid = 0;
    }
    // One rigctl command ("F 14074000", "M USB 2400"); true when it worked.
    bool Set(const std::string& command) {
        const std::string line =
            "rigctl -m 2 -r 127.0.0.1:" + port + " " + command + " 2>/dev/null";
        return std::system(line.c_str()) == 0;
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
    EXPECT_TRUE(posted("freq=14.074&band=20m&mode=USB&mycall=N0CALL&opcall=OP1&radio=Hamlib+Dummy&"
                       "radio_label=Hamlib+Dummy&op_status=&locator=&location=&call=&"
                       "contestname=&app=Hamlib&"));
    ASSERT_TRUE(rigctld.Set("F 7074000"));
    EXPECT_TRUE(posted("freq=7.074&band=40m&mode=USB&"));

    Configure(port, L"K1NEW"); // as a Save does
    DropRigctldConnection();
    EXPECT_TRUE(posted("&mycall=K1NEW&"));

    rigctld.Kill();
    EXPECT_TRUE(WaitSaid(L"rigctld not reachable \u2014 retrying"));
    ASSERT_TRUE(rigctld.Start(port));
    ASSERT_TRUE(WaitUntil([&] { return rigctld.Set("F 3573000"); }, 10s));
    EXPECT_TRUE(WaitSaid(L"Connected \u2014 Hamlib Dummy", 3));
    EXPECT_TRUE(posted("freq=3.573&band=80m&"));
    EXPECT_LT(TimedStop(), 400ms);
    StopPoster();
}
#endif

} // namespace
