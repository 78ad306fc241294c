#pragma once
// The text side of our INI files, apart from any file, so it can be tested and fuzzed alone.
#include <string>

#include <unordered_map>

// Every key of the text in one pass, as "section\nkey" (both lower-cased ASCII) to its value:
// the first key of a name in the first section of a name, surrounding blanks and one pair of
// quotes dropped.
std::unordered_map<std::string, std::string> IniParse(const std::string& bytes);
std::string IniKeyName(const std::string& section, const std::string& key);

// The text with the key set: replaced in place, else added after the section's last key, else
// a new section at the end. Every other line stays as it was, line ends included.
std::string IniSet(const std::string& bytes, const std::string& section, const std::string& key,
                   const std::string& value);
