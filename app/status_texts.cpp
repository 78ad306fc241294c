#include "app/status_texts.h"

std::wstring FormatUdpStatusText(int state, const std::wstring& addressText, int port) {
    const std::wstring portText = std::to_wstring(port);
    if (state == 2)
        return L"Error: cannot bind port " + portText;
    if (state != 1)
        return L"Stopped";

    const std::wstring prefix = L"Listening on ";
    std::wstring address = addressText.empty() ? std::wstring(L"0.0.0.0") : addressText;
    const std::size_t room = kStatusTextLimit - prefix.size() - 1 - portText.size();
    if (address.size() > room) {
        std::size_t keep = room - 3;
        // Never leave half of a surrogate pair before the dots.
        if (keep > 0 && address[keep - 1] >= 0xD800 && address[keep - 1] <= 0xDBFF)
            --keep;
        address = address.substr(0, keep) + L"...";
    }
    return prefix + address + L":" + portText;
}

const wchar_t* LastPostText(bool delivered) {
    return delivered ? L"Last post: OK" : L"Last post: FAILED";
}
