#include "sources/hrd/hrd_record.h"

#include "core/band_plan.h"
#include "core/numbers.h"

StationSnapshot BuildRigRecord(std::int64_t hertz, const std::wstring& mode,
                               const std::wstring& myCall, const std::wstring& opCall,
                               const std::wstring& radio, const wchar_t* app) {
    StationSnapshot record;
    if (hertz > 0) {
        FormatMegahertz(hertz, record.freq);
        record.band = BandForFrequency(hertz);
    }
    record.mode = mode;
    record.mycall = myCall;
    record.opcall = opCall;
    record.radio = radio;
    record.app = app;
    record.radios = 1;
    return record;
}
