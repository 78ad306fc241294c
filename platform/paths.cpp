// The data folder's override, the same on both OSes; each half finds the default and makes it.
#include "platform/paths.h"

#include <mutex>

#include "platform/data_folder.h"

namespace {
std::mutex overrideMutex;
std::wstring folderOverride;
} // namespace

void SetDataFolderOverride(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(overrideMutex);
    folderOverride = folder;
}

std::wstring DataFolder(bool create) {
    std::wstring folder;
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        folder = folderOverride;
    }
    if (folder.empty())
        folder = DefaultDataFolder();
    if (folder.empty())
        return std::wstring();
    return create ? MadeDataFolder(folder) : folder;
}
