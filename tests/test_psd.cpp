// The power spectral density and what feeds it, on surfaces whose spectrum is known
// because the test makes them (surfaces.h): random-phase surfaces with psd ~ f^-beta,
// tilted copies and white noise. Checked against Parseval's identity and against a
// literal model of the definition (its own transform, least-squares plane, window and
// ring shares).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "analysis/bins.h"
#include "analysis/level.h"
#include "analysis/psd.h"
#include "analysis/window.h"
#include "tests/surfaces.h"

namespace {

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
                    f += wz[std::size_t(r) * n + c] *
                         std::polar(1.0, -2 * kPi * (double(fx) * c + double(fy) * r) / n);
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

const Setting kSettings[] = {
    {kLevelNone, kNone, 0},
    {kLevelMean, kNone, 0.002},
    {kLevelPlane, kNone, 0},
    {kLevelMean, kHann, 0},
    {kLevelPlane, {kWindowTukey, 0.3}, 3.5},
    {kLevelNone, {kWindowTukey, 0.5}, 0},
};

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
                for (uint64_t b = 0; b < m.spectrum.bins.count; ++b)
                    sum += m.psd.mean[b] * m.spectrum.bins.weight[b];
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
            ASSERT_EQ(m.spectrum.bins.count, want.psd.size());
            for (uint64_t b = 0; b < m.spectrum.bins.count; ++b) {
                EXPECT_NEAR(m.spectrum.bins.weight[b], want.weight[b], 1e-9)
                    << describe(s, n) << " bin " << b;
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
                sum += m.psd.mean[b] * m.spectrum.bins.weight[b];
                weight += m.spectrum.bins.weight[b];
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
        for (uint64_t b = 0; b < want.spectrum.bins.count; ++b) {
            EXPECT_NEAR(plane.psd.mean[b], want.psd.mean[b], 1e-9 * want.psd.mean[2]) << b;
        }
        // Without the plane the tilt's edge swamps the low frequencies.
        EXPECT_GT(mean.psd.mean[4] / want.psd.mean[4], 10);
    }
}

}  // namespace
