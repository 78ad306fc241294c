// INI text as the Windows private-profile functions read and write it: section and key names
// without regard to case, blanks around names and values ignored, the first section and key of a
// name win, a write replaces the value in place and leaves every other line as it was.
#include "platform/posix/ini_text.h"

#include <unordered_set>
#include <vector>

namespace {

struct IniLine {
    std::string text;   // without its line end
    std::string ending; // "\r\n", "\n" or "" for a last line without one
};

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

std::string StripQuotes(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::string Lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

std::string IniKeyName(const std::string& section, const std::string& key) {
    return Lowered(section + "\n" + key);
}

// The same rules as Locate, for all keys at once, line by line without keeping the lines.
std::unordered_map<std::string, std::string> IniParse(const std::string& bytes) {
    std::unordered_map<std::string, std::string> keys;
    std::unordered_set<std::string> sectionsSeen;
    std::string section, line, name, value;
    bool inSection = false; // under the first header of its name
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        line.assign(bytes, start, end - start);
        start = end + 1;
        if (SectionHeader(line, name)) {
            section = IniKeyName(name, "");
            inSection = sectionsSeen.insert(section).second;
        } else if (inSection && KeyLine(line, name, value)) {
            keys.emplace(section + Lowered(name), StripQuotes(value));
        }
    }
    return keys;
}

std::string IniSet(const std::string& bytes, const std::string& section, const std::string& key,
                   const std::string& value) {
    std::vector<IniLine> lines = SplitLines(bytes);
    std::string eol = "\n";
    for (const IniLine& line : lines) {
        if (!line.ending.empty()) {
            eol = line.ending;
            break;
        }
    }
    // A line break inside a value would smuggle lines of its own into the file.
    std::string flat = value;
    for (char& c : flat)
        if (c == '\r' || c == '\n')
            c = ' ';
    const std::string keyText = key + "=" + flat;
    const KeyPosition at = Locate(lines, section, key);
    if (at.keyFound) {
        lines[at.keyLine].text = keyText;
    } else {
        if (!lines.empty() && lines.back().ending.empty())
            lines.back().ending = eol;
        if (at.sectionFound) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at.lastKeyLine) + 1,
                         IniLine{keyText, eol});
        } else {
            lines.push_back(IniLine{"[" + section + "]", eol});
            lines.push_back(IniLine{keyText, eol});
        }
    }
    std::string out;
    out.reserve(bytes.size() + keyText.size() + 16);
    for (const IniLine& line : lines)
        out += line.text + line.ending;
    return out;
}
