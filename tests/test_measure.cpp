// varlox-view's measurement of directions and peaks, end to end: the bundled sample's two
// gratings found at their periods and directions in its peaks, angles and summary files,
// and no direction nor peak where a picture has none.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/angles.h"
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
    const struct {
        std::vector<std::string> args;
        double metres;     // the side's length given, or 0
        double psd_scale;  // L^2 / N^4 / mean(w^2): 3/8 squared for Hann
    } runs[] = {
        {{"--window", "hann", "--level", "mean", "sample.bmp"}, 0, 65536.0 / 4294967296.0 / (9.0 / 64)},
        {{"--length", "0.5", "--band", "4:256", "sample.bmp"}, 0.5, 0.25 / 4294967296.0}};
    for (const auto& run : runs) {
        const auto r = testutil::run_program(VARLOX_VIEW_EXE, run.args, dir.root.string());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto peaks = csv_rows(dir.path("sample-peaks.csv"));
        ASSERT_EQ(peaks.size(), 10u);
        const struct { double period, direction; } gratings[] = {{16, 150}, {6.4, 60}};
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
                        EXPECT_DOUBLE_EQ(number(p, "cycles_per_metre"),
                                         number(p, "cycles_per_side") / run.metres);
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
