#pragma once
// A fresh folder for one test, removed with everything in it at the end, and the data folder
// pointed at it meanwhile.
#include <string>

#include "platform/paths.h"

struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::wstring File(const std::wstring& name) const { return path + kPathSeparator + name; }
    std::wstring path;
};

// Same, but also the data folder of settings.ini and the diagnostic files while it lives; the
// settings record is reset to a fresh load from there.
struct TempDataFolder : TempFolder {
    TempDataFolder();
    ~TempDataFolder();
};

// An environment variable as text; empty when unset.
std::string EnvironmentText(const char* name);

// A file's bytes, or empty when it cannot be read.
std::string FileBytes(const std::wstring& path);
