#pragma once
// INI access with the rules the settings store relies on: an absent key gives the default; an
// integer read takes the leading decimal number (0 when there is none); a write creates file,
// section and key as needed, replaces the value in place and leaves every other line as it was;
// string values are cut at 1023 characters.
#include <string>
#include <unordered_map>

constexpr std::size_t kProfileValueMax = 1023;

// Far larger than any settings file: such a file is neither read nor written (POSIX).
constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kProfileFileMax = 1 * kMiB;

// What was found at a settings file's path.
enum class ProfileFileState {
    Missing,    // nothing there
    Read,       // read: UTF-8 with or without its BOM, or UTF-16LE with its BOM
    Unreadable, // there, but not a file we may read
    TooLarge,   // over kProfileFileMax
    NotText,    // neither of the encodings above (a NUL byte, a UTF-16BE BOM)
};

// A file read and parsed once for a run of key reads, such as a load's.
struct ProfileFile {
    std::wstring path;
    ProfileFileState state = ProfileFileState::Missing;
    // POSIX: every key as "section\nkey", both lower-cased, to its UTF-8 value. Windows reads
    // through the profile functions instead.
    std::unordered_map<std::string, std::string> keys;
};

ProfileFile ProfileOpen(const std::wstring& path);
std::wstring ProfileGetString(const ProfileFile& file, const std::wstring& section,
                              const std::wstring& key, const std::wstring& fallback);
int ProfileGetInt(const ProfileFile& file, const std::wstring& section, const std::wstring& key,
                  int fallback);

// On POSIX the file keeps its encoding; one that is unreadable, too large or no text is never
// replaced (false).
bool ProfileWriteString(const std::wstring& path, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value);
