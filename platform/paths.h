#pragma once
#include <string>

// The per-user data folder ("%APPDATA%\Corvane" on Windows, "$XDG_CONFIG_HOME/Corvane" or
// "~/.config/Corvane" on POSIX), created on the way unless `create` is false. Empty when it cannot
// be determined.
std::wstring DataFolder(bool create = true);

// Replaces the data folder for this process (the console's --config-dir, tests). Empty restores
// the default. Call before any worker starts.
void SetDataFolderOverride(const std::wstring& folder);

// The separator this OS puts between folder and file name.
extern const wchar_t kPathSeparator;
