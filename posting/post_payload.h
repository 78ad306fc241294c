#pragma once
// What a dashboard receives: the request URL naming the dashboard and the form body carrying the
// station's status and the API key. Both dashboards get the same scheme and the same form.
#include <string>

#include "core/station_snapshot.h"

// The base URL without any trailing slashes or backslashes, then "/?station_update=" and the
// dashboard ID percent-encoded as a query value (so it can never add parameters of its own; an
// ordinary ID of letters, digits and "-._~" stays as it is). The ID is never trimmed.
std::wstring BuildStationUpdateUrl(const std::wstring& baseUrl, const std::wstring& dashboardId);

// The form, ASCII only: 14 pairs for one radio, 21 for two, "api_key" always last.
std::string BuildPostBody(const StationSnapshot& snapshot, const std::wstring& apiKey);

// Appends "name=value" (with "&" before it unless the body is empty); the name goes in as it is,
// the value as FormEncode(ToUtf8(value)).
void AppendFormField(std::string& body, const char* name, const std::wstring& value);

// UTF-8 bytes of a wide text; a lone surrogate becomes U+FFFD, an empty text gives no bytes.
std::string ToUtf8(const std::wstring& text);

// Percent-encoding for form values: RFC 3986 unreserved bytes as they are, a space as "+", every
// other byte as "%" and two upper-case hex digits.
std::string FormEncode(const std::string& bytes);
