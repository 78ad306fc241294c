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

HttpAnswer HttpPostForm(const std::wstring& url, const std::string& body) {
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
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return answer;

    // Closed in the reverse order of opening as they go out of scope.
    const ScopedInternet session(WinHttpOpen(Utf8ToWide(kHttpUserAgent).c_str(),
                                             WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.Valid())
        return answer;
    WinHttpSetTimeouts(session, kStepTimeoutMs, kStepTimeoutMs, kStepTimeoutMs, kStepTimeoutMs);

    const ScopedInternet connection(WinHttpConnect(session, host, parts.nPort, 0));
    if (!connection.Valid())
        return answer;
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    const ScopedInternet request(WinHttpOpenRequest(connection, L"POST", target, nullptr,
                                                    WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
    if (!request.Valid())
        return answer;
    // Waiting for the response's whole head has a time-out of its own (90 s by default); it gets
    // the same 2 s as every other step, as on the other platforms.
    DWORD responseTimeout = kStepTimeoutMs;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                     sizeof responseTimeout);
    // WinHTTP would turn the post into a GET without the form on 301 to 303; the caller follows
    // 307 and 308 itself, the same way on every platform.
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);

    static const wchar_t kContentType[] = L"Content-Type: application/x-www-form-urlencoded\r\n";
    const DWORD length = static_cast<DWORD>(body.size());
    if (WinHttpSendRequest(request, kContentType, static_cast<DWORD>(-1L),
                           const_cast<char*>(body.data()), length, length, 0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        DWORD code = 0;
        DWORD size = sizeof code;
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &code, &size,
                                WINHTTP_NO_HEADER_INDEX)) {
            answer.status = static_cast<int>(code);
            answer.location = LocationOf(request);
        }
    }
    return answer;
}

void SetHttpTrustedCertificates(const std::string&) {}
