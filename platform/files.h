#pragma once
#include <string>

// Whether anything (file or folder) exists at the path.
bool PathExists(const std::wstring& path);

// Creates or replaces the file with exactly these bytes; others may read it meanwhile. On POSIX a
// symlink at the path is never followed (the write fails).
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
