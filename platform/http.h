#pragma once
// The transport under the dashboard POST: one request, one answer, nothing kept between calls.
// Windows: WinHTTP with the system's proxy settings. POSIX: libcurl with the usual proxy
// variables and the system's CA store.
#include <string>

constexpr const char* kHttpUserAgent = "Corvane/1.0";

// POSTs `body` as application/x-www-form-urlencoded to an http:// or https:// URL, each step
// (resolve, connect, send, receive) bounded at about 2 s; redirects are not followed and the
// response body is never read. Returns the response's status code, or 0 when no response arrived:
// a URL that cannot be split, no connection, a time-out, a TLS failure, a reply that is no HTTP.
int HttpPostForm(const std::wstring& url, const std::string& body);

// For tests on POSIX: trust exactly these PEM certificates instead of the system's store; an empty
// text goes back to the system's store. Windows always uses its own store and ignores this.
void SetHttpTrustedCertificates(const std::string& pem);
