#include "platform/text.h"

#include <windows.h>

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length,
                        nullptr, nullptr);
    return out;
}

std::wstring Utf8ToWide(const char* bytes, std::size_t length) {
    if (length == 0)
        return std::wstring();
    const int count = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (count <= 0)
        return std::wstring();
    std::wstring out(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(length), &out[0], count);
    return out;
}

std::string WideToUtf16Le(const std::wstring& text) {
    // wchar_t is a UTF-16 unit here and x86 is little-endian: the bytes are the wire bytes.
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring Utf16LeToWide(const char* bytes, std::size_t length) {
    std::wstring out(length / 2, L'\0');
    if (!out.empty())
        memcpy(&out[0], bytes, out.size() * sizeof(wchar_t));
    return out;
}
