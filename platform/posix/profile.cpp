// Our own INI file code, keeping the rules of the Windows private-profile functions that the
// settings store relies on. Files are UTF-8; a new file is created with mode 0600 because it
// holds API keys; every write replaces the file atomically so a crash never leaves half a file.
#include "platform/profile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

namespace {

struct IniLine {
    std::string text;   // without its line end
    std::string ending; // "\r\n", "\n" or "" for a last line without one
};

std::string NarrowPath(const std::wstring& path) {
    return WideToUtf8(path);
}

std::vector<IniLine> SplitLines(const std::string& bytes) {
    std::vector<IniLine> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        IniLine line;
        if (end == std::string::npos) {
            line.text = bytes.substr(start);
            start = bytes.size();
        } else {
            line.text = bytes.substr(start, end - start);
            line.ending = "\n";
            start = end + 1;
        }
        if (!line.ending.empty() && !line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.ending = "\r\n";
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// "[name]" gives true and the name.
bool SectionHeader(const std::string& line, std::string& name) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] != '[')
        return false;
    const std::size_t close = trimmed.find(']');
    name = Trim(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// "key=value" gives true, the key and the raw value; comments are no keys.
bool KeyLine(const std::string& line, std::string& key, std::string& value) {
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#')
        return false;
    const std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos)
        return false;
    key = Trim(trimmed.substr(0, equals));
    value = Trim(trimmed.substr(equals + 1));
    return true;
}

struct KeyPosition {
    bool sectionFound = false;
    std::size_t sectionLine = 0; // the header
    std::size_t lastKeyLine = 0; // the section's last key line, or its header
    bool keyFound = false;
    std::size_t keyLine = 0;
    std::string value;
};

KeyPosition Locate(const std::vector<IniLine>& lines, const std::string& section,
                   const std::string& key) {
    KeyPosition at;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string name, value;
        if (SectionHeader(lines[i].text, name)) {
            if (at.sectionFound)
                break; // the first section of that name is the one that counts
            inSection = SameName(name, section);
            if (inSection) {
                at.sectionFound = true;
                at.sectionLine = at.lastKeyLine = i;
            }
            continue;
        }
        if (!inSection || !KeyLine(lines[i].text, name, value))
            continue;
        at.lastKeyLine = i;
        if (!at.keyFound && SameName(name, key)) {
            at.keyFound = true;
            at.keyLine = i;
            at.value = value;
        }
    }
    return at;
}

bool ReadLines(const std::wstring& path, std::vector<IniLine>& lines) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes))
        return false;
    lines = SplitLines(bytes);
    return true;
}

std::string StripQuotes(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool ReplaceFile(const std::wstring& path, const std::string& bytes) {
    const std::string target = NarrowPath(path);
    struct stat info {};
    const bool existed = ::stat(target.c_str(), &info) == 0;
    if (existed && !S_ISREG(info.st_mode))
        return false;
    const mode_t mode = existed ? (info.st_mode & 07777) : 0600;
    const std::string temporary = target + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
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
    std::vector<IniLine> lines;
    std::wstring value = fallback;
    if (ReadLines(path, lines)) {
        const KeyPosition at = Locate(lines, WideToUtf8(section), WideToUtf8(key));
        if (at.keyFound)
            value = Utf8ToWide(StripQuotes(at.value));
    }
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
    std::vector<IniLine> lines;
    if (!ReadLines(path, lines) && PathExists(path))
        return false; // there, but not ours to read: never replace it
    std::string eol = "\n";
    for (const IniLine& line : lines) {
        if (!line.ending.empty()) {
            eol = line.ending;
            break;
        }
    }
    const std::string narrowSection = WideToUtf8(section);
    const std::string narrowKey = WideToUtf8(key);
    const std::string keyText = narrowKey + "=" + WideToUtf8(value);
    const KeyPosition at = Locate(lines, narrowSection, narrowKey);
    if (at.keyFound) {
        lines[at.keyLine].text = keyText;
    } else {
        if (!lines.empty() && lines.back().ending.empty())
            lines.back().ending = eol;
        if (at.sectionFound) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at.lastKeyLine) + 1,
                         IniLine{keyText, eol});
        } else {
            lines.push_back(IniLine{"[" + narrowSection + "]", eol});
            lines.push_back(IniLine{keyText, eol});
        }
    }
    std::string bytes;
    for (const IniLine& line : lines)
        bytes += line.text + line.ending;
    return ReplaceFile(path, bytes);
}
