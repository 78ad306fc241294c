#pragma once
// INI access, one key per call, with the rules the settings store relies on: an absent key gives
// the default; an integer read takes the leading decimal number (0 when there is none); a write
// creates file, section and key as needed, replaces the value in place and leaves every other
// line as it was; string values are cut at 1023 characters.
#include <string>

constexpr std::size_t kProfileValueMax = 1023;

std::wstring ProfileReadString(const std::wstring& path, const std::wstring& section,
                               const std::wstring& key, const std::wstring& fallback);
int ProfileReadInt(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                   int fallback);
bool ProfileWriteString(const std::wstring& path, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value);
