#pragma once
// The transport under the dashboard POST: one request, one answer, nothing kept between calls.
// Windows: WinHTTP with the system's proxy settings. POSIX: libcurl with the usual proxy
// variables and the system's CA store. Both halves answer alike for the same server.
#include <string>

constexpr const char* kHttpUserAgent = "Corvane/1.0";

// Every step of an exchange (name lookup, connect, TLS handshake, sending the request, the
// answer's head) gets this long; an exchange therefore ends within five of them.
constexpr int kHttpStepTimeoutMs = 2000;

struct HttpAnswer {
    int status = 0;        // 0 when no answer arrived
    std::wstring location; // the answer's Location header as sent, empty when it has none
};

// POSTs `body` as application/x-www-form-urlencoded to an http:// or https:// URL. Redirects are
// not followed and the answer's body is never read. Credentials written into the URL
// ("user:pass@") are not sent. No answer (status 0): a URL that cannot be split, no connection, a
// time-out, a TLS failure, a reply that is no HTTP.
HttpAnswer HttpPostForm(const std::wstring& url, const std::string& body);

// For tests on POSIX: trust exactly these PEM certificates instead of the system's store; an empty
// text goes back to the system's store. Windows always uses its own store and ignores this.
void SetHttpTrustedCertificates(const std::string& pem);
