// The power-law fit of a psd profile: the slope of surfaces made with a known one
// (surfaces.h) recovered in pixels and in metres, with and without levelling and window;
// a band of fewer than three rows refused; 16-bit heights keeping the fine scales that
// 8 bits flatten.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "analysis/fit.h"
#include "image/heights.h"
#include "tests/surfaces.h"
#include "tests/test_util.h"

namespace {

TEST(PsdFit, RecoversTheSlopeOfPeriodicSurfaces) {
    const int n = 128;
    for (const double beta : {2.0, 3.0, 4.0}) {
        const Grid z = power_law_surface(n, beta, 100 + uint32_t(beta));
        // Removing a plane from a periodic surface breaks its periodicity (the plane's
        // sawtooth leaks like a cropped scan), so the plane goes with a window.
        for (const Setting& s : {Setting{kLevelNone, kNone, 0}, Setting{kLevelMean, kNone, 0.01},
                                 Setting{kLevelMean, kHann, 0}, Setting{kLevelPlane, kHann, 0.01}}) {
            const Measured m = measure(z, n, s.level, s.window, s.length);
            // 4 to 64 cycles per side, in cycles per metre with a length.
            const double unit = s.length > 0 ? s.length : 1;
            PsdFit fit{};
            ASSERT_EQ(psd_fit(m.spectrum.bins, m.psd, m.grid, s.window, s.length, 4 / unit, 64 / unit, fit),
                      0);
            EXPECT_NEAR(fit.slope, -beta, 0.05) << "beta " << beta << " " << describe(s, n);
            EXPECT_NEAR(fit.hurst, beta / 2 - 1, 0.025) << "beta " << beta;
            EXPECT_EQ(fit.rows, 121u) << "bins 8 to 128, both ends included";
            // The error a random surface of this side scatters by (0.065 under Hann, 0.035
            // without; StatedErrorMatchesTheScatterOfIndependentMaps checks it), though
            // these surfaces' rings hold the power law exactly.
            EXPECT_GT(fit.slope_error, 0.02);
            EXPECT_LT(fit.slope_error, 0.1);
            // The line passes through the profile: at 16 cycles per side within 20%.
            // Without a window every ring holds the power law itself, and the fitted line
            // passes through it: at 16 cycles per side within 5%.
            if (s.window.kind == kWindowNone) {
                EXPECT_NEAR(fit.intercept * std::pow(16 / unit, fit.slope) / m.psd.mean[32], 1, 0.05)
                    << "beta " << beta << " " << describe(s, n);
            }
        }
    }
}

// The slope's stated error against the scatter of the slopes it states it for: maps that
// differ only by chance, each fitted over one band, must scatter by about the error they
// state (each case: the mean stated error over the standard deviation of the slopes
// within 0.6 to 1.6; 32 maps pin the deviation to about 13%). Gaussian self-affine
// surfaces are cropped, 256 x 256, four from each of eight periodic ones of side 512, and
// measured as scans are (plane removed, Hann window); white noise, with no window, tests
// the count of a ring's modes alone. The residuals' error of a plain least-squares fit is
// 0.35 to 0.72 of the scatter here, and a model without the window's correlation 0.54.
TEST(PsdFit, StatedErrorMatchesTheScatterOfIndependentMaps) {
    constexpr int kBig = 512;
    constexpr int kSide = 256;
    std::vector<Grid> crops;
    for (uint32_t seed = 31; seed < 39; ++seed) {
        const Grid z = power_law_surface(kBig, 3, seed, true);
        for (int top = 0; top < kBig; top += kSide) {
            for (int left = 0; left < kBig; left += kSide) {
                Grid crop(std::size_t(kSide) * kSide);
                for (int r = 0; r < kSide; ++r)
                    for (int c = 0; c < kSide; ++c)
                        crop[std::size_t(r) * kSide + c] = z[std::size_t(top + r) * kBig + left + c];
                crops.push_back(crop);
            }
        }
    }
    std::vector<Grid> noise;
    for (uint32_t seed = 0; seed < 32; ++seed) noise.push_back(white_noise(64, 1, 500 + seed));
    struct Case {
        const std::vector<Grid>* maps;
        int side;
        LevelKind level;
        Window window;
        double from, to;  // cycles per side
    };
    const Case cases[] = {
        {&crops, kSide, kLevelPlane, kHann, 2, 32},  {&crops, kSide, kLevelPlane, kHann, 4, 64},
        {&crops, kSide, kLevelPlane, kHann, 8, 100}, {&noise, 64, kLevelMean, kNone, 2, 8},
        {&noise, 64, kLevelMean, kNone, 4, 30},
    };
    for (const Case& c : cases) {
        double sum = 0, sum2 = 0, stated = 0;
        for (const Grid& z : *c.maps) {
            const Measured m = measure(z, c.side, c.level, c.window, 0);
            PsdFit fit{};
            ASSERT_EQ(psd_fit(m.spectrum.bins, m.psd, m.grid, c.window, 0, c.from, c.to, fit), 0);
            sum += fit.slope;
            sum2 += fit.slope * fit.slope;
            stated += fit.slope_error;
        }
        const double n = double(c.maps->size());
        const double scatter = std::sqrt((sum2 - sum * sum / n) / (n - 1));
        const double ratio = stated / n / scatter;
        std::printf("side %d window %d band %g:%g: scatter %.4f, stated %.4f, ratio %.3f\n", c.side,
                    int(c.window.kind), c.from, c.to, scatter, stated / n, ratio);
        EXPECT_GT(ratio, 0.6) << "side " << c.side << " band " << c.from << ":" << c.to;
        EXPECT_LT(ratio, 1.6) << "side " << c.side << " band " << c.from << ":" << c.to;
    }
}

TEST(PsdFit, RefusesABandOfFewerThanThreeRows) {
    const int n = 16;
    const Measured m = measure(white_noise(n, 1, 3), n, kLevelMean, kNone, 0);
    PsdFit fit{};
    testing::internal::CaptureStderr();
    // Rows at 1 and 1.5 cycles per side (0.5 holds no sample, and the zero frequency
    // never counts); 2 adds the third.
    EXPECT_EQ(psd_fit(m.spectrum.bins, m.psd, m.grid, kNone, 0, 0, 1.5, fit), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: The fit band 0 to 1.5 holds 2 rows with a psd above 0; a fit needs 3 or more\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(psd_fit(m.spectrum.bins, m.psd, m.grid, kNone, 0, 0, 2, fit), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fit.rows, 3u);
}

TEST(PsdFit, SixteenBitsKeepTheFineScalesWhereEightBitsFlatten) {
    // One steep surface written as a 16-bit PGM and as an 8-bit BMP. Rounding to 8 bits
    // adds white noise of 1/12 grey level squared, which covers the finest scales; 16
    // bits put that floor 65536 times lower.
    const int n = 128;
    const double beta = 5;
    const Grid z = power_law_surface(n, beta, 21);
    double lo = z[0], hi = z[0];
    for (const double v : z) lo = std::min(lo, v), hi = std::max(hi, v);
    std::vector<uint32_t> levels16(z.size());
    for (std::size_t k = 0; k < z.size(); ++k)
        levels16[k] = uint32_t(std::lround((z[k] - lo) / (hi - lo) * 65535));
    testutil::TempDir dir;
    testutil::write_file(dir.path("s16"),
                         testutil::pgm16(n, [&](int r, int c) { return levels16[std::size_t(r) * n + c]; }));
    testutil::write_file(dir.path("s8"), testutil::grey_bmp(n, [&](int r, int c) {
                             return uint8_t(std::lround(levels16[std::size_t(r) * n + c] / 257.0));
                         }));
    double slope[2] = {};
    for (int i = 0; i < 2; ++i) {
        HeightMap map{};
        ASSERT_EQ(heights_read(dir.path(i == 0 ? "s16" : "s8"), map), 0);
        EXPECT_EQ(map.format, i == 0 ? kHeightsPgm : kHeightsBmp);
        const Measured m = measure(Grid(map.z.get(), map.z.get() + z.size()), n, kLevelMean, kNone, 0);
        PsdFit fit{};
        ASSERT_EQ(psd_fit(m.spectrum.bins, m.psd, m.grid, kNone, 0, 24, 64, fit), 0);
        slope[i] = fit.slope;
    }
    EXPECT_NEAR(slope[0], -beta, 0.1) << "16 bits";
    EXPECT_GT(slope[1], -beta + 1) << "8 bits flatten";
}

}  // namespace
