// The listener over a real UDP socket on 127.0.0.1: its states, the last-datagram file, test
// mode, odd datagrams and a stop while it is blocked.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "core/settings.h"
#include "platform/files.h"
#include "platform/text.h"
#include "sources/udp/logger_parser.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/udp/udp_test_support.h"

namespace {

using namespace std::chrono_literals;

// Holds a UDP port on 127.0.0.1 so that nobody else can bind it, SO_REUSEADDR or not.
struct PortBlocker {
    explicit PortBlocker(int port) {
#ifdef _WIN32
        SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        BOOL on = TRUE;
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on);
#else
        int s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); // no SO_REUSEADDR: sole owner
#endif
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<unsigned short>(port));
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        bound = ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        handle = static_cast<SocketHandle>(s);
    }
    ~PortBlocker() {
        CloseSocket(handle);
    }
    SocketHandle handle;
    bool bound = false;
};

class UdpListener : public testing::Test {
  protected:
    void SetUp() override {
        ResetLoggerSource();
        recorder.Clear();
    }
    void TearDown() override {
        StopTestMode();
        StopUdpListener();
        ResetLoggerSource();
    }

    // Starts on 127.0.0.1 and a free port, and waits for the Listening status.
    void StartListening() {
        port = FreeUdpPort();
        ASSERT_GT(port, 0);
        StartUdpListener(L"127.0.0.1", port);
        ASSERT_TRUE(WaitForStates({UdpListening}));
    }

    // Waits until the UDP statuses told so far are exactly these.
    bool WaitForStates(const std::vector<int>& states) {
        return recorder.WaitFor(
            [&](const std::vector<NotifyEvent>& events) {
                std::vector<int> told;
                for (const NotifyEvent& event : events)
                    if (event.kind == NotifyEvent::UdpStatus)
                        told.push_back(event.first);
                return told == states;
            },
            5000ms);
    }

    // Sends and waits until the worker has taken the datagram off its socket.
    void SendAndWaitTaken(const std::string& bytes) {
        const std::uint64_t taken = udpDatagramsTaken.load();
        ASSERT_TRUE(SendDatagram(port, bytes));
        ASSERT_TRUE(WaitUntil([&] { return udpDatagramsTaken.load() > taken; }));
    }

    // Sends and waits until the parser has published it and the worker is done with it.
    void SendAndWaitPublished(const std::string& bytes) {
        const std::uint64_t published = CurrentVersion();
        const std::uint64_t taken = udpDatagramsTaken.load();
        ASSERT_TRUE(SendDatagram(port, bytes));
        ASSERT_TRUE(WaitUntil(
            [&] { return CurrentVersion() > published && udpDatagramsTaken.load() > taken; }));
    }

    std::string LastDatagramFile() { return FileBytes(folder.File(kUdpLastDatagramFile)); }

    std::vector<NotifyEvent> UdpEvents() {
        std::vector<NotifyEvent> found;
        for (const NotifyEvent& event : recorder.Events())
            if (event.kind == NotifyEvent::UdpStatus)
                found.push_back(event);
        return found;
    }

    TempDataFolder folder;
    NotifyRecorder recorder;
    int port = 0;
};

TEST_F(UdpListener, ListensParsesWritesTheFileAndStops) {
    StartListening();
    EXPECT_TRUE(udpRunning.load());
    const std::string datagram = RadioMessage("<Freq>1407400</Freq><Mode>FT8</Mode>");
    SendAndWaitPublished(datagram);
    EXPECT_EQ(CurrentSnapshot().freq, L"14.074");
    EXPECT_EQ(LastDatagramFile(), datagram);
    EXPECT_TRUE(recorder.WaitFor(
        [](const std::vector<NotifyEvent>& events) {
            for (const NotifyEvent& e : events)
                if (e.kind == NotifyEvent::SnapshotChanged)
                    return true;
            return false;
        },
        2000ms));

    StopUdpListener();
    EXPECT_FALSE(udpRunning.load());
    EXPECT_EQ(udpSocket.load(), kInvalidSocket);
    ASSERT_TRUE(WaitForStates({UdpListening, UdpStopped}));
    for (const NotifyEvent& event : UdpEvents())
        EXPECT_EQ(event.second, port);
}

TEST_F(UdpListener, StopWhileBlockedReturnsAtOnce) {
    StartListening();
    const auto started = std::chrono::steady_clock::now();
    StopUdpListener();
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, 1s);
    EXPECT_TRUE(WaitForStates({UdpListening, UdpStopped}));
    StopUdpListener(); // stopping a stopped listener does nothing
    EXPECT_EQ(recorder.UdpStates().size(), 2u);
}

TEST_F(UdpListener, StartWhileRunningDoesNothing) {
    StartListening();
    StartUdpListener(L"127.0.0.1", FreeUdpPort());
    SendAndWaitPublished(RadioMessage("<Freq>700000</Freq>")); // still on the first port
    StopUdpListener();
    EXPECT_TRUE(WaitForStates({UdpListening, UdpStopped}));
}

TEST_F(UdpListener, FileHoldsExactlyTheLastDatagram) {
    StartListening();
    SendAndWaitPublished(RadioMessage("<Freq>1407400</Freq>" + std::string(3000, ' ')));
    // Ignored by the parser, but the file still takes its bytes, unconverted.
    const std::string odd("<x>\r\n\0\xff\xfe</x>", 12);
    const std::uint64_t version = CurrentVersion();
    SendAndWaitTaken(odd);
    EXPECT_EQ(LastDatagramFile(), odd);
    EXPECT_EQ(CurrentVersion(), version);
    const std::string contact = "<contactinfo><call>K1KI</call></contactinfo>";
    SendAndWaitPublished(contact);
    EXPECT_EQ(LastDatagramFile(), contact);
}

TEST_F(UdpListener, ZeroLengthDatagramIsPassedOver) {
    StartListening();
    const std::string first = RadioMessage("<Freq>1407400</Freq>");
    SendAndWaitPublished(first);
    const std::uint64_t version = CurrentVersion();
    SendAndWaitTaken(std::string());
    EXPECT_EQ(CurrentVersion(), version);
    EXPECT_EQ(LastDatagramFile(), first);
    EXPECT_TRUE(udpRunning.load());
    SendAndWaitPublished(RadioMessage("<Freq>700000</Freq>"));
    EXPECT_EQ(CurrentSnapshot().freq, L"7.000");
    EXPECT_EQ(recorder.UdpStates(), std::vector<int>{UdpListening});
}

TEST_F(UdpListener, LargestDatagram) {
    StartListening();
    // The largest IPv4 UDP payload, padding first so that the elements read sit at its end.
    const std::string inner = "<Freq>2120000</Freq><RadioName>tail</RadioName>";
    const std::string datagram =
        RadioMessage(std::string(65507 - RadioMessage(inner).size(), '\n') + inner);
    ASSERT_EQ(datagram.size(), 65507u);
    SendAndWaitPublished(datagram);
    EXPECT_EQ(CurrentSnapshot().freq, L"21.200");
    EXPECT_EQ(CurrentSnapshot().radio, L"tail");
    EXPECT_EQ(LastDatagramFile(), datagram);
}

TEST_F(UdpListener, GarbageNeverStopsIt) {
    StartListening();
    std::mt19937 random(12060);
    const std::vector<std::string> prefixes = {
        "", "<RadioInfo><Freq>", "<contactinfo><call>", "<?xml", "<!--", "<"};
    for (int i = 0; i < 200; ++i) {
        std::string bytes = prefixes[i % prefixes.size()];
        const std::size_t length = i % 50 == 49 ? 60000 : random() % 300;
        for (std::size_t k = 0; k < length; ++k)
            bytes.push_back(static_cast<char>(random() % 256));
        // One at a time, so that none is lost to a full receive queue.
        SendAndWaitTaken(bytes);
    }
    SendAndWaitPublished(RadioMessage("<RadioNr>1</RadioNr><Freq>5000000</Freq>"));
    EXPECT_TRUE(udpRunning.load());
    EXPECT_EQ(recorder.UdpStates(), std::vector<int>{UdpListening});
}

TEST_F(UdpListener, TestModeDropsDatagramsWithoutTouchingTheFile) {
    StartListening();
    const std::string kept =
        RadioMessage("<Freq>1407400</Freq><call>K1KI</call><contestname>ARRLDXSSB</contestname>");
    SendAndWaitPublished(kept);

    const std::uint64_t beforeDemo = CurrentVersion();
    StartTestMode();
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() > beforeDemo; }));
    const SnapshotRead demo = ReadStationSnapshot();
    SendAndWaitTaken(RadioMessage("<RadioNr>7</RadioNr><Freq>5000000</Freq><call>DROPPED</call>"));
    SendAndWaitTaken("<contactinfo><call>DROPPED</call></contactinfo>");
    EXPECT_EQ(LastDatagramFile(), kept);
    const SnapshotRead during = ReadStationSnapshot();
    EXPECT_TRUE(during.snapshot == DemoStepRecord(0) || during.snapshot == DemoStepRecord(1));
    EXPECT_LE(during.version - demo.version, 1u); // at most a demo step, never a datagram
    StopTestMode();

    // The dropped radio 7 was never stored, and the latest call is still the one from before.
    SendAndWaitPublished(RadioMessage("<Freq>700000</Freq>"));
    const StationSnapshot after = CurrentSnapshot();
    EXPECT_EQ(after.radios, 1);
    EXPECT_EQ(after.freq, L"7.000");
    EXPECT_EQ(after.call, L"K1KI");
    EXPECT_EQ(after.contestname, L"ARRLDXSSB");
}

TEST_F(UdpListener, PortTakenGivesBindErrorAndALaterStartWorks) {
    port = FreeUdpPort();
    {
        PortBlocker blocker(port);
        ASSERT_TRUE(blocker.bound);
        StartUdpListener(L"127.0.0.1", port);
        ASSERT_TRUE(WaitForStates({UdpBindError}));
        EXPECT_TRUE(WaitUntil([] { return !udpRunning.load(); }));
        EXPECT_EQ(udpSocket.load(), kInvalidSocket);
    }
    StartUdpListener(L"127.0.0.1", port);
    ASSERT_TRUE(WaitForStates({UdpBindError, UdpListening}));
    SendAndWaitPublished(RadioMessage("<Freq>1407400</Freq>"));
    StopUdpListener();
    ASSERT_TRUE(WaitForStates({UdpBindError, UdpListening, UdpStopped}));
    for (const NotifyEvent& event : UdpEvents())
        EXPECT_EQ(event.second, port);
}

TEST_F(UdpListener, StopAfterABindErrorOnlyJoins) {
    port = FreeUdpPort();
    PortBlocker blocker(port);
    ASSERT_TRUE(blocker.bound);
    StartUdpListener(L"127.0.0.1", port);
    ASSERT_TRUE(WaitForStates({UdpBindError}));
    StopUdpListener();
    EXPECT_EQ(recorder.UdpStates(), std::vector<int>{UdpBindError});
}

TEST_F(UdpListener, AddressesThatAreNoDottedQuadListenEverywhere) {
    for (const wchar_t* address :
         {L"", L"localhost", L"not an address", L"0.0.0.0", L"127.0.0.1 ", L"\u00E9t\u00E9"}) {
        recorder.Clear();
        port = FreeUdpPort();
        StartUdpListener(address, port);
        ASSERT_TRUE(WaitForStates({UdpListening}));
        SendAndWaitPublished(RadioMessage("<Freq>1407400</Freq>"));
        StopUdpListener();
    }
}

TEST_F(UdpListener, PortOutsideTheRangeBecomesTheDefault) {
    for (int badPort : {0, -5, 65536, 70000}) {
        recorder.Clear();
        StartUdpListener(L"127.0.0.1", badPort);
        // The default port may be taken on this machine; either status carries 12060.
        ASSERT_TRUE(recorder.WaitFor(
            [](const std::vector<NotifyEvent>& events) {
                for (const NotifyEvent& e : events)
                    if (e.kind == NotifyEvent::UdpStatus)
                        return true;
                return false;
            },
            5000ms));
        StopUdpListener();
        const std::vector<NotifyEvent> events = UdpEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.front().second, kDefaultUdpPort) << badPort;
    }
}

TEST_F(UdpListener, NoSettingsPathStillParses) {
    settings.settingsPath.clear();
    StartListening();
    SendAndWaitPublished(RadioMessage("<Freq>1407400</Freq>"));
    EXPECT_EQ(CurrentSnapshot().freq, L"14.074");
    EXPECT_EQ(LastDatagramFile(), "");
}

TEST_F(UdpListener, DatagramSenderToolDrivesIt) {
    std::string tools = EnvironmentText("CORVANE_TOOLS_DIR");
#ifdef _WIN32
    if (!tools.empty() && tools[0] == '/')
        tools = "Z:" + tools; // under Wine the host's root is drive Z:
    const std::string program = tools + "/datagram_sender/datagram_sender.exe";
#else
    const std::string program = tools + "/datagram_sender/datagram_sender";
#endif
    if (tools.empty() || !PathExists(Utf8ToWide(program)))
        GTEST_SKIP() << "datagram_sender not built";
    StartListening();
    const std::uint64_t before = CurrentVersion();
    const std::string target = " 127.0.0.1:" + std::to_string(port);
#ifdef _WIN32
    const std::string quoted = program; // cmd.exe would strip a leading quote
#else
    const std::string quoted = "\"" + program + "\"";
#endif
    ASSERT_EQ(std::system((quoted + target + " radio 1407400 2").c_str()), 0);
    ASSERT_EQ(std::system((quoted + target + " contact W1AW").c_str()), 0);
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() >= before + 2; }));
    const StationSnapshot shown = CurrentSnapshot();
    EXPECT_EQ(shown.freq, L"14.074");
    EXPECT_EQ(shown.call, L"W1AW");
}

} // namespace
