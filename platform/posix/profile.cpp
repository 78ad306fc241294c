// Our own INI file code for POSIX, keeping the rules of the Windows private-profile functions
// that the settings store relies on. Files are UTF-8, with or without a BOM, or UTF-16LE with its
// BOM as the Windows half writes them; a write keeps the encoding. A new file is UTF-8, created
// with mode 0600 because it holds API keys; every write replaces the file atomically, so a crash
// never leaves half a file.
#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/ini_text.h"
#include "platform/posix/replace_file.h"
#include "platform/text.h"

namespace {

bool ReplaceFile(const std::wstring& path, const std::string& bytes) {
    const std::string target = WideToUtf8(path);
    struct stat info {};
    const bool existed = ::stat(target.c_str(), &info) == 0;
    if (existed && !S_ISREG(info.st_mode))
        return false;
    return ReplaceWholeFile(target, bytes, existed ? (info.st_mode & 07777) : 0600, true);
}

enum class Encoding { Utf8, Utf8Bom, Utf16Le };

struct ProfileText {
    ProfileFileState state = ProfileFileState::Missing;
    Encoding encoding = Encoding::Utf8;
    std::string utf8; // without its BOM
};

bool StartsWith(const std::string& bytes, const char* prefix) {
    return bytes.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Reads no more than kProfileFileMax bytes, however large the file: a load must never run out of
// memory over a file that only sits where the settings belong.
ProfileText ReadProfileText(const std::wstring& path) {
    ProfileText text;
    // O_NONBLOCK: a FIFO there must not hold the start-up (regular files ignore the flag).
    const int fd = ::open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        text.state = errno == ENOENT || errno == ENOTDIR ? ProfileFileState::Missing
                                                         : ProfileFileState::Unreadable;
        return text;
    }
    std::string bytes;
    struct stat info {};
    text.state = ProfileFileState::Read;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        text.state = ProfileFileState::Unreadable;
    else if (static_cast<unsigned long long>(info.st_size) > kProfileFileMax)
        text.state = ProfileFileState::TooLarge;
    // On the heap: a start on a small stack (ulimit -s 64) must not overflow it.
    std::vector<char> buffer(65536);
    while (text.state == ProfileFileState::Read) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            text.state = ProfileFileState::Unreadable;
        if (n <= 0)
            break;
        bytes.append(buffer.data(), static_cast<std::size_t>(n));
        if (bytes.size() > kProfileFileMax) // it grew since the look at its size
            text.state = ProfileFileState::TooLarge;
    }
    ::close(fd);
    if (text.state != ProfileFileState::Read)
        return text;
    if (StartsWith(bytes, "\xEF\xBB\xBF")) {
        text.encoding = Encoding::Utf8Bom;
        text.utf8 = bytes.substr(3);
    } else if (StartsWith(bytes, "\xFF\xFE")) {
        text.encoding = Encoding::Utf16Le;
        text.utf8 =
            WideToUtf8(Utf16LeToWide(bytes.data() + 2, (bytes.size() - 2) & ~std::size_t(1)));
    } else if (!StartsWith(bytes, "\xFE\xFF")) { // UTF-16BE is no encoding of ours
        text.utf8 = std::move(bytes);
    } else {
        text.state = ProfileFileState::NotText;
    }
    // A NUL byte: UTF-16 without its BOM, UTF-32 or no text at all.
    if (text.utf8.find('\0') != std::string::npos)
        text.state = ProfileFileState::NotText;
    return text;
}

std::string Encoded(const std::string& utf8, Encoding encoding) {
    switch (encoding) {
    case Encoding::Utf8Bom:
        return "\xEF\xBB\xBF" + utf8;
    case Encoding::Utf16Le:
        return "\xFF\xFE" + WideToUtf16Le(Utf8ToWide(utf8));
    default:
        return utf8;
    }
}

} // namespace

ProfileFile ProfileOpen(const std::wstring& path) {
    ProfileFile file;
    file.path = path;
    ProfileText text = ReadProfileText(path);
    file.state = text.state;
    if (text.state == ProfileFileState::Read)
        file.keys = IniParse(text.utf8);
    return file;
}

std::wstring ProfileGetString(const ProfileFile& file, const std::wstring& section,
                              const std::wstring& key, const std::wstring& fallback) {
    const auto found = file.keys.find(IniKeyName(WideToUtf8(section), WideToUtf8(key)));
    std::wstring value = found == file.keys.end() ? fallback : Utf8ToWide(found->second);
    if (value.size() > kProfileValueMax)
        value.resize(kProfileValueMax);
    return value;
}

int ProfileGetInt(const ProfileFile& file, const std::wstring& section, const std::wstring& key,
                  int fallback) {
    const std::wstring text = ProfileGetString(file, section, key, L"");
    if (text.empty())
        return fallback;
    // The leading decimal number as the Windows half reads it: strtoll in the C locale skips the
    // same blanks, takes a sign and saturates at the 64-bit limits.
    return static_cast<int>(std::clamp<long long>(
        std::strtoll(WideToUtf8(text).c_str(), nullptr, 10), INT_MIN, INT_MAX));
}

bool ProfileWriteString(const std::wstring& path, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value) {
    const ProfileText text = ReadProfileText(path);
    if (text.state != ProfileFileState::Read && text.state != ProfileFileState::Missing)
        return false; // there, but not ours to rewrite
    return ReplaceFile(
        path, Encoded(IniSet(text.utf8, WideToUtf8(section), WideToUtf8(key), WideToUtf8(value)),
                      text.encoding));
}
