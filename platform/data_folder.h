#pragma once
// What each OS's half does for DataFolder() in platform/paths.cpp.
#include <string>

// This OS's per-user data folder; empty when it cannot be determined.
std::wstring DefaultDataFolder();

// Creates the folder on the way (one that cannot be made still names where the file would be)
// and returns it as the data folder.
std::wstring MadeDataFolder(const std::wstring& folder);
