#include "sources/udp/udp_listener.h"

#include <vector>

#include "core/diagnostic_file.h"
#include "core/notify.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/worker.h"
#include "platform/text.h"
#include "sources/udp/logger_parser.h"
#include "sources/udp/test_mode.h"

namespace {

Worker udpWorker;

// Large enough for any IPv4 UDP payload (65,507 bytes).
constexpr int kReceiveBufferSize = 65536;

void UdpReceiverWorker(std::string address, int port) {
    const SocketHandle socket = UdpBind(address, port);
    if (socket == kInvalidSocket) {
        udpRunning.store(false);
        NotifyUdpStatus(UdpBindError, port);
        return;
    }
    udpSocket.handle.store(socket);
    // A stop that came before the store found no socket to wake; it cleared the flag first, so
    // the loop below does not start and the slot is emptied on the way out.
    NotifyUdpStatus(UdpListening, port);

    std::vector<char> buffer(kReceiveBufferSize);
    while (udpRunning.load()) {
        const int received = SocketReceive(socket, buffer.data(), kReceiveBufferSize);
        if (received < 0)
            break; // an error, or a stop's wake-up (Windows)
        if (received == 0 && !udpRunning.load())
            break; // on POSIX a stop's shutdown reads as an empty datagram
        // An empty datagram says nothing, but it must not end the listener either.
        if (received > 0 && !testModeRunning.load()) {
            const std::string text(buffer.data(), static_cast<std::size_t>(received));
            DiagnosticFileWrite(kUdpLastDatagramFile, text);
            ParseLoggerDatagram(text);
        }
        udpDatagramsTaken.fetch_add(1);
    }
    CloseSocketSlot(udpSocket);
    NotifyUdpStatus(UdpStopped, port);
}

} // namespace

std::atomic<bool>& udpRunning = udpWorker.running;
SocketSlot udpSocket;
std::atomic<std::uint64_t> udpDatagramsTaken{0};
const wchar_t* const kUdpLastDatagramFile = L"corvane-udp-last.xml";

std::wstring UdpListenAddress(const std::wstring& addressText) {
    return IsDottedIpv4(addressText) ? addressText : std::wstring(kDefaultUdpAddress);
}

void StartUdpListener(const std::wstring& addressText, int port) {
    const std::string address = WideToUtf8(UdpListenAddress(addressText));
    port = PortOrDefault(port, kDefaultUdpPort);
    StartWorker(udpWorker, [address, port] { UdpReceiverWorker(address, port); });
}

void StopUdpListener() {
    // The wake-up ends a blocked receive; the worker then sees the flag cleared and closes the
    // socket itself.
    StopWorker(udpWorker, [] { WakeSocketSlot(udpSocket); });
}
