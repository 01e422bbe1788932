// Directions and peaks measured on inputs whose answer is known: gratings of a given
// period and direction (transformed by the program's own transform, windowed and with
// noise), and power planes drawn in the test around a known direction.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/angles.h"
#include "analysis/peaks.h"
#include "spectrum/dft.h"
#include "spectrum/spectrum.h"
#include "tests/test_util.h"

namespace {

constexpr double kPi = 3.141592653589793;

double radians(double deg) { return deg * kPi / 180; }

// Uniform in [-0.5, 0.5) from a fixed-seed generator, the same on every platform.
double uniform(std::mt19937& rng) { return rng() / 4294967296.0 - 0.5; }

// The periodic Hann window's factor along a side of n.
std::vector<double> hann_of(uint32_t n) {
    std::vector<double> w(n);
    for (uint32_t j = 0; j < n; ++j) w[j] = 0.5 - 0.5 * std::cos(2 * kPi * j / n);
    return w;
}

// A cosine of the given period (pixels) and direction (degrees, the program's
// convention) on a level of 100, plus uniform noise of the given peak-to-peak size.
std::vector<double> grating(uint32_t n, double period, double direction, double noise,
                            uint32_t seed = 1) {
    std::mt19937 rng(seed);
    const double fx = n / period * std::cos(radians(direction));
    const double fy = n / period * std::sin(radians(direction));
    std::vector<double> z(std::size_t(n) * n);
    for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < n; ++c)
            // Up is rows decreasing: the phase grows along (c, -r) for an upward fy.
            z[std::size_t(r) * n + c] = 100 + std::cos(2 * kPi * (fx * c - fy * r) / n + 0.7) + noise * uniform(rng);
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

// Angular distance between two folded directions.
double fold_distance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, 180 - d);
}

// A power plane of side n whose samples in the band [from, to] are exponential speckle
// times a Gaussian of `spread` degrees around `direction` (isotropic for spread 0), plus
// `floor` times the speckle everywhere in the band.
std::vector<double> textured_plane(uint32_t n, double from, double to, double direction,
                                   double spread, double floor, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<double> p(std::size_t(n) * n, 0.0);
    const int64_t half = n / 2;
    for (int64_t y = 0; y < n; ++y)
        for (int64_t x = 0; x < n; ++x) {
            const double fx = double(x - half), fy = double(half - y);
            const double r = std::hypot(fx, fy);
            if (r < from || r > to) continue;
            const double speckle = -std::log(rng() / 4294967296.0 + 1e-12);
            double shape = 1;
            if (spread > 0) {
                const double d = fold_distance(angle_of(fx, fy), direction);
                shape = std::exp(-0.5 * d * d / (spread * spread));
            }
            p[std::size_t(y) * n + x] = speckle * (shape + floor);
        }
    return p;
}

AngularSpectrum angles_of(const std::vector<double>& p, uint32_t n, double from, double to) {
    AngularSpectrum a;
    EXPECT_TRUE(angular_new(a));
    angular_accumulate(p.data(), n, from, to, a);
    return a;
}

TEST(AngleFold, FoldsEveryTurnIntoHalfOpenRange) {
    const struct {
        double in, out;
    } cases[] = {{0, 0}, {180, 0}, {-30, 150}, {210, 30}, {-180, 0}, {359.5, 179.5},
                 {-1e-17, 0}, {720 + 45, 45}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(angle_fold(c.in), c.out) << c.in;
    // Up on the screen is 90 degrees; the wave vector pointing down-right is 135 folded.
    EXPECT_DOUBLE_EQ(angle_of(0, 1), 90);
    EXPECT_DOUBLE_EQ(angle_of(1, -1), 135);
    EXPECT_DOUBLE_EQ(angle_of(-2, 0), 0);
}

TEST(AngularSpectrum, WeightsCountTheBandsSamplesAndPowerIsKept) {
    const struct {
        uint32_t n;
        double from, to;
    } cases[] = {{16, 2, 8}, {17, 2, 8.5}, {64, 2, 32}, {65, 10.5, 20}, {33, 0, 100}, {32, 3, 3}};
    for (const auto& c : cases) {
        std::vector<double> p(std::size_t(c.n) * c.n);
        std::mt19937 rng(c.n);
        for (double& v : p) v = uniform(rng) + 1;
        const AngularSpectrum a = angles_of(p, c.n, c.from, c.to);
        double count = 0, power = 0, weight = 0, shared = 0;
        const int64_t half = c.n / 2;
        for (int64_t y = 0; y < c.n; ++y)
            for (int64_t x = 0; x < c.n; ++x) {
                const double r = std::hypot(double(x - half), double(y - half));
                if (r >= c.from && r <= c.to && r > 0) {
                    count += 1;
                    power += p[std::size_t(y) * c.n + x];
                }
            }
        for (uint32_t s = 0; s < kSectors; ++s) {
            weight += a.weight[s];
            shared += a.power_sum[s];
        }
        EXPECT_NEAR(weight, count, 1e-9 * count) << c.n << " " << c.from << ":" << c.to;
        EXPECT_NEAR(shared, power, 1e-9 * power) << c.n;
    }
}

TEST(AngularSpectrum, SampleIsSharedLinearlyBetweenNeighbouringSectors) {
    // One sample of power 1 at a known direction on a plane otherwise empty: the sector
    // below it gets 1 - f, the one above f, where f is the fraction past the sector centre.
    const struct {
        int64_t fx, fy;
    } cases[] = {{7, 3}, {-7, 3}, {3, -7}, {5, 0}, {-4, -1}, {1, -9}};
    const uint32_t n = 32;
    for (const auto& c : cases) {
        std::vector<double> p(std::size_t(n) * n, 0.0);
        p[std::size_t(n / 2 - c.fy) * n + (n / 2 + c.fx)] = 1;
        const AngularSpectrum a = angles_of(p, n, 2, 16);
        const double d = angle_of(double(c.fx), double(c.fy));
        const auto s = static_cast<uint32_t>(d);
        EXPECT_NEAR(a.power_sum[s], 1 - (d - s), 1e-12) << d;
        EXPECT_NEAR(a.power_sum[(s + 1) % kSectors], d - s, 1e-12) << d;
    }
}

TEST(AngularSpectrum, DirectionAndAspectOfTexturesAroundKnownDirections) {
    // A band of 40-60 cycles on a side of 512, a Gaussian of 5 degrees across the
    // direction, over a faint isotropic floor; directions on both halves of the range
    // and across the fold at 0 / 180.
    const uint32_t n = 512;
    const double directions[] = {30.4, 117.7, 0.6, 178.8, 90.25};
    uint32_t seed = 3;
    for (const double truth : directions) {
        const std::vector<double> p = textured_plane(n, 40, 60, truth, 5, 0.02, seed++);
        const AngularSpectrum a = angles_of(p, n, 2, n / 2);
        EXPECT_LT(fold_distance(angular_direction(a), truth), 1.0) << truth;
        EXPECT_LT(angular_aspect(a), 0.2) << truth;
    }
    const std::vector<double> iso = textured_plane(n, 2, n / 2, 0, 0, 0, 99);
    const AngularSpectrum a = angles_of(iso, n, 2, n / 2);
    EXPECT_GT(angular_aspect(a), 0.7);
    EXPECT_LE(angular_aspect(a), 1.0);

    // Nothing in the band: no direction and no aspect, rather than sector 0.
    const std::vector<double> flat(std::size_t(64) * 64, 0.0);
    const AngularSpectrum none = angles_of(flat, 64, 2, 32);
    EXPECT_TRUE(std::isnan(angular_direction(none)));
    EXPECT_TRUE(std::isnan(angular_aspect(none)));
    // A band between the grid's radii holds no sample: no sector has a mean.
    const AngularSpectrum empty = angles_of(flat, 64, 2.1, 2.2);
    for (uint32_t s = 0; s < kSectors; ++s) EXPECT_TRUE(std::isnan(angular_mean(empty, s)));
    EXPECT_EQ(angular_mean(none, 7), 0.0);
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
        ASSERT_TRUE(peaks_find(p.data(), c.n, 10, peaks, &found));
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
    ASSERT_TRUE(peaks_find(p.data(), n, 2, peaks, &found));
    ASSERT_EQ(found, 2u);
    EXPECT_EQ(peaks[0].grid_fx, 7);
    EXPECT_EQ(peaks[1].grid_fx, 15);
    // Total outside the zero frequency: 2 * (100 + 4); the first peak's pair holds 2 * 41.
    EXPECT_DOUBLE_EQ(peaks[0].power_share, 82.0 / 208.0);
    EXPECT_DOUBLE_EQ(peaks[1].power_share, 62.0 / 208.0);

    // No power outside the centre: no peaks, and nothing allocated for them.
    std::vector<double> flat(std::size_t(n) * n, 0.0);
    flat[std::size_t(half) * n + half] = 5;
    ASSERT_TRUE(peaks_find(flat.data(), n, 10, peaks, &found));
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
        {128, 16.37, 31.3, 0.5, true},  {127, 16.37, 148.2, 0.5, true},
        {128, 3.21, 77.7, 0.5, true},   {127, 41.3, 0.35, 0.5, true},
        {128, 23.9, 179.55, 0.5, true}, {127, 5.55, 101.0, 1.0, true},
        {128, 60.0, 12.0, 0.2, true},   {255, 37.77, 63.4, 1.0, true},
        {256, 8.81, 122.2, 1.0, true},  {384, 44.97, 41.24, 1.0, true},
        {384, 3.35, 4.93, 1.0, true},   {128, 16.0, 90.0, 0.5, false},
    };
    for (const auto& c : cases) {
        const std::vector<double> w = c.hann ? hann_of(c.n) : std::vector<double>();
        // With the window the heights are levelled first, as with --level mean.
        const std::vector<double> z = grating(c.n, c.period, c.direction, c.noise);
        const std::vector<double> levelled = windowed(z, c.n, c.hann ? mean_of(z) : 0, {});
        const std::vector<double> p = power_of(windowed(levelled, c.n, 0, w), c.n);
        Buffer<Peak> peaks;
        uint64_t found = 0;
        ASSERT_TRUE(peaks_find(p.data(), c.n, 3, peaks, &found));
        ASSERT_GE(found, 1u);
        Peak& peak = peaks[0];
        ASSERT_TRUE(peak_refine(levelled.data(), c.n, w.empty() ? nullptr : w.data(), peak));
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

// A CSV file with a header line: each row as a map from column name to its text.
std::vector<std::map<std::string, std::string>> csv_rows(const std::string& path) {
    std::istringstream in(testutil::from_text_mode(testutil::read_text(path)));
    std::vector<std::string> names;
    std::vector<std::map<std::string, std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string v; std::getline(f, v, ',');) fields.push_back(v);
        if (!line.empty() && line.back() == ',') fields.push_back("");
        if (names.empty()) {
            names = fields;
            continue;
        }
        EXPECT_EQ(fields.size(), names.size()) << path << ": " << line;
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < names.size() && i < fields.size(); ++i) row[names[i]] = fields[i];
        rows.push_back(row);
    }
    return rows;
}

double number(const std::map<std::string, std::string>& row, const std::string& name) {
    const auto it = row.find(name);
    EXPECT_TRUE(it != row.end()) << "no column " << name;
    return it == row.end() ? NAN : std::strtod(it->second.c_str(), nullptr);
}

TEST(ViewDirections, SamplesGratingsAtTheirPeriodsAndDirections) {
    // The bundled sample: a grating of period 16 px whose wave vector points right and
    // down (150 degrees), and one of 6.4 px pointing right and up (60 degrees), on bricks.
    testutil::TempDir dir;
    ASSERT_EQ(testutil::run_program(MAKE_SAMPLE_EXE, {"sample.bmp"}, dir.root.string()).status, 0);
    const struct {
        std::vector<std::string> args;
        double metres;       // the side's length given, or 0
        double psd_scale;    // L^2 / N^4 / mean(w^2): 3/8 squared for Hann
    } runs[] = {{{"--window", "hann", "--level", "mean", "sample.bmp"}, 0, 65536.0 / 4294967296.0 / (9.0 / 64)},
                {{"--length", "0.5", "--band", "4:256", "sample.bmp"}, 0.5, 0.25 / 4294967296.0}};
    for (const auto& run : runs) {
        const auto r = testutil::run_program(VARLOX_VIEW_EXE, run.args, dir.root.string());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto peaks = csv_rows(dir.path("sample-peaks.csv"));
        ASSERT_EQ(peaks.size(), 10u);
        const struct {
            double period, direction;
        } gratings[] = {{16, 150}, {6.4, 60}};
        for (const auto& g : gratings) {
            bool seen = false;
            for (const auto& p : peaks) {
                const double period = number(p, "period_px");
                if (std::fabs(period / g.period - 1) < 1e-3 &&
                    fold_distance(number(p, "direction_deg"), g.direction) < 0.1) {
                    seen = true;
                    EXPECT_DOUBLE_EQ(number(p, "cycles_per_side"), 256 / period);
                    EXPECT_DOUBLE_EQ(number(p, "cycles_per_pixel"), number(p, "cycles_per_side") / 256);
                    if (run.metres > 0) {
                        EXPECT_DOUBLE_EQ(number(p, "period_m"), run.metres / number(p, "cycles_per_side"));
                        EXPECT_DOUBLE_EQ(number(p, "cycles_per_metre"), number(p, "cycles_per_side") / run.metres);
                    } else {
                        EXPECT_EQ(p.count("period_m"), 0u);
                    }
                }
            }
            EXPECT_TRUE(seen) << "no peak of period " << g.period << " at " << g.direction;
        }
        for (std::size_t i = 0; i < peaks.size(); ++i) {
            EXPECT_EQ(number(peaks[i], "rank"), double(i + 1));
            if (i > 0) {
                EXPECT_LE(number(peaks[i], "amplitude"), number(peaks[i - 1], "amplitude"));
            }
            EXPECT_GT(number(peaks[i], "power_share"), 0);
        }
        // The angles file: a sector per degree, the band's samples counted by the weights
        // (4 to 256 cycles per metre on half a metre are 2 to 128 cycles per side).
        const auto sectors = csv_rows(dir.path("sample-angles.csv"));
        ASSERT_EQ(sectors.size(), 180u);
        double weight = 0, count = 0;
        for (std::size_t s = 0; s < sectors.size(); ++s) {
            EXPECT_EQ(number(sectors[s], "direction_deg"), double(s));
            const double psd = number(sectors[s], "mean_power") * run.psd_scale;
            EXPECT_NEAR(number(sectors[s], "psd"), psd, 1e-12 * psd);
            weight += number(sectors[s], "weight");
        }
        for (int y = -128; y < 128; ++y)
            for (int x = -128; x < 128; ++x)
                if (x * x + y * y >= 4 && x * x + y * y <= 128 * 128) count += 1;
        EXPECT_NEAR(weight, count, 1e-9 * count);
        // The summary: the strongest lobe of the angular spectrum is the coarse grating's,
        // the lay across it, and the strongest peak that grating.
        const auto summary = csv_rows(dir.path("sample-summary.csv"));
        ASSERT_EQ(summary.size(), 1u);
        EXPECT_LT(fold_distance(number(summary[0], "direction_deg"), 150), 0.5);
        EXPECT_DOUBLE_EQ(number(summary[0], "lay_deg"), angle_fold(number(summary[0], "direction_deg") + 90));
        EXPECT_LT(number(summary[0], "aspect"), 0.2);
        EXPECT_NEAR(number(summary[0], "peak_period_px"), 16, 16e-3);
        EXPECT_LT(fold_distance(number(summary[0], "peak_direction_deg"), 150), 0.1);
    }
}

TEST(ViewDirections, FlatAndTinyPicturesHaveNoDirectionNorPeaks) {
    // A flat picture's spectrum beyond the zero frequency is rounding; pictures of side
    // 1 to 3 have no sample in the default band and none outside the centre 3 x 3.
    const struct {
        int n;
        int level;  // 0 for a pattern, else every pixel this grey
    } cases[] = {{16, 77}, {33, 200}, {1, 0}, {2, 0}, {3, 0}};
    for (const auto& c : cases) {
        testutil::TempDir dir;
        testutil::write_file(dir.path("in.bmp"),
                             testutil::grey_bmp(c.n, [&](int r, int col) { return c.level ? c.level : (r * 37 + col * 91) % 256; }));
        const auto r = testutil::run_program(VARLOX_VIEW_EXE, {"--peaks", "5", "in.bmp"}, dir.root.string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("no direction"), std::string::npos) << c.n << ": " << r.err;
        const auto summary = csv_rows(dir.path("in-summary.csv"));
        ASSERT_EQ(summary.size(), 1u);
        for (const char* column : {"direction_deg", "lay_deg", "aspect", "peak_period_px", "peak_direction_deg"})
            EXPECT_EQ(summary[0].at(column), "") << c.n << " " << column;
        EXPECT_NE(r.err.find("Wrote in-peaks.csv: no peaks"), std::string::npos) << c.n << ": " << r.err;
        EXPECT_EQ(csv_rows(dir.path("in-peaks.csv")).size(), 0u) << c.n;
        EXPECT_EQ(csv_rows(dir.path("in-angles.csv")).size(), 180u) << c.n;
    }
}

}  // namespace
