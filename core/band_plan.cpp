#include "core/band_plan.h"

namespace {

struct BandRow {
    std::int64_t lowerHz;
    std::int64_t upperHz;
    const wchar_t* name;
};

// Both edges belong to the band; several lie beyond 2^32 Hz.
constexpr BandRow kBandPlan[] = {
    {1800000LL, 2000000LL, L"160m"},        {3500000LL, 4000000LL, L"80m"},
    {5200000LL, 5400000LL, L"60m"},         {7000000LL, 7300000LL, L"40m"},
    {10100000LL, 10200000LL, L"30m"},       {14000000LL, 14350000LL, L"20m"},
    {18068000LL, 18168000LL, L"17m"},       {21000000LL, 21450000LL, L"15m"},
    {24890000LL, 24990000LL, L"12m"},       {28000000LL, 29700000LL, L"10m"},
    {50000000LL, 54000000LL, L"6m"},        {70000000LL, 70500000LL, L"4m"},
    {144000000LL, 148000000LL, L"2m"},      {222000000LL, 225000000LL, L"1.25m"},
    {420000000LL, 450000000LL, L"70cm"},    {902000000LL, 928000000LL, L"33cm"},
    {1240000000LL, 1300000000LL, L"23cm"},  {2300000000LL, 2450000000LL, L"13cm"},
    {3300000000LL, 3500000000LL, L"9cm"},   {5650000000LL, 5850000000LL, L"6cm"},
    {10000000000LL, 10500000000LL, L"3cm"},
};

} // namespace

std::wstring BandForFrequency(std::int64_t hz) {
    for (const BandRow& row : kBandPlan) {
        if (row.lowerHz <= hz && hz <= row.upperHz)
            return row.name;
    }
    return L"Unknown";
}
