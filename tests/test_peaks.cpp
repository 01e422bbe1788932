// Peaks found on the frequency grid of planes drawn by hand, and refined between the
// grid's samples on gratings of known period and direction (transformed by the program's
// own transform, windowed and with noise), against the transform at the refined
// frequency evaluated term by term.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/peaks.h"
#include "spectrum/dft.h"
#include "spectrum/spectrum.h"
#include "tests/surfaces.h"

namespace {

double radians(double deg) {
    return deg * kPi / 180;
}

// The periodic Hann window's factor along a side of n.
std::vector<double> hann_of(uint32_t n) {
    std::vector<double> w(n);
    for (uint32_t j = 0; j < n; ++j) w[j] = 0.5 - 0.5 * std::cos(2 * kPi * j / n);
    return w;
}

// A cosine of the given period (pixels) and direction (degrees, the program's
// convention) on a level of 100, plus uniform noise of the given peak-to-peak size.
std::vector<double> grating(uint32_t n, double period, double direction, double noise, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    const double fx = n / period * std::cos(radians(direction));
    const double fy = n / period * std::sin(radians(direction));
    std::vector<double> z(std::size_t(n) * n);
    for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < n; ++c)
            // Up is rows decreasing: the phase grows along (c, -r) for an upward fy.
            z[std::size_t(r) * n + c] =
                100 + std::cos(2 * kPi * (fx * c - fy * r) / n + 0.7) + noise * uniform_centred(rng);
    return z;
}

// Heights less `level`, times the window along rows and columns (none when empty).
std::vector<double> windowed(std::vector<double> z, uint32_t n, double level,
                             const std::vector<double>& window) {
    for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < n; ++c) {
            double& v = z[std::size_t(r) * n + c];
            v -= level;
            if (!window.empty()) v *= window[r] * window[c];
        }
    return z;
}

double mean_of(const std::vector<double>& z) {
    double s = 0;
    for (const double v : z) s += v;
    return s / double(z.size());
}

// The centred power plane of heights z, through the program's transform and centring.
std::vector<double> power_of(const std::vector<double>& z, uint32_t n) {
    std::vector<double> re = z, im(z.size(), 0.0);
    swap_quadrants(re.data(), im.data(), n, n);
    EXPECT_EQ(dft_2d(re.data(), im.data(), n, n, +1), 0);
    swap_quadrants(re.data(), im.data(), n, n);
    for (std::size_t i = 0; i < re.size(); ++i) re[i] = re[i] * re[i] + im[i] * im[i];
    return re;
}

// |F| at a fractional frequency, straight from the definition, term by term.
double amplitude_at(const std::vector<double>& h, uint32_t n, double fx, double fy) {
    double re = 0, im = 0;
    for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < n; ++c) {
            const double a = 2 * kPi * (fx * c - fy * r) / n;
            re += h[std::size_t(r) * n + c] * std::cos(a);
            im -= h[std::size_t(r) * n + c] * std::sin(a);
        }
    return std::hypot(re, im);
}

TEST(Peaks, LocalMaximaOnePerPairOutsideTheCentre) {
    // Planes drawn by hand (symmetric, as a real picture's are): which grid frequencies
    // come out, strongest first.
    struct Spot {
        int64_t fx, fy;
        double power;
    };
    struct Case {
        uint32_t n;
        std::vector<Spot> spots;
        std::vector<Spot> expected;  // (fx, fy) and power of each peak found
    };
    const Case cases[] = {
        // Two pairs; the weaker pair's lower member must not come out as a third peak.
        {16, {{3, 2, 5}, {-4, 1, 9}}, {{-4, 1, 9}, {3, 2, 5}}},
        // Inside the centre 3 x 3: no peak, though it is the strongest sample.
        {16, {{1, 1, 50}, {0, 5, 2}}, {{0, 5, 2}}},
        // On the horizontal axis the member to the right is kept.
        {17, {{-6, 0, 4}}, {{6, 0, 4}}},
        // The top row of an even plane is its own mirror row, and the left column's
        // corner its own mirror.
        {16, {{3, 8, 7}, {-8, 0, 6}}, {{3, 8, 7}, {-8, 0, 6}}},
        // A plateau of two equal neighbours gives one peak, the first in row order.
        {16, {{4, 3, 2}, {5, 3, 2}}, {{4, 3, 2}}},
    };
    for (const Case& c : cases) {
        const int64_t half = c.n / 2;
        std::vector<double> p(std::size_t(c.n) * c.n, 0.0);
        auto at = [&](int64_t fx, int64_t fy) -> double& {
            fx = (fx + half + c.n) % c.n;
            const int64_t y = ((half - fy) % int64_t(c.n) + c.n) % c.n;
            return p[std::size_t(y) * c.n + fx];
        };
        for (const Spot& s : c.spots) {
            at(s.fx, s.fy) = s.power;
            at(-s.fx, -s.fy) = s.power;
        }
        p[std::size_t(half) * c.n + half] = 1000;  // the zero frequency
        Buffer<Peak> peaks;
        uint64_t found = 0;
        ASSERT_TRUE(peaks_find(p.data(), c.n, c.n, PlaneAxes{1, 1}, 10, peaks, &found));
        ASSERT_EQ(found, c.expected.size()) << "case with side " << c.n;
        for (uint64_t i = 0; i < found; ++i) {
            EXPECT_EQ(peaks[i].grid_fx, c.expected[i].fx) << i;
            EXPECT_EQ(peaks[i].grid_fy, c.expected[i].fy) << i;
            EXPECT_EQ(peaks[i].grid_power, c.expected[i].power) << i;
        }
    }
}

TEST(Peaks, KeepsTheKStrongestAndTheirShareOfPower) {
    const uint32_t n = 32;
    std::vector<double> p(std::size_t(n) * n, 0.0);
    const int64_t half = n / 2;
    auto at = [&](int64_t fx, int64_t fy) -> double& { return p[std::size_t(half - fy) * n + half + fx]; };
    p[std::size_t(half) * n + half] = 1e6;  // left out of the total
    const double powers[] = {10, 40, 20, 30};
    for (int i = 0; i < 4; ++i) {
        at(4 * i + 3, 5) = powers[i];
        at(-4 * i - 3, -5) = powers[i];
        at(4 * i + 3, 6) = 1;  // a neighbour inside the 3 x 3
        at(-4 * i - 3, -6) = 1;
    }
    Buffer<Peak> peaks;
    uint64_t found = 0;
    ASSERT_TRUE(peaks_find(p.data(), n, n, PlaneAxes{1, 1}, 2, peaks, &found));
    ASSERT_EQ(found, 2u);
    EXPECT_EQ(peaks[0].grid_fx, 7);
    EXPECT_EQ(peaks[1].grid_fx, 15);
    // Total outside the zero frequency: 2 * (100 + 4); the first peak's pair holds 2 * 41.
    EXPECT_DOUBLE_EQ(peaks[0].power_share, 82.0 / 208.0);
    EXPECT_DOUBLE_EQ(peaks[1].power_share, 62.0 / 208.0);

    // No power outside the centre: no peaks, and nothing allocated for them.
    std::vector<double> flat(std::size_t(n) * n, 0.0);
    flat[std::size_t(half) * n + half] = 5;
    ASSERT_TRUE(peaks_find(flat.data(), n, n, PlaneAxes{1, 1}, 10, peaks, &found));
    EXPECT_EQ(found, 0u);
}

TEST(PeakRefine, GratingsOfKnownPeriodAndDirection) {
    // Periods that fall between the grid's frequencies, directions on both halves of the
    // range and next to the fold, odd and even sides, with noise and a Hann window. The
    // grid alone is within half a bin: up to 3% of the period at 16 px on a side of 256.
    // Without a window and without levelling (the spectrum then has the level at its
    // zero frequency), a grating of a whole frequency stays there: the level's leakage
    // between the grid's frequencies does not pull it.
    const struct {
        uint32_t n;
        double period, direction, noise;
        bool hann;
    } cases[] = {
        {128, 16.37, 31.3, 0.5, true},  {127, 16.37, 148.2, 0.5, true}, {128, 3.21, 77.7, 0.5, true},
        {127, 41.3, 0.35, 0.5, true},   {128, 23.9, 179.55, 0.5, true}, {127, 5.55, 101.0, 1.0, true},
        {128, 60.0, 12.0, 0.2, true},   {255, 37.77, 63.4, 1.0, true},  {256, 8.81, 122.2, 1.0, true},
        {384, 44.97, 41.24, 1.0, true}, {384, 3.35, 4.93, 1.0, true},   {128, 16.0, 90.0, 0.5, false},
    };
    for (const auto& c : cases) {
        const std::vector<double> w = c.hann ? hann_of(c.n) : std::vector<double>();
        // With the window the heights are levelled first, as with --level mean.
        const std::vector<double> z = grating(c.n, c.period, c.direction, c.noise);
        const std::vector<double> levelled = windowed(z, c.n, c.hann ? mean_of(z) : 0, {});
        const std::vector<double> p = power_of(windowed(levelled, c.n, 0, w), c.n);
        Buffer<Peak> peaks;
        uint64_t found = 0;
        ASSERT_TRUE(peaks_find(p.data(), c.n, c.n, PlaneAxes{1, 1}, 3, peaks, &found));
        ASSERT_GE(found, 1u);
        Peak& peak = peaks[0];
        ASSERT_TRUE(peak_refine(levelled.data(), c.n, c.n, PlaneAxes{1, 1}, w.empty() ? nullptr : w.data(),
                                w.empty() ? nullptr : w.data(), peak));
        const double period = c.n / peak.frequency;
        EXPECT_LT(std::fabs(period / c.period - 1), 1e-3)
            << c.n << " px " << c.period << " at " << c.direction << ": " << period;
        EXPECT_LT(fold_distance(peak.direction, c.direction), 0.1)
            << c.n << " px " << c.period << " at " << c.direction << ": " << peak.direction;
        EXPECT_GE(peak.direction, 0);
        EXPECT_LT(peak.direction, 180);
        // The amplitude is the transform's at the refined frequency (of the heights less
        // their mean, windowed), and no frequency a thousandth of a bin away has more: the
        // maximum is located to that.
        const std::vector<double> h = windowed(levelled, c.n, mean_of(levelled), w);
        const double a = amplitude_at(h, c.n, peak.fx, peak.fy);
        EXPECT_NEAR(peak.amplitude, a, 1e-9 * a);
        for (const double dx : {-1e-3, 1e-3})
            for (const double dy : {-1e-3, 1e-3})
                EXPECT_LE(amplitude_at(h, c.n, peak.fx + dx, peak.fy + dy), a * (1 + 1e-12));
        EXPECT_LE(peak.steps, 20u);
    }
}

}  // namespace
