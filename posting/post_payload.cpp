#include "posting/post_payload.h"

#include "platform/text.h"

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::string PercentEncode(const std::string& bytes, bool spaceAsPlus) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (IsUnreserved(c)) {
            encoded += static_cast<char>(c);
        } else if (c == ' ' && spaceAsPlus) {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

} // namespace

std::wstring BuildStationUpdateUrl(const std::wstring& baseUrl, const std::wstring& dashboardId) {
    std::wstring url = baseUrl;
    while (!url.empty() && (url.back() == L'/' || url.back() == L'\\'))
        url.pop_back();
    url += L"/?station_update=";
    const std::string id = PercentEncode(ToUtf8(dashboardId), false);
    url.append(id.begin(), id.end()); // ASCII only
    return url;
}

std::string ToUtf8(const std::wstring& text) {
    return WideToUtf8(text);
}

std::string FormEncode(const std::string& bytes) {
    return PercentEncode(bytes, true);
}

void AppendFormField(std::string& body, const char* name, const std::wstring& value) {
    if (!body.empty())
        body += '&';
    body += name;
    body += '=';
    body += FormEncode(ToUtf8(value));
}

std::string BuildPostBody(const StationSnapshot& snapshot, const std::wstring& apiKey) {
    std::string body;
    AppendFormField(body, "freq", snapshot.freq);
    AppendFormField(body, "band", snapshot.band);
    AppendFormField(body, "mode", snapshot.mode);
    AppendFormField(body, "mycall", snapshot.mycall);
    AppendFormField(body, "opcall", snapshot.opcall);
    AppendFormField(body, "radio", snapshot.radio);
    AppendFormField(body, "radio_label", snapshot.radio);
    AppendFormField(body, "op_status", snapshot.op_status);
    AppendFormField(body, "locator", snapshot.locator);
    AppendFormField(body, "location", snapshot.location);
    AppendFormField(body, "call", snapshot.call);
    AppendFormField(body, "contestname", snapshot.contestname);
    AppendFormField(body, "app", snapshot.app);
    if (snapshot.radios >= 2) {
        // The dashboards only know one and two radios, so more than two still says "2".
        AppendFormField(body, "radios", L"2");
        AppendFormField(body, "freq2", snapshot.freq2);
        AppendFormField(body, "band2", snapshot.band2);
        AppendFormField(body, "mode2", snapshot.mode2);
        AppendFormField(body, "radio2", snapshot.radio2);
        AppendFormField(body, "radio2_label", snapshot.radio2);
        AppendFormField(body, "op_status2", snapshot.op_status2);
    }
    AppendFormField(body, "api_key", apiKey);
    return body;
}
