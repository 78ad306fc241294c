#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace {

// One character outside the basic plane, spelled the way this platform's wide strings hold it.
std::wstring GClef() {
    if (sizeof(wchar_t) == 2)
        return std::wstring{wchar_t(0xD834), wchar_t(0xDD1E)};
    return std::wstring(1, wchar_t(0x1D11E));
}

} // namespace

TEST(TextConversion, Utf8RoundTrips) {
    const std::wstring samples[] = {
        L"", L"N0CALL", L"J\u00FCrgen", L"\u0416\u0443\u043A", L"CQ \u2014 DX", GClef()};
    for (const std::wstring& text : samples)
        EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(WideToUtf8(L"\u00FC"), "\xC3\xBC");
    EXPECT_EQ(WideToUtf8(L"\u2014"), "\xE2\x80\x94");
    EXPECT_EQ(WideToUtf8(GClef()), "\xF0\x9D\x84\x9E");
}

TEST(TextConversion, LoneSurrogatesBecomeTheReplacementCharacter) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(WideToUtf8(std::wstring{L'a', wchar_t(0xD800), L'b'}), "a" + replacement + "b");
    EXPECT_EQ(WideToUtf8(std::wstring{wchar_t(0xDC00)}), replacement);
    EXPECT_EQ(WideToUtf8(std::wstring{L'x', wchar_t(0xDBFF)}), "x" + replacement);
}

TEST(TextConversion, InvalidUtf8NeverStopsTheConversion) {
    const std::string inputs[] = {"\xFF", "abc\xC3", "\xC3(", "\xE2\x82", "\x80\x80x", "\xC0\xAF"};
    for (const std::string& input : inputs) {
        const std::wstring wide = Utf8ToWide(input);
        EXPECT_FALSE(wide.empty()) << input;
        EXPECT_NE(wide.find(wchar_t(0xFFFD)), std::wstring::npos)
            << "invalid bytes show as U+FFFD unless valid: " << input;
    }
}

TEST(TextConversion, Utf16LeIsTheWireForm) {
    EXPECT_EQ(WideToUtf16Le(L"Get ID"), std::string("G\0e\0t\0 \0I\0D\0", 12));
    EXPECT_EQ(Utf16LeToWide("F\0T\0"
                            "8\0",
                            6),
              L"FT8");
    EXPECT_EQ(WideToUtf16Le(GClef()), std::string("\x34\xD8\x1E\xDD", 4));
    EXPECT_EQ(Utf16LeToWide("\x34\xD8\x1E\xDD", 4), GClef());
    EXPECT_EQ(Utf16LeToWide("A\0B", 3), L"A") << "an odd trailing byte is no unit";
    // A lone surrogate from the wire survives until the text becomes UTF-8.
    EXPECT_EQ(WideToUtf8(Utf16LeToWide("\x00\xD8"
                                       "A\0",
                                       4)),
              "\xEF\xBF\xBD"
              "A");
}
