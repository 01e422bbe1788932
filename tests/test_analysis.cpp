#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "analysis/bins.h"
#include "analysis/draw.h"
#include "app/profile.h"
#include "analysis/ramp.h"

namespace {

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

TEST(RampColor, WorkedValuesAndSegmentStarts) {
    struct Case {
        double x;
        uint32_t color;
    };
    const Case cases[] = {
        {0.0, rgb(0, 0, 0)},         {0.25, rgb(0, 127, 255)},      {0.5, rgb(0, 255, 0)},
        {1.0, rgb(255, 255, 255)},   {1.0 / 6, rgb(0, 0, 255)},     {4.0 / 6, rgb(255, 255, 0)},
        // Middle of each segment: t = 0.5, v = 127, u = 128.
        {0.5 / 6, rgb(0, 0, 127)},   {2.5 / 6, rgb(0, 255, 128)},   {3.5 / 6, rgb(127, 255, 0)},
        {4.5 / 6, rgb(255, 128, 0)}, {5.5 / 6, rgb(255, 127, 127)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ramp_color(c.x), c.color) << "x = " << c.x;
    }
}

TEST(RampColor, HasNoJumpsAtSegmentBoundaries) {
    for (int seg = 1; seg <= 5; ++seg) {
        const double at = seg / 6.0;
        const uint32_t below = ramp_color(std::nextafter(at, 0.0) - 1e-9);
        const uint32_t above = ramp_color(std::nextafter(at, 1.0) + 1e-9);
        for (int shift : {0, 8, 16}) {
            const int a = static_cast<int>(below >> shift & 255);
            const int b = static_cast<int>(above >> shift & 255);
            EXPECT_LE(std::abs(a - b), 1) << "segment " << seg << " channel shift " << shift;
        }
    }
}

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
    EXPECT_EQ(radial_bin_count(4, 4), 11u);
    EXPECT_EQ(radial_bin_count(256, 256), 724u);
    EXPECT_EQ(radial_bin_count(1, 1), 2u);
    // 65536^2 * 2 does not fit in 32 bits; the count must still be 2 * sqrt(2) * 65536.
    EXPECT_EQ(radial_bin_count(65536, 65536), static_cast<uint64_t>(std::sqrt(2.0 * 65536 * 65536) * 2));
}

TEST(RadialBins, SideFourSharesEverySampleBetweenNeighbouringBins) {
    // Offsets from the centre (2, 2) of a 4 x 4 plane, by squared distance: 0 (once),
    // 1 (4 times, p = 2), 2 (4 times, p = 2.83), 4 (twice, p = 4), 5 (4 times, p = 4.47)
    // and 8 (once, p = 5.66).
    const double f2 = 2 * std::sqrt(2.0) - 2, f5 = 2 * std::sqrt(5.0) - 4, f8 = 2 * std::sqrt(8.0) - 5;
    const double want[11] = {1, 0, 4 + 4 * (1 - f2), 4 * f2, 2 + 4 * (1 - f5), 4 * f5 + (1 - f8), f8,
                             0, 0, 0, 0};
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

struct Drawn {
    uint8_t gray;
    uint32_t color;
};

// Draws one pixel of amplitude `value` with both drawings.
Drawn draw_one(double value, ValueRange range) {
    ImagePtr image = image_new(1, 1);
    double re = value, im = 0.0;
    spectrum_magnitudes(&re, &im, 1);
    draw_gray(*image, &re, &im, kAmplitude, range);
    const uint8_t* p = image->pixels.get();
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
    const uint8_t gray = p[0];
    draw_ramp(*image, &re, &im, kAmplitude, range);
    return {gray, rgb(p[2], p[1], p[0])};
}

TEST(DrawSpectrum, ScalesByTheRangeWithTheEdgeRules) {
    struct Case {
        double value;
        uint8_t gray;
        uint32_t color;
    };
    const ValueRange a{2, 10};
    const Case cases[] = {
        {6, 127, rgb(0, 255, 0)},       {10, 255, rgb(255, 255, 255)}, {2, 0, rgb(0, 0, 0)},
        {50, 255, rgb(255, 255, 255)},  {1.99, 0, rgb(0, 0, 0)},        {1.9, 255, rgb(0, 0, 0)},
        {1e300, 255, rgb(255, 255, 255)},  // its power overflows to infinity
    };
    for (const Case& c : cases) {
        const Drawn d = draw_one(c.value, a);
        EXPECT_EQ(d.gray, c.gray) << "value " << c.value;
        EXPECT_EQ(d.color, c.color) << "value " << c.value;
    }
}

TEST(DrawSpectrum, ZeroWidthAndUntouchedRanges) {
    // A range of zero width maps its own value to 0 and values above it as if width 1.
    EXPECT_EQ(draw_one(4, {4, 4}).gray, 0);
    EXPECT_EQ(draw_one(4, {4, 4}).color, rgb(0, 0, 0));
    EXPECT_EQ(draw_one(4.5, {4, 4}).gray, 127);
    EXPECT_EQ(draw_one(5, {4, 4}).color, rgb(255, 255, 255));
    // An untouched range scales everything to exactly 1: white.
    EXPECT_EQ(draw_one(0, value_range_fresh()).gray, 255);
    EXPECT_EQ(draw_one(77, value_range_fresh()).color, rgb(255, 255, 255));
}

TEST(DrawSpectrum, PowerUsesItsOwnRange) {
    ImagePtr image = image_new(2, 1);
    double re[2] = {3, 4}, im[2] = {4, 0};  // amplitudes 5 and 4, powers 25 and 16
    spectrum_magnitudes(re, im, 2);
    draw_gray(*image, re, im, kPower, {16, 32});
    EXPECT_EQ(image->pixels[0], 143);  // (25 - 16) / 16 * 255 = 143.4
    EXPECT_EQ(image->pixels[3], 0);
    draw_gray(*image, re, im, kAmplitude, {4, 8});
    EXPECT_EQ(image->pixels[0], 63);  // (5 - 4) / 4 * 255 = 63.75
}

// What profile_write_rows writes for the given bins (weights and sums) and half side.
std::string profile_rows(RadialBins& bins, uint64_t half) {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(profile_write_rows(file, bins, half), 0);
    std::rewind(file);
    std::string text;
    for (int ch; (ch = std::fgetc(file)) != EOF;) text += static_cast<char>(ch);
    std::fclose(file);
    return text;
}

TEST(Profile, RowsAreBinsWithWeightUpToHalfEachColumnRescaled) {
    struct Bin {
        double weight, amp_sum, pow_sum;
    };
    struct Case {
        const char* what;
        std::vector<Bin> bins;
        uint64_t half;
        std::string rows;
    };
    const Case cases[] = {
        // Means (2, 4), (6, 36), (4, 16): amplitude over [2, 6], power over [4, 36]. Bin 0
        // is never written, bin 1 has no weight, bin 5 lies beyond half.
        {"three rows",
         {{1, 9, 81}, {0, 0, 0}, {2, 4, 8}, {1, 6, 36}, {4, 16, 64}, {3, 300, 3000}},
         4,
         "2,0.000000e+00,0.000000e+00\n3,1.000000e+00,1.000000e+00\n4,5.000000e-01,3.750000e-01\n"},
        // A bin without weight between two rows is left out, not written as zero.
        {"gap", {{1, 1, 1}, {0, 0, 0}, {1, 1, 1}, {0, 0, 0}, {2, 6, 18}}, 4,
         "2,0.000000e+00,0.000000e+00\n4,1.000000e+00,1.000000e+00\n"},
        // Equal amplitude means: that column reads 0, the power column still spans 0 to 1.
        {"equal means", {{1, 0, 0}, {0, 0, 0}, {1, 3, 5}, {2, 6, 30}}, 3,
         "2,0.000000e+00,0.000000e+00\n3,0.000000e+00,1.000000e+00\n"},
        // A half beyond the last bin stops at the last bin.
        {"half past the bins", {{1, 0, 0}, {0, 0, 0}, {1, 1, 2}, {1, 3, 4}}, 10,
         "2,0.000000e+00,0.000000e+00\n3,1.000000e+00,1.000000e+00\n"},
        {"no rows below bin 2", {{1, 5, 5}, {0, 0, 0}, {1, 1, 1}}, 1, ""},
    };
    for (const Case& c : cases) {
        RadialBins bins{};
        ASSERT_TRUE(radial_bins_new(bins, c.bins.size()));
        for (std::size_t b = 0; b < c.bins.size(); ++b) {
            bins.weight[b] = c.bins[b].weight;
            bins.amp_sum[b] = c.bins[b].amp_sum;
            bins.pow_sum[b] = c.bins[b].pow_sum;
        }
        EXPECT_EQ(profile_rows(bins, c.half), c.rows) << c.what;
        // The sums of the bins written have become their means; bin 0 is left alone.
        for (std::size_t b = 1; b < c.bins.size() && b <= c.half; ++b) {
            if (c.bins[b].weight == 0) continue;
            EXPECT_EQ(bins.amp_sum[b], c.bins[b].amp_sum / c.bins[b].weight) << c.what << " bin " << b;
            EXPECT_EQ(bins.pow_sum[b], c.bins[b].pow_sum / c.bins[b].weight) << c.what << " bin " << b;
        }
        EXPECT_EQ(bins.amp_sum[0], c.bins[0].amp_sum) << c.what;
    }
}

}  // namespace
