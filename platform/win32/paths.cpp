#include "platform/paths.h"

#include <shlobj.h>
#include <windows.h>

#include "platform/data_folder.h"

const wchar_t kPathSeparator = L'\\';

std::wstring DefaultDataFolder() {
    wchar_t appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
        return std::wstring();
    return std::wstring(appData) + L"\\Corvane";
}

std::wstring MadeDataFolder(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr); // an existing folder is fine
    return folder;
}
