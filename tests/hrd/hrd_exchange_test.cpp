#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/net_peers.h"
#include "sources/hrd/hrd_protocol.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// A connected pair on 127.0.0.1: the test writes raw reply bytes on the server side before the
// client exchanges, so the reply is already waiting when the client reads.
struct LoopbackPair {
    LoopbackPair() { SetReceiveTimeout(client, 2000); }
    ~LoopbackPair() {
        CloseSocket(client);
        CloseSocketSlot(server);
        CloseSocket(listener);
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(SocketSend(server, bytes.data(), int(bytes.size())), int(bytes.size()));
    }
    void CloseServer() { CloseSocketSlot(server); }

    SocketHandle listener = TcpListen("127.0.0.1", 0);
    SocketHandle client = TcpConnect("127.0.0.1", LocalPort(listener), 2000);
    std::atomic<SocketHandle> server{TcpAccept(listener)};
};

std::string Le32(std::uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((value >> shift) & 0xFF);
    return bytes;
}

// A reply frame carrying the text's UTF-16LE units; the length field is the true one unless given.
std::string Frame(const std::u16string& text, std::uint32_t length = 0,
                  std::uint32_t magic1 = kHrdMagic1, std::uint32_t magic2 = kHrdMagic2) {
    std::string units;
    for (char16_t unit : text)
        units += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return Le32(length ? length : 16 + 2 * text.size()) + Le32(magic1) + Le32(magic2) + Le32(0) +
           units;
}

TEST(HrdExchange, ReadsReplyFramesByTheRules) {
    // Trailing NUL units go, magic words are not checked, UTF-16 passes as it is.
    const std::pair<std::string, std::wstring> replies[] = {
        {Frame(u""), L""},
        {Frame(u"14074000\0"s), L"14074000"},
        {Frame(u"USB\0\0\0"s), L"USB"},
        {Frame(u"A\0B\0"s), std::wstring(L"A\0B", 3)},
        {Frame(u"AB", 21) + "C", L"AB"}, // an odd length drops the last byte
        {Frame(u"OK", 20, 0xDEADBEEF, 7), L"OK"},
        {Frame(u"\xD800x"), std::wstring(1, wchar_t(0xD800)) + L"x"},
        {Frame(u"\U0001F4FB"), L"\U0001F4FB"},
    };
    for (const auto& c : replies) {
        LoopbackPair pair;
        pair.Send(c.first);
        std::wstring reply;
        EXPECT_TRUE(HrdExchange(pair.client, L"get frequency", reply));
        EXPECT_EQ(reply, c.second);
    }
    // A length below 16 or above 1 MiB fails before anything more is read: the frame after it
    // is still whole.
    for (std::uint32_t length : {0u, 15u, 0x100001u, 0xFFFFFFFFu}) {
        LoopbackPair pair;
        pair.Send(Le32(length) + Frame(u"after\0"));
        std::wstring reply = L"unchanged";
        EXPECT_FALSE(HrdExchange(pair.client, kHrdGetId, reply)) << length;
        EXPECT_EQ(reply, L"unchanged");
        EXPECT_TRUE(HrdExchange(pair.client, kHrdGetId, reply));
        EXPECT_EQ(reply, L"after");
    }
    // Closed before, inside or after the length, or inside the body.
    for (const std::string& bytes : {""s, "\x1E\0"s, Le32(30), Frame(u"Get", 30)}) {
        LoopbackPair pair;
        pair.Send(bytes);
        pair.CloseServer();
        std::wstring reply = L"unchanged";
        EXPECT_FALSE(HrdExchange(pair.client, kHrdGetId, reply)) << bytes.size();
        EXPECT_EQ(reply, L"unchanged");
    }
}

TEST(HrdExchange, LargestFrameIsAccepted) {
    LoopbackPair pair;
    const std::u16string text = std::u16string(524279, u'7') + u'\0';
    const std::string frame = Frame(text);
    ASSERT_EQ(frame.size(), 1048576u);
    // More than a socket buffer holds, so it goes out while the client reads.
    std::thread sender([&] { pair.Send(frame); });
    std::wstring reply;
    EXPECT_TRUE(HrdExchange(pair.client, kHrdGetRadio, reply));
    sender.join();
    EXPECT_EQ(reply.size(), 524279u);
}

// The limit holds for the whole reply: neither silence nor a byte every 100 ms, each well within
// the socket's receive time-out, keeps an exchange going past it.
TEST(HrdExchange, ReceiveExactThenSilenceOrATrickleFailsAtTheLimit) {
    LoopbackPair pair;
    pair.Send("AB");
    char buffer[2] = {};
    EXPECT_TRUE(ReceiveExact(pair.client, buffer, 0)); // counts of 0 or less read nothing
    EXPECT_TRUE(ReceiveExact(pair.client, buffer, -5));
    ASSERT_TRUE(ReceiveExact(pair.client, buffer, 2));
    EXPECT_EQ(std::string(buffer, 2), "AB");

    std::wstring reply = L"unchanged";
    auto start = Clock::now();
    EXPECT_FALSE(HrdExchange(pair.client, kHrdGetId, reply, 300));
    EXPECT_GE(Clock::now() - start, 200ms);
    EXPECT_LT(Clock::now() - start, 1500ms);

    std::atomic<bool> done{false};
    std::thread trickle([&] {
        for (const char byte : Frame(u"14074000")) {
            if (done.load() || SocketSend(pair.server, &byte, 1) != 1)
                return;
            std::this_thread::sleep_for(100ms);
        }
    });
    start = Clock::now();
    EXPECT_FALSE(HrdExchange(pair.client, kHrdGetFrequency, reply, 400));
    EXPECT_LT(Clock::now() - start, 1500ms);
    done = true;
    trickle.join();
    EXPECT_EQ(reply, L"unchanged");
    // So does a failed send.
    EXPECT_FALSE(HrdExchange(kInvalidSocket, kHrdGetId, reply));
    EXPECT_EQ(reply, L"unchanged");
}

} // namespace
