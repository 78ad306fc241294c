// Any bytes as a form value, and any 16-bit units as a wide text (lone surrogates galore): the
// form holds only unreserved characters, "+" and "%XX" with upper-case digits, and decodes back to
// the exact bytes; the UTF-8 is valid whatever the wide text held.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/text.h"
#include "posting/post_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size), form = FormEncode(bytes);
    const std::string plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    std::string decoded;
    for (std::size_t i = 0; i < form.size(); ++i)
        if (form[i] == '+' || plain.find(form[i]) != std::string::npos) {
            decoded += form[i] == '+' ? ' ' : form[i];
        } else if (form[i] == '%' && i + 2 < form.size() &&
                   form.find_first_not_of("0123456789ABCDEF", i + 1) >= i + 3) {
            decoded += static_cast<char>(std::stoi(form.substr(i + 1, 2), nullptr, 16));
            i += 2;
            if (decoded.back() == ' ' || plain.find(decoded.back()) != std::string::npos)
                std::abort(); // escaped without need
        } else {
            std::abort();
        }
    std::wstring wide;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        wide += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    const std::string utf8 = ToUtf8(wide);
    if (decoded != bytes || WideToUtf8(Utf8ToWide(utf8)) != utf8 || utf8.empty() != wide.empty())
        std::abort();
    return 0;
}
