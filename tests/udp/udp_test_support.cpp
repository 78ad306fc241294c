#include "tests/udp/udp_test_support.h"

#include <atomic>
#include <thread>

#include "sources/udp/logger_parser.h"

namespace {

std::atomic<std::int64_t> fakeNow{0};
std::int64_t FakeNow() {
    return fakeNow.load();
}

} // namespace

void ResetLoggerSource() {
    ResetLoggerParserState();
    RaiseStationUpdate(StationSnapshot{});
}

FakeClock::FakeClock() {
    fakeNow.store(1'000'000'000'000);
    SetLoggerParserClock(&FakeNow);
}

FakeClock::~FakeClock() {
    SetLoggerParserClock(nullptr);
}

void FakeClock::Set(std::int64_t nanoseconds) {
    fakeNow.store(nanoseconds);
}

void FakeClock::AdvanceSeconds(double seconds) {
    fakeNow.fetch_add(static_cast<std::int64_t>(seconds * 1e9));
}

std::uint64_t CurrentVersion() {
    return ReadStationSnapshot().version;
}
StationSnapshot CurrentSnapshot() {
    return ReadStationSnapshot().snapshot;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int FreeUdpPort() {
    const SocketHandle probe = UdpBind("127.0.0.1", 0);
    const int port = LocalPort(probe);
    CloseSocket(probe);
    return port;
}

bool SendDatagram(int port, const std::string& bytes) {
    const SocketHandle sender = UdpConnect("127.0.0.1", port);
    if (sender == kInvalidSocket)
        return false;
    const int sent = SocketSend(sender, bytes.data(), static_cast<int>(bytes.size()));
    CloseSocket(sender);
    return sent == static_cast<int>(bytes.size());
}

std::string RadioMessage(const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>" + inner + "</RadioInfo>";
}
