#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/net.h"
#include "sources/hrd/hrd_protocol.h"
#include "tools/hrd_sim/hrd_sim.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// A connected pair on 127.0.0.1: the test writes raw reply bytes on the server side before the
// client exchanges, so the reply is already waiting when the client reads.
struct LoopbackPair {
    LoopbackPair() {
        listener = TcpListen("127.0.0.1", 0);
        client = TcpConnect("127.0.0.1", LocalPort(listener), 2000);
        server = TcpAccept(listener);
        SetReceiveTimeout(client, 2000);
    }
    ~LoopbackPair() {
        CloseSocket(client);
        CloseSocketSlot(server);
        CloseSocket(listener);
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(SocketSend(server, bytes.data(), int(bytes.size())), int(bytes.size()));
    }
    void CloseServer() { CloseSocketSlot(server); }

    SocketHandle listener = kInvalidSocket;
    SocketHandle client = kInvalidSocket;
    std::atomic<SocketHandle> server{kInvalidSocket};
};

std::string Le32(std::uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((value >> shift) & 0xFF);
    return bytes;
}

// A reply frame with a length field of our choosing and any magic words.
std::string Reply(std::uint32_t length, const std::string& text, std::uint32_t magic1 = kHrdMagic1,
                  std::uint32_t magic2 = kHrdMagic2) {
    return Le32(length) + Le32(magic1) + Le32(magic2) + Le32(0) + text;
}

std::string Units(const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string Proper(const std::u16string& text) {
    const std::string bytes = Units(text);
    return Reply(static_cast<std::uint32_t>(16 + bytes.size()), bytes);
}

TEST(HrdExchange, ReadsReplyFramesByTheRules) {
    struct Case {
        const char* name;
        std::string bytes;
        bool closeAfter;
        bool ok;
        std::wstring text;
    };
    const Case cases[] = {
        {"header only", Reply(16, ""), false, true, L""},
        {"one terminating NUL", Proper(u"14074000\0"s), false, true, L"14074000"},
        {"three trailing NULs", Proper(u"USB\0\0\0"s), false, true, L"USB"},
        {"only NULs", Proper(u"\0\0\0\0"s), false, true, L""},
        {"NUL inside stays", Proper(u"A\0B\0"s), false, true, std::wstring(L"A\0B", 3)},
        {"odd length drops the last byte", Reply(21, "A\0B\0C"s), false, true, L"AB"},
        {"zero magic words", Reply(20, Units(u"OK"), 0, 0), false, true, L"OK"},
        {"arbitrary magic words", Reply(20, Units(u"OK"), 0xDEADBEEF, 7), false, true, L"OK"},
        {"lone surrogate passes", Proper(u"\xD800x"), false, true,
         std::wstring(1, wchar_t(0xD800)) + L"x"},
        {"surrogate pair", Proper(u"\U0001F4FB"), false, true, L"\U0001F4FB"},
        {"length 15", Reply(15, "xx"), false, false, L""},
        {"length 0", Le32(0), false, false, L""},
        {"length above 1 MiB", Reply(0x100001, "xx"), false, false, L""},
        {"length 0xFFFFFFFF", Le32(0xFFFFFFFF), false, false, L""},
        {"closed before anything", "", true, false, L""},
        {"closed inside the length", "\x1E\0"s, true, false, L""},
        {"closed after the length", Le32(30), true, false, L""},
        {"closed inside the body", Reply(30, Units(u"Get")), true, false, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPair pair;
        pair.Send(c.bytes);
        if (c.closeAfter)
            pair.CloseServer();
        std::wstring reply = L"unchanged";
        EXPECT_EQ(HrdExchange(pair.client, L"get frequency", reply), c.ok);
        EXPECT_EQ(reply, c.ok ? c.text : L"unchanged");
    }
}

TEST(HrdExchange, BadLengthReadsNothingBeyondTheLengthField) {
    for (std::uint32_t length : {15u, 0x100001u}) {
        LoopbackPair pair;
        // The bad field is directly followed by a good frame, which must still be there.
        pair.Send(Le32(length) + Proper(u"after\0"));
        std::wstring reply;
        EXPECT_FALSE(HrdExchange(pair.client, L"Get ID", reply));
        EXPECT_TRUE(HrdExchange(pair.client, L"Get ID", reply));
        EXPECT_EQ(reply, L"after");
    }
}

TEST(HrdExchange, LargestFrameIsAccepted) {
    LoopbackPair pair;
    const std::u16string text = std::u16string(524279, u'7') + u'\0';
    const std::string frame = Proper(text);
    ASSERT_EQ(frame.size(), 1048576u);
    // More than a socket buffer holds, so it goes out while the client reads.
    std::thread sender([&] { pair.Send(frame); });
    std::wstring reply;
    EXPECT_TRUE(HrdExchange(pair.client, kHrdGetRadio, reply));
    sender.join();
    EXPECT_EQ(reply.size(), 524279u);
}

TEST(HrdExchange, SilenceFailsAtTheReceiveTimeout) {
    LoopbackPair pair;
    SetReceiveTimeout(pair.client, 300);
    std::wstring reply = L"unchanged";
    const auto start = Clock::now();
    EXPECT_FALSE(HrdExchange(pair.client, kHrdGetId, reply));
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 3s);
    EXPECT_EQ(reply, L"unchanged");
}

TEST(HrdExchange, FailedSendLeavesReplyAlone) {
    std::wstring reply = L"unchanged";
    EXPECT_FALSE(HrdExchange(kInvalidSocket, kHrdGetId, reply));
    EXPECT_EQ(reply, L"unchanged");
}

TEST(HrdReceiveExact, CountsOfZeroOrLessReadNothing) {
    LoopbackPair pair;
    pair.Send("AB");
    char buffer[2] = {0, 0};
    EXPECT_TRUE(ReceiveExact(pair.client, buffer, 0));
    EXPECT_TRUE(ReceiveExact(pair.client, buffer, -5));
    ASSERT_TRUE(ReceiveExact(pair.client, buffer, 2));
    EXPECT_EQ(std::string(buffer, 2), "AB");
    pair.Send("C");
    pair.CloseServer();
    EXPECT_FALSE(ReceiveExact(pair.client, buffer, 2));
}

// The simulator's scripted faults, as the client sees them.
TEST(HrdSimulator, FaultsAsTheClientSeesThem) {
    struct Case {
        const char* name;
        HrdSimScript script;
        bool ok;
        std::wstring text;
    };
    auto with = [](auto change) {
        HrdSimScript script;
        change(script);
        return script;
    };
    const Case cases[] = {
        {"plain", HrdSimScript(), true, L"IC-7300"},
        {"one byte per send", with([](HrdSimScript& s) { s.oneBytePerSend = true; }), true,
         L"IC-7300"},
        {"trailing NULs", with([](HrdSimScript& s) { s.trailingNuls = 5; }), true, L"IC-7300"},
        {"silent", with([](HrdSimScript& s) { s.fault = HrdSimSilent; }), false, L""},
        {"close after length", with([](HrdSimScript& s) { s.fault = HrdSimCloseAfterLength; }),
         false, L""},
        {"short length", with([](HrdSimScript& s) { s.fault = HrdSimShortLength; }), false, L""},
        {"huge length", with([](HrdSimScript& s) { s.fault = HrdSimHugeLength; }), false, L""},
        {"fault on another command", with([](HrdSimScript& s) {
             s.fault = HrdSimCloseAfterLength;
             s.faultCommand = L"get mode";
         }),
         true, L"IC-7300"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HrdSim sim;
        ASSERT_TRUE(StartHrdSim(sim, c.script));
        const SocketHandle socket = TcpConnect("127.0.0.1", sim.port, 2000);
        ASSERT_NE(socket, kInvalidSocket);
        SetReceiveTimeout(socket, 500);
        std::wstring reply;
        EXPECT_EQ(HrdExchange(socket, kHrdGetRadio, reply), c.ok);
        EXPECT_EQ(reply, c.text);
        if (c.script.fault == HrdSimShortLength || c.script.fault == HrdSimHugeLength) {
            // The real frame follows the bad length field.
            EXPECT_TRUE(HrdExchange(socket, kHrdGetRadio, reply));
            EXPECT_EQ(reply, L"IC-7300");
        }
        CloseSocket(socket);
    }
}

} // namespace
