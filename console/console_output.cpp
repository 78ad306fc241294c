#include "console/console_output.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/text.h"

namespace {
std::mutex outputMutex;
}

std::string PrintableText(const std::wstring& text) {
    std::wstring clean = text;
    for (wchar_t& c : clean) {
        const unsigned long code = static_cast<unsigned long>(c);
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            c = L' ';
    }
    return WideToUtf8(clean);
}

void PrintLine(const std::string& text) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "";
    if (localtime_r(&now, &local))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    const std::string line = std::string(stamp) + "  " + text + "\n";
    std::lock_guard<std::mutex> lock(outputMutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout); // a closed reader only makes this fail; SIGPIPE is ignored
}

void PrintStatus(const char* page, const std::wstring& text) {
    PrintLine(std::string(page) + ": " + PrintableText(text));
}
