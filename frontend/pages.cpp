#include "frontend/pages.h"

#include "sources/udp/udp_listener.h"

namespace {

// In the order of PostFailure; an HTTP status is followed by its number.
constexpr const wchar_t* kPostFailureTexts[] = {
    L"",
    L"",
    L"HTTP ",
    L"no answer",
    L"name not found",
    L"connection refused",
    L"certificate not trusted",
    L"redirected elsewhere",
    L"too many redirects",
};

} // namespace

std::wstring PostFailureText(const PostOutcome& outcome) {
    std::wstring text = kPostFailureTexts[static_cast<int>(outcome.failure)];
    if (outcome.failure == PostFailure::HttpStatus)
        text += std::to_wstring(outcome.httpStatus);
    return text;
}

std::wstring LastPostText(const PostOutcome& outcome) {
    std::wstring text = outcome.Delivered() ? L"Last post: OK" : L"Last post: FAILED";
    text += L" \u2014 ";
    for (const int part : {outcome.secondOfDay / 3600 % 24, outcome.secondOfDay / 60 % 60,
                           outcome.secondOfDay % 60}) {
        if (text.back() != L' ')
            text += L':';
        text += static_cast<wchar_t>(L'0' + part / 10);
        text += static_cast<wchar_t>(L'0' + part % 10);
    }
    const std::wstring reason = PostFailureText(outcome);
    if (!reason.empty())
        text += L" \u2014 " + reason;
    return text;
}

std::wstring UdpStatusText(int state, const std::wstring& addressText, int port) {
    const std::wstring portText = std::to_wstring(port);
    if (state == UdpBindError)
        return L"Error: cannot bind port " + portText;
    if (state != UdpListening)
        return kStoppedText;
    // The address bound, never the text as typed: a dotted quad is short enough for any line.
    return L"Listening on " + UdpListenAddress(addressText) + L":" + portText;
}
