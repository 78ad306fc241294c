#include "posting/post_client.h"

#include <string>

#include "core/numbers.h"
#include "platform/http.h"
#include "posting/post_payload.h"

namespace {

constexpr int kMaxRedirects = 5;

// Where a Location sends the post: an absolute URL, one without a scheme ("//host/..."), a path
// from the root, or a path beside the current one. Empty when it leads nowhere we post to.
std::wstring ResolveLocation(const std::wstring& current, const std::wstring& location) {
    if (location.empty())
        return std::wstring();
    if (!HttpSchemeOf(location).empty())
        return location;
    const std::size_t schemeEnd = current.find(L"://");
    if (schemeEnd == std::wstring::npos)
        return std::wstring();
    if (location.compare(0, 2, L"//") == 0)
        return current.substr(0, schemeEnd + 1) + location;
    const std::size_t pathStart = current.find_first_of(L"/?#", schemeEnd + 3);
    const std::wstring origin = current.substr(0, pathStart);
    if (location[0] == L'/')
        return origin + location;
    const std::wstring path =
        pathStart == std::wstring::npos ? std::wstring() : current.substr(pathStart);
    if (location[0] == L'?')
        return origin + path.substr(0, path.find_first_of(L"?#")) + location;
    const std::size_t lastSlash = path.substr(0, path.find_first_of(L"?#")).rfind(L'/');
    return origin + (lastSlash == std::wstring::npos ? L"/" : path.substr(0, lastSlash + 1)) +
           location;
}

struct Origin {
    std::wstring scheme, host;
    long port = 0;
};

// The scheme, host and port an absolute http(s) URL names, the way both HTTP halves split it.
// False for anything else, and for an authority that only a lenient reader would agree on (a
// backslash, an odd port). Credentials are taken off only where allowed; left in, they make a
// host that no URL without them names.
bool OriginOf(const std::wstring& url, bool allowCredentials, Origin& origin) {
    origin.scheme = HttpSchemeOf(url);
    if (origin.scheme.empty())
        return false;
    const std::size_t hostStart = origin.scheme.size() + 3;
    std::wstring authority =
        url.substr(hostStart, url.find_first_of(L"/?#", hostStart) - hostStart);
    const std::size_t at = authority.rfind(L'@');
    authority.erase(0, at == std::wstring::npos || !allowCredentials ? 0 : at + 1);
    if (authority.find(L'\\') != std::wstring::npos)
        return false;
    const std::size_t colon = authority.rfind(L':');
    std::wstring port;
    if (colon != std::wstring::npos && authority.find(L']', colon) == std::wstring::npos) {
        port = authority.substr(colon + 1);
        authority.resize(colon);
    }
    origin.host = LowerCase(authority);
    origin.port = origin.scheme == L"https" ? 443 : 80;
    if (port.empty())
        return !origin.host.empty();
    if (port.size() > 5 || port.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    origin.port = std::stol(port);
    return !origin.host.empty();
}

// The one reading of what the HTTP half answered, the same for both halves.
PostOutcome OutcomeOf(const HttpAnswer& answer) {
    PostOutcome outcome;
    outcome.httpStatus = answer.status;
    if (answer.status >= 200 && answer.status < 300) {
        outcome.failure = PostFailure::None;
    } else if (answer.status != 0) {
        outcome.failure = PostFailure::HttpStatus; // a refusal, or a redirect we do not follow
    } else {
        // In the order of HttpFailure; "None" without a status cannot happen, and would be none.
        constexpr PostFailure kReasons[] = {
            PostFailure::NoAnswer,          PostFailure::NotSent,
            PostFailure::NoAnswer,          PostFailure::NameNotFound,
            PostFailure::ConnectionRefused, PostFailure::CertificateNotTrusted,
        };
        outcome.failure = kReasons[static_cast<int>(answer.failure)];
    }
    return outcome;
}

} // namespace

bool MayFollowRedirect(const std::wstring& from, const std::wstring& to) {
    Origin here, there;
    if (!OriginOf(from, true, here) || !OriginOf(to, false, there) || here.host != there.host)
        return false;
    if (here.scheme == there.scheme)
        return here.port == there.port;
    return here.scheme == L"http" && here.port == 80 && there.port == 443;
}

PostOutcome PostStationUpdate(const StationSnapshot& snapshot, const std::wstring& baseUrl,
                              const std::wstring& dashboardId, const std::wstring& apiKey,
                              const std::atomic<bool>* keepGoing) {
    if (baseUrl.empty() || dashboardId.empty() || apiKey.empty())
        return PostOutcome();
    const auto deadline = std::chrono::steady_clock::now() + kPostDeadline;
    std::wstring url = BuildStationUpdateUrl(baseUrl, dashboardId);
    const std::string body = BuildPostBody(snapshot, apiKey);
    for (int hop = 0;; ++hop) {
        const HttpAnswer answer = HttpPostForm(url, body, deadline, keepGoing);
        PostOutcome outcome = OutcomeOf(answer);
        // 307 and 308 ask for the same request elsewhere; any other redirect would drop the form
        // (and a followed one would be a GET), so the post did not get through.
        if ((answer.status != 307 && answer.status != 308) || answer.location.empty())
            return outcome;
        const std::wstring next = ResolveLocation(url, answer.location);
        if (hop == kMaxRedirects) {
            outcome.failure = PostFailure::TooManyRedirects;
            return outcome;
        }
        if (next.empty() || !MayFollowRedirect(url, next)) {
            outcome.failure = PostFailure::RedirectedElsewhere;
            return outcome;
        }
        if (std::chrono::steady_clock::now() >= deadline || (keepGoing && !keepGoing->load())) {
            outcome.failure = PostFailure::NoAnswer;
            return outcome;
        }
        url = next;
    }
}
