// The power spectral density and what feeds it, on surfaces whose spectrum is known
// because the test makes them: random-phase surfaces with psd ~ f^-beta, tilted copies
// and white noise. Checked against Parseval's identity, against a literal model of the
// definition (its own transform, least-squares plane, window and ring shares), and the
// fitted slope against the beta the surface was made with.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analysis/bins.h"
#include "analysis/fit.h"
#include "analysis/level.h"
#include "analysis/psd.h"
#include "analysis/window.h"
#include "image/heights.h"
#include "spectrum/dft.h"
#include "spectrum/spectrum.h"
#include "tests/test_util.h"

namespace {

constexpr double kPi = 3.141592653589793;
using Grid = std::vector<double>;

double uniform(std::mt19937& rng) { return (rng() + 0.5) / 4294967296.0; }

double gaussian(std::mt19937& rng) {
    return std::sqrt(-2 * std::log(uniform(rng))) * std::cos(2 * kPi * uniform(rng));
}

// A periodic surface of side n whose every spectral sample at distance f (samples) from
// the zero frequency has power f^-beta exactly, with random phases; mean 0, rms 1.
Grid power_law_surface(int n, double beta, uint32_t seed) {
    std::mt19937 rng(seed);
    const std::size_t count = std::size_t(n) * n;
    Grid re(count, 0.0), im(count, 0.0);
    auto folded = [n](int k) { return k <= n / 2 ? k : k - n; };
    for (int ky = 0; ky < n; ++ky) {
        for (int kx = 0; kx < n; ++kx) {
            const int my = (n - ky) % n, mx = (n - kx) % n;
            const std::size_t k = std::size_t(ky) * n + kx, m = std::size_t(my) * n + mx;
            if (m < k || (ky == 0 && kx == 0)) continue;
            const double f2 = double(folded(kx)) * folded(kx) + double(folded(ky)) * folded(ky);
            const double amp = std::pow(f2, -beta / 4);
            // A sample that is its own mirror image must be real.
            const double phase = m == k ? (rng() % 2) * kPi : 2 * kPi * uniform(rng);
            re[k] = amp * std::cos(phase);
            im[k] = amp * std::sin(phase);
            re[m] = re[k];
            im[m] = -im[k];
        }
    }
    EXPECT_EQ(dft_2d(re.data(), im.data(), n, n, -1), 0);
    double ss = 0;
    for (const double v : re) ss += v * v;
    const double rms = std::sqrt(ss / count);
    for (double& v : re) v /= rms;
    return re;
}

Grid white_noise(int n, double sigma, uint32_t seed) {
    std::mt19937 rng(seed);
    Grid z(std::size_t(n) * n);
    for (double& v : z) v = sigma * gaussian(rng);
    return z;
}

// z + a + b col + c row.
Grid tilted(Grid z, int n, double a, double b, double c) {
    for (int r = 0; r < n; ++r)
        for (int col = 0; col < n; ++col) z[std::size_t(r) * n + col] += a + b * col + c * r;
    return z;
}

struct Measured {
    RadialBins bins;
    Psd psd;
};

// The program's path from heights to psd: level, window, centred spectrum, bins, psd.
Measured measure(Grid z, int n, LevelKind level, const Window& window, double length) {
    Measured m{};
    level_apply(z.data(), n, level);
    double mean_square = 0;
    EXPECT_EQ(window_apply(z.data(), n, window, &mean_square), 0);
    Grid re(z.size()), im(z.size());
    EXPECT_EQ(heights_spectrum(z.data(), n, re.data(), im.data()), 0);
    spectrum_magnitudes(re.data(), im.data(), re.size());
    EXPECT_TRUE(radial_bins_new(m.bins, radial_bin_count(n, n)));
    ValueRange amp = value_range_fresh(), pow = value_range_fresh();
    radial_accumulate(re.data(), im.data(), n, n, m.bins, amp, pow);
    EXPECT_EQ(psd_from_spectrum(im.data(), n, m.bins, length, mean_square, m.psd), 0);
    return m;
}

// --- the model: the definitions written out independently ---------------------------

// z minus its least-squares plane in raw positions (column, row), by the normal equations.
Grid minus_plane(const Grid& z, int n) {
    double s[3][4] = {};
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            const double basis[3] = {1.0, double(c), double(r)};
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) s[i][j] += basis[i] * basis[j];
                s[i][3] += basis[i] * z[std::size_t(r) * n + c];
            }
        }
    for (int i = 0; i < 3; ++i)
        for (int k = i + 1; k < 3; ++k) {
            const double f = s[k][i] / s[i][i];
            for (int j = i; j < 4; ++j) s[k][j] -= f * s[i][j];
        }
    double x[3];
    for (int i = 2; i >= 0; --i) {
        x[i] = s[i][3];
        for (int j = i + 1; j < 3; ++j) x[i] -= s[i][j] * x[j];
        x[i] /= s[i][i];
    }
    Grid out = z;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) out[std::size_t(r) * n + c] -= x[0] + x[1] * c + x[2] * r;
    return out;
}

Grid minus_mean(const Grid& z) {
    double sum = 0;
    for (const double v : z) sum += v;
    Grid out = z;
    for (double& v : out) v -= sum / z.size();
    return out;
}

// The taper of a line of n samples: Hann as sin^2, Tukey piecewise.
double model_weight(const Window& w, int i, int n) {
    if (w.kind == kWindowNone) return 1;
    if (w.kind == kWindowHann) return std::pow(std::sin(kPi * i / n), 2);
    const double p = double(i) / n, a = w.fraction;
    if (p < a / 2) return (1 - std::cos(2 * kPi * p / a)) / 2;
    if (p > 1 - a / 2) return (1 - std::cos(2 * kPi * (1 - p) / a)) / 2;
    return 1;
}

struct Model {
    std::vector<double> psd, sd, weight;
    double analysed_mean_square;  // mean((w z)^2) / mean(w^2)
};

Model model(const Grid& z0, int n, LevelKind level, const Window& window, double length) {
    const Grid z = level == kLevelPlane ? minus_plane(z0, n) : level == kLevelMean ? minus_mean(z0) : z0;
    Grid wz(z.size());
    double w2 = 0, wz2 = 0;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            const double w = model_weight(window, r, n) * model_weight(window, c, n);
            const std::size_t k = std::size_t(r) * n + c;
            wz[k] = w * z[k];
            w2 += w * w;
            wz2 += wz[k] * wz[k];
        }
    w2 /= z.size();
    const double l = length > 0 ? length : n;
    const std::size_t bins = radial_bin_count(n, n);
    Model m{std::vector<double>(bins, 0.0), std::vector<double>(bins, 0.0), std::vector<double>(bins, 0.0),
            wz2 / z.size() / w2};
    std::vector<double> c_of(z.size()), d_of(z.size());
    for (int fy = -(n / 2); fy < n - n / 2; ++fy)
        for (int fx = -(n / 2); fx < n - n / 2; ++fx) {
            std::complex<double> f = 0;
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < n; ++c)
                    f += wz[std::size_t(r) * n + c] * std::polar(1.0, -2 * kPi * (double(fx) * c + double(fy) * r) / n);
            const std::size_t k = std::size_t(fy + n / 2) * n + (fx + n / 2);
            c_of[k] = l * l * std::norm(f) / std::pow(double(n), 4) / w2;
            d_of[k] = std::hypot(fx, fy);
        }
    // Bin b takes the share 1 - |2d - b| of a sample at distance d, where that is above 0.
    auto share = [](double d, std::size_t b) { return std::max(0.0, 1 - std::fabs(2 * d - double(b))); };
    for (std::size_t k = 0; k < c_of.size(); ++k)
        for (std::size_t b = 0; b < bins; ++b) {
            m.weight[b] += share(d_of[k], b);
            m.psd[b] += share(d_of[k], b) * c_of[k];
        }
    for (std::size_t b = 0; b < bins; ++b) {
        if (m.weight[b] > 0) m.psd[b] /= m.weight[b];
    }
    for (std::size_t k = 0; k < c_of.size(); ++k)
        for (std::size_t b = 0; b < bins; ++b) m.sd[b] += share(d_of[k], b) * std::pow(c_of[k] - m.psd[b], 2);
    for (std::size_t b = 0; b < bins; ++b) {
        if (m.weight[b] > 0) m.sd[b] = std::sqrt(m.sd[b] / m.weight[b]);
    }
    return m;
}

const Window kNone{kWindowNone, 1};
const Window kHann{kWindowHann, 1};

struct Setting {
    LevelKind level;
    Window window;
    double length;
};

const Setting kSettings[] = {
    {kLevelNone, kNone, 0},      {kLevelMean, kNone, 0.002},       {kLevelPlane, kNone, 0},
    {kLevelMean, kHann, 0},      {kLevelPlane, {kWindowTukey, 0.3}, 3.5}, {kLevelNone, {kWindowTukey, 0.5}, 0},
};

std::string describe(const Setting& s, int n) {
    return "side " + std::to_string(n) + " level " + std::to_string(int(s.level)) + " window " +
           std::to_string(int(s.window.kind)) + ":" + std::to_string(s.window.fraction) + " length " +
           std::to_string(s.length);
}

TEST(Psd, SumsToTheMeanSquareOfTheHeightsAnalysed) {
    // Parseval: sum psd * weight / L^2 = mean((w z)^2) / mean(w^2), levelled as asked.
    for (const int n : {32, 33}) {
        const Grid surfaces[] = {tilted(white_noise(n, 3, 1), n, 40, 0.5, -0.25),
                                 tilted(power_law_surface(n, 3, 2), n, 5, 0.1, 0.3)};
        for (const Grid& z : surfaces)
            for (const Setting& s : kSettings) {
                const Measured m = measure(z, n, s.level, s.window, s.length);
                const double l = s.length > 0 ? s.length : n;
                double sum = 0;
                for (uint64_t b = 0; b < m.bins.count; ++b) sum += m.psd.mean[b] * m.bins.weight[b];
                const double expected = model(z, n, s.level, s.window, s.length).analysed_mean_square;
                EXPECT_NEAR(sum / (l * l) / expected, 1, 1e-9) << describe(s, n);
            }
    }
}

TEST(Psd, EqualsALiteralModelOfItsDefinition) {
    // Every bin's ring mean and spread against the definition computed another way; the
    // tilt makes the levelling matter, the odd side the centring.
    for (const int n : {8, 9}) {
        const Grid z = tilted(power_law_surface(n, 2.5, 7), n, 3, 0.7, -1.1);
        for (const Setting& s : kSettings) {
            const Measured m = measure(z, n, s.level, s.window, s.length);
            const Model want = model(z, n, s.level, s.window, s.length);
            double top = 0;
            for (const double v : want.psd) top = std::max(top, v);
            ASSERT_EQ(m.bins.count, want.psd.size());
            for (uint64_t b = 0; b < m.bins.count; ++b) {
                EXPECT_NEAR(m.bins.weight[b], want.weight[b], 1e-9) << describe(s, n) << " bin " << b;
                EXPECT_NEAR(m.psd.mean[b], want.psd[b], 1e-9 * top) << describe(s, n) << " bin " << b;
                EXPECT_NEAR(m.psd.sd[b], want.sd[b], 1e-9 * top) << describe(s, n) << " bin " << b;
            }
        }
    }
}

TEST(Psd, WindowCorrectionKeepsWhiteNoiseLevel) {
    // White noise of variance sigma^2 has C = sigma^2 (L / N)^2 at every frequency: with or
    // without a window, in pixels and in metres. Mean over the rows beyond the centre.
    const int n = 128;
    const double sigma = 2;
    const Grid z = white_noise(n, sigma, 11);
    for (const double length : {0.0, 0.128}) {
        for (const Window& w : {kNone, kHann, Window{kWindowTukey, 0.5}, Window{kWindowTukey, 0.2}}) {
            const Measured m = measure(z, n, kLevelMean, w, length);
            double sum = 0, weight = 0;
            for (uint64_t b = 4; b <= uint64_t(n); ++b) {
                sum += m.psd.mean[b] * m.bins.weight[b];
                weight += m.bins.weight[b];
            }
            const double pixel = length > 0 ? length / n : 1;
            EXPECT_NEAR(sum / weight / (sigma * sigma * pixel * pixel), 1, 0.05)
                << "window " << w.kind << ":" << w.fraction << " length " << length;
        }
    }
}

TEST(Psd, PlaneLevellingGivesTheUntiltedSurface) {
    // The untilted surface is made plane-free by the model's own least squares, so that
    // removing the plane of its tilted copy must give it back, whatever the tilt.
    for (const int n : {64, 65}) {
    const Grid flat = minus_plane(power_law_surface(n, 3, 5), n);
    const Grid tilt = tilted(flat, n, 100, 2, -3);
    const Measured want = measure(flat, n, kLevelNone, kNone, 0);
    const Measured plane = measure(tilt, n, kLevelPlane, kNone, 0);
    const Measured mean = measure(tilt, n, kLevelMean, kNone, 0);
    for (uint64_t b = 0; b < want.bins.count; ++b) {
        EXPECT_NEAR(plane.psd.mean[b], want.psd.mean[b], 1e-9 * want.psd.mean[2]) << b;
    }
    // Without the plane the tilt's edge swamps the low frequencies.
    EXPECT_GT(mean.psd.mean[4] / want.psd.mean[4], 10);
    }
}

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
            ASSERT_EQ(psd_fit(m.bins, m.psd, s.length, 4 / unit, 64 / unit, fit), 0);
            EXPECT_NEAR(fit.slope, -beta, 0.05) << "beta " << beta << " " << describe(s, n);
            EXPECT_NEAR(fit.hurst, beta / 2 - 1, 0.025) << "beta " << beta;
            EXPECT_EQ(fit.rows, 121u) << "bins 8 to 128, both ends included";
            EXPECT_GT(fit.slope_error, 0);
            EXPECT_LT(fit.slope_error, 0.05);
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

TEST(PsdFit, RefusesABandOfFewerThanThreeRows) {
    const int n = 16;
    const Measured m = measure(white_noise(n, 1, 3), n, kLevelMean, kNone, 0);
    PsdFit fit{};
    testing::internal::CaptureStderr();
    // Rows at 1 and 1.5 cycles per side (0.5 holds no sample, and the zero frequency
    // never counts); 2 adds the third.
    EXPECT_EQ(psd_fit(m.bins, m.psd, 0, 0, 1.5, fit), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: The fit band 0 to 1.5 holds 2 rows with a psd above 0; a fit needs 3 or more\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(psd_fit(m.bins, m.psd, 0, 0, 2, fit), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fit.rows, 3u);
}

// A 16-bit PGM of levels 0..65535.
testutil::Bytes pgm16(int n, const std::vector<uint32_t>& levels) {
    const std::string header = "P5\n" + std::to_string(n) + " " + std::to_string(n) + "\n65535\n";
    testutil::Bytes b(header.begin(), header.end());
    for (const uint32_t v : levels) {
        b.push_back(uint8_t(v >> 8));
        b.push_back(uint8_t(v));
    }
    return b;
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
    for (std::size_t k = 0; k < z.size(); ++k) levels16[k] = uint32_t(std::lround((z[k] - lo) / (hi - lo) * 65535));
    testutil::TempDir dir;
    testutil::write_file(dir.path("s16"), pgm16(n, levels16));
    testutil::write_file(dir.path("s8"),
                         testutil::grey_bmp(n, [&](int r, int c) { return uint8_t(std::lround(levels16[std::size_t(r) * n + c] / 257.0)); }));
    double slope[2] = {};
    for (int i = 0; i < 2; ++i) {
        HeightMap map{};
        ASSERT_EQ(heights_read(dir.path(i == 0 ? "s16" : "s8"), map), 0);
        EXPECT_EQ(map.format, i == 0 ? kHeightsPgm : kHeightsBmp);
        const Measured m = measure(Grid(map.z.get(), map.z.get() + z.size()), n, kLevelMean, kNone, 0);
        PsdFit fit{};
        ASSERT_EQ(psd_fit(m.bins, m.psd, 0, 24, 64, fit), 0);
        slope[i] = fit.slope;
    }
    EXPECT_NEAR(slope[0], -beta, 0.1) << "16 bits";
    EXPECT_GT(slope[1], -beta + 1) << "8 bits flatten";
}

}  // namespace
