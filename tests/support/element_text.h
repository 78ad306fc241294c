#pragma once
// The plain way to cut an element's text, the whole text searched for the patterns: the oracle
// that the parser's one-pass reader is held to.
#include <string>

inline std::string LowerAscii(std::string text) {
    for (char& c : text)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
}

inline std::string ElementText(const std::string& text, const std::string& name) {
    const std::string lowered = LowerAscii(text), lowerName = LowerAscii(name);
    const std::size_t close = lowered.find('>', lowered.find("<" + lowerName)); // npos: no element
    const std::size_t end =
        close == std::string::npos ? close : lowered.find("</" + lowerName + ">", close + 1);
    return end == std::string::npos ? std::string() : text.substr(close + 1, end - close - 1);
}
