#pragma once
// Text conversions. Wide strings are UTF-16 on Windows and UTF-32 on POSIX; both sides give the
// same observable results: invalid input never stops a conversion, a lone surrogate becomes
// U+FFFD on the way to UTF-8, an empty text gives an empty text.
#include <cstddef>
#include <string>

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const char* bytes, std::size_t length);
inline std::wstring Utf8ToWide(const std::string& bytes) {
    return Utf8ToWide(bytes.data(), bytes.size());
}

// UTF-16LE, as HRD carries it on the wire. A lone surrogate passes through unchanged in both
// directions, so it ends up as U+FFFD only when the text is turned into UTF-8.
std::string WideToUtf16Le(const std::wstring& text);
std::wstring Utf16LeToWide(const char* bytes, std::size_t length);
