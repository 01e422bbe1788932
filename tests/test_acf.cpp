// The autocorrelation and the field parameters (analysis/acf.h) against independent
// models: the autocorrelation against its sums over the pairs of a map, the height
// parameters against plain loops in long double, the gradient's against a plane and a
// sinusoid, Sal and Str against surfaces made with a known Gaussian autocorrelation, and
// a grating's unbounded correlation along its stripes flagged as a cap. End to end, a run
// with --acf writes the picture, the decay and the summary's columns.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/acf.h"
#include "analysis/measure.h"
#include "spectrum/dft.h"
#include "tests/test_util.h"

namespace {

constexpr double kPi = 3.141592653589793;

double gaussian(std::mt19937& rng) {
    const double u = (rng() + 0.5) / 4294967296.0;
    const double v = (rng() + 0.5) / 4294967296.0;
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * kPi * v);
}

// A periodic surface of width x height pixels of dx by dy whose autocorrelation is
// exp(-(u / tau_u)^2 - (v / tau_v)^2), u along the direction `deg` (counter-clockwise
// from the rightward axis, up at 90) and v across it, all in dx's unit: white noise whose
// spectrum is multiplied by the square root of that correlation's spectrum,
// exp(-pi^2 (tau_u^2 fu^2 + tau_v^2 fv^2) / 2).
std::vector<double> gaussian_surface(int width, int height, double dx, double dy, double tau_u, double tau_v,
                                     double deg, uint32_t seed) {
    std::mt19937 rng(seed);
    const std::size_t n = std::size_t(width) * height;
    std::vector<double> re(n), im(n, 0.0);
    for (double& v : re) v = gaussian(rng);
    EXPECT_EQ(dft_2d(re.data(), im.data(), width, height, 1), 0);
    const double c = std::cos(deg * kPi / 180), s = std::sin(deg * kPi / 180);
    for (int ky = 0; ky < height; ++ky) {
        // Row frequency ky runs downwards; upwards it is -ky.
        const double fy = -double(ky <= height / 2 ? ky : ky - height) / (height * dy);
        for (int kx = 0; kx < width; ++kx) {
            const double fx = double(kx <= width / 2 ? kx : kx - width) / (width * dx);
            const double fu = fx * c + fy * s, fv = -fx * s + fy * c;
            const double h = std::exp(-kPi * kPi * (tau_u * tau_u * fu * fu + tau_v * tau_v * fv * fv) / 2);
            re[std::size_t(ky) * width + kx] *= h;
            im[std::size_t(ky) * width + kx] *= h;
        }
    }
    EXPECT_EQ(dft_2d(re.data(), im.data(), width, height, -1), 0);
    return re;
}

AcfResult measured(const std::vector<double>& z, int width, int height, double dx = 1, double dy = 1,
                   double threshold = 0.2) {
    AcfResult a{};
    EXPECT_EQ(acf_measure(z.data(), uint32_t(width), uint32_t(height), dx, dy, threshold, 2, a), 0);
    return a;
}

// Where the unbiased autocorrelation of a row of heights (every row of a grating's map
// alike) first falls to s, interpolated linearly between whole lags: along the rows the
// bilinear autocorrelation is that line exactly.
double row_crossing(const std::vector<double>& row, double s) {
    const int n = int(row.size());
    long double mean = 0;
    for (const double v : row) mean += v;
    mean /= n;
    auto r = [&](int t) {
        long double sum = 0;
        for (int x = 0; x + t < n; ++x) sum += (row[x] - mean) * (row[x + t] - mean);
        return double(sum / (n - t));
    };
    const double zero = r(0);
    double before = 1;
    for (int t = 1; t <= n / 2; ++t) {
        const double at = r(t) / zero;
        if (at <= s) return t - 1 + (before - s) / (before - at);
        before = at;
    }
    return NAN;
}

// How far apart two directions lie, folded: 0 to 90 degrees.
double fold_distance(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 180.0);
    return std::min(d, 180 - d);
}

TEST(Acf, PlaneIsTheUnbiasedLinearCorrelationOverTheLagWindow) {
    // Maps of odd and even sides, a row and a column: every lag of the window against
    // its sum over the pairs in the map, divided by their count and by the lag 0's. A
    // circular correlation would add pairs wrapped around the edges; a biased one would
    // divide by the map's count.
    const struct { int width, height; } cases[] = {{7, 5}, {8, 6}, {1, 9}, {10, 1}, {13, 13}};
    std::mt19937 rng(17);
    for (const auto& c : cases) {
        std::vector<double> z(std::size_t(c.width) * c.height);
        for (double& v : z) v = 3 + gaussian(rng);
        const AcfResult a = measured(z, c.width, c.height);
        ASSERT_EQ(a.lags_x, uint32_t(c.width / 2));
        ASSERT_EQ(a.lags_y, uint32_t(c.height / 2));
        long double mean = 0;
        for (const double v : z) mean += v;
        mean /= z.size();
        auto r = [&](int tx, int ty) {
            long double sum = 0;
            int pairs = 0;
            for (int y = 0; y < c.height; ++y)
                for (int x = 0; x < c.width; ++x) {
                    if (x + tx < 0 || x + tx >= c.width || y + ty < 0 || y + ty >= c.height) continue;
                    sum += (z[std::size_t(y) * c.width + x] - mean) *
                           (z[std::size_t(y + ty) * c.width + x + tx] - mean);
                    ++pairs;
                }
            return sum / pairs;
        };
        const long double zero = r(0, 0);
        const int lx = c.width / 2, ly = c.height / 2;
        for (int ty = -ly; ty <= ly; ++ty)
            for (int tx = -lx; tx <= lx; ++tx) {
                const double got = a.plane[std::size_t(ty + ly) * (2 * lx + 1) + tx + lx];
                EXPECT_NEAR(got, double(r(tx, ty) / zero), 1e-12)
                    << c.width << "x" << c.height << " lag " << tx << "," << ty;
            }
    }
}

TEST(Acf, HeightParametersMatchPlainLoops) {
    // Skewed heights (exponentials of Gaussians, so that Ssk and Sku are far from 0 and
    // 3) with an offset, on maps of several shapes: each parameter to 1e-12 relative.
    const struct {
        int width, height;
        double offset;
    } cases[] = {{64, 48, 1e3}, {33, 17, -5}, {1, 40, 0}, {50, 1, 0.5}};
    std::mt19937 rng(5);
    for (const auto& c : cases) {
        std::vector<double> z(std::size_t(c.width) * c.height);
        for (double& v : z) v = c.offset + std::exp(gaussian(rng));
        const AcfResult a = measured(z, c.width, c.height);
        long double mean = 0;
        for (const double v : z) mean += v;
        mean /= z.size();
        long double m1 = 0, m2 = 0, m3 = 0, m4 = 0, top = -1e300, bottom = 1e300;
        for (const double v : z) {
            const long double d = v - mean;
            m1 += std::fabs(d);
            m2 += d * d;
            m3 += d * d * d;
            m4 += d * d * d * d;
            top = std::max(top, d);
            bottom = std::min(bottom, d);
        }
        const long double n = z.size();
        const long double sq = std::sqrt(m2 / n);
        const std::map<std::string, std::pair<double, long double>> expected = {
            {"sq", {a.sq, sq}},
            {"sa", {a.sa, m1 / n}},
            {"ssk", {a.ssk, m3 / n / (sq * sq * sq)}},
            {"sku", {a.sku, m4 / n / (sq * sq * sq * sq)}},
            {"sp", {a.sp, top}},
            {"sv", {a.sv, -bottom}},
            {"sz", {a.sz, top - bottom}},
        };
        for (const auto& [name, pair] : expected) {
            EXPECT_NEAR(pair.first, double(pair.second), 1e-12 * std::fabs(double(pair.second)))
                << c.width << "x" << c.height << " " << name;
        }
        EXPECT_GT(a.ssk, 1) << "the heights are skewed";
    }
}

TEST(Acf, SlopesOfAPlaneAndASinusoidInPhysicalUnits) {
    // Pixels of 2 by 3 micrometres. A plane rising b per metre rightwards and c upwards
    // has every difference exact: Sdq = hypot(b, c), Sdr = sqrt(1 + b^2 + c^2) - 1. A
    // sinusoid of amplitude A and period P pixels along the rows has the mean squared
    // slope (A k)^2 / 2, k = 2 pi / (P dy), and Sdr the mean of sqrt(1 + (A k cos)^2) - 1
    // over a period; the central differences shrink the slope by sin(k dy) / (k dy), about
    // 0.2% at P = 64, and the one-sided edges change two rows of 256.
    const double dx = 2e-6, dy = 3e-6;
    const int width = 40, height = 256;
    const double b = 0.1, c = -0.05;
    std::vector<double> plane(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) plane[std::size_t(y) * width + x] = b * x * dx - c * y * dy;
    const AcfResult p = measured(plane, width, height, dx, dy);
    EXPECT_NEAR(p.sdq, std::hypot(b, c), 1e-12);
    EXPECT_NEAR(p.sdr, std::sqrt(1 + b * b + c * c) - 1, 1e-12);

    const double amplitude = 5e-6, period = 64;
    std::vector<double> wave(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            wave[std::size_t(y) * width + x] = amplitude * std::sin(2 * kPi * y / period);
    const AcfResult w = measured(wave, width, height, dx, dy);
    const double k = 2 * kPi / (period * dy);
    double area = 0;
    const int steps = 100000;
    for (int i = 0; i < steps; ++i) {
        const double g = amplitude * k * std::cos(2 * kPi * (i + 0.5) / steps);
        area += std::sqrt(1 + g * g) - 1;
    }
    EXPECT_NEAR(w.sdq / (amplitude * k / std::sqrt(2.0)), 1, 5e-3);
    EXPECT_NEAR(w.sdr / (area / steps), 1, 1e-2);
}

TEST(Acf, SalOfGaussianSurfacesIsTauTimesSqrtLn5) {
    // Three isotropic surfaces of side 512 with the autocorrelation exp(-r^2 / tau^2),
    // tau = 8 pixels: the correlation falls to 0.2 at tau sqrt(ln 5). One estimate
    // scatters by a few percent; their mean lies within 5%, and Str near 1.
    const double tau = 8;
    const double expected = tau * std::sqrt(std::log(5.0));
    double sum = 0;
    for (const uint32_t seed : {1u, 2u, 3u}) {
        const AcfResult a = measured(gaussian_surface(512, 512, 1, 1, tau, tau, 0, seed), 512, 512);
        ASSERT_FALSE(std::isnan(a.sal)) << seed;
        EXPECT_GT(a.str, 0.75) << seed;
        EXPECT_FALSE(a.str_capped) << seed;
        sum += a.sal;
    }
    EXPECT_NEAR(sum / 3 / expected, 1, 0.05) << sum / 3 << " against " << expected;
}

TEST(Acf, AnisotropicSurfacesGiveStrAndTheFastestDecay) {
    // Correlation lengths 8 and 24 along a known direction: Str = 1/3, the fastest decay
    // along that direction (the scatter of one surface's direction is about a degree);
    // on pixels twice as high as wide too, where a lag of one row is two of a column's
    // length.
    const struct {
        int width, height;
        double dy;
        double deg;
        uint32_t seed;
    } cases[] = {{512, 512, 1, 30, 4}, {512, 512, 1, 125, 5}, {512, 512, 2, 70, 6}};
    for (const auto& c : cases) {
        const std::string label =
            std::to_string(c.width) + "x" + std::to_string(c.height) + " at " + std::to_string(c.deg);
        const AcfResult a = measured(gaussian_surface(c.width, c.height, 1, c.dy, 8, 24, c.deg, c.seed),
                                     c.width, c.height, 1, c.dy);
        EXPECT_NEAR(a.str, 1.0 / 3, 0.05) << label;
        EXPECT_FALSE(a.str_capped) << label;
        EXPECT_LT(fold_distance(a.sal_direction, c.deg), 2) << label << ": " << a.sal_direction;
        EXPECT_NEAR(a.sal / (8 * std::sqrt(std::log(5.0))), 1, 0.2) << label;
    }
}

TEST(Acf, GratingIsCappedAlongItsStripesAndFlatMapsHaveNoLengths) {
    // A cosine of period 16 columns: its correlation across the stripes is near cos(2 pi
    // t / 16), falling to 0.2 near 3.5 pixels at 0 degrees (exactly where the row's own
    // unbiased correlation does), and 1 along them, where the ray ends at the lag window's
    // edge: Str is then capped. A higher threshold moves the crossing inwards.
    std::vector<double> z(64 * 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) z[std::size_t(y) * 64 + x] = std::cos(2 * kPi * x / 16);
    for (const double s : {0.2, 0.5}) {
        const AcfResult a = measured(z, 64, 64, 1, 1, s);
        EXPECT_NEAR(a.sal, row_crossing(std::vector<double>(z.begin(), z.begin() + 64), s), 1e-9) << s;
        EXPECT_LT(fold_distance(a.sal_direction, 0), 0.5) << s;
        EXPECT_TRUE(a.str_capped) << s;
        EXPECT_TRUE(a.capped[90]) << s;
        EXPECT_EQ(a.crossing[90], 32) << s;
        EXPECT_FALSE(a.capped[0]) << s;
    }
    const std::vector<double> flat(16 * 8, 0.1);
    const AcfResult f = measured(flat, 16, 8);
    EXPECT_TRUE(std::isnan(f.sal));
    EXPECT_TRUE(std::isnan(f.str));
    EXPECT_TRUE(std::isnan(f.plane[0]));
    EXPECT_EQ(f.sq, 0);
    EXPECT_EQ(f.sz, 0);
    EXPECT_TRUE(std::isnan(f.ssk));
}

// A CSV file's lines split into fields, the header first.
std::vector<std::vector<std::string>> csv_of(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(testutil::from_text_mode(testutil::read_text(path)));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string v; std::getline(f, v, ',');) fields.push_back(v);
        if (!line.empty() && line.back() == ',') fields.push_back("");
        rows.push_back(fields);
    }
    return rows;
}

TEST(Acf, RunWithAcfWritesItsFilesAndTheSummarysColumns) {
    // A grating in a 16-bit PGM of 24 x 24 pixels given a size: with --acf the picture
    // has 25 x 25 lags, the decay its rings and degrees, and the summary's new columns
    // hold Sal in metres and Sq of the grating; without it none of the two files is made
    // and the columns are empty.
    testutil::TempDir dir;
    auto level = [](int, int c) { return unsigned(30000 + std::lround(1000 * std::cos(2 * kPi * c / 8))); };
    testutil::write_file(dir.path("g.pgm"), testutil::pgm16(24, level));
    double mean = 0, square = 0;
    for (int c = 0; c < 24; ++c) mean += level(0, c) / 24.0;
    for (int c = 0; c < 24; ++c) square += (level(0, c) - mean) * (level(0, c) - mean) / 24;
    auto r = testutil::run_program(VARLOX_VIEW_EXE, {"--length", "0.024", "g.pgm"}, dir.root.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path("g-acf.bmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("g-acf.csv")));
    auto summary = csv_of(dir.path("g-summary.csv"));
    ASSERT_EQ(summary.size(), 2u);
    ASSERT_EQ(summary[0].size(), summary[1].size());
    for (std::size_t i = 23; i < summary[0].size(); ++i) EXPECT_EQ(summary[1][i], "") << summary[0][i];

    r = testutil::run_program(VARLOX_VIEW_EXE, {"--acf", "--length", "0.024", "g.pgm"}, dir.root.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const testutil::Bytes bmp = testutil::read_file(dir.path("g-acf.bmp"));
    ASSERT_GT(bmp.size(), 26u);
    auto le32 = [&](int at) {
        return uint32_t(bmp[at]) | uint32_t(bmp[at + 1]) << 8 | uint32_t(bmp[at + 2]) << 16 |
               uint32_t(bmp[at + 3]) << 24;
    };
    EXPECT_EQ(le32(18), 25u);
    EXPECT_EQ(le32(22), 25u);
    summary = csv_of(dir.path("g-summary.csv"));
    ASSERT_EQ(summary.size(), 2u);
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < summary[0].size(); ++i) row[summary[0][i]] = summary[1][i];
    // Period 8 pixels of 1 mm: the crossing of 0.2 near 8 acos(0.2) / (2 pi) mm, exactly
    // where the row's own unbiased correlation falls to it.
    std::vector<double> levels;
    for (int c = 0; c < 24; ++c) levels.push_back(level(0, c));
    EXPECT_NEAR(std::stod(row.at("sal")), 1e-3 * row_crossing(levels, 0.2), 1e-12);
    EXPECT_EQ(row.at("str_capped"), "1");
    EXPECT_NEAR(std::stod(row.at("sq")), std::sqrt(square), 1e-9);
    EXPECT_NEAR(std::stod(row.at("std_deg")), 0, 1e-6);
    EXPECT_EQ(row.at("acf_threshold"), "0.20000000000000001");
    const auto decay = csv_of(dir.path("g-acf.csv"));
    ASSERT_EQ(decay.size(), 181u);
    EXPECT_EQ(decay[0][0], "ring");
    EXPECT_EQ(decay[0][1], "distance_m");
    EXPECT_EQ(std::stod(decay[1][2]), 1);  // ring 0 holds the lag 0 alone
}

}  // namespace
