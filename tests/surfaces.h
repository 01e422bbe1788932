// Heights whose spectrum the tests know because they make them, shared by the tests of
// the psd, its fit, the angular spectrum and the peaks: random-phase surfaces with psd ~
// f^-beta, white noise and tilted copies; the program's own path from heights to psd that
// measures them, with the settings it is measured under; and how far a measured direction
// lies from the one a surface was made with.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/bins.h"
#include "analysis/level.h"
#include "analysis/psd.h"
#include "analysis/window.h"
#include "spectrum/dft.h"

inline constexpr double kPi = 3.141592653589793;
using Grid = std::vector<double>;

// Uniform in (0, 1), and in [-0.5, 0.5), from a fixed-seed generator, the same on every
// platform.
inline double uniform_open(std::mt19937& rng) {
    return (rng() + 0.5) / 4294967296.0;
}
inline double uniform_centred(std::mt19937& rng) {
    return rng() / 4294967296.0 - 0.5;
}

inline double gaussian(std::mt19937& rng) {
    return std::sqrt(-2 * std::log(uniform_open(rng))) * std::cos(2 * kPi * uniform_open(rng));
}

// A periodic surface of width x height whose spectral sample at kx cycles per width
// along the columns and ky cycles per height upwards (each folded into the plane's range)
// has the amplitude amplitude(kx, ky), with random phases; mean 0, rms 1. The amplitude
// must be even (the same at -kx, -ky), as a real surface's is. With `gaussian` each
// sample's power is also multiplied by an exponential variable (a Gaussian random
// surface, whose crops scatter as scans of one surface do).
template <class Amplitude>
inline Grid spectral_surface(int width, int height, Amplitude&& amplitude, uint32_t seed,
                             bool gaussian = false) {
    std::mt19937 rng(seed);
    const std::size_t count = std::size_t(width) * height;
    Grid re(count, 0.0), im(count, 0.0);
    auto folded = [](int k, int n) { return k <= n / 2 ? k : k - n; };
    for (int ky = 0; ky < height; ++ky) {
        for (int kx = 0; kx < width; ++kx) {
            const int my = (height - ky) % height, mx = (width - kx) % width;
            const std::size_t k = std::size_t(ky) * width + kx, m = std::size_t(my) * width + mx;
            if (m < k || (ky == 0 && kx == 0)) continue;
            // Rows count downwards: the frequency upwards is minus the row's.
            const double amp = amplitude(double(folded(kx, width)), -double(folded(ky, height))) *
                               (gaussian ? std::sqrt(-std::log(uniform_open(rng))) : 1);
            // A sample that is its own mirror image must be real.
            const double phase = m == k ? (rng() % 2) * kPi : 2 * kPi * uniform_open(rng);
            re[k] = amp * std::cos(phase);
            im[k] = amp * std::sin(phase);
            re[m] = re[k];
            im[m] = -im[k];
        }
    }
    EXPECT_EQ(dft_2d(re.data(), im.data(), width, height, -1), 0);
    double ss = 0;
    for (const double v : re) ss += v * v;
    const double rms = std::sqrt(ss / count);
    for (double& v : re) v /= rms;
    return re;
}

// A periodic surface of side n whose every spectral sample at distance f (samples) from
// the zero frequency has power f^-beta exactly, with random phases; mean 0, rms 1; with
// `gaussian`, power f^-beta times exponential variables instead.
inline Grid power_law_surface(int n, double beta, uint32_t seed, bool gaussian = false) {
    return spectral_surface(
        n, n, [beta](double kx, double ky) { return std::pow(kx * kx + ky * ky, -beta / 4); }, seed,
        gaussian);
}

inline Grid white_noise(int n, double sigma, uint32_t seed) {
    std::mt19937 rng(seed);
    Grid z(std::size_t(n) * n);
    for (double& v : z) v = sigma * gaussian(rng);
    return z;
}

// z + a + b col + c row.
inline Grid tilted(Grid z, int n, double a, double b, double c) {
    for (int r = 0; r < n; ++r)
        for (int col = 0; col < n; ++col) z[std::size_t(r) * n + col] += a + b * col + c * r;
    return z;
}

struct Measured {
    Spectrum spectrum;  // its planes, bins and ranges, as heights_measure leaves them
    Psd psd;
    ScanGrid grid;  // the grid the psd was taken on
};

// The program's path from heights to psd: level, window, then the measurement both
// programs share (heights_measure: centred spectrum, magnitudes, bins), then the psd.
inline Measured measure(Grid z, int n, LevelKind level, const Window& window, double length) {
    Measured m{};
    const auto side = static_cast<uint32_t>(n);
    level_apply(z.data(), side, side, level);
    double mean_square = 0;
    EXPECT_EQ(window_apply(z.data(), side, side, window, &mean_square), 0);
    EXPECT_EQ(heights_measure(z.data(), side, side, m.spectrum), 0);
    const double l = length > 0 ? length : n;
    m.grid = ScanGrid{side, side, l, l, PlaneAxes{1, 1}};
    EXPECT_EQ(psd_from_spectrum(m.spectrum.power.get(), m.grid, m.spectrum.bins, mean_square, m.psd), 0);
    return m;
}

inline const Window kNone{kWindowNone, 1};
inline const Window kHann{kWindowHann, 1};

struct Setting {
    LevelKind level;
    Window window;
    double length;
};

inline std::string describe(const Setting& s, int n) {
    return "side " + std::to_string(n) + " level " + std::to_string(int(s.level)) + " window " +
           std::to_string(int(s.window.kind)) + ":" + std::to_string(s.window.fraction) + " length " +
           std::to_string(s.length);
}

// Angular distance between two folded directions.
inline double fold_distance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, 180 - d);
}
