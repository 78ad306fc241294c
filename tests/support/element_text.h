#pragma once
// The plain way to cut an element's text, the whole text searched for the patterns: the oracle
// that the parser's one-pass reader is held to.
#include <string>

inline std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

inline std::string ElementText(const std::string& text, const std::string& name) {
    const std::string lowered = LowerAscii(text);
    const std::string lowerName = LowerAscii(name);
    const std::size_t open = lowered.find("<" + lowerName);
    if (open == std::string::npos)
        return std::string();
    const std::size_t close = lowered.find('>', open);
    if (close == std::string::npos)
        return std::string();
    const std::size_t begin = close + 1;
    const std::size_t end = lowered.find("</" + lowerName + ">", begin);
    if (end == std::string::npos)
        return std::string();
    return text.substr(begin, end - begin);
}
