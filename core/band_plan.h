#pragma once
#include <cstdint>
#include <string>

// The amateur band that holds the frequency, or "Unknown".
std::wstring BandForFrequency(std::int64_t hz);
