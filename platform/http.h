#pragma once
// The transport under the dashboard POST: one request, one answer, nothing kept between calls.
// Windows: WinHTTP with the system's proxy settings. POSIX: libcurl with the usual proxy
// variables and the system's CA store. Both halves answer alike for the same server.
#include <atomic>
#include <chrono>
#include <string>

constexpr const char* kHttpUserAgent = "Corvane/1.0";

// Every step of an exchange (name lookup, connect, TLS handshake, sending the request, the
// answer's head) gets this long; an exchange therefore ends within five of them.
constexpr int kHttpStepTimeoutMs = 2000;

// Why no answer came, told alike by both halves from their own error codes.
enum class HttpFailure {
    None,         // an answer came
    BadUrl,       // not an http(s) URL this client can split; nothing was sent
    NoAnswer,     // a time-out, the deadline, a stop, a dropped connection, no HTTP, a TLS failure
    NameNotFound, // the host's (or the proxy's) name does not resolve
    Refused,      // the connection was refused
    Certificate,  // the server's certificate is not trusted, or not for that name
};

struct HttpAnswer {
    int status = 0;        // 0 when no answer arrived
    std::wstring location; // the answer's Location header as sent, empty when it has none
    HttpFailure failure = HttpFailure::NoAnswer;
};

// POSTs `body` as application/x-www-form-urlencoded to an http:// or https:// URL. Redirects are
// not followed and the answer's body is never read. Credentials written into the URL
// ("user:pass@") are not sent. Each step is bounded as above, and the exchange gives up at
// `deadline`; while `keepGoing` (when given) turns false it gives up too: at once on POSIX, after
// the step at hand on Windows.
HttpAnswer HttpPostForm(const std::wstring& url, const std::string& body,
                        std::chrono::steady_clock::time_point deadline,
                        const std::atomic<bool>* keepGoing = nullptr);

// For tests on POSIX: trust exactly these PEM certificates instead of the system's store; an empty
// text goes back to the system's store. Windows always uses its own store and ignores this.
void SetHttpTrustedCertificates(const std::string& pem);
