#include "platform/http.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/text.h"

namespace {

constexpr long kConnectTimeoutMs = 2000;
constexpr auto kStallLimit = std::chrono::milliseconds(2000);
// Backstop for a server that trickles just fast enough to beat the stall check.
constexpr long kWholeExchangeMs = 8000;
constexpr std::size_t kMaxHostLength = 255;
constexpr std::size_t kMaxTargetLength = 1023;
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

// libcurl is loaded at the first post, not at start: with the TLS and directory libraries it
// brings it is most of the front end's resident memory, and a station that has not posted yet
// (or never does) need not carry it. Loaded once and never unloaded.
struct Curl {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) init = nullptr;
    decltype(&curl_easy_setopt) setopt = nullptr;
    decltype(&curl_easy_getinfo) getinfo = nullptr;
    decltype(&curl_easy_perform) perform = nullptr;
    decltype(&curl_easy_cleanup) cleanup = nullptr;
    decltype(&curl_slist_append) slistAppend = nullptr;
    decltype(&curl_slist_free_all) slistFreeAll = nullptr;
};

template <typename Function> bool Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// nullptr when libcurl is not installed; every post then fails as one without a connection.
const Curl* LoadCurl() {
    static const Curl* const loaded = []() -> const Curl* {
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        static Curl curl;
        if (!Bind(library, "curl_global_init", curl.globalInit) ||
            !Bind(library, "curl_easy_init", curl.init) ||
            !Bind(library, "curl_easy_setopt", curl.setopt) ||
            !Bind(library, "curl_easy_getinfo", curl.getinfo) ||
            !Bind(library, "curl_easy_perform", curl.perform) ||
            !Bind(library, "curl_easy_cleanup", curl.cleanup) ||
            !Bind(library, "curl_slist_append", curl.slistAppend) ||
            !Bind(library, "curl_slist_free_all", curl.slistFreeAll) ||
            curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return nullptr;
        return &curl;
    }();
    return loaded;
}

std::mutex trustMutex;
std::string trustedPem;

using Clock = std::chrono::steady_clock;

struct Exchange {
    const Curl* api = nullptr;
    CURL* curl = nullptr;
    Clock::time_point lastActivity = Clock::now();
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
    std::size_t headerBytes = 0;
    int status = 0; // set once the final response's headers are complete
};

// The answer is in once the final response's headers end; its body is never read, so a huge or
// endless body costs nothing. Endless headers are cut off.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    exchange.lastActivity = Clock::now();
    exchange.headerBytes += length;
    if (exchange.headerBytes > kMaxHeaderBytes)
        return 0;
    const bool blank =
        (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
    if (!blank)
        return length;
    long code = 0;
    exchange.api->getinfo(exchange.curl, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 100 && code < 200)
        return length; // an interim response; the real one follows
    exchange.status = static_cast<int>(code);
    return 0; // stop here: everything needed has arrived
}

// The send and receive time-outs: the exchange ends once nothing has moved for about 2 s. (curl's
// low-speed limit averages over several seconds and would let a stall run far longer.)
int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto& exchange = *static_cast<Exchange*>(user);
    const Clock::time_point now = Clock::now();
    if (down != exchange.lastDown || up != exchange.lastUp) {
        exchange.lastDown = down;
        exchange.lastUp = up;
        exchange.lastActivity = now;
    }
    return now - exchange.lastActivity > kStallLimit ? 1 : 0;
}

std::size_t DiscardBody(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
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
// of at most 1023; the target is everything from the first "/" after the host.
bool PrepareUrl(const std::wstring& url, std::string& prepared) {
    const std::wstring::size_type schemeEnd = url.find(L"://");
    if (schemeEnd == std::wstring::npos)
        return false;
    const std::string scheme = WideToUtf8(url.substr(0, schemeEnd));
    if (!(scheme.size() == 4 && StartsWithNoCase(scheme, "http")) &&
        !(scheme.size() == 5 && StartsWithNoCase(scheme, "https")))
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
    prepared = WideToUtf8(url.substr(0, targetStart));
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

int HttpPostForm(const std::wstring& url, const std::string& body) {
    std::string preparedUrl;
    if (!PrepareUrl(url, preparedUrl))
        return 0;
    const Curl* api = LoadCurl();
    if (!api)
        return 0;
    CURL* curl = api->init();
    if (!curl)
        return 0;

    Exchange exchange;
    exchange.api = api;
    exchange.curl = curl;
    // curl would add "Expect: 100-continue" and "Accept: */*" of its own; empty values drop them.
    curl_slist* headers = nullptr;
    headers = api->slistAppend(headers, "Content-Type: application/x-www-form-urlencoded");
    headers = api->slistAppend(headers, "Expect:");
    headers = api->slistAppend(headers, "Accept:");
    std::string pem;
    {
        std::lock_guard<std::mutex> lock(trustMutex);
        pem = trustedPem;
    }

    api->setopt(curl, CURLOPT_URL, preparedUrl.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    api->setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
#endif
    api->setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    api->setopt(curl, CURLOPT_NOSIGNAL, 1L);
    api->setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    api->setopt(curl, CURLOPT_USERAGENT, kHttpUserAgent);
    api->setopt(curl, CURLOPT_HTTPHEADER, headers);
    api->setopt(curl, CURLOPT_POST, 1L);
    api->setopt(curl, CURLOPT_POSTFIELDS, body.data());
    api->setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    api->setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    api->setopt(curl, CURLOPT_NOPROGRESS, 0L);
    api->setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    api->setopt(curl, CURLOPT_XFERINFODATA, &exchange);
    api->setopt(curl, CURLOPT_TIMEOUT_MS, kWholeExchangeMs);
    api->setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    api->setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!pem.empty()) {
        curl_blob blob{const_cast<char*>(pem.data()), pem.size(), CURL_BLOB_COPY};
        api->setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
        api->setopt(curl, CURLOPT_CAINFO, nullptr);
        api->setopt(curl, CURLOPT_CAPATH, nullptr);
    }
    api->setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    api->setopt(curl, CURLOPT_HEADERDATA, &exchange);
    api->setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);

    api->perform(curl); // ends in a write error on purpose once the headers are in

    api->cleanup(curl);
    api->slistFreeAll(headers);
    return exchange.status;
}
