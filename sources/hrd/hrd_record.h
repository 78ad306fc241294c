#pragma once
// What one HRD poll publishes: a whole station record, so values that other sources had put
// there are cleared. Only a frequency above 0 Hz is shown, with its band.
#include <cstdint>
#include <string>

#include "core/station_snapshot.h"

StationSnapshot BuildHrdRecord(std::int64_t hertz, const std::wstring& mode,
                               const std::wstring& myCall, const std::wstring& opCall,
                               const std::wstring& radio);
