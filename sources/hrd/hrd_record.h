#pragma once
// What one HRD poll publishes: a whole station record, so values that other sources had put
// there are cleared.
#include <cstdint>
#include <string>

#include "core/station_snapshot.h"

// Megahertz with three decimals and a full stop, whatever the locale; empty for 0 Hz or less.
std::wstring FormatMegahertz(std::int64_t hertz);

StationSnapshot BuildHrdRecord(std::int64_t hertz, const std::wstring& mode,
                               const std::wstring& myCall, const std::wstring& opCall,
                               const std::wstring& radio);
