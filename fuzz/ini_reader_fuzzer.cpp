// Any settings file at all: reading never fails badly, and a write followed by a read gives the
// value back, leaving a file that a second identical write does not change.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    IniParse(bytes);
    // A value as the settings store writes them: taken from the input, made of plain characters.
    std::string written;
    for (std::size_t i = 0; i < size && written.size() < 40; ++i) {
        const char c = static_cast<char>(data[i]);
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '.' || c == ':')
            written += c;
    }
    const std::string once = IniSet(bytes, "udp", "port", written);
    const auto keys = IniParse(once);
    const auto read = keys.find(IniKeyName("udp", "port"));
    if (read == keys.end() || read->second != written ||
        IniSet(once, "udp", "port", written) != once)
        std::abort();
    return 0;
}
