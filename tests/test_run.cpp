// Whole runs of the executable on small pictures whose outputs can be worked out by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/test_util.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

const char* const kHeader =
    "Wavenumber[m-1] = frequency / L[m]\n"
    "L[m] : the actual distance of the side length of the calculated square image\n\n"
    "frequency,amplitude,power\n";
const char* const kOutputs[] = {"in-as-bw.bmp", "in-as-tg.bmp", "in-ps-bw.bmp", "in-ps-tg.bmp",
                                "in.csv"};
const std::string kSuccess = "The calculation has been completed successfully.\n";

// The BMP file the program writes for a picture of side n whose pixels are all
// `background` except those listed (row from the top, column, colour 0xRRGGBB).
struct Spot {
    int row, col;
    uint32_t color;
};
Bytes expected_picture(int n, uint32_t background, const std::vector<Spot>& spots) {
    Bytes px(std::size_t(n) * n * 3);
    auto set = [&](int r, int c, uint32_t color) {
        uint8_t* p = &px[(std::size_t(r) * n + c) * 3];
        p[0] = static_cast<uint8_t>(color);
        p[1] = static_cast<uint8_t>(color >> 8);
        p[2] = static_cast<uint8_t>(color >> 16);
    };
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) set(r, c, background);
    for (const Spot& s : spots) set(s.row, s.col, s.color);
    Bytes b = testutil::make_bmp({n, n}, px);
    testutil::put_le32(b, 38, 1);  // the writer's resolution fields
    testutil::put_le32(b, 42, 1);
    return b;
}

// Compares a written picture with the expected one. The two peaks of a symmetric
// spectrum are equal only up to rounding, so the smaller one may scale to 254.99... and
// be drawn one level darker: bytes of the spots may differ by one, all others must match.
void expect_picture(const Bytes& got, const Bytes& want, int n, const std::vector<Spot>& spots,
                    const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    const std::size_t stride = (std::size_t(n) * 3 + 3) / 4 * 4;
    std::vector<bool> loose(got.size(), false);
    for (const Spot& s : spots) {
        const std::size_t at = 54 + std::size_t(n - 1 - s.row) * stride + std::size_t(s.col) * 3;
        for (int ch = 0; ch < 3; ++ch) loose[at + ch] = true;
    }
    for (std::size_t i = 0; i < got.size(); ++i) {
        const int diff = std::abs(int{got[i]} - int{want[i]});
        ASSERT_LE(diff, loose[i] ? 1 : 0) << what << " byte " << i;
    }
}

struct Row {
    int bin;
    double amp, pow;
};

std::vector<Row> profile_rows(const std::string& text, std::string* header) {
    std::istringstream in(text);
    std::string line;
    *header = "";
    for (int i = 0; i < 4 && std::getline(in, line); ++i) *header += line + "\n";
    std::vector<Row> rows;
    while (std::getline(in, line)) {
        Row r{};
        char tail = 0;
        EXPECT_EQ(std::sscanf(line.c_str(), "%d,%le,%le%c", &r.bin, &r.amp, &r.pow, &tail), 3) << line;
        rows.push_back(r);
    }
    return rows;
}

class Run : public testing::Test {
protected:
    testutil::RunResult run_on(const Bytes& picture) {
        testutil::write_file(dir.path("in.bmp"), picture);
        return testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
    }
    Bytes out(int i) const { return testutil::read_file(dir.path(kOutputs[i])); }
    // The profile is a text file: line ends as the platform's text mode writes them.
    std::string csv() const { return testutil::from_text_mode(testutil::read_text(dir.path("in.csv"))); }
    TempDir dir;
};

TEST_F(Run, SideThreeGivesWhitePicturesAndNoRows) {
    const auto r = run_on(testutil::grey_bmp(3, [](int row, int col) { return row * 40 + col * 7; }));
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out(i), expected_picture(3, 0xFFFFFF, {})) << kOutputs[i];
    EXPECT_EQ(csv(), kHeader);
}

TEST_F(Run, SidesFourAndFiveGiveOneRowOfZeros) {
    for (int n : {4, 5}) {
        const auto r = run_on(testutil::grey_bmp(n, [](int row, int col) { return (row * 37 + col * 91) % 256; }));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(csv(), std::string(kHeader) + "2,0.000000e+00,0.000000e+00\n") << "side " << n;
    }
}

TEST_F(Run, BlackPictureGivesBlackPicturesAndZeroRows) {
    const auto r = run_on(testutil::grey_bmp(8, [](int, int) { return 0; }));
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out(i), expected_picture(8, 0x000000, {})) << kOutputs[i];
    EXPECT_EQ(csv(), std::string(kHeader) +
                         "2,0.000000e+00,0.000000e+00\n"
                         "3,0.000000e+00,0.000000e+00\n"
                         "4,0.000000e+00,0.000000e+00\n");
}

TEST_F(Run, GratingShowsTwoPeaksBesideTheCentre) {
    // Level 100 + 50 cos(pi col / 2): a grating of two cycles per 4 columns. Its spectrum is
    // the zero frequency (6400) at (4, 4) and two peaks of 1600 at (4, 2) and (4, 6); every
    // other sample is zero up to rounding. The peaks lie 2 samples from the centre, in
    // bin 4, beyond the centre 3 x 3, so they set the top of both ranges.
    const int levels[4] = {150, 100, 50, 100};
    const auto r = run_on(testutil::grey_bmp(8, [&](int, int col) { return levels[col % 4]; }));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - kSuccess.size()), kSuccess);
    const std::vector<Spot> white = {{4, 2, 0xFFFFFF}, {4, 4, 0xFFFFFF}, {4, 6, 0xFFFFFF}};
    for (int i = 0; i < 4; ++i) {
        expect_picture(out(i), expected_picture(8, 0x000000, white), 8, white, kOutputs[i]);
    }
    std::string header;
    const std::vector<Row> rows = profile_rows(csv(), &header);
    EXPECT_EQ(header, kHeader);
    ASSERT_EQ(rows.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[i].bin, i + 2);
    EXPECT_NEAR(rows[0].amp, 0.0, 1e-12);
    EXPECT_NEAR(rows[1].amp, 0.0, 1e-12);
    EXPECT_EQ(rows[2].amp, 1.0);
    EXPECT_NEAR(rows[0].pow, 0.0, 1e-12);
    EXPECT_EQ(rows[2].pow, 1.0);
}

TEST_F(Run, SampleGivesAllFiveOutputs) {
    const auto r = run_on(testutil::read_file(std::string(VARLOX_SOURCE_DIR) + "/examples/sample.bmp"));
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out(i).size(), 54u + 256 * 768) << kOutputs[i];
    std::string header;
    const std::vector<Row> rows = profile_rows(csv(), &header);
    ASSERT_EQ(rows.size(), 127u);
    bool saw_zero = false, saw_one = false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].bin, static_cast<int>(i) + 2);
        EXPECT_GE(rows[i].amp, 0.0);
        EXPECT_LE(rows[i].amp, 1.0);
        saw_zero = saw_zero || rows[i].amp == 0.0;
        saw_one = saw_one || rows[i].amp == 1.0;
    }
    EXPECT_TRUE(saw_zero && saw_one);
}

TEST_F(Run, OddSideIsCentredLikeAnEvenOne) {
    // A 9 x 9 picture with a vertical grating of period 3 columns: its peaks lie at
    // column offsets of +-3 from the centre (4, 4), on the centre row.
    const int levels[3] = {200, 50, 50};
    const auto r = run_on(testutil::grey_bmp(9, [&](int, int col) { return levels[col % 3]; }));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Spot> white = {{4, 1, 0xFFFFFF}, {4, 4, 0xFFFFFF}, {4, 7, 0xFFFFFF}};
    expect_picture(out(0), expected_picture(9, 0x000000, white), 9, white, kOutputs[0]);
}

}  // namespace
