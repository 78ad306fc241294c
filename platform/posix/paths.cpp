#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/data_folder.h"
#include "platform/text.h"

const wchar_t kPathSeparator = L'/';

namespace {

// Creates the folder and any missing parents; private to the user, as it holds API keys.
bool MakeFolders(const std::string& folder) {
    std::string partial;
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('/', at + 1);
        partial = folder.substr(0, at);
        if (partial.empty())
            continue;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::wstring DefaultDataFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return Utf8ToWide(std::string(xdg) + "/Corvane");
    const char* home = std::getenv("HOME");
    if (!home || !home[0]) {
        const passwd* entry = ::getpwuid(::getuid());
        home = entry ? entry->pw_dir : nullptr;
    }
    if (!home || !home[0])
        return std::wstring();
    return Utf8ToWide(std::string(home) + "/.config/Corvane");
}

std::wstring MadeDataFolder(const std::wstring& wideFolder) {
    std::string folder = WideToUtf8(wideFolder);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    MakeFolders(folder); // a folder we cannot create still names where the file would be
    return Utf8ToWide(folder);
}
