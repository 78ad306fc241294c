#include "platform/profile.h"

#include <windows.h>

#include "platform/files.h"

bool ProfileWriteString(const std::wstring& path, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value) {
    // A file that starts with a UTF-16LE byte-order mark is kept in Unicode by the profile
    // functions; without one they write the ANSI code page and lose non-ASCII keys and calls.
    if (!PathExists(path))
        WriteWholeFile(path, std::string("\xFF\xFE", 2));
    return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
           FALSE;
}

// The profile functions read the file for each key themselves.
ProfileFile ProfileOpen(const std::wstring& path) {
    ProfileFile file;
    file.path = path;
    file.state = PathExists(path) ? ProfileFileState::Read : ProfileFileState::Missing;
    return file;
}

std::wstring ProfileGetString(const ProfileFile& file, const std::wstring& section,
                              const std::wstring& key, const std::wstring& fallback) {
    wchar_t buffer[kProfileValueMax + 1] = {};
    const DWORD length = GetPrivateProfileStringW(section.c_str(), key.c_str(), fallback.c_str(),
                                                  buffer, kProfileValueMax + 1, file.path.c_str());
    return std::wstring(buffer, length);
}

int ProfileGetInt(const ProfileFile& file, const std::wstring& section, const std::wstring& key,
                  int fallback) {
    return static_cast<int>(
        GetPrivateProfileIntW(section.c_str(), key.c_str(), fallback, file.path.c_str()));
}
