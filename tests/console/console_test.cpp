// The headless front end as its users meet it: the real binary, a temporary data folder, real
// sockets and a stand-in dashboard.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "platform/net.h"
#include "platform/text.h"
#include "tests/console/console_process.h"
#include "tests/support/temp_folder.h"
#include "tools/dashboard_sink/dashboard_sink.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Generous: the sanitizer builds start slowly. Nothing waits this long when all is well.
constexpr std::chrono::milliseconds kPatience = 15s;

const char* const kApiKey = "k3y-never-shown";
const std::string kTestModeText = "UDP Receiver: Test mode ON \xE2\x80\x94 ignoring UDP";

struct StationFile {
    bool wpEnabled = false;
    std::string wpUrl = "http://127.0.0.1:9";
    bool udpEnabled = false;
    std::string udpIp = "127.0.0.1";
    int udpPort = 12060;
    bool hrdEnabled = false;
    int hrdPort = 7809;
};

std::string IniFor(const StationFile& file) {
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    return "[vellumar]\nenabled=0\nid=\napi_key=\ninterval=30\n"
           "[wp]\nenabled=" +
           flag(file.wpEnabled) + "\nurl=" + file.wpUrl + "\nid=station-7\napi_key=" + kApiKey +
           "\ninterval=30\n"
           "[udp]\nenabled=" +
           flag(file.udpEnabled) + "\nip=" + file.udpIp + "\nport=" + std::to_string(file.udpPort) +
           "\n[app]\nstart_minimized=1\n"
           "[hrd]\nenabled=" +
           flag(file.hrdEnabled) + "\nhost=127.0.0.1\nport=" + std::to_string(file.hrdPort) +
           "\ninterval=2\nmycall=N0CALL\noperator=TEST\n";
}

// A port nobody uses right now: bound to find it, then let go.
int FreeUdpPort() {
    const SocketHandle probe = UdpBind("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);
    return port;
}

// A TCP port that refuses connections.
int ClosedTcpPort() {
    const SocketHandle probe = TcpListen("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);
    return port;
}

void SendDatagram(int port, const std::string& bytes) {
    const SocketHandle sender = UdpConnect("127.0.0.1", port);
    ASSERT_NE(sender, kInvalidSocket);
    EXPECT_EQ(SocketSend(sender, bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    CloseSocket(sender);
}

std::string Sample(const char* name) {
    return FileBytes(Utf8ToWide(EnvironmentText("CORVANE_SAMPLES_DIR") + "/" + name));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The default settings at work: the UDP listener tried 0.0.0.0:12060 (another program may hold
// that port) and HRD is off.
bool OnTheDefaults(const std::vector<std::string>& lines) {
    const bool udp = LineIndex(lines, "UDP Receiver: Listening on 0.0.0.0:12060") >= 0 ||
                     LineIndex(lines, "UDP Receiver: Error: cannot bind port 12060") >= 0;
    return udp && LineIndex(lines, "HRD (TCP): Disabled") >= 0;
}

class ConsoleTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return WideToUtf8(home.path) + "/" + name; }

    // XDG_CONFIG_HOME points into the test's folder, so even a run without --config-dir never
    // touches the real data folder.
    std::unique_ptr<ConsoleProcess> Run(const std::vector<std::string>& arguments) {
        auto process = std::make_unique<ConsoleProcess>(
            arguments, std::vector<std::string>{"XDG_CONFIG_HOME=" + Path("xdg")});
        EXPECT_TRUE(process->Started());
        return process;
    }

    // Runs with the station folder and waits for the start-up line.
    std::unique_ptr<ConsoleProcess> RunStation(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--config-dir", station};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        auto process = Run(arguments);
        EXPECT_TRUE(process->WaitForLine("started with the data folder", kPatience))
            << process->AllOutput();
        return process;
    }

    void WriteStation(const StationFile& file) {
        fs::create_directories(station);
        ASSERT_TRUE(WriteWholeFile(Utf8ToWide(station + "/settings.ini"), IniFor(file)));
    }

    // SIGTERM, then the exit code; fails the test when it takes too long.
    int Stop(ConsoleProcess& process) {
        process.Signal(SIGTERM);
        int code = -1;
        EXPECT_TRUE(process.WaitForExit(kPatience, code)) << process.AllOutput();
        return code;
    }

    TempFolder home;
    std::string station = Path("station");
};

TEST_F(ConsoleTest, FirstRunWritesTheDefaultFileIntoAPrivateFolder) {
    station = Path("deep/er/Corvane"); // parents missing too
    auto process = RunStation();
    const std::string ini = FileBytes(Utf8ToWide(station + "/settings.ini"));
    for (const char* line : {"[vellumar]", "[wp]", "[udp]", "ip=0.0.0.0", "port=12060", "[app]",
                             "start_minimized=1", "[hrd]", "port=7809", "host=127.0.0.1"})
        EXPECT_NE(ini.find(line), std::string::npos) << line;
    struct stat info {};
    ASSERT_EQ(::stat((station + "/settings.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u); // it holds API keys
    ASSERT_EQ(::stat(station.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(Stop(*process), 0);
    EXPECT_TRUE(OnTheDefaults(process->Lines())) << process->AllOutput();
    EXPECT_TRUE(process->StampsWellFormed()) << process->AllOutput();
    EXPECT_TRUE(process->ErrorLines().empty()) << process->AllOutput();
}

TEST_F(ConsoleTest, TestModeDeliversTheDemoBodyToTheWpDashboard) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions{}));
    StationFile file;
    file.wpEnabled = true;
    file.wpUrl = WideToUtf8(sink.BaseUrl());
    WriteStation(file);

    auto process = RunStation({"--test-mode"});
    ASSERT_TRUE(sink.WaitForRequests(1, kPatience)) << process->AllOutput();
    const SinkRequest request = sink.Requests().at(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/?station_update=station-7");
    EXPECT_EQ(request.body, std::string("freq=14.074&band=20m&mode=FT8&mycall=N0CALL&opcall=TEST"
                                        "&radio=Test+N1MM&radio_label=Test+N1MM&op_status=Is+"
                                        "calling&locator=&location=&call=QQ1ABC&contestname=CQ+"
                                        "WW+DX&app=N1MM&api_key=") +
                                kApiKey);
    EXPECT_TRUE(process->WaitForLine("WP Dashboard: Last post: OK", kPatience))
        << process->AllOutput();
    EXPECT_TRUE(process->WaitForLine(
        "Live Status: Freq (MHz): 14.074 | Band: 20m | Mode: FT8 | Operating: Is calling | "
        "Last worked: QQ1ABC | Contest: CQ WW DX | MyCall: N0CALL | OpCall: TEST | "
        "Radio: Test N1MM | Locator: - | Location: -",
        kPatience))
        << process->AllOutput();
    EXPECT_EQ(Stop(*process), 0);

    const std::vector<std::string> lines = process->Lines();
    EXPECT_GE(LineIndex(lines, kTestModeText), 0) << process->AllOutput();
    EXPECT_EQ(LineIndex(lines, "VLM Dashboard"), -1); // disabled: never tried
    EXPECT_EQ(process->AllOutput().find(kApiKey), std::string::npos);
}

TEST_F(ConsoleTest, LoggerDatagramReachesTheDashboardAndTheLiveStatus) {
    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions{}));
    StationFile file;
    file.wpEnabled = true;
    file.wpUrl = WideToUtf8(sink.BaseUrl());
    file.udpEnabled = true;
    file.udpPort = FreeUdpPort();
    WriteStation(file);

    auto process = RunStation();
    const std::string listening =
        "UDP Receiver: Listening on 127.0.0.1:" + std::to_string(file.udpPort);
    ASSERT_TRUE(process->WaitForLine(listening, kPatience)) << process->AllOutput();

    const std::string radio = Sample("n1mm-radioinfo-1.xml"); // 3.522 MHz CW, W1ABC
    ASSERT_FALSE(radio.empty());
    SendDatagram(file.udpPort, radio);
    ASSERT_TRUE(sink.WaitForRequests(1, kPatience)) << process->AllOutput();
    EXPECT_EQ(sink.Requests().at(0).body,
              std::string("freq=3.522&band=80m&mode=CW&mycall=W1ABC&opcall=W1ABC&radio=&radio_"
                          "label=&op_status=Is+searching&locator=&location=&call=&contestname=&"
                          "app=N1MM&api_key=") +
                  kApiKey);
    EXPECT_TRUE(process->WaitForLine("Live Status: Freq (MHz): 3.522 | Band: 80m | Mode: CW | "
                                     "Operating: Is searching | Last worked: - | Contest: - | "
                                     "MyCall: W1ABC | OpCall: W1ABC | Radio: - | Locator: - | "
                                     "Location: -",
                                     kPatience))
        << process->AllOutput();

    // A change the page does not show prints nothing; the next visible one does, and its radio
    // name cannot drive the terminal or break the line.
    SendDatagram(file.udpPort, Replaced(radio, "<Antenna>8<", "<Antenna>3<"));
    std::string hostile = Replaced(radio, "<Freq>352211<", "<Freq>1407400<");
    hostile = Replaced(hostile, "<RadioName><", "<RadioName>Rig\x1b[31mRed\nX<");
    SendDatagram(file.udpPort, hostile);
    EXPECT_TRUE(process->WaitForLine("Live Status: Freq (MHz): 14.074 | Band: 20m | Mode: CW | "
                                     "Operating: Is searching | Last worked: - | Contest: - | "
                                     "MyCall: W1ABC | OpCall: W1ABC | Radio: Rig [31mRed X | "
                                     "Locator: - | Location: -",
                                     kPatience))
        << process->AllOutput();
    EXPECT_EQ(Stop(*process), 0);
    EXPECT_EQ(LineCount(process->Lines(), "Live Status:"), 2) << process->AllOutput();
    EXPECT_EQ(process->AllOutput().find('\x1b'), std::string::npos);
    EXPECT_TRUE(process->StampsWellFormed()) << process->AllOutput();
}

class ConsoleStopTest : public ConsoleTest, public ::testing::WithParamInterface<int> {};

TEST_P(ConsoleStopTest, StopSignalEndsEveryWorkerInOrderWithinASecond) {
    StationFile file;
    file.udpEnabled = true;
    file.udpPort = FreeUdpPort();
    file.hrdEnabled = true;
    file.hrdPort = ClosedTcpPort();
    WriteStation(file);

    auto process = RunStation({"--test-mode"});
    ASSERT_TRUE(process->WaitForLine("Live Status: Freq (MHz): 14.074", kPatience))
        << process->AllOutput();
    ASSERT_TRUE(
        process->WaitForLine("HRD (TCP): HRD not reachable \xE2\x80\x94 retrying", kPatience))
        << process->AllOutput();

    const auto sent = std::chrono::steady_clock::now();
    process->Signal(GetParam());
    int code = -1;
    ASSERT_TRUE(process->WaitForExit(kPatience, code)) << process->AllOutput();
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(code, 0) << process->AllOutput();
    EXPECT_LT(took, 1500ms) << process->AllOutput();

    const std::vector<std::string> lines = process->Lines();
    const int stopping =
        LineIndex(lines, GetParam() == SIGINT ? "Stopping on SIGINT" : "Stopping on SIGTERM");
    const int hrdStopped = LineIndex(lines, "HRD (TCP): Stopped");
    const int udpStopped = LineIndex(lines, "UDP Receiver: Stopped");
    const int stopped = LineIndex(lines, "Corvane stopped");
    EXPECT_GE(stopping, 0) << process->AllOutput();
    EXPECT_LT(stopping, hrdStopped) << process->AllOutput();
    EXPECT_LT(hrdStopped, udpStopped) << process->AllOutput();
    EXPECT_LT(udpStopped, stopped) << process->AllOutput();
    EXPECT_EQ(stopped, static_cast<int>(lines.size()) - 1) << process->AllOutput();
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleStopTest, ::testing::Values(SIGTERM, SIGINT));

TEST_F(ConsoleTest, SecondInstanceOnTheSameFolderIsRefused) {
    WriteStation(StationFile{});
    auto first = RunStation();

    auto second = Run({"--config-dir", station});
    int code = -1;
    ASSERT_TRUE(second->WaitForExit(kPatience, code)) << second->AllOutput();
    EXPECT_EQ(code, 0);
    const std::vector<std::string> lines = second->Lines();
    ASSERT_EQ(lines.size(), 1u) << second->AllOutput();
    EXPECT_EQ(lines[0], "Corvane already runs with the data folder " + station + " (process " +
                            std::to_string(first->pid) + ")");
    EXPECT_TRUE(second->ErrorLines().empty()) << second->AllOutput();

    // Another folder is another station; and the first one is untouched by the attempt.
    auto other = Run({"--config-dir", Path("other")});
    EXPECT_TRUE(other->WaitForLine("started with the data folder", kPatience));
    EXPECT_EQ(Stop(*other), 0);
    EXPECT_EQ(Stop(*first), 0);

    // The lock file stays behind but holds nobody out once its owner has gone.
    auto third = RunStation();
    EXPECT_EQ(Stop(*third), 0);
}

struct CommandLineCase {
    std::vector<std::string> arguments;
    int exitCode;
    std::string output; // a line of standard output that must appear, if any
    std::string error;  // the one line on standard error, if any
};

class ConsoleCommandLineTest : public ConsoleTest,
                               public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(ConsoleCommandLineTest, AnswersAtOnceWithoutStarting) {
    const CommandLineCase& c = GetParam();
    auto process = Run(c.arguments);
    int code = -1;
    ASSERT_TRUE(process->WaitForExit(kPatience, code)) << process->AllOutput();
    EXPECT_EQ(code, c.exitCode) << process->AllOutput();
    if (c.error.empty()) {
        EXPECT_TRUE(process->ErrorLines().empty()) << process->AllOutput();
        EXPECT_GE(LineIndex(process->Lines(), c.output), 0) << process->AllOutput();
    } else {
        EXPECT_EQ(process->ErrorLines(), std::vector<std::string>{c.error});
        EXPECT_TRUE(process->Lines().empty()) << process->AllOutput();
    }
    // Nothing was started: no data folder anywhere.
    EXPECT_FALSE(fs::exists(Path("xdg/Corvane")));
    EXPECT_FALSE(fs::exists(Path("station")));
}

INSTANTIATE_TEST_SUITE_P(
    Options, ConsoleCommandLineTest,
    ::testing::Values(
        CommandLineCase{{"--version"}, 0, "Corvane 1.6.2", ""},
        CommandLineCase{{"--help"}, 0, "  --config-dir DIR", ""},
        CommandLineCase{{"--test-mode", "--help"}, 0, "  --test-mode", ""},
        CommandLineCase{{"--bogus"}, 2, "", "corvane: unknown option '--bogus' (see --help)"},
        CommandLineCase{
            {"--version", "station"}, 2, "", "corvane: unknown option 'station' (see --help)"},
        CommandLineCase{{"--config-dir"}, 2, "", "corvane: --config-dir needs a folder"},
        CommandLineCase{{"--config-dir="}, 2, "", "corvane: --config-dir needs a folder"},
        CommandLineCase{{"--config-dir", ""}, 2, "", "corvane: --config-dir needs a folder"}));

TEST_F(ConsoleTest, RelativeConfigDirIsTakenFromTheWorkingFolder) {
    // The child runs in the test's working folder; make the folder relative to that.
    const std::string relative =
        fs::relative(fs::path(Path("rel/station")), fs::current_path()).string();
    auto process = Run({"--config-dir", relative});
    EXPECT_TRUE(
        process->WaitForLine("started with the data folder " + Path("rel/station"), kPatience))
        << process->AllOutput();
    EXPECT_TRUE(fs::exists(Path("rel/station/settings.ini")));
    EXPECT_EQ(Stop(*process), 0);
}

// A settings file it cannot read: defaults, one warning naming it, and the file left alone.
TEST_F(ConsoleTest, UnreadableSettingsRunOnTheDefaultsWithOneWarning) {
    struct Case {
        const char* name;
        bool asFolder;
    };
    for (const Case& c : {Case{"a folder in its place", true}, Case{"no permission", false}}) {
        SCOPED_TRACE(c.name);
        if (!c.asFolder && ::geteuid() == 0)
            continue; // root reads it anyway
        const std::string ini = station + "/settings.ini";
        fs::remove_all(station);
        fs::create_directories(station);
        if (c.asFolder) {
            fs::create_directories(ini);
        } else {
            ASSERT_TRUE(WriteWholeFile(Utf8ToWide(ini), "[udp]\nenabled=0\n"));
            ::chmod(ini.c_str(), 0);
        }
        auto process = RunStation();
        EXPECT_EQ(Stop(*process), 0);
        const std::vector<std::string> lines = process->Lines();
        EXPECT_EQ(LineCount(lines, "Warning"), 1) << process->AllOutput();
        EXPECT_GE(LineIndex(lines, "Warning: cannot read " + ini + "; running on the defaults"), 0)
            << process->AllOutput();
        EXPECT_TRUE(OnTheDefaults(lines)) << process->AllOutput();
        if (!c.asFolder) {
            ::chmod(ini.c_str(), 0600);
            EXPECT_EQ(FileBytes(Utf8ToWide(ini)), "[udp]\nenabled=0\n");
        }
    }
}

TEST_F(ConsoleTest, DataFolderItCannotCreateRunsOnTheDefaultsWithOneWarning) {
    ASSERT_TRUE(WriteWholeFile(Utf8ToWide(Path("plain-file")), "not a folder"));
    station = Path("plain-file/Corvane");
    auto process = RunStation();
    EXPECT_EQ(Stop(*process), 0);
    const std::vector<std::string> lines = process->Lines();
    EXPECT_EQ(LineCount(lines, "Warning"), 1) << process->AllOutput();
    EXPECT_GE(LineIndex(lines, "Warning: cannot create the data folder " + station +
                                   "; running on the defaults"),
              0)
        << process->AllOutput();
    EXPECT_TRUE(OnTheDefaults(lines)) << process->AllOutput();
}

TEST_F(ConsoleTest, DataFolderItCannotWriteRunsOnTheDefaultsWithOneWarning) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes it anyway";
    fs::create_directories(station);
    ::chmod(station.c_str(), 0500);
    auto process = RunStation();
    EXPECT_EQ(Stop(*process), 0);
    ::chmod(station.c_str(), 0700);
    const std::vector<std::string> lines = process->Lines();
    EXPECT_EQ(LineCount(lines, "Warning"), 1) << process->AllOutput();
    EXPECT_GE(LineIndex(lines, "Warning: cannot write " + station +
                                   "/settings.ini; running on the defaults"),
              0)
        << process->AllOutput();
    EXPECT_TRUE(OnTheDefaults(lines)) << process->AllOutput();
}

TEST_F(ConsoleTest, PortItCannotBindIsReportedAndPostingGoesOn) {
    // Held without SO_REUSEADDR, so the listener's bind fails.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    const int port = LocalPort(static_cast<SocketHandle>(fd));

    DashboardSink sink;
    ASSERT_TRUE(sink.Start(SinkOptions{}));
    StationFile file;
    file.wpEnabled = true;
    file.wpUrl = WideToUtf8(sink.BaseUrl());
    file.udpEnabled = true;
    file.udpPort = port;
    WriteStation(file);

    auto process = RunStation({"--test-mode"});
    EXPECT_TRUE(process->WaitForLine(
        "UDP Receiver: Error: cannot bind port " + std::to_string(port), kPatience))
        << process->AllOutput();
    EXPECT_TRUE(sink.WaitForRequests(1, kPatience)) << process->AllOutput();
    EXPECT_TRUE(process->WaitForLine("WP Dashboard: Last post: OK", kPatience));
    EXPECT_EQ(Stop(*process), 0);
    ::close(fd);
}

} // namespace
