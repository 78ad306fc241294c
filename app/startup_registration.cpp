#include "app/startup_registration.h"

#include <windows.h>

#include <shlobj.h>

#include "platform/win32/handle.h"

namespace {

const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* const kRunValueName = L"Corvane";

std::wstring QuotedModulePath() {
    return L"\"" + ModulePath() + L"\"";
}

} // namespace

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH); // a cut path, too, ends with a zero
    return path;
}

// Room for our quoted path and then some: a longer value is not ours.
constexpr DWORD kRunValueChars = 2 * MAX_PATH - 1;

std::wstring ReadRunValue() {
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, key.Receive()) !=
        ERROR_SUCCESS)
        return std::wstring();
    // One character more than offered, so the text always ends with a zero.
    wchar_t data[kRunValueChars + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = (ARRAYSIZE(data) - 1) * sizeof(wchar_t);
    const LONG status =
        RegQueryValueExW(key, kRunValueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::wstring();
    return data;
}

std::wstring StartupShortcutPath() {
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_STARTUP, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return std::wstring();
    return std::wstring(folder) + L"\\Corvane.lnk";
}

bool StartupShortcutExists() {
    const std::wstring path = StartupShortcutPath();
    return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetStartWithWindows(bool enable) {
    const std::wstring shortcut = StartupShortcutPath();
    if (!shortcut.empty())
        DeleteFileW(shortcut.c_str());

    ScopedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    LONG status;
    if (enable) {
        const std::wstring data = QuotedModulePath();
        status = RegSetValueExW(key, kRunValueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    } else {
        status = RegDeleteValueW(key, kRunValueName);
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    }
    return status == ERROR_SUCCESS;
}

void SyncStartWithWindows() {
    const std::wstring current = ReadRunValue();
    if (current.empty())
        return;
    if (StartupShortcutExists())
        DeleteFileW(StartupShortcutPath().c_str());
    if (current != QuotedModulePath())
        SetStartWithWindows(true);
}
