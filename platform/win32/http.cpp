#include "platform/http.h"

#include <windows.h>
#include <winhttp.h>

#include "platform/text.h"
#include "platform/win32/handle.h"

namespace {

using ScopedInternet = ScopedHandle<HINTERNET, &WinHttpCloseHandle>;

constexpr DWORD kHostCapacity = 256;
constexpr DWORD kTargetCapacity = 1024;
constexpr int kStepTimeoutMs = kHttpStepTimeoutMs;

// Windows 8.1 and later: the user's own proxy settings (Internet options, a PAC script, WPAD).
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif
#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

using Clock = std::chrono::steady_clock;

// A step's time-out, cut short when less is left of the post's deadline.
int StepTimeoutMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(left < 1 ? 1 : left < kStepTimeoutMs ? left : kStepTimeoutMs);
}

HttpFailure FailureOf(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return HttpFailure::NameNotFound;
    case ERROR_WINHTTP_CANNOT_CONNECT:
        return HttpFailure::Refused;
    case ERROR_WINHTTP_SECURE_FAILURE: // without a status callback, every certificate fault
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return HttpFailure::Certificate;
    default:
        return HttpFailure::NoAnswer;
    }
}

HINTERNET OpenSession() {
    static const std::wstring userAgent = Utf8ToWide(kHttpUserAgent);
    HINTERNET session = nullptr;
    // The system's proxy settings; before 8.1, WinHTTP's own configuration (netsh winhttp) is all
    // there is.
    for (DWORD access : {WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY})
        if (!session)
            session = WinHttpOpen(userAgent.c_str(), access, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return session;
    // Windows 7 and 8 offer only SSL 3 and TLS 1.0 unless asked, and servers refuse both. TLS 1.3
    // where Windows knows it; a Windows that does not refuses the whole set.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
    }
    return session;
}

// The Location header of the answer at hand, as sent; empty when it has none.
std::wstring LocationOf(HINTERNET request) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(wchar_t))
        return std::wstring();
    std::wstring location(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                             &location[0], &size, WINHTTP_NO_HEADER_INDEX))
        return std::wstring();
    location.resize(size / sizeof(wchar_t));
    return location;
}

} // namespace

HttpAnswer HttpPostForm(const std::wstring& url, const std::string& body,
                        Clock::time_point deadline, const std::atomic<bool>*) {
    HttpAnswer answer;
    wchar_t host[kHostCapacity] = {};
    wchar_t target[kTargetCapacity] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostCapacity;
    // No extra-info buffer: the path then runs on through the query that names the dashboard.
    parts.lpszUrlPath = target;
    parts.dwUrlPathLength = kTargetCapacity;
    // Credentials in the URL land in fields never asked for, so they are never sent.
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        answer.failure = HttpFailure::BadUrl;
        return answer;
    }

    // Closed in the reverse order of opening as they go out of scope.
    const ScopedInternet session(OpenSession());
    if (!session.Valid())
        return answer;

    const ScopedInternet connection(WinHttpConnect(session, host, parts.nPort, 0));
    if (!connection.Valid()) {
        answer.failure = FailureOf(GetLastError());
        return answer;
    }
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    const ScopedInternet request(WinHttpOpenRequest(connection, L"POST", target, nullptr,
                                                    WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
    if (!request.Valid())
        return answer;
    // WinHTTP would turn the post into a GET without the form on 301 to 303; the caller follows
    // 307 and 308 itself, the same way on every platform.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);

    static const wchar_t kContentType[] = L"Content-Type: application/x-www-form-urlencoded\r\n";
    const DWORD length = static_cast<DWORD>(body.size());
    // Each step gets what is left of its 2 s and of the deadline; the wait for the response's whole
    // head has a time-out of its own (90 s by default), given the same. Set before the send (Wine
    // reads them there) and again before the wait for the answer.
    const auto limitSteps = [&request, deadline] {
        const int stepMs = StepTimeoutMs(deadline);
        DWORD responseTimeout = static_cast<DWORD>(stepMs);
        WinHttpSetTimeouts(request, stepMs, stepMs, stepMs, stepMs);
        WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                         sizeof responseTimeout);
    };
    limitSteps();
    const bool sent = WinHttpSendRequest(request, kContentType, static_cast<DWORD>(-1L),
                                         const_cast<char*>(body.data()), length, length, 0);
    if (sent)
        limitSteps();
    if (!sent || !WinHttpReceiveResponse(request, nullptr)) {
        answer.failure = FailureOf(GetLastError());
        return answer;
    }
    DWORD code = 0;
    DWORD size = sizeof code;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX)) {
        answer.status = static_cast<int>(code);
        answer.location = LocationOf(request);
        answer.failure = HttpFailure::None;
    }
    return answer;
}

void SetHttpTrustedCertificates(const std::string&) {}
