// Our own INI file code for POSIX, keeping the rules of the Windows private-profile functions
// that the settings store relies on. Files are UTF-8; a new file is created with mode 0600
// because it holds API keys; every write replaces the file atomically, so a crash never leaves
// half a file.
#include "platform/profile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/posix/ini_text.h"
#include "platform/text.h"

namespace {

bool ReplaceFile(const std::wstring& path, const std::string& bytes) {
    const std::string target = WideToUtf8(path);
    struct stat info {};
    const bool existed = ::stat(target.c_str(), &info) == 0;
    if (existed && !S_ISREG(info.st_mode))
        return false;
    const mode_t mode = existed ? (info.st_mode & 07777) : 0600;
    const std::string temporary = target + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    ::fchmod(fd, mode);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool complete = written == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!complete || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

std::wstring ProfileReadString(const std::wstring& path, const std::wstring& section,
                               const std::wstring& key, const std::wstring& fallback) {
    std::string bytes;
    std::string found;
    std::wstring value = fallback;
    if (ReadWholeFile(path, bytes) && IniFind(bytes, WideToUtf8(section), WideToUtf8(key), found))
        value = Utf8ToWide(found);
    if (value.size() > kProfileValueMax)
        value.resize(kProfileValueMax);
    return value;
}

int ProfileReadInt(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                   int fallback) {
    const std::wstring text = ProfileReadString(path, section, key, L"");
    if (text.empty())
        return fallback;
    std::size_t at = 0;
    while (at < text.size() && (text[at] == L' ' || text[at] == L'\t'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-'))
        negative = text[at++] == L'-';
    long long value = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
        if (value <= INT_MAX) // beyond that it only saturates
            value = value * 10 + (text[at] - L'0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

bool ProfileWriteString(const std::wstring& path, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes) && PathExists(path))
        return false; // there, but not ours to read: never replace it
    return ReplaceFile(path,
                       IniSet(bytes, WideToUtf8(section), WideToUtf8(key), WideToUtf8(value)));
}
