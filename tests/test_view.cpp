// varlox-view end to end: the full profile against varlox's own profile, the log picture
// against amplitudes whose ratio is known, the command line's refusals against a folder
// left as it was, and its writer's files read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "app/output_table.h"
#include "app/view.h"
#include "tests/test_util.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

constexpr double kPi = 3.141592653589793;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<double> fields_of(const std::string& line) {
    std::vector<double> v;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, ',');) v.push_back(std::strtod(f.c_str(), nullptr));
    return v;
}

class View : public testing::Test {
  protected:
    testutil::RunResult view(const std::vector<std::string>& args) {
        return testutil::run_program(VARLOX_VIEW_EXE, args, dir.root.string());
    }
    testutil::RunResult varlox(const std::string& input) {
        return testutil::run_program(VARLOX_EXE, {input}, dir.root.string());
    }
    TempDir dir;
};

TEST_F(View, FullProfileHoldsVarloxsMeansOutToTheCorner) {
    // varlox's rows are the full profile's means of bins 1 to side / 2, rescaled to 0..1 per
    // column: redone here from the full profile, they must read exactly as varlox's.
    for (const int n : {4, 5, 8, 9, 16, 17, 33}) {
        const std::string label = "side " + std::to_string(n);
        testutil::write_file(dir.path("in.bmp"),
                             testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, n)));
        ASSERT_EQ(varlox("in.bmp").status, 0) << label;
        ASSERT_EQ(view({"in.bmp"}).status, 0) << label;
        const auto full = lines_of(testutil::from_text_mode(testutil::read_text(dir.path("in-full.csv"))));
        ASSERT_GE(full.size(), 2u) << label;
        EXPECT_EQ(full[0], "bin,cycles_per_side,mean_amplitude,mean_power,weight");
        std::vector<std::vector<double>> rows;
        double weights = 0;
        for (std::size_t i = 1; i < full.size(); ++i) {
            rows.push_back(fields_of(full[i]));
            ASSERT_EQ(rows.back().size(), 5u) << full[i];
            EXPECT_EQ(rows.back()[1], rows.back()[0] / 2) << full[i];
            weights += rows.back()[4];
        }
        EXPECT_NEAR(weights, double(n) * n, 1e-9) << label << ": every sample is in some bin";
        EXPECT_EQ(rows.front()[0], 0) << label;
        // The last row is the corner's bin: the corner lies half * sqrt(2) samples out, and
        // shares itself with the bin after its own.
        const int half = n / 2;
        EXPECT_EQ(rows.back()[0], static_cast<int>(2 * std::sqrt(2.0 * half * half)) + 1) << label;
        double amp_lo = 1.7976931348623157e308, amp_hi = 2.2250738585072014e-308;
        double pow_lo = amp_lo, pow_hi = amp_hi;
        for (const auto& r : rows) {
            if (r[0] < 1 || r[0] > half) continue;
            amp_lo = std::min(amp_lo, r[2]), amp_hi = std::max(amp_hi, r[2]);
            pow_lo = std::min(pow_lo, r[3]), pow_hi = std::max(pow_hi, r[3]);
        }
        const auto scaled = [](double v, double lo, double hi) {
            return (v - lo) / (hi - lo == 0 ? 1 : hi - lo);
        };
        std::string want;
        for (const auto& r : rows) {
            if (r[0] < 1 || r[0] > half) continue;
            char line[128];
            std::snprintf(line, sizeof line, "%d,%e,%e\n", static_cast<int>(r[0]),
                          scaled(r[2], amp_lo, amp_hi), scaled(r[3], pow_lo, pow_hi));
            want += line;
        }
        const std::string profile = testutil::from_text_mode(testutil::read_text(dir.path("in.csv")));
        const std::size_t rows_start = profile.find("frequency,amplitude,power\n");
        ASSERT_NE(rows_start, std::string::npos);
        EXPECT_EQ(profile.substr(rows_start + 26), want) << label;
    }
}

TEST_F(View, LengthGivesCyclesPerMetre) {
    testutil::write_file(dir.path("in.bmp"),
                         testutil::make_bmp({16, 16}, testutil::pattern_pixels(16, 16, 3)));
    const auto r = view({"--length", "0.037", "in.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("cycles per metre for a side of 0.037 m"), std::string::npos) << r.err;
    const auto full = lines_of(testutil::from_text_mode(testutil::read_text(dir.path("in-full.csv"))));
    ASSERT_GE(full.size(), 3u);
    EXPECT_EQ(full[0], "bin,cycles_per_side,cycles_per_metre,mean_amplitude,mean_power,weight");
    for (std::size_t i = 1; i < full.size(); ++i) {
        const auto f = fields_of(full[i]);
        ASSERT_EQ(f.size(), 6u) << full[i];
        EXPECT_EQ(f[2], f[1] / 0.037) << full[i];
    }
}

TEST_F(View, GratingsAHundredTimesApartAreTwoDecadesApart) {
    // Two gratings, amplitudes 100 and 1 grey level: their peaks are two decades apart, so
    // 2 / D of the scale: 102 levels apart with 5 decades, 127 with 4.
    const int n = 64;
    testutil::write_file(dir.path("g.bmp"), testutil::grey_bmp(n, [](int r, int c) {
                             return static_cast<uint8_t>(std::lround(
                                 127 + 100 * std::cos(2 * kPi * 8 * c / n) + std::cos(2 * kPi * 4 * r / n)));
                         }));
    struct Case {
        const char* decades;
        int apart;
    };
    for (const Case& c : {Case{"5", 102}, Case{"4", 127}}) {
        ASSERT_EQ(view({"--gray", "--decades", c.decades, "g.bmp"}).status, 0);
        const Bytes bmp = testutil::read_file(dir.path("g-as-log.bmp"));
        // Row r of the picture is file row n - 1 - r; the centre is (32, 32).
        const auto level = [&](int r, int col) {
            return int(bmp[54 + std::size_t(n - 1 - r) * n * 3 + col * 3]);
        };
        const int strong = level(32, 32 + 8);  // the first grating, 8 columns from the centre
        const int weak = level(32 + 4, 32);    // the second, 4 rows below it
        EXPECT_EQ(strong, 255) << "the strong grating is the top of the scale";
        EXPECT_NEAR(strong - weak, c.apart, 2) << c.decades << " decades";
    }
}

TEST_F(View, RefusalsEndWithTheirMessageAndChangeNothing) {
    // Each command line ends with status 1 and its message, claims no success, and leaves
    // the folder as it was: the usage, every option's value refused, inputs that cannot
    // be read or measured, and a measuring run's options refused on a PGM.
    testutil::write_file(dir.path("in.bmp"), testutil::make_bmp({8, 8}, testutil::pattern_pixels(8, 8, 1)));
    testutil::write_file(dir.path("in.pgm"),
                         testutil::pgm16(8, [](int r, int c) { return unsigned(r * 100 + c * 7); }));
    testutil::write_file(dir.path("one.pgm"), testutil::pgm16(1, [](int, int) { return 5u; }));
    // PFMs of 2 x 2 little-endian floats, bottom row first: a NaN (an invalid point) in the
    // file's third sample, which is row 0, column 0; the same with infinity; all NaN.
    const auto pfm = [](const std::vector<uint32_t>& bits) {
        const std::string h = "Pf\n2 2\n-1\n";
        testutil::Bytes b(h.begin(), h.end());
        for (const uint32_t v : bits) {
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
        return b;
    };
    constexpr uint32_t kOne = 0x3f800000, kNan = 0x7fc00000, kInf = 0x7f800000;
    testutil::write_file(dir.path("nan.pfm"), pfm({kOne, kOne, kNan, kOne}));
    testutil::write_file(dir.path("inf.pfm"), pfm({kOne, kOne, kOne, kInf}));
    testutil::write_file(dir.path("void.pfm"), pfm({kNan, kNan, kNan, kNan}));
    testutil::write_file(dir.path("row.pgm"), [] {
        const std::string h = "P5 3 1 255\n";
        testutil::Bytes b(h.begin(), h.end());
        for (const uint8_t v : {1, 2, 3}) b.push_back(v);
        return b;
    }());
    const std::string usage =
        "Usage: varlox-view [--decades D] [--gray] [--length LX[,LY] | --pixel-size DX[,DY]] [--channel K]\n"
        "                   [--z-scale Z] [--level none|mean|plane] [--window hann|tukey[:A]] [--fill mean]\n"
        "                   [--fit F1:F2[/U]] [--band F1:F2[/U]] [--peaks K] [--min-prominence P] [--acf]\n"
        "                   [--acf-threshold S] [--threads N] <inputfile>\n";
    const std::string length =
        "Error: --length takes the scan's width and height in metres, LX[,LY], above 0, not ";
    const std::string pixel =
        "Error: --pixel-size takes the pixel's width and height in metres, DX[,DY], above 0, not ";
    const std::string band =
        "Error: --band takes F1:F2, two frequencies with 0 <= F1 <= F2, then /side, /px, /m or nothing, not ";
    const std::string fit =
        "Error: --fit takes a band F1:F2 with 0 <= F1 < F2, then /side, /px, /m or nothing, not ";
    const std::string peaks = "Error: --peaks takes a whole number of peaks, 1 or more, not ";
    struct Refusal {
        std::vector<std::string> args;
        std::string message;  // the end of what it prints
    };
    const Refusal cases[] = {
        {{}, usage},
        {{"in.bmp", "busy.bmp"}, usage},
        {{"--bogus", "in.bmp"}, usage},
        {{"in.bmp", "--decades"}, usage},
        {{"--decades", "0", "in.bmp"}, "Error: --decades takes a number of decades above 0, not '0'\n"},
        {{"--decades=x", "in.bmp"}, "Error: --decades takes a number of decades above 0, not 'x'\n"},
        {{"--length", "-1", "in.bmp"}, length + "'-1'\n"},
        {{"--length=inf", "in.bmp"}, length + "'inf'\n"},
        {{"--length=1,0", "in.bmp"}, length + "'1,0'\n"},
        {{"--length=1,", "in.bmp"}, length + "'1,'\n"},
        {{"--length=1,2,3", "in.bmp"}, length + "'1,2,3'\n"},
        {{"--pixel-size", "1e-6,-1", "in.bmp"}, pixel + "'1e-6,-1'\n"},
        {{"--pixel-size", " 1e-6", "in.bmp"}, pixel + "' 1e-6'\n"},
        {{"--length", "1", "--pixel-size", "1", "in.bmp"},
         "Error: --length and --pixel-size both give the scan's size; give one of them\n"},
        {{"--pixel-size", "1", "--length", "1", "in.bmp"},
         "Error: --length and --pixel-size both give the scan's size; give one of them\n"},
        {{"--channel", "-1", "in.bmp"},
         "Error: --channel takes a channel number from 0 to 2147483647, not '-1'\n"},
        {{"--channel", "2147483648", "in.bmp"},
         "Error: --channel takes a channel number from 0 to 2147483647, not '2147483648'\n"},
        {{"--channel", "0", "in.pgm"}, "Error: --channel is for Gwyddion files, and in.pgm is not one\n"},
        {{"--fill", "median", "in.pgm"}, "Error: --fill takes mean, not 'median'\n"},
        {{"--decades", "", "in.bmp"}, "Error: --decades takes a number of decades above 0, not ''\n"},
        {{"--length=", "in.bmp"}, length + "''\n"},
        {{"--", "--gray"}, "Error: Could not read --gray"},
        {{"--threads", "0", "in.bmp"},
         "Error: --threads takes a whole number of threads from 1 to 4096, not '0'\n"},
        {{"--threads=-2", "in.bmp"},
         "Error: --threads takes a whole number of threads from 1 to 4096, not '-2'\n"},
        {{"--threads=", "in.bmp"},
         "Error: --threads takes a whole number of threads from 1 to 4096, not ''\n"},
        {{"--threads", "two", "in.bmp"},
         "Error: --threads takes a whole number of threads from 1 to 4096, not 'two'\n"},
        {{"--threads", "3.0", "in.bmp"},
         "Error: --threads takes a whole number of threads from 1 to 4096, not '3.0'\n"},
        {{"--threads=4097", "in.bmp"},
         "Error: --threads takes a whole number of threads from 1 to 4096, not '4097'\n"},
        {{"in.bmp", "--threads"}, usage},
        {{"missing.bmp"}, "Error: Could not read missing.bmp"},
        {{"--band", "", "in.bmp"}, band + "''\n"},
        {{"--band=", "in.bmp"}, band + "''\n"},
        {{"--band", "5:2", "in.bmp"}, band + "'5:2'\n"},
        {{"--band", "-1:2", "in.bmp"}, band + "'-1:2'\n"},
        {{"--band", "2:nan", "in.bmp"}, band + "'2:nan'\n"},
        {{"--band", "3", "in.bmp"}, band + "'3'\n"},
        {{"--band", "1:2x", "in.bmp"}, band + "'1:2x'\n"},
        // An 8 x 8 picture's samples lie from 1 to 4 sqrt 2 cycles per side.
        {{"--band", "5.7:9", "in.bmp"},
         "Error: --band 5.7:9 holds no frequency of this picture: its samples lie from 1 to 5.65685 cycles "
         "per side\n"},
        {{"--band", "2.1:2.2", "in.bmp"},
         "Error: --band 2.1:2.2 holds no frequency of this picture: its samples lie from 1 to 5.65685 cycles "
         "per side\n"},
        {{"--length", "2", "--band", "3:4", "in.bmp"},
         "Error: --band 3:4 holds no frequency of this picture: its samples lie from 0.5 to 2.82843 cycles "
         "per metre\n"},
        {{"--peaks", "0", "in.bmp"}, peaks + "'0'\n"},
        {{"--peaks=", "in.bmp"}, peaks + "''\n"},
        {{"--peaks", "-3", "in.bmp"}, peaks + "'-3'\n"},
        {{"--peaks", "2.5", "in.bmp"}, peaks + "'2.5'\n"},
        {{"--peaks", "99999999999999999999999", "in.bmp"}, peaks + "'99999999999999999999999'\n"},
        {{"in.bmp", "--peaks"}, usage},
        {{"--min-prominence", "0", "in.bmp"},
         "Error: --min-prominence takes a prominence above 0, not '0'\n"},
        {{"--min-prominence=-1", "in.bmp"}, "Error: --min-prominence takes a prominence above 0, not '-1'\n"},
        {{"--min-prominence", "many", "in.bmp"},
         "Error: --min-prominence takes a prominence above 0, not 'many'\n"},
        {{"--level", "", "in.pgm"}, "Error: --level takes none, mean or plane, not ''\n"},
        {{"--level=tilt", "in.pgm"}, "Error: --level takes none, mean or plane, not 'tilt'\n"},
        {{"--window=", "in.pgm"}, "Error: --window takes hann or tukey[:A] with 0 < A <= 1, not ''\n"},
        {{"--window", "tukey:2", "in.pgm"},
         "Error: --window takes hann or tukey[:A] with 0 < A <= 1, not 'tukey:2'\n"},
        {{"--z-scale", "0", "in.pgm"},
         "Error: --z-scale takes a factor for the file's values, above 0, not '0'\n"},
        {{"--fit", "", "in.pgm"}, fit + "''\n"},
        {{"--fit", "8:2", "in.pgm"}, fit + "'8:2'\n"},
        {{"--fit", "1:2/", "in.pgm"}, fit + "'1:2/'\n"},
        {{"--fit", "1:2/pixel", "in.pgm"}, fit + "'1:2/pixel'\n"},
        {{"--fit", "1/px:2/px", "in.pgm"}, fit + "'1/px:2/px'\n"},
        {{"--fit", "1:2 /px", "in.pgm"}, fit + "'1:2 /px'\n"},
        {{"--band", "1:2/mm", "in.bmp"}, band + "'1:2/mm'\n"},
        // The 8 x 8 map's rows lie from 1 to 6 cycles per side, bins 2 to 12 (no sample
        // but the zero frequency lies nearer than 1; the corner's, at 4 sqrt 2, shares
        // bin 12), that is 1/8 to 3/4 cycles per pixel.
        {{"--fit", "0:1.5", "in.pgm"},
         "Error: --fit 0:1.5 holds 2 rows with a psd above 0; a fit needs 3 or more: the profile's rows lie "
         "from 1 to 6 cycles per side\n"},
        {{"--fit", "0.7:0.9/px", "in.pgm"},
         "Error: --fit 0.7:0.9/px holds 1 row with a psd above 0; a fit needs 3 or more: the profile's rows "
         "lie from 0.125 to 0.75 cycles per pixel\n"},
        {{"--length", "2", "--fit", "0:0.75", "in.pgm"},
         "Error: --fit 0:0.75 holds 2 rows with a psd above 0; a fit needs 3 or more: the profile's rows lie "
         "from 0.5 to 3 cycles per metre\n"},
        {{"--length", "2", "--fit", "0:1.5/side", "in.pgm"},
         "Error: --fit 0:1.5/side holds 2 rows with a psd above 0; a fit needs 3 or more: the profile's rows "
         "lie from 1 to 6 cycles per side\n"},
        {{"--fit", "1:3/m", "in.pgm"},
         "Error: --fit 1:3/m is in cycles per metre, and the scan's size is not known; give --length or "
         "--pixel-size, or the band in /side or /px\n"},
        {{"--band", "0.8:0.9/px", "in.bmp"},
         "Error: --band 0.8:0.9/px holds no frequency of this picture: its samples lie from 0.125 to "
         "0.707107 "
         "cycles per pixel\n"},
        {{"--length", "2", "--band", "6:7/side", "in.bmp"},
         "Error: --band 6:7/side holds no frequency of this picture: its samples lie from 1 to 5.65685 "
         "cycles "
         "per side\n"},
        {{"--window", "hann", "one.pgm"}, "Error: A window needs a picture of 2 or more columns and rows\n"},
        {{"--window", "hann", "row.pgm"}, "Error: A window needs a picture of 2 or more columns and rows\n"},
        {{"nan.pfm"},
         "Error: nan.pfm has 1 point without a valid height, the first at row 0, column 0; --fill mean gives "
         "them the mean of the valid heights\n"},
        {{"inf.pfm"}, "Error: inf.pfm has a non-finite sample at row 0, column 1\n"},
        {{"void.pfm"}, "Error: void.pfm has no point with a valid height\n"},
        {{"--fill", "mean", "void.pfm"}, "Error: void.pfm has no point with a valid height\n"},
        {{"--z-scale", "1e98", "in.pgm"}, "Error: Heights times 1e+98 exceed 1e100 in magnitude\n"},
    };
    const auto before = testutil::snapshot(dir.root);
    for (const Refusal& c : cases) {
        const auto r = view(c.args);
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_TRUE(testutil::ends_with(r.err, c.message)) << label << ": " << r.err;
        EXPECT_EQ(r.err.find("successfully"), std::string::npos) << label;
        const auto after = testutil::snapshot(dir.root);
        EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
    }
}

TEST_F(View, HelpAndTheEndOfOptions) {
    // The help is asked for: status 0, every output of the table named, nothing written.
    // After "--" a name that begins with "-" is the picture.
    testutil::write_file(dir.path("-in.bmp"), testutil::make_bmp({8, 8}, testutil::pattern_pixels(8, 8, 3)));
    const auto before = testutil::snapshot(dir.root);
    for (const char* help : {"--help", "-h"}) {
        const auto r = view({help, "-in.bmp"});
        EXPECT_EQ(r.status, 0) << help << ": " << r.err;
        for (const OutputRow& row : kViewOutputs) {
            EXPECT_NE(r.err.find(std::string("NAME") + row.suffix), std::string::npos)
                << help << ": " << r.err;
        }
        EXPECT_NE(r.err.find("--decades D"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("successfully"), std::string::npos) << r.err;
        EXPECT_TRUE(testutil::snapshot(dir.root) == before) << help;
    }
    const auto r = view({"--gray", "--", "-in.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Wrote -in-as-log.bmp: the amplitude on a log scale (grey)"), std::string::npos)
        << r.err;
    EXPECT_EQ(testutil::snapshot(dir.root).size(), before.size() + kViewPlainCount);
}

TEST_F(View, TopOfTheScaleIsAnAmplitudeOnEverySide) {
    // Sides 1 to 3 have no sample outside the centre 3 x 3: the top is then the largest
    // amplitude of all (here the zero frequency, the sum of the grey levels), or 1 for a
    // black picture.
    struct Case {
        int side;
        uint8_t grey;  // every pixel's level
        double top;
        const char* why;
    };
    const Case cases[] = {
        {1, 200, 200, "the largest amplitude (no sample"},
        {3, 10, 90, "the largest amplitude (no sample"},
        {2, 100, 400, "the largest amplitude (no sample"},
        {2, 0, 1, "as every amplitude is 0"},
    };
    for (const Case& c : cases) {
        const Bytes px(std::size_t(c.side) * c.side * 3, c.grey);
        testutil::write_file(dir.path("t.bmp"), testutil::make_bmp({c.side, c.side}, px));
        const auto r = view({"t.bmp"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::size_t to = r.err.find(" to ");
        ASSERT_NE(to, std::string::npos) << r.err;
        EXPECT_DOUBLE_EQ(std::strtod(r.err.c_str() + to + 4, nullptr), c.top) << c.side << ": " << r.err;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << c.side << ": " << r.err;
    }
}

TEST_F(View, WritesBothOutputsAndSaysWhat) {
    testutil::write_file(dir.path("in.bmp"),
                         testutil::make_bmp({16, 16}, testutil::pattern_pixels(16, 16, 2)));
    const auto r = view({"in.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(0, 37), "\n------- VARLOX version 1.0 -------\nS");
    EXPECT_NE(r.err.find("Wrote in-as-log.bmp: the amplitude on a log scale (colour ramp) from "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("5 decades below its top"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Wrote in-full.csv: "), std::string::npos) << r.err;
    const std::string tail = "The calculation has been completed successfully.\n";
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    const auto after = testutil::snapshot(dir.root);
    EXPECT_EQ(after.size(), 3u) << testutil::listing(after);
    EXPECT_EQ(after.at("in-as-log.bmp").size(), 54u + 16 * 16 * 3);
}

TEST_F(View, EveryThreadCountWritesTheSameBytesAndSaysHowMany) {
    // Sides of several batches of 64 lines, even and odd; thread counts dividing them and
    // not, and more threads than batches (7 for 3 batches: the transform runs on 3).
    struct Case {
        int side;
        int batches;
    };
    for (const Case c : {Case{130, 3}, Case{199, 4}}) {
        const int n = c.side;
        testutil::write_file(dir.path("in.bmp"),
                             testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, n)));
        ASSERT_EQ(view({"--threads", "1", "in.bmp"}).status, 0);
        const Bytes log = testutil::read_file(dir.path("in-as-log.bmp"));
        const Bytes full = testutil::read_file(dir.path("in-full.csv"));
        for (int threads : {1, 2, 3, 7}) {
            const std::string label = "side " + std::to_string(n) + " threads " + std::to_string(threads);
            const auto r = view({"--threads=" + std::to_string(threads), "in.bmp"});
            ASSERT_EQ(r.status, 0) << label << r.err;
            const int ran = std::min(threads, c.batches);
            EXPECT_NE(r.err.find("The transform ran on " + std::to_string(ran) +
                                 (ran == 1 ? " thread\n" : " threads\n")),
                      std::string::npos)
                << label << r.err;
            EXPECT_TRUE(testutil::read_file(dir.path("in-as-log.bmp")) == log) << label;
            EXPECT_TRUE(testutil::read_file(dir.path("in-full.csv")) == full) << label;
        }
    }
}

#if defined(__linux__)
TEST_F(View, ThreadsDefaultToTheProcessorsItMayRunOn) {
    // The default is the affinity mask's count, not the machine's: pinned to one
    // processor, the program runs on one thread.
    if (std::system("taskset -c 0 true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no taskset";
    const int n = 130;
    testutil::write_file(dir.path("in.bmp"), testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, 1)));
    const auto r = testutil::run_program(
        "/bin/sh", {"-c", "taskset -c 0 " + testutil::emulator_prefix() + VARLOX_VIEW_EXE + " in.bmp"},
        dir.root.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("The transform ran on 1 thread\n"), std::string::npos) << r.err;
}
#endif

TEST_F(View, BandsInEveryUnitTakeTheSameRows) {
    // One band, 7 to 20 cycles per side of a 100 x 100 map, written in every unit, without
    // a size and with one of 0.01 m: each group must fit the same rows to the same slope
    // and error, state the band in cycles per side (per metre with the size) in the
    // summary, and name the unit it was given in on standard error. 0.07 cycles per pixel
    // times 100 is 7.000000000000001, the band's lowest row must still count.
    const int n = 100;
    testutil::write_file(
        dir.path("n.pgm"), testutil::pgm16(n, [](int r, int c) {
            return unsigned((uint64_t(r) * 7919 + uint64_t(c) * 104729 + r * c * 31) % 65536);
        }));
    struct Given {
        std::vector<std::string> args;
        const char* unit;  // as the messages name it
    };
    struct Group {
        std::vector<Given> runs;
        double from, to;  // the summary's fit_from and fit_to
    };
    const Group groups[] = {
        {{{{"--fit", "7:20", "--band", "7:20"}, "cycles per side"},
          {{"--fit=7:20/side", "--band=7:20/side"}, "cycles per side"},
          {{"--fit", "0.07:0.2/px", "--band", "0.07:0.2/px"}, "cycles per pixel"}},
         7,
         20},
        {{{{"--length", "0.01", "--fit", "700:2000", "--band", "700:2000"}, "cycles per metre"},
          {{"--length", "0.01", "--fit", "700:2000/m", "--band", "700:2000/m"}, "cycles per metre"},
          {{"--length", "0.01", "--fit", "7:20/side", "--band", "7:20/side"}, "cycles per side"},
          {{"--length", "0.01", "--fit", "0.07:0.2/px", "--band", "0.07:0.2/px"}, "cycles per pixel"}},
         700,
         2000},
    };
    for (const Group& g : groups) {
        std::vector<double> first;
        for (const Given& run : g.runs) {
            std::vector<std::string> args = run.args;
            args.push_back("n.pgm");
            std::string label;
            for (const std::string& a : run.args) label += a + " ";
            const auto r = view(args);
            ASSERT_EQ(r.status, 0) << label << r.err;
            const auto summary =
                lines_of(testutil::from_text_mode(testutil::read_text(dir.path("n-summary.csv"))));
            ASSERT_EQ(summary.size(), 2u);
            const auto row = fields_of(summary[1]);
            const std::vector<double> fit(row.begin() + 4, row.begin() + 11);
            // Converted from cycles per pixel, to the last bit or so.
            EXPECT_NEAR(row[7], g.from, 1e-12 * g.from) << label;
            EXPECT_NEAR(row[8], g.to, 1e-12 * g.to) << label;
            EXPECT_EQ(row[9], 27) << label << "bins 14 to 40";
            if (first.empty()) first = fit;
            for (std::size_t i = 0; i < fit.size(); ++i) {
                if (i == 3 || i == 4) continue;  // the band in its own unit, checked above
                EXPECT_NEAR(fit[i], first[i], 1e-12 * std::fabs(first[i])) << label << "column " << 4 + i;
            }
            const std::string unit = run.unit;
            EXPECT_NE(r.err.find(" rows from "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(" " + unit + ", "), std::string::npos) << label << r.err;
            EXPECT_NE(r.err.find("sectors from "), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("against cycles per pixel;"), std::string::npos) << r.err;
        }
    }
}

TEST_F(View, HurstExponentOnlyWhereTheSlopeGivesOne) {
    // White noise has a flat psd, slope near 0 and H near -1: the summary's hurst is
    // empty and the run says why; a smooth ramp of cosines falling as f^-3 has one.
    const int n = 64;
    testutil::write_file(
        dir.path("flat.pgm"), testutil::pgm16(n, [](int r, int c) {
            return unsigned((uint64_t(r) * 7919 + uint64_t(c) * 104729 + r * c * 31) % 65536);
        }));
    testutil::write_file(dir.path("rough.pgm"), testutil::pgm16(n, [](int r, int c) {
                             double z = 0;
                             for (int k = 1; k < 32; ++k) {
                                 const double a = std::pow(k, -1.5);
                                 z += a * std::cos(2 * kPi * k * (c + 0.37 * r) / n + k * k) +
                                      a * std::cos(2 * kPi * k * r / n + 3 * k);
                             }
                             return unsigned(30000 + std::lround(8000 * z));
                         }));
    struct Case {
        const char* input;
        bool hurst;
    };
    for (const Case c : {Case{"flat.pgm", false}, Case{"rough.pgm", true}}) {
        const auto r = view({"--level", "mean", "--fit", "4:24", c.input});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string base = std::string(c.input).substr(0, std::strlen(c.input) - 4);
        const auto summary =
            lines_of(testutil::from_text_mode(testutil::read_text(dir.path(base + "-summary.csv"))));
        ASSERT_EQ(summary.size(), 2u);
        std::vector<std::string> fields;
        std::istringstream in(summary[1]);
        for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
        ASSERT_GT(fields.size(), 7u);
        const double slope = std::strtod(fields[4].c_str(), nullptr);
        EXPECT_EQ(fields[6].empty(), !c.hurst) << summary[1];
        EXPECT_EQ(slope > -4 && slope < -2, c.hurst) << summary[1];
        EXPECT_EQ(r.err.find("outside 0 to 1: no Hurst exponent") == std::string::npos, c.hurst) << r.err;
        EXPECT_EQ(r.err.find(", Hurst exponent ") != std::string::npos, c.hurst) << r.err;
    }
}

TEST_F(View, MeasuringRunsAddThePsdAndTheSummary) {
    // A BMP with a measuring option, and a PGM without one: the profile's columns end in
    // the psd's, its other columns as a plain run writes them, and the summary's row
    // names the picture. White noise would do; a grating's one ring is easier to check:
    // heights 1000 cos(2 pi 4 c / 16) give psd * weight / L^2 = 1000^2 / 2 at 4 cycles.
    const int n = 16;
    testutil::write_file(dir.path("in.bmp"), testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, 5)));
    testutil::write_file(dir.path("wave.pgm"), testutil::pgm16(n, [](int, int c) {
                             return unsigned(30000 + std::lround(1000 * std::cos(2 * kPi * 4 * c / 16)));
                         }));
    ASSERT_EQ(view({"in.bmp"}).status, 0);
    const auto plain = lines_of(testutil::from_text_mode(testutil::read_text(dir.path("in-full.csv"))));
    const auto r = view({"--level", "none", "in.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto measured = lines_of(testutil::from_text_mode(testutil::read_text(dir.path("in-full.csv"))));
    ASSERT_EQ(measured.size(), plain.size());
    EXPECT_EQ(measured[0], plain[0] + ",cycles_per_pixel,psd,psd_sd");
    for (std::size_t i = 1; i < plain.size(); ++i) {
        EXPECT_EQ(measured[i].compare(0, plain[i].size() + 1, plain[i] + ","), 0) << measured[i];
    }
    EXPECT_NE(r.err.find("Wrote in-summary.csv: rms "), std::string::npos) << r.err;

    const auto w = view({"--level=mean", "--length", "0.016", "--fit", "100:300", "wave.pgm"});
    ASSERT_EQ(w.status, 0) << w.err;
    const auto full = lines_of(testutil::from_text_mode(testutil::read_text(dir.path("wave-full.csv"))));
    ASSERT_EQ(
        full[0],
        "bin,cycles_per_side,cycles_per_metre,mean_amplitude,mean_power,weight,cycles_per_pixel,psd,psd_sd");
    double ring = 0;
    for (std::size_t i = 1; i < full.size(); ++i) {
        const auto f = fields_of(full[i]);
        ASSERT_EQ(f.size(), 9u) << full[i];
        EXPECT_EQ(f[6], f[1] / n) << full[i];
        if (f[0] == 8) ring = f[7] * f[5] / (0.016 * 0.016);
    }
    EXPECT_NEAR(ring, 1000.0 * 1000 / 2, 1e-6);
    const auto summary =
        lines_of(testutil::from_text_mode(testutil::read_text(dir.path("wave-summary.csv"))));
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_EQ(
        summary[0],
        "picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,fit_rows,psd_intercept,"
        "direction_deg,lay_deg,aspect,peak_period_px,peak_direction_deg,columns,rows,pixel_size_x,pixel_size_"
        "y,"
        "height_unit,filled,filled_share,sal,str,str_capped,std_deg,stdi,sq,sa,ssk,sku,sp,sv,sz,sdq,sdr,"
        "sal_direction_deg,acf_threshold");
    const auto row = fields_of(summary[1]);
    // 39 fields, the last 16 (the autocorrelation's) empty without --acf.
    ASSERT_EQ(std::count(summary[1].begin(), summary[1].end(), ','), 38) << summary[1];
    EXPECT_EQ(summary[1].substr(summary[1].size() - 16), std::string(16, ',')) << summary[1];
    EXPECT_EQ(row[16], 16);
    EXPECT_EQ(row[17], 16);
    EXPECT_EQ(row[18], 0.001);
    EXPECT_EQ(row[19], 0.001);
    EXPECT_EQ(summary[1].substr(0, 12), "wave.pgm,16,");
    EXPECT_EQ(row[2], 0.001);
    EXPECT_NEAR(row[3], 1000 / std::sqrt(2.0), 1e-9);  // the rms of the levelled cosine
    EXPECT_EQ(row[7], 100);
    EXPECT_EQ(row[8], 300);
    EXPECT_GE(row[9], 3);
}

}  // namespace

// varlox-view's writer: the files of a measurement as they are read back. The numbers of
// a real measurement are checked against independent models in test_psd.cpp,
// test_angles.cpp and test_peaks.cpp; here the summary's row is built from chosen
// numbers, so that its columns, quoting and empty fields are checked exactly.
namespace {

// A measuring run's result for a map of width x height (4 x 4 by default) of the given
// size in metres (none by default), whose summary numbers are then set by hand.
ViewResult measured_result(uint32_t width = 4, uint32_t height = 4, double lx = 0, double ly = 0) {
    HeightMap map{};
    map.width = width;
    map.height = height;
    map.z = buffer_new<double>(width * height);
    map.format = kHeightsPfm;
    for (uint32_t k = 0; k < width * height; ++k) map.z[k] = (k * 7) % 5;
    if (width * height > 3) map.z[3] = std::nan("");
    MeasureOptions m{};
    m.fill = true;
    m.length_x = lx;
    m.length_y = ly;
    m.z_scale = 1;
    m.measuring = true;
    m.window = Window{kWindowNone, 1};
    m.peaks = 3;
    m.threads = 1;
    ViewResult r;
    EXPECT_EQ(view_measure(map, m, r), 0);
    return r;
}

// The summary file view_write makes of `r`, run with `options` on the input `input`.
std::string summary_of(const ViewResult& r, const ViewOptions& options, const std::string& input) {
    testutil::TempDir dir;
    std::string names[kViewOutputCount];
    for (int i = 0; i < kViewOutputCount; ++i) names[i] = dir.path(std::string("s") + kViewOutputs[i].suffix);
    OutputSet set;
    output_table_add(set, kViewOutputs, r.acf_measured ? kViewOutputCount : kViewMeasuringCount, names);
    EXPECT_EQ(outputs_create(set), 0);
    EXPECT_EQ(view_write(r, options, input, set), 0);
    EXPECT_EQ(outputs_commit(set), 0);
    return testutil::from_text_mode(testutil::read_text(names[kViewSummary]));
}

TEST(ViewWrite, SummaryIsOneNamedRowWithEmptyColumnsForWhatIsNotKnown) {
    const std::string header =
        "picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,fit_rows,psd_intercept,"
        "direction_deg,lay_deg,aspect,peak_period_px,peak_direction_deg,columns,rows,pixel_size_x,"
        "pixel_size_y,height_unit,filled,filled_share,sal,str,str_capped,std_deg,stdi,sq,sa,ssk,sku,sp,sv,sz,"
        "sdq,sdr,sal_direction_deg,acf_threshold\n";
    const std::string no_acf = ",,,,,,,,,,,,,,,,";
    ViewResult plain = measured_result();
    plain.rms = 1.5;
    plain.direction = plain.lay = plain.aspect = std::nan("");
    plain.peak_count = 0;
    ViewOptions options{};
    options.measure.measuring = true;
    EXPECT_EQ(summary_of(plain, options, "scan.pgm"),
              header + "scan.pgm,4,,1.5,,,,,,,,,,,,,4,4,,,,1,0.0625" + no_acf + "\n");

    ViewResult full = measured_result(4, 4, 0.001, 0.001);
    full.rms = 1.5;
    full.fitted = true;
    full.fit = PsdFit{12, -3.25, 0.5, 0.125, 0.625, true};
    full.direction = 150.25;
    full.lay = 60.25;
    full.aspect = 0.03125;
    ASSERT_GT(full.peak_count, 0u);
    full.peaks[0].frequency = 4 / 16.5;
    full.peaks[0].direction = 149.5;
    options.measure.fit = true;
    options.measure.fit_from = 4;
    options.measure.fit_to = 64;
    options.height_unit = "m";
    EXPECT_EQ(summary_of(full, options, "a,\"b\".pfm"),
              header +
                  "\"a,\"\"b\"\".pfm\",4,0.00025000000000000001,1.5,-3.25,0.5,0.625,4,64,12,0.125,"
                  "150.25,60.25,0.03125,16.5,149.5,4,4,0.00025000000000000001,0.00025000000000000001,m,1,"
                  "0.0625" +
                  no_acf + "\n");

    // A rectangle of 6 x 4 pixels of 1 x 2 mm: the reference side is the width (6 mm, the
    // shorter), so side and pixel_size are the width's, and a peak of 1.5 cycles per side
    // has a period of 4 of its pixels.
    ViewResult wide = measured_result(6, 4, 0.006, 0.008);
    wide.rms = 1.5;
    wide.direction = wide.lay = wide.aspect = std::nan("");
    ASSERT_GT(wide.peak_count, 0u);
    wide.peaks[0].frequency = 1.5;
    wide.peaks[0].direction = 90;
    options.measure.fit = false;
    options.height_unit = "nm";
    EXPECT_EQ(summary_of(wide, options, "wide.gwy"),
              header + "wide.gwy,6,0.001,1.5,,,,,,,,,,,4,90,6,4,0.001,0.002,nm,1,0.041666666666666664" +
                  no_acf + "\n");
}

}  // namespace
