#include "app/status_texts.h"

#include "sources/udp/udp_listener.h"

std::wstring FormatUdpStatusText(int state, const std::wstring& addressText, int port) {
    const std::wstring portText = std::to_wstring(port);
    if (state == 2)
        return L"Error: cannot bind port " + portText;
    if (state != 1)
        return L"Stopped";
    // The address bound, never the text as typed: a dotted quad is short enough for any line.
    return L"Listening on " + UdpListenAddress(addressText) + L":" + portText;
}

const wchar_t* LastPostText(bool delivered) {
    return delivered ? L"Last post: OK" : L"Last post: FAILED";
}
