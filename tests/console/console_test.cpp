// The headless front end as its users meet it: the real binary, a temporary data folder, real
// sockets and a stand-in dashboard.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "platform/net_peers.h"
#include "platform/text.h"
#include "tests/console/console_process.h"
#include "tests/support/temp_folder.h"
#include "tools/dashboard_sink/dashboard_sink.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Generous: the sanitizer builds start slowly. Nothing waits this long when all is well.
constexpr std::chrono::milliseconds kPatience = 15s;
const std::string kApiKey = "k3y-never-shown";

struct StationFile {
    std::string wpUrl; // the WP target is on when set
    int udpPort = 0;   // the UDP listener is on when set
    int hrdPort = 0;   // the HRD poller is on when set
    std::string udpIp = "127.0.0.1";
};

std::string IniFor(const StationFile& file) {
    const auto on = [](bool enabled) { return enabled ? "1" : "0"; };
    return std::string("[vellumar]\nenabled=0\n[wp]\nenabled=") + on(!file.wpUrl.empty()) +
           "\nurl=" + file.wpUrl + "\nid=station-7\napi_key=" + kApiKey +
           "\n[udp]\nenabled=" + on(file.udpPort) + "\nip=" + file.udpIp +
           "\nport=" + std::to_string(file.udpPort) + "\n[hrd]\nenabled=" + on(file.hrdPort) +
           "\nhost=127.0.0.1\nport=" + std::to_string(file.hrdPort) + "\n";
}

// A port nobody uses right now: bound to find it, then let go.
int FreePort(bool udp) {
    const SocketHandle probe = udp ? UdpBind("127.0.0.1", 0) : TcpListen("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);
    return port;
}

void SendDatagram(int port, const std::string& bytes) {
    const SocketHandle sender = UdpConnect("127.0.0.1", port);
    EXPECT_EQ(SocketSend(sender, bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    CloseSocket(sender);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The default settings at work: the UDP listener tried 0.0.0.0:12060 (another program may hold
// that port) and HRD is off.
bool OnTheDefaults(const std::string& output) {
    return (Has(output, "UDP Receiver: Listening on 0.0.0.0:12060") ||
            Has(output, "UDP Receiver: Error: cannot bind port 12060")) &&
           Has(output, "HRD (TCP): Disabled");
}

struct ConsoleTest : testing::Test {
    std::string Path(const std::string& name) const { return WideToUtf8(home.path) + "/" + name; }

    // XDG_CONFIG_HOME points into the test's folder, so even a run without --config-dir never
    // touches the real data folder.
    std::shared_ptr<ConsoleProcess> Run(const std::vector<std::string>& arguments) {
        started.push_back(std::make_shared<ConsoleProcess>(arguments, Path("xdg")));
        EXPECT_GT(started.back()->pid, 0);
        return started.back();
    }

    // Runs on the station folder and waits for the start-up line.
    std::shared_ptr<ConsoleProcess> RunStation(std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), {"--config-dir", station});
        auto process = Run(arguments);
        EXPECT_TRUE(process->WaitForLine("started with the data folder", kPatience));
        return process;
    }

    void WriteStation(const StationFile& file) {
        fs::create_directories(station);
        ASSERT_TRUE(WriteWholeFile(Utf8ToWide(station + "/settings.ini"), IniFor(file)));
    }

    void TearDown() override {
        for (const auto& process : started)
            if (HasFailure()) // what the programs said
                std::printf("--- corvane %d said:\n%s", process->pid, process->All().c_str());
    }

    TempFolder home;
    std::string station = Path("station");
    std::vector<std::shared_ptr<ConsoleProcess>> started;
};

TEST_F(ConsoleTest, FirstRunWritesTheDefaultFileIntoAPrivateFolder) {
    station = Path("deep/er/Corvane"); // parents missing too, and taken from the working folder
    auto process = Run({"--config-dir", fs::relative(station, fs::current_path()).string()});
    EXPECT_TRUE(process->WaitForLine("started with the data folder " + station + "\n", kPatience));
    const std::string ini = station + "/settings.ini";
    for (const char* line : {"[vellumar]", "[wp]", "[udp]", "ip=0.0.0.0", "port=12060", "[app]",
                             "[hrd]", "port=7809", "host=127.0.0.1"})
        EXPECT_TRUE(Has(FileBytes(Utf8ToWide(ini)), line)) << line;
    EXPECT_EQ(static_cast<int>(fs::status(ini).permissions()), 0600); // it holds API keys
    EXPECT_EQ(static_cast<int>(fs::status(station).permissions()), 0700);
    EXPECT_EQ(process->Stop(), 0);
    EXPECT_TRUE(OnTheDefaults(process->All()));
    EXPECT_TRUE(process->Stamped());
    EXPECT_EQ(process->Errors(), "");
}

struct ConsoleSignalTest : ConsoleTest, testing::WithParamInterface<int> {};

// Every worker on: the demo body reaches the WP dashboard and the window's texts are printed; then
// the stop signal ends the workers in order within about a second.
TEST_P(ConsoleSignalTest, TestModeDeliversTheDemoBodyThenTheSignalStopsEveryWorkerInOrder) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions{}));
    const int udpPort = FreePort(true);
    WriteStation({WideToUtf8(sink.BaseUrl()), udpPort, FreePort(false), "localhost"});
    auto process = RunStation({"--test-mode"});
    ASSERT_TRUE(sink.WaitForRequests(1, kPatience));
    EXPECT_EQ(sink.Requests().at(0).target, "/?station_update=station-7");
    EXPECT_EQ(sink.Requests().at(0).body,
              "freq=14.074&band=20m&mode=FT8&mycall=N0CALL&opcall=TEST&radio=Test+N1MM&radio_"
              "label=Test+N1MM&op_status=Is+calling&locator=&location=&call=QQ1ABC&contestname=CQ+"
              "WW+DX&app=N1MM&api_key=" +
                  kApiKey);
    for (const char* line :
         {"WP Dashboard: Last post: OK", "HRD (TCP): HRD not reachable \xE2\x80\x94 retrying",
          "Live Status: Freq (MHz): 14.074 | Band: 20m | Mode: FT8 | Operating: Is calling"})
        EXPECT_TRUE(process->WaitForLine(line, kPatience));

    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(process->Stop(GetParam()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 1500ms);
    const std::string out = process->All();
    EXPECT_TRUE(Has(out, "UDP Receiver: Listening on 0.0.0.0:" + std::to_string(udpPort)));
    EXPECT_TRUE(Has(out, "UDP Receiver: Test mode ON \xE2\x80\x94 ignoring UDP"));
    EXPECT_FALSE(Has(out, "VLM Dashboard")); // disabled: never tried
    EXPECT_FALSE(Has(out, kApiKey));
    EXPECT_LT(out.find(GetParam() == SIGINT ? "on SIGINT" : "on SIGTERM"),
              out.find("HRD (TCP): Stopped"));
    EXPECT_LT(out.find("HRD (TCP): Stopped"), out.find("UDP Receiver: Stopped"));
    EXPECT_LT(out.find("UDP Receiver: Stopped"), out.find("Corvane stopped\n"));
    EXPECT_EQ(out.rfind("Corvane stopped\n"), out.size() - 16); // the last line
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleSignalTest, testing::Values(SIGTERM, SIGINT));

TEST_F(ConsoleTest, LoggerDatagramReachesTheDashboardAndTheLiveStatus) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions{}));
    const int port = FreePort(true);
    WriteStation({WideToUtf8(sink.BaseUrl()), port, 0});
    auto process = RunStation();
    ASSERT_TRUE(process->WaitForLine("Listening on 127.0.0.1:" + std::to_string(port), kPatience));

    const std::string radio =
        FileBytes(Utf8ToWide(EnvironmentText("CORVANE_SAMPLES_DIR") + "/n1mm-radioinfo-1.xml"));
    ASSERT_FALSE(radio.empty());
    SendDatagram(port, radio); // 3.522 MHz CW, W1ABC
    ASSERT_TRUE(sink.WaitForRequests(1, kPatience));
    EXPECT_EQ(sink.Requests().at(0).body,
              "freq=3.522&band=80m&mode=CW&mycall=W1ABC&opcall=W1ABC&radio=&radio_label=&op_"
              "status=Is+searching&locator=&location=&call=&contestname=&app=N1MM&api_key=" +
                  kApiKey);
    EXPECT_TRUE(process->WaitForLine(
        "Live Status: Freq (MHz): 3.522 | Band: 80m | Mode: CW | Operating: Is searching | Last "
        "worked: - | Contest: - | MyCall: W1ABC | OpCall: W1ABC | Radio: - | Locator: - | "
        "Location: -\n",
        kPatience));

    // A change the page does not show prints nothing; the next visible one does, and its radio
    // name cannot drive the terminal or break the line.
    SendDatagram(port, Replaced(radio, "<Antenna>8<", "<Antenna>3<"));
    SendDatagram(port, Replaced(Replaced(radio, "<Freq>352211<", "<Freq>1407400<"), "<RadioName><",
                                "<RadioName>Rig\x1b[31mRed\nX<"));
    EXPECT_TRUE(
        process->WaitForLine("| Radio: Rig [31mRed X | Locator: - | Location: -\n", kPatience));
    EXPECT_TRUE(Has(process->All(), "14.074 | Band: 20m | Mode: CW | Operating: Is searching"));
    EXPECT_EQ(process->Stop(), 0);
    EXPECT_EQ(Count(process->All(), "Live Status:"), 2);
    EXPECT_FALSE(Has(process->All(), "\x1b"));
    EXPECT_TRUE(process->Stamped());
}

// An output that takes nothing (a paused terminal, a stalled journal) holds up neither the posts
// nor the stop; once it moves again it says how many lines it dropped.
TEST_F(ConsoleTest, OutputNobodyReadsHoldsUpNeitherThePostsNorTheStop) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions{}));
    const int port = FreePort(true);
    WriteStation({WideToUtf8(sink.BaseUrl()), port, 0});
    started.push_back(std::make_shared<ConsoleProcess>(
        std::vector<std::string>{"--config-dir", station}, Path("xdg"), ConsoleOutput::Unread));
    const auto process = started.back();
    ASSERT_GT(process->pid, 0);
    // A contact with a new call is a status line or two, and a post at once.
    int calls = 0;
    const auto contact = [&] {
        const std::string call = "K" + std::to_string(++calls);
        SendDatagram(port, "<contactinfo><call>" + call + "</call></contactinfo>");
        return "call=" + call;
    };
    const auto postGetsThrough = [&] {
        for (const auto end = std::chrono::steady_clock::now() + kPatience;
             std::chrono::steady_clock::now() < end;) {
            const std::size_t before = sink.Requests().size();
            const std::string call = contact();
            if (sink.WaitForRequests(before + 1, 1s) && Has(sink.Requests().back().body, call))
                return true;
        }
        return false;
    };
    // Far more lines than the pipe's page and the queue hold, in rounds that the listener takes
    // in before the next, so that none is lost on the way in; and the posts still go out.
    const auto fillTheOutput = [&] {
        for (int round = 0; round < 4; ++round) {
            for (int i = 0; i < 50; ++i)
                contact();
            if (!postGetsThrough())
                return false;
        }
        return true;
    };

    ASSERT_TRUE(postGetsThrough()); // listening
    ASSERT_TRUE(fillTheOutput());
    std::string shown;
    for (const auto end = std::chrono::steady_clock::now() + kPatience;
         !Has(shown, "status lines dropped while the output was blocked)\n") &&
         std::chrono::steady_clock::now() < end;) {
        pollfd ready{process->unreadOutput, POLLIN, 0};
        char buffer[4096];
        const ssize_t got =
            ::poll(&ready, 1, 100) > 0 ? ::read(ready.fd, buffer, sizeof buffer) : 0;
        shown.append(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    EXPECT_TRUE(Has(shown, "status lines dropped while the output was blocked)\n"));
    EXPECT_TRUE(fillTheOutput());
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(process->Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 4s);
}

TEST_F(ConsoleTest, SecondInstanceOnTheSameFolderIsRefused) {
    auto first = RunStation();
    auto second = Run({"--config-dir", station});
    EXPECT_EQ(second->WaitForExit(kPatience), 0);
    EXPECT_EQ(second->Lines(),
              std::vector<std::string>{"Corvane already runs with the data folder " + station +
                                       " (process " + std::to_string(first->pid) + ")"});
    EXPECT_EQ(second->Errors(), "");

    // Another folder is another station, and the first one is untouched by the attempt.
    auto other = Run({"--config-dir", Path("other")});
    EXPECT_TRUE(other->WaitForLine("started with the data folder", kPatience));
    EXPECT_EQ(other->Stop(), 0);
    EXPECT_EQ(first->Stop(), 0);
    // The lock file stays behind but holds nobody out once its owner has gone.
    EXPECT_EQ(RunStation()->Stop(), 0);
}

// Started without a standard output, it does not write its status lines into the lock file.
TEST_F(ConsoleTest, WithoutStandardOutputTheLockFileHoldsOnlyTheProcessId) {
    WriteStation({});
    started.push_back(std::make_shared<ConsoleProcess>(
        std::vector<std::string>{"--config-dir", station}, Path("xdg"), ConsoleOutput::Closed));
    const auto first = started.back();
    const std::string lock = station + "/corvane.lock", pid = std::to_string(first->pid);
    for (const auto end = std::chrono::steady_clock::now() + kPatience;
         FileBytes(Utf8ToWide(lock)) != pid + "\n" && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(10ms);
    auto second = Run({"--config-dir", station});
    EXPECT_EQ(second->WaitForExit(kPatience), 0);
    EXPECT_TRUE(Has(second->All(),
                    "already runs with the data folder " + station + " (process " + pid + ")\n"));
    EXPECT_EQ(first->Stop(), 0);
    EXPECT_EQ(FileBytes(Utf8ToWide(lock)), pid + "\n");
}

TEST_F(ConsoleTest, OptionsAnswerAtOnceWithoutStarting) {
    const std::string needsFolder = "--config-dir needs a folder";
    // The arguments, the exit code, and a part of standard output or with code 2 the one line on
    // standard error.
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{"--version"}, 0, "Corvane " CORVANE_VERSION "\n"},
        {{"--help"}, 0, "  --config-dir DIR"},
        {{"--test-mode", "--help"}, 0, "  --test-mode"},
        {{"--bogus"}, 2, "unknown option '--bogus' (see --help)"},
        {{"--version", "station"}, 2, "unknown option 'station' (see --help)"},
        {{"--config-dir"}, 2, needsFolder},
        {{"--config-dir="}, 2, needsFolder},
        {{"--config-dir", ""}, 2, needsFolder},
    };
    for (const auto& [arguments, code, text] : cases) {
        auto process = Run(arguments);
        EXPECT_EQ(process->WaitForExit(kPatience), code);
        EXPECT_EQ(process->Errors(), code ? "corvane: " + text + "\n" : "");
        EXPECT_EQ(process->Lines().empty(), code != 0);
        EXPECT_TRUE(Has(process->All(), text));
    }
    EXPECT_FALSE(fs::exists(Path("xdg/Corvane"))); // nothing started: no data folder anywhere
    EXPECT_FALSE(fs::exists(station));
}

// Settings it cannot read, a data folder it cannot create or write: it runs on the defaults with
// one warning that names the path, and leaves an existing file alone.
TEST_F(ConsoleTest, UnusableSettingsOrFolderRunOnTheDefaultsWithOneWarning) {
    const auto expectOneWarning = [&](const std::string& folder, const std::string& warning) {
        station = Path(folder);
        auto process = RunStation();
        EXPECT_EQ(process->Stop(), 0);
        EXPECT_EQ(Count(process->All(), "Warning"), 1);
        EXPECT_TRUE(Has(process->All(), "Warning: " + warning + "; running on the defaults"));
        EXPECT_TRUE(OnTheDefaults(process->All()));
    };
    fs::create_directories(Path("a/settings.ini")); // a folder in its place
    expectOneWarning("a", "cannot read " + Path("a/settings.ini"));
    WriteWholeFile(Utf8ToWide(Path("file")), "not a folder");
    expectOneWarning("file/Corvane", "cannot create the data folder " + Path("file/Corvane"));
    const std::string large = "[udp]\nenabled=0\n" + std::string(1 << 20, '\n');
    fs::create_directories(Path("d"));
    WriteWholeFile(Utf8ToWide(Path("d/settings.ini")), large);
    expectOneWarning("d", Path("d/settings.ini") + " is over 1 MiB, too large for settings");
    EXPECT_TRUE(FileBytes(Utf8ToWide(Path("d/settings.ini"))) == large);
    fs::create_directories(Path("e"));
    WriteWholeFile(Utf8ToWide(Path("e/settings.ini")), std::string("[udp]\nenabled=0\n") + '\0');
    expectOneWarning("e",
                     Path("e/settings.ini") + " is not text (UTF-8, or UTF-16LE with its BOM)");
    if (::geteuid() == 0)
        return; // root reads and writes the rest anyway
    const std::string ini = Path("b/settings.ini");
    fs::create_directories(Path("b"));
    WriteWholeFile(Utf8ToWide(ini), "[udp]\nenabled=0\n");
    fs::permissions(ini, fs::perms::none);
    expectOneWarning("b", "cannot read " + ini);
    fs::permissions(ini, fs::perms::owner_read);
    EXPECT_EQ(FileBytes(Utf8ToWide(ini)), "[udp]\nenabled=0\n");
    fs::create_directories(Path("c"));
    fs::permissions(Path("c"), fs::perms::owner_read | fs::perms::owner_exec);
    expectOneWarning("c", "cannot write " + Path("c/settings.ini"));
    fs::permissions(Path("c"), fs::perms::owner_all);
}

TEST_F(ConsoleTest, PortItCannotBindIsReportedAndPostingGoesOn) {
    // Held without SO_REUSEADDR, so the listener's bind fails.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    const int port = LocalPort(static_cast<SocketHandle>(fd));
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions{}));
    WriteStation({WideToUtf8(sink.BaseUrl()), port, 0});

    auto process = RunStation({"--test-mode"});
    EXPECT_TRUE(process->WaitForLine(
        "UDP Receiver: Error: cannot bind port " + std::to_string(port), kPatience));
    EXPECT_TRUE(process->WaitForLine("WP Dashboard: Last post: OK", kPatience));
    EXPECT_EQ(process->Stop(), 0);
    ::close(fd);
}

} // namespace
