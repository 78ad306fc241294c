#include "tests/app/throwaway_profile.h"

#include <windows.h>

#include <string>

namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t value[2048] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, ARRAYSIZE(value));
    return length > 0 && length < ARRAYSIZE(value) ? value : L"";
}

} // namespace

const char* const kThrowawayRefusal =
    "refusing to touch this profile: set CORVANE_THROWAWAY_PREFIX to the WINEPREFIX the test "
    "command created (on Windows: to %USERPROFILE%) only when it may be wiped";

bool ThrowawayProfile() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const bool underWine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    const std::wstring named = Environment(L"CORVANE_THROWAWAY_PREFIX");
    return !named.empty() && named == Environment(underWine ? L"WINEPREFIX" : L"USERPROFILE");
}
