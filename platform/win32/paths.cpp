#include "platform/paths.h"

#include <mutex>
#include <shlobj.h>
#include <windows.h>

const wchar_t kPathSeparator = L'\\';

namespace {
std::mutex overrideMutex;
std::wstring folderOverride;
} // namespace

void SetDataFolderOverride(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(overrideMutex);
    folderOverride = folder;
}

std::wstring DataFolder() {
    std::wstring folder;
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        folder = folderOverride;
    }
    if (folder.empty()) {
        wchar_t appData[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
            return std::wstring();
        folder = std::wstring(appData) + L"\\Corvane";
    }
    CreateDirectoryW(folder.c_str(), nullptr); // an existing folder is fine
    return folder;
}
