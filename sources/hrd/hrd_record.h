#pragma once
// What one poll of a rig-control program (HRD, rigctld) publishes: a whole station record, so
// values that other sources had put there are cleared. Only a frequency above 0 Hz is shown,
// with its band.
#include <cstdint>
#include <string>

#include "core/station_snapshot.h"

StationSnapshot BuildRigRecord(std::int64_t hertz, const std::wstring& mode,
                               const std::wstring& myCall, const std::wstring& opCall,
                               const std::wstring& radio, const wchar_t* app);
