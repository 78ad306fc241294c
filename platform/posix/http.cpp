#include "platform/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/text.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStep = std::chrono::milliseconds(kHttpStepTimeoutMs);
// How often the loop below looks at the clock and for a stop while curl waits.
constexpr int kLookEveryMs = 50;
// Backstops in case the step checks below come late: lookup, connect and TLS; all five steps.
constexpr long kConnectBackstopMs = 3 * kHttpStepTimeoutMs + 500;
constexpr long kWholeExchangeMs = 5 * kHttpStepTimeoutMs + 500;
constexpr std::size_t kMaxHostLength = 255;
constexpr std::size_t kMaxTargetLength = 1023;
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

std::mutex trustMutex;
std::string trustedPem;

bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct Exchange {
    CURL* curl = nullptr;
    Clock::time_point start = Clock::now();
    Clock::time_point lastMove = start; // the request's bytes last went out
    curl_off_t lastUp = 0;
    std::size_t headerBytes = 0;
    std::string location;
    int status = 0; // set once the final response's headers are complete

    // Each step gets its own time, as WinHTTP's time-outs give it on Windows; curl's own connect
    // time-out would share one between lookup, connect and TLS. A step begins when the stage
    // before it ended (lookup, connect, TLS) or the request's bytes last moved, whichever is
    // later; once they are all out, that is the wait for the answer's whole head.
    bool StepOverdue(Clock::time_point now) {
        curl_off_t lookup = 0, connect = 0, tls = 0, up = 0;
        curl_easy_getinfo(curl, CURLINFO_SIZE_UPLOAD_T, &up);
        curl_easy_getinfo(curl, CURLINFO_NAMELOOKUP_TIME_T, &lookup);
        curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connect);
        curl_easy_getinfo(curl, CURLINFO_APPCONNECT_TIME_T, &tls);
        if (up != lastUp) {
            lastUp = up;
            lastMove = now;
        }
        const auto stageEnd = start + std::chrono::microseconds(std::max({lookup, connect, tls}));
        return now - std::max(stageEnd, lastMove) > kStep;
    }
};

bool StartsWithNoCase(const char* text, std::size_t length, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (length < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

// The answer is in once the final response's headers end; its body is never read, so a huge or
// endless body costs nothing. Endless headers are cut off.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    exchange.headerBytes += length;
    if (exchange.headerBytes > kMaxHeaderBytes)
        return 0;
    if (StartsWithNoCase(data, length, "http/")) {
        exchange.location.clear(); // a new response begins
    } else if (StartsWithNoCase(data, length, "location:")) {
        std::string value(data + 9, length - 9);
        const auto first = value.find_first_not_of(" \t\r\n");
        const auto last = value.find_last_not_of(" \t\r\n");
        exchange.location =
            first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    }
    if (std::string_view(data, length).find_first_not_of("\r\n") != std::string_view::npos)
        return length; // a header line; only the blank one ends the head
    long code = 0;
    curl_easy_getinfo(exchange.curl, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200)
        return length; // an interim response (or a proxy's tunnel answer); the real one follows
    exchange.status = static_cast<int>(code);
    return 0; // stop here: everything needed has arrived
}

// What curl's verdict means to the user; our own give-ups (a step, the deadline, a stop) are no
// answer.
HttpFailure FailureOf(CURLcode result) {
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return HttpFailure::NameNotFound;
    case CURLE_COULDNT_CONNECT:
        return HttpFailure::Refused;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return HttpFailure::Certificate;
    default:
        return HttpFailure::NoAnswer;
    }
}

// Runs the exchange until curl is done or we give up. The multi interface lets us look at the
// clock and the stop flag while curl waits, even in a name lookup that never returns; with
// CURLOPT_QUICK_EXIT the lookup's thread is then left to end by itself instead of being joined.
CURLcode Perform(Exchange& exchange, Clock::time_point deadline,
                 const std::atomic<bool>* keepGoing) {
    CURLM* multi = curl_multi_init();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    CURLcode result = CURLE_OPERATION_TIMEDOUT;
    curl_multi_add_handle(multi, exchange.curl);
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (!running) {
            int left = 0;
            if (const CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE)
                    result = message->data.result;
            break;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline || (keepGoing && !keepGoing->load()) || exchange.StepOverdue(now))
            break;
        curl_multi_poll(multi, nullptr, 0, kLookEveryMs, nullptr);
    }
    curl_multi_remove_handle(multi, exchange.curl);
    curl_multi_cleanup(multi);
    return result;
}

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

// Percent-escapes what may not stand in a request target as it is (spaces, controls, non-ASCII
// and a few delimiters) and leaves "%" alone, as WinHTTP does on Windows.
std::string EscapeTarget(const std::string& target) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char byte : target) {
        const auto c = static_cast<unsigned char>(byte);
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"#<>\\^`{|}", c)) {
            escaped += '%';
            escaped += kHex[c >> 4];
            escaped += kHex[c & 0x0F];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

// Splits like the Windows side: only http and https, a host of at most 255 characters, a target
// of at most 1023; the target is everything from the first "/" after the host. Credentials in the
// URL are left out, as WinHTTP leaves them out.
bool PrepareUrl(const std::wstring& url, std::string& prepared) {
    const std::wstring::size_type schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring::npos)
        return false;
    const std::string scheme = WideToUtf8(url.substr(0, schemeEnd));
    const bool secure =
        scheme.size() == 5 && StartsWithNoCase(scheme.data(), scheme.size(), "https");
    if (!secure && !(scheme.size() == 4 && StartsWithNoCase(scheme.data(), scheme.size(), "http")))
        return false;
    const std::wstring::size_type hostStart = schemeEnd + 3;
    std::wstring::size_type targetStart = url.find_first_of(L"/?#", hostStart);
    if (targetStart == std::wstring::npos)
        targetStart = url.size();
    const std::wstring authority = url.substr(hostStart, targetStart - hostStart);
    const std::wstring target = url.substr(targetStart);
    const std::wstring::size_type userEnd = authority.rfind(L'@');
    const std::wstring hostPort =
        userEnd == std::wstring::npos ? authority : authority.substr(userEnd + 1);
    const std::wstring host = hostPort.substr(0, hostPort.rfind(L':'));
    if (host.empty() || host.size() > kMaxHostLength || target.size() > kMaxTargetLength)
        return false;
    for (const wchar_t c : authority)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    prepared = scheme + "://" + WideToUtf8(hostPort);
    if (target.empty() || target[0] != L'/')
        prepared += '/';
    prepared += EscapeTarget(WideToUtf8(target));
    return true;
}

} // namespace

void SetHttpTrustedCertificates(const std::string& pem) {
    std::lock_guard<std::mutex> lock(trustMutex);
    trustedPem = pem;
}

HttpAnswer HttpPostForm(const std::wstring& url, const std::string& body,
                        Clock::time_point deadline, const std::atomic<bool>* keepGoing) {
    HttpAnswer answer;
    Exchange exchange;
    std::string preparedUrl;
    if (!PrepareUrl(url, preparedUrl)) {
        answer.failure = HttpFailure::BadUrl;
        return answer;
    }
    if (!CurlReady())
        return answer;
    // curl would add "Expect: 100-continue" and "Accept: */*" of its own; empty values drop them.
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    headers = curl_slist_append(headers, "Expect:");
    headers = curl_slist_append(headers, "Accept:");
    // Released on every way out: the handle first, then the list that it points at.
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(
        headers, curl_slist_free_all);
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                                     curl_easy_cleanup);
    CURL* const curl = handle.get();
    if (!curl)
        return answer;
    exchange.curl = curl;
    std::string pem;
    {
        std::lock_guard<std::mutex> lock(trustMutex);
        pem = trustedPem;
    }

    curl_easy_setopt(curl, CURLOPT_URL, preparedUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    // A proxy's "200 Connection established" is no answer of the dashboard's.
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kHttpUserAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectBackstopMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kWholeExchangeMs);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!pem.empty()) {
        curl_blob blob{const_cast<char*>(pem.data()), pem.size(), CURL_BLOB_COPY};
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);

    // Ends in a write error on purpose once the headers are in.
    const CURLcode result = Perform(exchange, deadline, keepGoing);

    answer.status = exchange.status;
    if (answer.status != 0) {
        answer.location = Utf8ToWide(exchange.location);
        answer.failure = HttpFailure::None;
    } else {
        answer.failure = FailureOf(result);
    }
    return answer;
}
