#include "sources/hrd/hrd_record.h"

#include <charconv>

#include "core/band_plan.h"

std::wstring FormatMegahertz(std::int64_t hertz) {
    if (hertz <= 0)
        return std::wstring();
    // to_chars formats like "%.3f" in the C locale, so a user's decimal comma never leaks in.
    char buffer[32];
    const std::to_chars_result result =
        std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(hertz) / 1000000.0,
                      std::chars_format::fixed, 3);
    if (result.ec != std::errc())
        return std::wstring();
    return std::wstring(buffer, result.ptr);
}

StationSnapshot BuildHrdRecord(std::int64_t hertz, const std::wstring& mode,
                               const std::wstring& myCall, const std::wstring& opCall,
                               const std::wstring& radio) {
    StationSnapshot record;
    if (hertz > 0) {
        record.freq = FormatMegahertz(hertz);
        record.band = BandForFrequency(hertz);
    }
    record.mode = mode;
    record.mycall = myCall;
    record.opcall = opCall;
    record.radio = radio;
    record.app = L"HRD";
    record.radios = 1;
    return record;
}
