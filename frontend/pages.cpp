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

std::wstring RigStatusText(RigSource source, RigLinkState state, const std::wstring& radio) {
    switch (state) {
    case RigLinkState::Connecting:
        return L"Connecting...";
    case RigLinkState::Connected:
        return L"Connected \u2014 " + radio;
    case RigLinkState::NotReachable:
        return source == RigSource::Hrd ? L"HRD not reachable \u2014 retrying"
                                        : L"rigctld not reachable \u2014 retrying";
    case RigLinkState::Reconnecting:
        return L"Reconnecting...";
    case RigLinkState::Stopped:
        break;
    }
    return kStoppedText;
}
