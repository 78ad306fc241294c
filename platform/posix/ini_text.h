#pragma once
// The text side of our INI files, apart from any file, so it can be tested and fuzzed alone.
#include <string>

// The value of the first key of that name in the first section of that name (names compared
// without regard to ASCII case, surrounding blanks and one pair of quotes dropped).
bool IniFind(const std::string& bytes, const std::string& section, const std::string& key,
             std::string& value);

// The text with the key set: replaced in place, else added after the section's last key, else
// a new section at the end. Every other line stays as it was, line ends included.
std::string IniSet(const std::string& bytes, const std::string& section, const std::string& key,
                   const std::string& value);
