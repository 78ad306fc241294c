#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "core/band_plan.h"

TEST(BandPlan, EdgesBelongToTheirBandAndGapsAreUnknown) {
    struct Case {
        std::int64_t hz;
        const wchar_t* band;
    };
    const Case cases[] = {
        {1799999, L"Unknown"},
        {1800000, L"160m"},
        {2000000, L"160m"},
        {2000001, L"Unknown"},
        {3573000, L"80m"},
        {5357000, L"60m"},
        {6000000, L"Unknown"},
        {7000000, L"40m"},
        {10136000, L"30m"},
        {14074000, L"20m"},
        {14350000, L"20m"},
        {14350001, L"Unknown"},
        {18100000, L"17m"},
        {21025000, L"15m"},
        {24915000, L"12m"},
        {29700000, L"10m"},
        {50313000, L"6m"},
        {70200000, L"4m"},
        {144174000, L"2m"},
        {223500000, L"1.25m"},
        {432100000, L"70cm"},
        {903000000, L"33cm"},
        {1296000000, L"23cm"},
        {2320000000LL, L"13cm"},
        {3400000000LL, L"9cm"},
        {5760000000LL, L"6cm"},
        {10368000000LL, L"3cm"},
        {10500000000LL, L"3cm"},
        {10500000001LL, L"Unknown"},
        // 10,368 MHz truncated to 32 bits would land in no band; 64-bit values must not wrap.
        {10368000000LL + (std::int64_t(1) << 32), L"Unknown"},
        {0, L"Unknown"},
        {-14074000, L"Unknown"},
        {std::numeric_limits<std::int64_t>::min(), L"Unknown"},
        {std::numeric_limits<std::int64_t>::max(), L"Unknown"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BandForFrequency(c.hz), c.band) << c.hz;
}
