#include "frontend/pages.h"

#include "sources/udp/udp_listener.h"

std::wstring UdpStatusText(int state, const std::wstring& addressText, int port) {
    const std::wstring portText = std::to_wstring(port);
    if (state == UdpBindError)
        return L"Error: cannot bind port " + portText;
    if (state != UdpListening)
        return kStoppedText;
    // The address bound, never the text as typed: a dotted quad is short enough for any line.
    return L"Listening on " + UdpListenAddress(addressText) + L":" + portText;
}
