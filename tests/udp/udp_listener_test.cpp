// The listener over a real UDP socket on 127.0.0.1: its states, the last-datagram file, test
// mode, odd datagrams and a stop while it is blocked.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include "core/settings.h"
#include "platform/files.h"
#include "sources/udp/test_mode.h"
#include "sources/udp/udp_listener.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/temp_folder.h"
#include "tests/udp/udp_test_support.h"

namespace {

using namespace std::chrono_literals;

// Holds a UDP port on all interfaces so that nobody else can bind it, SO_REUSEADDR or not.
struct PortBlocker {
    explicit PortBlocker(int port) {
        const auto s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); // no SO_REUSEADDR: sole owner
#ifdef _WIN32
        BOOL on = TRUE;
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on);
#endif
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<unsigned short>(port));
        bound = ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
        handle = static_cast<SocketHandle>(s);
    }
    ~PortBlocker() {
        CloseSocket(handle);
    }
    SocketHandle handle;
    bool bound = false;
};

struct UdpListener : LoggerTest {
    void SetUp() override {
        LoggerTest::SetUp();
        recorder.Clear();
    }
    void TearDown() override {
        StopTestMode();
        StopUdpListener();
        LoggerTest::TearDown();
    }

    // Starts on 127.0.0.1 and a free port, and waits for the Listening status.
    void StartListening() {
        port = FreeUdpPort();
        StartUdpListener(L"127.0.0.1", port);
        ASSERT_TRUE(WaitForStates({UdpListening}));
    }
    // Waits until the UDP statuses told so far are exactly these, each with the port.
    bool WaitForStates(const std::vector<int>& states) {
        return WaitUntil([&] { return recorder.UdpStates() == states; }) &&
               Ports() == std::vector<int>(states.size(), port);
    }
    std::vector<int> Ports() {
        std::vector<int> ports;
        for (const NotifyEvent& e : recorder.Events())
            if (e.kind == NotifyEvent::UdpStatus)
                ports.push_back(e.second);
        return ports;
    }
    // Sends and waits until the worker has taken the datagram off its socket and, unless it is
    // meant to be dropped, the parser has published it.
    void Send(const std::string& bytes, bool published = true) {
        const std::uint64_t version = CurrentVersion(), taken = udpDatagramsTaken.load();
        ASSERT_TRUE(SendDatagram(port, bytes));
        ASSERT_TRUE(WaitUntil([&] {
            return udpDatagramsTaken.load() > taken && (!published || CurrentVersion() > version);
        }));
    }
    std::string LastDatagramFile() { return FileBytes(folder.File(kUdpLastDatagramFile)); }

    TempDataFolder folder;
    NotifyRecorder recorder;
    int port = 0;
};

TEST_F(UdpListener, StatusSequenceAndStopWhileBlocked) {
    StartListening();
    EXPECT_TRUE(udpRunning.load());
    StartUdpListener(L"127.0.0.1", FreeUdpPort()); // already running: ignored
    Send(RadioMessage("<Freq>1407400</Freq>"));    // still on the first port
    EXPECT_EQ(CurrentSnapshot().freq, L"14.074");
    EXPECT_TRUE(WaitUntil([&] { return recorder.SnapshotChanges() > 0; }));

    const auto stopping = std::chrono::steady_clock::now();
    StopUdpListener();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 1s);
    EXPECT_FALSE(udpRunning.load());
    EXPECT_EQ(udpSocket.handle.load(), kInvalidSocket);
    EXPECT_TRUE(WaitForStates({UdpListening, UdpStopped}));
    StopUdpListener(); // stopping a stopped listener does nothing
    EXPECT_EQ(recorder.UdpStates().size(), 2u);
}

TEST_F(UdpListener, FileHoldsExactlyTheLastDatagram) {
    StartListening();
    // The largest IPv4 UDP payload, padding first so that the elements read sit at its end. One
    // line of padding: gtest's diff of two failing texts of many lines needs memory by the square.
    const std::string inner = "<Freq>2120000</Freq><RadioName>tail</RadioName>";
    const std::string largest =
        RadioMessage(std::string(65507 - RadioMessage(inner).size(), ' ') + inner);
    ASSERT_EQ(largest.size(), 65507u);
    Send(largest);
    EXPECT_EQ(Shown(), "freq=21.200|band=15m|radio=tail|app=N1MM");
    EXPECT_EQ(LastDatagramFile(), largest);
    // Ignored by the parser, but the file still takes its bytes, unconverted.
    const std::string odd("<x>\r\n\0\xff\xfe</x>", 12);
    const std::uint64_t version = CurrentVersion();
    Send(odd, false);
    EXPECT_EQ(LastDatagramFile(), odd);
    // A zero-length datagram is passed over, and the listener keeps listening.
    Send("", false);
    EXPECT_EQ(LastDatagramFile(), odd);
    EXPECT_EQ(CurrentVersion(), version);
    const std::string contact = "<contactinfo><call>K1KI</call></contactinfo>";
    Send(contact);
    EXPECT_EQ(LastDatagramFile(), contact);
    EXPECT_EQ(recorder.UdpStates(), std::vector<int>{UdpListening});
}

TEST_F(UdpListener, TestModeDropsDatagramsWithoutTouchingTheFile) {
    StartListening();
    const std::string kept = RadioMessage("<Freq>1407400</Freq><call>K1KI</call>");
    Send(kept);
    const std::uint64_t beforeDemo = CurrentVersion();
    StartTestMode();
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() > beforeDemo; }));
    Send(RadioMessage("<RadioNr>7</RadioNr><Freq>5000000</Freq><call>DROPPED</call>"), false);
    Send("<contactinfo><call>DROPPED</call></contactinfo>", false);
    EXPECT_EQ(LastDatagramFile(), kept);
    // At most a demo step, never a datagram.
    EXPECT_LE(CurrentVersion() - beforeDemo, 2u);
    EXPECT_EQ(CurrentSnapshot().call, L"QQ1ABC");
    StopTestMode();
    // The dropped radio 7 was never stored, and the latest call is still the one from before.
    Send(RadioMessage("<Freq>700000</Freq>"));
    EXPECT_EQ(Shown(), "freq=7.000|band=40m|app=N1MM|call=K1KI");
}

TEST_F(UdpListener, PortTakenGivesBindErrorAndALaterStartWorks) {
    port = FreeUdpPort();
    {
        PortBlocker blocker(port);
        ASSERT_TRUE(blocker.bound);
        StartUdpListener(L"127.0.0.1", port);
        ASSERT_TRUE(WaitForStates({UdpBindError}));
        EXPECT_TRUE(WaitUntil([] { return !udpRunning.load(); }));
        EXPECT_EQ(udpSocket.handle.load(), kInvalidSocket);
        StopUdpListener(); // only joins the ended worker
    }
    StartUdpListener(L"127.0.0.1", port);
    ASSERT_TRUE(WaitForStates({UdpBindError, UdpListening}));
    Send(RadioMessage("<Freq>1407400</Freq>"));
    StopUdpListener();
    EXPECT_TRUE(WaitForStates({UdpBindError, UdpListening, UdpStopped}));
}

// Only a dotted quad is bound as typed; the status names the address the socket is bound to.
TEST_F(UdpListener, AddressesThatAreNoDottedQuadListenEverywhere) {
    const wchar_t* const loopback = L"127.0.0.1";
    for (const wchar_t* address :
         {loopback, L"", L"localhost", L"not an address", L"0.0.0.0", L"127.0.0.1 ", L"127.0.0.1x",
          L"127.0.0.1.", L"::1", L"127.000.0.1", L"\u00E9t\u00E9"}) {
        recorder.Clear();
        port = FreeUdpPort();
        StartUdpListener(address, port);
        ASSERT_TRUE(WaitForStates({UdpListening}));
        sockaddr_in bound{};
        socklen_t size = sizeof bound;
        getsockname(static_cast<decltype(::socket(0, 0, 0))>(udpSocket.handle.load()),
                    reinterpret_cast<sockaddr*>(&bound), &size);
        const bool typedLoopback = address == loopback;
        EXPECT_EQ(bound.sin_addr.s_addr, htonl(typedLoopback ? INADDR_LOOPBACK : INADDR_ANY))
            << address;
        EXPECT_EQ(UdpListenAddress(address), typedLoopback ? loopback : L"0.0.0.0") << address;
        Send(RadioMessage("<Freq>1407400</Freq>"));
        StopUdpListener();
    }
}

TEST_F(UdpListener, PortOutsideTheRangeBecomesTheDefault) {
    for (int badPort : {0, -5, 65536, 70000}) {
        recorder.Clear();
        StartUdpListener(L"127.0.0.1", badPort);
        // The default port may be taken on this machine; either status carries it.
        ASSERT_TRUE(WaitUntil([&] { return !recorder.UdpStates().empty(); }));
        StopUdpListener();
        EXPECT_EQ(Ports().front(), kDefaultUdpPort) << badPort;
    }
}

TEST_F(UdpListener, NoSettingsPathStillParses) {
    settings.settingsPath.clear();
    StartListening();
    Send(RadioMessage("<Freq>1407400</Freq>"));
    EXPECT_EQ(LastDatagramFile(), "");
}

TEST_F(UdpListener, DatagramSenderToolDrivesIt) {
    const std::string tools = HostFolder("CORVANE_TOOLS_DIR");
#ifdef _WIN32
    const std::string program = tools + "/datagram_sender/datagram_sender.exe", quote = "";
#else // cmd.exe would strip a leading quote
    const std::string program = tools + "/datagram_sender/datagram_sender", quote = "\"";
#endif
    if (tools.empty() || !PathExists(Utf8ToWide(program)))
        GTEST_SKIP() << "datagram_sender not built";
    StartListening();
    const std::uint64_t before = CurrentVersion();
    const std::string target = quote + program + quote + " 127.0.0.1:" + std::to_string(port);
    ASSERT_EQ(std::system((target + " radio 1407400 2").c_str()), 0);
    ASSERT_EQ(std::system((target + " contact W1AW").c_str()), 0);
    ASSERT_TRUE(WaitUntil([&] { return CurrentVersion() >= before + 2; }));
    EXPECT_EQ(CurrentSnapshot().freq, L"14.074");
    EXPECT_EQ(CurrentSnapshot().call, L"W1AW");
}

} // namespace
