// varlox-view's measurement of directions and peaks, end to end: the bundled sample's two
// gratings found at their periods and directions in its peaks, angles and summary files,
// and no direction nor peak where a picture has none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/angles.h"
#include "analysis/measure.h"
#include "tests/surfaces.h"
#include "tests/test_util.h"

namespace {

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
    // Over the whole band the dominant direction is that of the bricks' courses (rows of
    // mortar every 32 rows: waves at 90 degrees, with harmonics out to the band's end),
    // each ring weighed alike; on the ring of the coarse grating alone, the grating's.
    const struct {
        std::vector<std::string> args;
        double metres;     // the side's length given, or 0
        double psd_scale;  // L^2 / N^4 / mean(w^2): 3/8 squared for Hann
        double from, to;   // the band, cycles per side
        double direction;  // the dominant direction
    } runs[] = {{{"--window", "hann", "--level", "mean", "sample.bmp"},
                 0,
                 65536.0 / 4294967296.0 / (9.0 / 64),
                 2,
                 128,
                 90},
                {{"--length", "0.5", "--band", "4:256", "sample.bmp"}, 0.5, 0.25 / 4294967296.0, 2, 128, 90},
                {{"--window", "hann", "--level", "mean", "--band", "14:18", "sample.bmp"},
                 0,
                 65536.0 / 4294967296.0 / (9.0 / 64),
                 14,
                 18,
                 150}};
    for (const auto& run : runs) {
        const auto r = testutil::run_program(VARLOX_VIEW_EXE, run.args, dir.root.string());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto peaks = csv_rows(dir.path("sample-peaks.csv"));
        // Up to the 10 asked for by default, those of the default least prominence.
        ASSERT_GE(peaks.size(), 2u);
        ASSERT_LE(peaks.size(), 10u);
        const struct { double period, direction; } gratings[] = {{16, 150}, {6.4, 60}};
        for (const auto& g : gratings) {
            bool seen = false;
            for (const auto& p : peaks) {
                const double period = number(p, "period_px");
                if (std::fabs(period / g.period - 1) < 1e-3 &&
                    fold_distance(number(p, "direction_deg"), g.direction) < 0.1) {
                    seen = true;
                    EXPECT_DOUBLE_EQ(number(p, "cycles_per_side"), 256 / period);
                    // Gratings well above the noise: their stated errors are small, and
                    // the period's is the frequency's carried over.
                    EXPECT_GT(number(p, "period_error_px"), 0);
                    EXPECT_LT(number(p, "period_error_px"), 1e-2 * g.period);
                    EXPECT_GT(number(p, "direction_error_deg"), 0);
                    EXPECT_LT(number(p, "direction_error_deg"), 0.5);
                    EXPECT_DOUBLE_EQ(number(p, "cycles_per_pixel"), number(p, "cycles_per_side") / 256);
                    if (run.metres > 0) {
                        EXPECT_DOUBLE_EQ(number(p, "period_m"), run.metres / number(p, "cycles_per_side"));
                        EXPECT_NEAR(number(p, "period_error_m"),
                                    number(p, "period_error_px") * run.metres / 256,
                                    1e-12 * number(p, "period_error_m"));
                        EXPECT_DOUBLE_EQ(number(p, "cycles_per_metre"),
                                         number(p, "cycles_per_side") / run.metres);
                    } else {
                        EXPECT_EQ(p.count("period_m"), 0u);
                        EXPECT_EQ(p.count("period_error_m"), 0u);
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
            EXPECT_GE(number(peaks[i], "prominence"), 25);
        }
        // The angles file: a sector per degree, each the same share of the band, whose
        // area in samples the weights add up to (4 to 256 cycles per metre on half a metre
        // are 2 to 128 cycles per side); the relative powers average 1.
        const auto sectors = csv_rows(dir.path("sample-angles.csv"));
        ASSERT_EQ(sectors.size(), 180u);
        double weight = 0, relative = 0;
        for (std::size_t s = 0; s < sectors.size(); ++s) {
            EXPECT_EQ(number(sectors[s], "direction_deg"), double(s));
            const double psd = number(sectors[s], "mean_power") * run.psd_scale;
            EXPECT_NEAR(number(sectors[s], "psd"), psd, 1e-12 * psd);
            EXPECT_NEAR(number(sectors[s], "weight"), number(sectors[0], "weight"),
                        1e-9 * number(sectors[0], "weight"));
            weight += number(sectors[s], "weight");
            relative += number(sectors[s], "relative_power");
        }
        const double area = kPi * (run.to * run.to - run.from * run.from);
        EXPECT_NEAR(weight, area, 1e-9 * area);
        EXPECT_NEAR(relative / 180, 1, 1e-9);
        // The summary: the strongest lobe of the angular spectrum, the lay across it, and
        // the strongest peak, the coarse grating.
        const auto summary = csv_rows(dir.path("sample-summary.csv"));
        ASSERT_EQ(summary.size(), 1u);
        EXPECT_LT(fold_distance(number(summary[0], "direction_deg"), run.direction), 0.5);
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
        testutil::write_file(dir.path("in.bmp"), testutil::grey_bmp(c.n, [&](int r, int col) {
                                 return c.level ? c.level : (r * 37 + col * 91) % 256;
                             }));
        const auto r = testutil::run_program(VARLOX_VIEW_EXE, {"--peaks", "5", "in.bmp"}, dir.root.string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("no direction"), std::string::npos) << c.n << ": " << r.err;
        const auto summary = csv_rows(dir.path("in-summary.csv"));
        ASSERT_EQ(summary.size(), 1u);
        for (const char* column :
             {"direction_deg", "lay_deg", "aspect", "peak_period_px", "peak_direction_deg"})
            EXPECT_EQ(summary[0].at(column), "") << c.n << " " << column;
        EXPECT_NE(r.err.find("Wrote in-peaks.csv: no peaks"), std::string::npos) << c.n << ": " << r.err;
        EXPECT_EQ(csv_rows(dir.path("in-peaks.csv")).size(), 0u) << c.n;
        EXPECT_EQ(csv_rows(dir.path("in-angles.csv")).size(), 180u) << c.n;
    }
}

}  // namespace

// Rectangular maps with pixels of any shape, measured by view_measure: the numbers a user
// can check by hand (a grating's period and direction in metres and degrees, Parseval's
// sum), and one surface measured through two windows of different shape.
namespace {

// A map of width x height heights height(row, column), with no size of its own.
HeightMap map_of(uint32_t width, uint32_t height, const std::function<double(uint32_t, uint32_t)>& at) {
    HeightMap map{};
    map.width = width;
    map.height = height;
    map.z = buffer_new<double>(uint64_t{width} * height);
    map.format = kHeightsPfm;
    for (uint32_t r = 0; r < height; ++r)
        for (uint32_t c = 0; c < width; ++c) map.z[uint64_t{r} * width + c] = at(r, c);
    return map;
}

MeasureOptions measuring(double lx, double ly, WindowKind window) {
    MeasureOptions m{};
    m.z_scale = 1;
    m.length_x = lx;
    m.length_y = ly;
    m.measuring = true;
    m.level = kLevelMean;
    m.window = Window{window, 1};
    m.peaks = 1;
    m.threads = 1;
    return m;
}

TEST(RectangularMaps, GratingsKeepTheirPeriodInMetresAndTheirDirection) {
    // A cosine of period P metres whose wave vector lies at theta degrees in the scan itself
    // (x rightwards, y upwards), sampled at pixels of dx by dy, with noise of a tenth of its
    // amplitude. Its peak, refined, must give P within 0.1% and theta within 0.1 degree,
    // and the angular spectrum its direction within half a degree, whatever the scan's
    // shape and its pixels': a direction measured on the grid of samples instead would be
    // off by atan(dy/dx tan theta) - theta, 11 degrees in the first case.
    struct Case {
        uint32_t width, height;
        double dx, dy, period, theta;
    };
    const Case cases[] = {
        {300, 500, 1e-6, 1.5e-6, 23.7e-6, 33},   // the usual AFM shape: unequal pixels
        {301, 211, 2e-6, 2e-6, 41.3e-6, 117.5},  // odd sides, square pixels
        {257, 128, 0.5e-6, 2e-6, 9.1e-6, 71},    // pixels four times as high as wide
        {200, 120, 1e-6, 3e-6, 17e-6, 0.4},      // close to the x axis
    };
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.width) + " x " + std::to_string(c.height);
        const double kx = std::cos(c.theta * kPi / 180) / c.period;
        const double ky = std::sin(c.theta * kPi / 180) / c.period;
        std::mt19937 rng(11);
        HeightMap map = map_of(c.width, c.height, [&](uint32_t r, uint32_t col) {
            // Rows count downwards, y upwards.
            return std::cos(2 * kPi * (kx * col * c.dx - ky * r * c.dy)) + 0.1 * gaussian(rng);
        });
        ViewResult r;
        ASSERT_EQ(view_measure(map, measuring(c.width * c.dx, c.height * c.dy, kWindowHann), r), 0) << label;
        ASSERT_EQ(r.peak_count, 1u) << label;
        const double period = r.side_length / r.peaks[0].frequency;
        EXPECT_NEAR(period / c.period, 1, 1e-3) << label;
        EXPECT_NEAR(angle_fold(r.peaks[0].direction - c.theta + 90) - 90, 0, 0.1) << label;
        EXPECT_NEAR(angle_fold(r.direction - c.theta + 90) - 90, 0, 0.5) << label;
    }
}

TEST(RectangularMaps, PsdSumsToTheMeanSquareOfTheHeightsAnalysed) {
    // sum of psd * weight / (Lx Ly) = mean(z^2) / mean(w^2) over the heights as analysed
    // (levelled, windowed): view_measure leaves those in the map.
    struct Case {
        uint32_t width, height;
        double lx, ly;  // 0: no size known
        WindowKind window;
    };
    const Case cases[] = {
        {96, 64, 96e-6, 128e-6, kWindowNone}, {96, 64, 96e-6, 128e-6, kWindowHann},
        {33, 70, 0, 0, kWindowNone},          {33, 70, 0, 0, kWindowHann},
        {1, 40, 0, 0, kWindowNone},           {128, 3, 1, 0.01, kWindowNone},
    };
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.width) + " x " + std::to_string(c.height) +
                                  (c.window == kWindowHann ? " hann" : "");
        std::mt19937 rng(5);
        HeightMap map =
            map_of(c.width, c.height, [&](uint32_t, uint32_t col) { return gaussian(rng) + 0.01 * col; });
        ViewResult r;
        ASSERT_EQ(view_measure(map, measuring(c.lx, c.ly, c.window), r), 0) << label;
        const uint64_t count = uint64_t{c.width} * c.height;
        double mean_square = 0;
        for (uint64_t k = 0; k < count; ++k) mean_square += map.z[k] * map.z[k];
        mean_square /= static_cast<double>(count);
        double sum = 0;
        for (uint64_t b = 0; b < r.spectrum.bins.count; ++b) sum += r.psd.mean[b] * r.spectrum.bins.weight[b];
        sum /= r.grid.length_x * r.grid.length_y;
        EXPECT_NEAR(sum / (mean_square / r.window_mean_square), 1, 1e-9) << label;
        EXPECT_EQ(r.grid.length_x, c.lx > 0 ? c.lx : c.width) << label;
    }
}

TEST(RectangularMaps, RingsBeyondTheCentreHoldSamplesUpToTheSmallerHalfBand) {
    // Rings are half the coarser frequency step wide: from bin 2 out to twice the smaller
    // half-band (in bins), every ring takes a share of some sample.
    struct Case {
        uint32_t width, height;
        double lx, ly;
    };
    const Case cases[] = {
        {300, 500, 300, 750}, {64, 256, 64, 256}, {255, 100, 255, 300}, {100, 255, 300, 255}};
    for (const Case& c : cases) {
        HeightMap map =
            map_of(c.width, c.height, [](uint32_t r, uint32_t col) { return (r * 7 + col * 3) % 5; });
        ViewResult r;
        ASSERT_EQ(view_measure(map, measuring(c.lx, c.ly, kWindowNone), r), 0);
        const double half = std::min(c.width / 2.0 * r.grid.axes.ax, c.height / 2.0 * r.grid.axes.ay);
        EXPECT_EQ(r.band_to, half);
        for (uint64_t b = 2; b <= static_cast<uint64_t>(2 * half); ++b) {
            EXPECT_GT(r.spectrum.bins.weight[b], 0) << c.width << " x " << c.height << " bin " << b;
        }
    }
}

TEST(RectangularMaps, ASurfaceMeasuresAlikeThroughASquareAndARectangle) {
    // Self-affine surfaces (psd ~ f^-3), each measured on a 256 x 256 crop and on the
    // 512 x 256 crop that holds it, under a Hann window: both take rings in cycles per
    // 256 px, so their psds compare bin by bin, and their curves must overlay (the median
    // ratio of their rings from 8 to 64 cycles within 5% of 1). One crop's slope scatters
    // by about 0.07 from surface to surface, a statistical error no geometry removes; over
    // eight surfaces the rectangle's slopes must agree with the squares' within 0.05 on
    // average (no bias from the shape), and each within 0.15 of the surfaces' own -3.
    const int n = 512;
    double difference = 0;
    const uint32_t seeds[] = {21, 1, 2, 3, 4, 5, 6, 7};
    for (const uint32_t seed : seeds) {
        const Grid z = power_law_surface(n, 3, seed);
        const auto crop = [&](uint32_t width) {
            return map_of(width, 256,
                          [&](uint32_t r, uint32_t c) { return z[std::size_t(r + 100) * n + c]; });
        };
        MeasureOptions m = measuring(256e-6, 256e-6, kWindowHann);
        m.level = kLevelPlane;
        m.fit = true;
        m.fit_from = 8 / 256e-6;
        m.fit_to = 64 / 256e-6;
        HeightMap square = crop(256);
        ViewResult s;
        ASSERT_EQ(view_measure(square, m, s), 0);
        m.length_x = 512e-6;
        HeightMap wide = crop(512);
        ViewResult w;
        ASSERT_EQ(view_measure(wide, m, w), 0);
        EXPECT_NEAR(s.fit.slope, -3, 0.15) << "seed " << seed;
        EXPECT_NEAR(w.fit.slope, -3, 0.15) << "seed " << seed;
        difference += w.fit.slope - s.fit.slope;
        std::vector<double> ratios;
        for (uint64_t b = 16; b <= 128; ++b) {
            if (s.spectrum.bins.weight[b] > 0 && w.spectrum.bins.weight[b] > 0) {
                ratios.push_back(w.psd.mean[b] / s.psd.mean[b]);
            }
        }
        ASSERT_GT(ratios.size(), 100u);
        std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
        EXPECT_NEAR(ratios[ratios.size() / 2], 1, 0.05) << "seed " << seed;
    }
    EXPECT_NEAR(difference / std::size(seeds), 0, 0.05);
}

}  // namespace
