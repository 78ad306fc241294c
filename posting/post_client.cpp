#include "posting/post_client.h"

#include <cwctype>

#include "platform/http.h"
#include "posting/post_payload.h"

namespace {

constexpr int kMaxRedirects = 5;

bool HasSchemeNoCase(const std::wstring& url, const wchar_t* scheme) {
    std::size_t i = 0;
    for (; scheme[i]; ++i)
        if (i >= url.size() || std::towlower(url[i]) != static_cast<wint_t>(scheme[i]))
            return false;
    return url.compare(i, 3, L"://") == 0;
}

// Where a Location sends the post: an absolute URL, one without a scheme ("//host/..."), a path
// from the root, or a path beside the current one. Empty when it leads nowhere we post to.
std::wstring ResolveLocation(const std::wstring& current, const std::wstring& location) {
    if (location.empty())
        return std::wstring();
    if (HasSchemeNoCase(location, L"http") || HasSchemeNoCase(location, L"https"))
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

} // namespace

bool PostStationUpdate(const StationSnapshot& snapshot, const std::wstring& baseUrl,
                       const std::wstring& dashboardId, const std::wstring& apiKey) {
    if (baseUrl.empty() || dashboardId.empty() || apiKey.empty())
        return false;
    std::wstring url = BuildStationUpdateUrl(baseUrl, dashboardId);
    const std::string body = BuildPostBody(snapshot, apiKey);
    for (int hop = 0;; ++hop) {
        const HttpAnswer answer = HttpPostForm(url, body);
        // 307 and 308 ask for the same request elsewhere; any other redirect would drop the form
        // (and a followed one would be a GET), so the post did not get through.
        if ((answer.status != 307 && answer.status != 308) || hop == kMaxRedirects)
            return answer.status >= 200 && answer.status < 300;
        const std::wstring next = ResolveLocation(url, answer.location);
        // Never from TLS to plain text: the form carries the API key.
        if (next.empty() || (HasSchemeNoCase(url, L"https") && !HasSchemeNoCase(next, L"https")))
            return false;
        url = next;
    }
}
