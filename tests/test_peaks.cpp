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

namespace {

// |F|^2 of heights h (width n, square) on a grid `over` times finer than the transform's,
// evaluated from the definition one axis at a time: first each row's sum at every fine
// column frequency, then those sums along the columns at every fine row frequency. The
// strongest local maximum (above its 8 neighbours) whose frequency lies beyond 1.5 bins
// of the zero frequency along either axis, with its frequency (fx, fy upwards, bins).
struct FineMaximum {
    double power, fx, fy;
};
FineMaximum fine_maximum(const std::vector<double>& h, uint32_t n, uint32_t over) {
    const uint32_t m = n * over;
    std::vector<double> rr(std::size_t(n) * m), ri(std::size_t(n) * m);
    for (uint32_t r = 0; r < n; ++r)
        for (uint32_t k = 0; k < m; ++k) {
            double re = 0, im = 0;
            for (uint32_t c = 0; c < n; ++c) {
                const double a = 2 * kPi * double(k) * c / m;
                re += h[std::size_t(r) * n + c] * std::cos(a);
                im -= h[std::size_t(r) * n + c] * std::sin(a);
            }
            rr[std::size_t(r) * m + k] = re;
            ri[std::size_t(r) * m + k] = im;
        }
    // p[j][k]: row frequency j / over (downwards), column frequency k / over, both mod n.
    std::vector<double> p(std::size_t(m) * m);
    for (uint32_t j = 0; j < m; ++j)
        for (uint32_t k = 0; k < m; ++k) {
            double re = 0, im = 0;
            for (uint32_t r = 0; r < n; ++r) {
                const double a = 2 * kPi * double(j) * r / m;
                const double c = std::cos(a), s = -std::sin(a);
                re += rr[std::size_t(r) * m + k] * c - ri[std::size_t(r) * m + k] * s;
                im += rr[std::size_t(r) * m + k] * s + ri[std::size_t(r) * m + k] * c;
            }
            p[std::size_t(j) * m + k] = re * re + im * im;
        }
    FineMaximum best{-1, 0, 0};
    auto folded = [&](uint32_t k) { return (k > m / 2 ? double(k) - m : double(k)) / over; };
    for (uint32_t j = 0; j < m; ++j)
        for (uint32_t k = 0; k < m; ++k) {
            const double fx = folded(k), fy = -folded(j);
            if (std::fabs(fx) <= 1.5 && std::fabs(fy) <= 1.5) continue;
            const double v = p[std::size_t(j) * m + k];
            bool top = v > best.power;
            for (int dj = -1; dj <= 1 && top; ++dj)
                for (int dk = -1; dk <= 1 && top; ++dk)
                    if (dj || dk) top = v > p[std::size_t((j + m + dj) % m) * m + (k + m + dk) % m];
            if (top) best = FineMaximum{v, fx, fy};
        }
    return best;
}

// A sum of cosines of the given frequencies (bins, fy upwards) and amplitudes, with a
// level of 100 and uniform noise of the given size.
struct Wave {
    double fx, fy, amplitude;
};
std::vector<double> waves(uint32_t n, const std::vector<Wave>& ws, double noise, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<double> z(std::size_t(n) * n);
    for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < n; ++c) {
            double v = 100 + noise * uniform_centred(rng);
            for (std::size_t i = 0; i < ws.size(); ++i)
                v += ws[i].amplitude * std::cos(2 * kPi * (ws[i].fx * c - ws[i].fy * r) / n + 0.3 + i);
            z[std::size_t(r) * n + c] = v;
        }
    return z;
}

TEST(PeakSearch, FindsTheStrongestMaximumWhereTheGridShowsItWeaker) {
    // A grating half a bin from the grid along both axes shows on the grid with about
    // 0.16 of its power (0.52 under Hann): stronger gratings on the grid in power, but
    // weaker than it, take the first places on the grid. The search must report it
    // first, as the strongest maximum of |F|^2 on a grid four times finer does.
    const struct {
        uint32_t n;
        bool hann;
        uint64_t k;
        std::vector<Wave> ws;
    } cases[] = {
        {64, false, 1, {{9.5, 5.5, 1.0}, {-14, 7, 0.6}}},
        {64, false, 2, {{9.5, 5.5, 1.0}, {-14, 7, 0.6}, {3, 17, 0.55}}},
        {63, true, 1, {{-7.5, 11.5, 1.0}, {12, 4, 0.8}}},
        {64, true, 3, {{20.5, 3.5, 1.0}, {-6, 9, 0.8}, {5, 21, 0.78}, {-18, 13, 0.76}}},
    };
    for (const auto& c : cases) {
        const std::vector<double> w = c.hann ? hann_of(c.n) : std::vector<double>();
        const std::vector<double> z = waves(c.n, c.ws, 0.2, 7);
        const std::vector<double> levelled = windowed(z, c.n, mean_of(z), {});
        const std::vector<double> p = power_of(windowed(levelled, c.n, 0, w), c.n);
        const double* wp = w.empty() ? nullptr : w.data();
        // The case is one the grid alone gets wrong: the first grating is not among the
        // k strongest grid peaks.
        Buffer<Peak> grid;
        uint64_t on_grid = 0;
        ASSERT_TRUE(peaks_find(p.data(), c.n, c.n, PlaneAxes{1, 1}, c.k, grid, &on_grid));
        for (uint64_t i = 0; i < on_grid; ++i)
            ASSERT_GT(std::hypot(grid[i].fx - c.ws[0].fx, grid[i].fy - c.ws[0].fy), 1.0) << c.n;
        Buffer<Peak> peaks;
        uint64_t found = 0;
        ASSERT_TRUE(peaks_search(p.data(), levelled.data(), c.n, c.n, PlaneAxes{1, 1}, wp, wp, c.k, 1, peaks,
                                 &found));
        ASSERT_EQ(found, c.k) << c.n;
        EXPECT_NEAR(peaks[0].fx, c.ws[0].fx, 0.05) << c.n;
        EXPECT_NEAR(peaks[0].fy, c.ws[0].fy, 0.05) << c.n;
        const FineMaximum best = fine_maximum(windowed(levelled, c.n, mean_of(levelled), w), c.n, 4);
        const double reported = peaks[0].amplitude * peaks[0].amplitude;
        EXPECT_GE(reported, best.power * 0.99)
            << c.n << ": the finer grid's maximum at " << best.fx << ", " << best.fy;
        // The rest follow, strongest first, from the stronger grid peaks.
        for (uint64_t i = 1; i < found; ++i) EXPECT_LE(peaks[i].amplitude, peaks[i - 1].amplitude);
    }
}

TEST(PeakSearch, StatedErrorsMatchTheScatterOverNoiseDraws) {
    // A grating in Gaussian noise, 50 draws: the root mean square of the errors of its
    // period and direction over the mean of their stated standard errors lies within 0.5
    // to 2 (1 if the errors are those stated).
    const struct {
        uint32_t n;
        double period, direction, amplitude, sigma;
        bool hann;
    } cases[] = {
        {64, 9.37, 33.0, 0.3, 1.0, false},
        {64, 9.37, 33.0, 0.5, 1.0, true},
        {63, 21.1, 128.4, 0.25, 1.0, false},
        {64, 5.3, 97.0, 0.4, 1.0, true},
    };
    for (const auto& c : cases) {
        const std::vector<double> w = c.hann ? hann_of(c.n) : std::vector<double>();
        const double* wp = w.empty() ? nullptr : w.data();
        double period_sq = 0, period_stated = 0, direction_sq = 0, direction_stated = 0;
        const int draws = 50;
        int measured = 0;
        for (int d = 0; d < draws; ++d) {
            std::vector<double> z = grating(c.n, c.period, c.direction, 0, 0);
            std::mt19937 rng(100 + d);
            for (double& v : z) v = 100 + c.amplitude * (v - 100) + c.sigma * gaussian(rng);
            const std::vector<double> levelled = windowed(z, c.n, mean_of(z), {});
            const std::vector<double> p = power_of(windowed(levelled, c.n, 0, w), c.n);
            Buffer<Peak> peaks;
            uint64_t found = 0;
            ASSERT_TRUE(peaks_search(p.data(), levelled.data(), c.n, c.n, PlaneAxes{1, 1}, wp, wp, 1, 1,
                                     peaks, &found));
            ASSERT_EQ(found, 1u);
            const Peak& q = peaks[0];
            ASSERT_LT(fold_distance(q.direction, c.direction), 5) << "draw " << d << " found another peak";
            const double period = c.n / q.frequency;
            period_sq += (period - c.period) * (period - c.period);
            period_stated += c.n * q.frequency_error / (q.frequency * q.frequency);
            direction_sq += fold_distance(q.direction, c.direction) * fold_distance(q.direction, c.direction);
            direction_stated += q.direction_error;
            ++measured;
        }
        const double period_ratio = std::sqrt(period_sq / measured) / (period_stated / measured);
        const double direction_ratio = std::sqrt(direction_sq / measured) / (direction_stated / measured);
        EXPECT_GT(period_ratio, 0.5) << c.n << " " << c.period;
        EXPECT_LT(period_ratio, 2.0) << c.n << " " << c.period;
        EXPECT_GT(direction_ratio, 0.5) << c.n << " " << c.period;
        EXPECT_LT(direction_ratio, 2.0) << c.n << " " << c.period;
        std::printf("side %u period %g%s: period error ratio %.3f, direction error ratio %.3f\n", c.n,
                    c.period, c.hann ? " hann" : "", period_ratio, direction_ratio);
    }
}

TEST(PeakSearch, WhiteNoiseListsNoPeakAtTheDefaultProminence) {
    // Gaussian noise of side 256, ten draws, with and without a window: at most one draw
    // lists a peak; a lower threshold lists the noise's maxima.
    for (const bool hann : {false, true}) {
        const uint32_t n = 256;
        const std::vector<double> w = hann ? hann_of(n) : std::vector<double>();
        const double* wp = w.empty() ? nullptr : w.data();
        int listing = 0;
        for (uint32_t d = 0; d < 10; ++d) {
            const std::vector<double> z = white_noise(int(n), 1.0, 500 + d);
            const std::vector<double> levelled = windowed(z, n, mean_of(z), {});
            const std::vector<double> p = power_of(windowed(levelled, n, 0, w), n);
            Buffer<Peak> peaks;
            uint64_t found = 0;
            ASSERT_TRUE(peaks_search(p.data(), levelled.data(), n, n, PlaneAxes{1, 1}, wp, wp, 10,
                                     kPeakMinProminence, peaks, &found));
            if (found > 0) ++listing;

            if (d == 0) {
                ASSERT_TRUE(peaks_search(p.data(), levelled.data(), n, n, PlaneAxes{1, 1}, wp, wp, 10, 5,
                                         peaks, &found));
                EXPECT_EQ(found, 10u);
                // The background is the noise's mean power, (sum of w^2)^2 for noise of
                // variance 1: within 10% on average over the peaks' rings.
                double s = 0, ratio = 0;
                for (uint32_t j = 0; j < n; ++j) s += hann ? w[j] * w[j] : 1;
                for (uint64_t i = 0; i < found; ++i) {
                    EXPECT_GE(peaks[i].prominence, 5);
                    EXPECT_NEAR(peaks[i].prominence,
                                peaks[i].amplitude * peaks[i].amplitude / peaks[i].background,
                                1e-12 * peaks[i].prominence);
                    ratio += peaks[i].background / (s * s) / double(found);
                }
                EXPECT_NEAR(ratio, 1, 0.1);
            }
        }
        EXPECT_LE(listing, 1) << (hann ? "hann" : "none");
    }
}

}  // namespace
