// What a dashboard is sent, built from any text at all. The form must hold nothing but unreserved
// characters, "+" and "%XX" with upper-case digits, and decode back to the exact UTF-8 of each
// value; the UTF-8 must be valid whatever the wide text held (lone surrogates, values beyond
// U+10FFFF, negative wchar_t).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/station_snapshot.h"
#include "platform/text.h"
#include "posting/post_payload.h"

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool Unreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int UpperHexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1; // lower-case digits are wrong too
}

// Decodes a form value, checking on the way that it holds only what the encoding may produce.
std::string FormDecodeStrict(const std::string& encoded) {
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (Unreserved(c)) {
            bytes += c;
        } else if (c == '+') {
            bytes += ' ';
        } else {
            Check(c == '%' && i + 2 < encoded.size());
            const int high = UpperHexValue(encoded[i + 1]);
            const int low = UpperHexValue(encoded[i + 2]);
            Check(high >= 0 && low >= 0);
            const char byte = static_cast<char>(high * 16 + low);
            // A byte that may stand as it is must never be escaped, nor a space.
            Check(!Unreserved(byte) && byte != ' ');
            bytes += byte;
            i += 2;
        }
    }
    return bytes;
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const std::string& text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = s[i];
        int extra;
        std::uint32_t c;
        std::uint32_t minimum;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC0 && lead <= 0xDF) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF7) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + static_cast<std::size_t>(extra) >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// The characters a wide text stands for: a UTF-16 pair is one character, and whatever is no
// character (a lone surrogate, a value beyond U+10FFFF) is U+FFFD.
std::u32string Characters(const std::wstring& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2)
            c &= 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
            std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]);
            if (sizeof(wchar_t) == 2)
                low &= 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += static_cast<char32_t>(0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        out += static_cast<char32_t>(c);
    }
    return out;
}

std::u32string Characters(const std::string& utf8) {
    const std::wstring wide = Utf8ToWide(utf8);
    return Characters(wide);
}

// The input read as wide text twice: as 16-bit units (surrogates galore, as UTF-16 would carry
// them) and as whole wchar_t values (anything the type can hold).
std::wstring AsUnits16(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    return text;
}

std::wstring AsWideValues(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + sizeof(wchar_t) <= size; i += sizeof(wchar_t)) {
        wchar_t c;
        std::memcpy(&c, data + i, sizeof c);
        text += c;
    }
    return text;
}

void CheckValue(const std::wstring& value) {
    const std::string utf8 = ToUtf8(value);
    Check(value.empty() == utf8.empty());
    Check(ValidUtf8(utf8));
    Check(Characters(utf8) == Characters(value));
    const std::string encoded = FormEncode(utf8);
    Check(FormDecodeStrict(encoded) == utf8);
}

// The body split at "&" and "=": names in the fixed order, values decoding to each field.
void CheckBody(const StationSnapshot& s, const std::wstring& key) {
    const std::string body = BuildPostBody(s, key);
    std::vector<std::pair<const char*, const std::wstring*>> expected = {
        {"freq", &s.freq},
        {"band", &s.band},
        {"mode", &s.mode},
        {"mycall", &s.mycall},
        {"opcall", &s.opcall},
        {"radio", &s.radio},
        {"radio_label", &s.radio},
        {"op_status", &s.op_status},
        {"locator", &s.locator},
        {"location", &s.location},
        {"call", &s.call},
        {"contestname", &s.contestname},
        {"app", &s.app}};
    static const std::wstring two = L"2";
    if (s.radios >= 2) {
        expected.insert(expected.end(), {{"radios", &two},
                                         {"freq2", &s.freq2},
                                         {"band2", &s.band2},
                                         {"mode2", &s.mode2},
                                         {"radio2", &s.radio2},
                                         {"radio2_label", &s.radio2},
                                         {"op_status2", &s.op_status2}});
    }
    expected.emplace_back("api_key", &key);

    std::size_t start = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::size_t end = body.find('&', start);
        Check((end == std::string::npos) == (i + 1 == expected.size()));
        const std::string pair = body.substr(start, end == std::string::npos ? end : end - start);
        const std::size_t equals = pair.find('=');
        Check(equals != std::string::npos);
        Check(pair.substr(0, equals) == expected[i].first);
        Check(FormDecodeStrict(pair.substr(equals + 1)) == ToUtf8(*expected[i].second));
        start = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 16384)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Check(FormDecodeStrict(FormEncode(bytes)) == bytes);
    Check(FormEncode(bytes).size() <= 3 * bytes.size());

    const std::wstring units = AsUnits16(data, size);
    const std::wstring values = AsWideValues(data, size);
    CheckValue(units);
    CheckValue(values);

    // Every field from its own slice of the 16-bit reading; radios from the first byte.
    StationSnapshot s;
    std::wstring* fields[] = {&s.freq,   &s.band,        &s.mode,    &s.mycall,   &s.opcall,
                              &s.radio,  &s.op_status,   &s.locator, &s.location, &s.app,
                              &s.call,   &s.contestname, &s.freq2,   &s.band2,    &s.mode2,
                              &s.radio2, &s.op_status2};
    const std::size_t count = sizeof fields / sizeof fields[0];
    const std::size_t slice = units.size() / (count + 1) + 1;
    for (std::size_t i = 0; i < count; ++i)
        if (i * slice < units.size())
            *fields[i] = units.substr(i * slice, slice);
    const std::wstring key = count * slice < units.size() ? units.substr(count * slice) : L"";
    s.radios = size > 0 ? static_cast<std::int8_t>(data[0]) : 1;
    CheckBody(s, key);
    return 0;
}
