#include "core/numbers.h"

#include <cstdio>
#include <cwctype>
#include <iterator>
#include <limits>

namespace {

template <typename Char> std::int64_t ReadLeadingInteger(std::basic_string_view<Char> text) {
    std::size_t at = 0;
    while (at < text.size() && IsCSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    // The magnitude, held at the largest value; a sign only ever tells a refusal from success.
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = static_cast<int>(text[at] - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

} // namespace

std::int64_t LeadingInteger(std::string_view text) {
    return ReadLeadingInteger(text);
}

std::int64_t LeadingInteger(std::wstring_view text) {
    return ReadLeadingInteger(text);
}

// Three decimals, rounded the way printf rounds the double hz / 1e6. Away from a tie that is the
// rounding of the exact quotient, as long as the double holds it to well within a hertz, which it
// does far beyond any radio's frequency; ties and the rest go to snprintf.
void FormatMegahertz(std::int64_t hz, std::wstring& out) {
    constexpr std::uint64_t kExactBelow = 1'000'000'000'000'000;
    // Unsigned, a negative value is far above the bound and goes to snprintf too.
    if (static_cast<std::uint64_t>(hz) < kExactBelow && hz % 1000 != 500) {
        const std::int64_t khz = hz / 1000 + (hz % 1000 > 500 ? 1 : 0);
        wchar_t digits[24];
        wchar_t* start = std::end(digits);
        std::int64_t rest = khz;
        for (int place = 0; place < 3; ++place, rest /= 10)
            *--start = static_cast<wchar_t>(L'0' + rest % 10);
        *--start = L'.';
        do
            *--start = static_cast<wchar_t>(L'0' + rest % 10);
        while ((rest /= 10) != 0);
        out.assign(start, std::end(digits));
        return;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", static_cast<double>(hz) / 1000000.0);
    out.clear();
    for (const char* p = buffer; *p; ++p)
        out.push_back(*p == ',' ? L'.' : static_cast<wchar_t>(*p)); // whatever the locale
}

bool IsDottedIpv4(std::wstring_view text) {
    int octets = 0;
    std::size_t i = 0;
    while (true) {
        const std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= L'0' && text[i] <= L'9' && i - start < 3)
            value = value * 10 + static_cast<unsigned>(text[i++] - L'0');
        const std::size_t digits = i - start;
        if (digits == 0 || value > 255 || (digits > 1 && text[start] == L'0'))
            return false;
        if (++octets == 4)
            return i == text.size();
        if (i >= text.size() || text[i] != L'.')
            return false;
        ++i;
    }
}

std::wstring LowerCase(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring HttpSchemeOf(const std::wstring& url) {
    const std::size_t end = url.find(L"://");
    const std::wstring scheme = LowerCase(url.substr(0, end == std::wstring::npos ? 0 : end));
    return scheme == L"http" || scheme == L"https" ? scheme : std::wstring();
}
