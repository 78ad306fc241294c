// datagram_sender: sends one UDP datagram to a listening Corvane, so that a person can drive it by
// hand or a script can replay captured datagrams.
//
//   datagram_sender HOST[:PORT] FILE               the file's bytes, unchanged
//   datagram_sender HOST[:PORT] radio [FREQ [NR]]  a radio message; FREQ in tens of hertz
//                                                  (default 1407400, 14.074 MHz), NR the radio
//   datagram_sender HOST[:PORT] contact [CALL]     a contact message (default QQ1ABC)
//   datagram_sender HOST[:PORT] empty              a zero-length datagram
//
// PORT defaults to 12060. Exit status 0 when the datagram went out, 1 on a send failure, 2 on
// bad arguments.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/net_peers.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: datagram_sender HOST[:PORT] (FILE | radio [FREQ [NR]] | "
                         "contact [CALL] | empty)\n");
    return 2;
}

std::string RadioMessage(const std::string& freq, const std::string& number) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<RadioInfo>\r\n"
           "\t<app>N1MM</app>\r\n\t<StationName>SENDER</StationName>\r\n"
           "\t<RadioNr>" +
           number + "</RadioNr>\r\n\t<Freq>" + freq +
           "</Freq>\r\n"
           "\t<TXFreq>" +
           freq +
           "</TXFreq>\r\n\t<Mode>CW</Mode>\r\n"
           "\t<mycall>N0CALL</mycall>\r\n\t<OpCall>N0CALL</OpCall>\r\n"
           "\t<IsRunning>True</IsRunning>\r\n\t<RadioName>Sender</RadioName>\r\n"
           "</RadioInfo>";
}

std::string ContactMessage(const std::string& call) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<contactinfo>\r\n"
           "\t<contestname>DEMO</contestname>\r\n\t<mycall>N0CALL</mycall>\r\n"
           "\t<call>" +
           call + "</call>\r\n\t<radionr>1</radionr>\r\n</contactinfo>";
}

bool ReadFileBytes(const char* path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return Usage();
    std::string host = argv[1];
    int port = 12060;
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        port = std::atoi(host.c_str() + colon + 1);
        host.erase(colon);
    }
    if (host.empty() || port < 1 || port > 65535)
        return Usage();

    const std::string what = argv[2];
    std::string bytes;
    if (what == "radio") {
        bytes = RadioMessage(argc > 3 ? argv[3] : "1407400", argc > 4 ? argv[4] : "1");
    } else if (what == "contact") {
        bytes = ContactMessage(argc > 3 ? argv[3] : "QQ1ABC");
    } else if (what == "empty") {
        bytes.clear();
    } else if (!ReadFileBytes(argv[2], bytes)) {
        std::fprintf(stderr, "datagram_sender: cannot read %s\n", argv[2]);
        return 2;
    }
    if (bytes.size() > 65507) {
        std::fprintf(stderr, "datagram_sender: %zu bytes do not fit one datagram\n", bytes.size());
        return 2;
    }

    NetStartup();
    const SocketHandle socket = UdpConnect(host, port);
    const bool sent = socket != kInvalidSocket &&
                      SocketSend(socket, bytes.data(), static_cast<int>(bytes.size())) ==
                          static_cast<int>(bytes.size());
    CloseSocket(socket);
    NetCleanup();
    if (!sent) {
        std::fprintf(stderr, "datagram_sender: cannot send to %s:%d\n", host.c_str(), port);
        return 1;
    }
    std::printf("sent %zu bytes to %s:%d\n", bytes.size(), host.c_str(), port);
    return 0;
}
