// Value ranges and radial bins: how a range starts, widens and scales, how many bins a
// plane has, and how every sample is shared between its two nearest bins, worked by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "analysis/bins.h"

namespace {

TEST(ValueRange, StartsInsideOutAndWidens) {
    ValueRange r = value_range_fresh();
    EXPECT_EQ(r.minimum, DBL_MAX);
    EXPECT_EQ(r.maximum, 2.2250738585072014e-308);
    value_range_widen(r, 0.0);  // 0 is not above the smallest normal number
    EXPECT_EQ(r.minimum, 0.0);
    EXPECT_EQ(r.maximum, 2.2250738585072014e-308);
    value_range_widen(r, 5.0);
    value_range_widen(r, 3.0);
    EXPECT_EQ(r.minimum, 0.0);
    EXPECT_EQ(r.maximum, 5.0);
}

TEST(ValueRange, ScalesAndTreatsZeroWidthAsWidthOne) {
    EXPECT_EQ(value_range_scale({2, 10}, 6), 0.5);
    EXPECT_EQ(value_range_scale({2, 10}, 1), -0.125);
    EXPECT_EQ(value_range_scale({4, 4}, 4), 0.0);
    EXPECT_EQ(value_range_scale({4, 4}, 4.5), 0.5);
    EXPECT_EQ(value_range_scale(value_range_fresh(), 123.0), 1.0);  // untouched range
}

TEST(RadialBins, CountFromExactSumOfSquares) {
    // (sqrt(w^2 + h^2) * 2) truncated, worked out in whole numbers: the largest c with
    // c^2 <= 4 (w^2 + h^2). From a side of 46341 on the sum of squares no longer fits 32
    // bits (2 * 46341^2 = 4294976562); wrapped, it would give 192 bins there.
    struct Case {
        uint32_t width, height;
        uint64_t count;
    };
    const Case cases[] = {
        {1, 1, 2},               // 4 * 2 = 8: 2^2 <= 8 < 3^2
        {4, 4, 11},              // 128: 121 <= 128 < 144
        {256, 256, 724},         // 524288: 524176 <= 524288 < 525625
        {3, 1000, 2000},         // 4000036: 4000000 <= 4000036 < 4004001
        {46340, 46340, 131069},  // the last square side whose sum fits 32 bits
        {46341, 46341, 131072},  // the first whose sum does not
        {65535, 65536, 185362},
        {65536, 65536, 185363},  // 4 * 2^33 = 2^35: 185363^2 <= 2^35 < 185364^2
    };
    for (const Case& c : cases) {
        EXPECT_EQ(radial_bin_count(c.width, c.height), c.count) << c.width << " x " << c.height;
    }
}

TEST(RadialBins, SideFourSharesEverySampleBetweenNeighbouringBins) {
    // Offsets from the centre (2, 2) of a 4 x 4 plane, by squared distance: 0 (once),
    // 1 (4 times, p = 2), 2 (4 times, p = 2.83), 4 (twice, p = 4), 5 (4 times, p = 4.47)
    // and 8 (once, p = 5.66).
    const double f2 = 2 * std::sqrt(2.0) - 2, f5 = 2 * std::sqrt(5.0) - 4, f8 = 2 * std::sqrt(8.0) - 5;
    const double want[11] = {1, 0, 4 + 4 * (1 - f2), 4 * f2, 2 + 4 * (1 - f5), 4 * f5 + (1 - f8), f8, 0, 0,
                             0, 0};
    std::vector<double> re(16, 0.0), im(16, 0.0);
    re[0] = 3.0;  // the corner sample (0, 0): d = 2.83, b = 5, f = 0.66
    RadialBins bins{};
    ASSERT_TRUE(radial_bins_new(bins, radial_bin_count(4, 4)));
    ValueRange amp = value_range_fresh(), pow = value_range_fresh();
    spectrum_magnitudes(re.data(), im.data(), re.size());
    radial_accumulate(re.data(), im.data(), 4, 4, bins, amp, pow);
    double total = 0;
    for (int b = 0; b < 11; ++b) {
        EXPECT_NEAR(bins.weight[b], want[b], 1e-12) << "bin " << b;
        total += bins.weight[b];
    }
    EXPECT_NEAR(total, 16.0, 1e-12);
    EXPECT_EQ(bins.weight[1], 0.0);
    EXPECT_NEAR(bins.amp_sum[5], (1 - f8) * 3, 1e-12);
    EXPECT_NEAR(bins.amp_sum[6], f8 * 3, 1e-12);
    EXPECT_NEAR(bins.pow_sum[6], f8 * 9, 1e-12);
    EXPECT_EQ(amp.minimum, 0.0);
    EXPECT_EQ(amp.maximum, 3.0);
    EXPECT_EQ(pow.maximum, 9.0);
}

TEST(RadialBins, CentreThreeByThreeStaysOutOfTheRanges) {
    // Amplitudes 100 + index everywhere; the centre and its eight neighbours are larger
    // still but must not widen the ranges.
    const int n = 6, c = 3;
    std::vector<double> re(n * n), im(n * n, 0.0);
    double lo = 1e300, hi = 0;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const bool centre = std::abs(x - c) <= 1 && std::abs(y - c) <= 1;
            re[y * n + x] = centre ? 1000.0 + y * n + x : 100.0 + y * n + x;
            if (!centre) {
                lo = std::min(lo, re[y * n + x]);
                hi = std::max(hi, re[y * n + x]);
            }
        }
    }
    RadialBins bins{};
    ASSERT_TRUE(radial_bins_new(bins, radial_bin_count(n, n)));
    ValueRange amp = value_range_fresh(), pow = value_range_fresh();
    spectrum_magnitudes(re.data(), im.data(), re.size());
    radial_accumulate(re.data(), im.data(), n, n, bins, amp, pow);
    EXPECT_EQ(amp.minimum, lo);
    EXPECT_EQ(amp.maximum, hi);
    EXPECT_EQ(pow.minimum, lo * lo);
    EXPECT_EQ(pow.maximum, hi * hi);
    EXPECT_EQ(bins.weight[0], 1.0);
    EXPECT_EQ(bins.amp_sum[0], 1000.0 + c * n + c);
}

}  // namespace
