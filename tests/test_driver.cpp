#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/driver.h"
#include "tests/test_util.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

const std::string kBanner =
    "\n------- VARLOX version 1.0 -------\n"
    "Spatial-frequency spectrum of a square picture by direct 2-D Fourier transform\n\n";
const std::string kSuccess = "The calculation has been completed successfully.\n";

TEST(OutputNames, BaseIsPathUpToLastDotOfFinalComponent) {
    struct Case {
        std::string input, base;
    };
    const Case cases[] = {
        {"photo.bmp", "photo"},
        {"scan", "scan"},
        {"archive.tar.bmp", "archive.tar"},
        {"data.v2/scan", "data.v2/scan"},
        {"data.v2/scan.bmp", "data.v2/scan"},
        {"./scan", "./scan"},
        {"../scan", "../scan"},
        {"/abs/dir.d/pic.x.bmp", "/abs/dir.d/pic.x"},
        {"photo.csv", "photo"},
        {"trailing.", "trailing"},
    };
    for (const Case& c : cases) {
        const OutputNames n = output_names_build(c.input);
        EXPECT_EQ(n[kAmpGray], c.base + "-as-bw.bmp") << c.input;
        EXPECT_EQ(n[kAmpRamp], c.base + "-as-tg.bmp") << c.input;
        EXPECT_EQ(n[kPowGray], c.base + "-ps-bw.bmp") << c.input;
        EXPECT_EQ(n[kPowRamp], c.base + "-ps-tg.bmp") << c.input;
        EXPECT_EQ(n[kProfile], c.base + ".csv") << c.input;
    }
}

TEST(OutputNames, CutsOnlyTheFinalComponentTo190Bytes) {
    const std::string stem(250, 's');
    EXPECT_EQ(output_names_build(stem + ".bmp")[kProfile], std::string(190, 's') + ".csv");
    EXPECT_EQ(output_names_build(stem)[kAmpGray], std::string(190, 's') + "-as-bw.bmp");
    const std::string dir(300, 'd');
    EXPECT_EQ(output_names_build(dir + ".x/" + stem + ".bmp")[kProfile],
              dir + ".x/" + std::string(190, 's') + ".csv");
    EXPECT_EQ(output_names_build(dir + "/p.bmp")[kProfile], dir + "/p.csv");
}

TEST(OutputNames, CutNeverEndsInsideAUtf8Character) {
    struct Case {
        std::string stem;  // the file name before ".bmp"
        std::size_t kept;  // bytes of it left in the names
    };
    const std::string a189(189, 'a');
    const Case cases[] = {
        {std::string(250, 'a'), 190},                 // ASCII: cut where the limit falls
        {a189 + "\xC3\xA9" "b", 189},                 // 2-byte character across the cut
        {a189.substr(1) + "\xE2\x82\xAC" "b", 188},   // 3-byte character across the cut
        {a189.substr(2) + "\xF0\x9F\x98\x80" "b", 187},  // 4-byte character across the cut
        {a189.substr(1) + "\xC3\xA9" "bb", 190},      // 2-byte character ends at the cut
        {a189 + "\x80\x80" "b", 190},                 // not UTF-8: cut where the limit falls
    };
    for (const Case& c : cases) {
        EXPECT_EQ(output_names_build("dir/" + c.stem + ".bmp")[kProfile],
                  "dir/" + c.stem.substr(0, c.kept) + ".csv")
            << c.stem.size() << " bytes, kept " << c.kept;
    }
}

class Cli : public testing::Test {
protected:
    testutil::RunResult run(const std::vector<std::string>& args) {
        return testutil::run_program(VARLOX_EXE, args, dir.root.string());
    }
    void write_sample(const std::string& name, uint32_t side) {
        testutil::write_file(dir.path(name),
                             testutil::make_bmp({static_cast<int32_t>(side), static_cast<int32_t>(side)},
                                                testutil::pattern_pixels(side, side)));
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.root)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    TempDir dir;
};

TEST_F(Cli, WrongArgumentCountPrintsBannerAndUsage) {
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.bmp", "b.bmp"}}) {
        const auto r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, kBanner + "Usage: varlox <inputfile>\n");
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(files().empty());
    }
}

TEST_F(Cli, MissingInputIsReportedAndNothingCreated) {
    const auto r = run({"missing.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kBanner + "Error: Could not read missing.bmp");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(files().empty());
}

TEST_F(Cli, RejectedInputEndsWithStatusOne) {
    testutil::write_file(dir.path("wide.bmp"), testutil::make_bmp({8, 4}, {}));
    const auto r = run({"wide.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kBanner + "Error: wide.bmp is not a square image");
    EXPECT_EQ(files(), std::vector<std::string>{"wide.bmp"});
}

TEST_F(Cli, InputNamedLikeAnOutputIsNeverOverwritten) {
    write_sample("photo.csv", 4);
    const auto before = testutil::read_file(dir.path("photo.csv"));
    const auto r = run({"photo.csv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kBanner + "Error: photo.csv would overwrite the input file\n");
    EXPECT_EQ(testutil::read_file(dir.path("photo.csv")), before);
    EXPECT_EQ(files(), std::vector<std::string>{"photo.csv"});
}

TEST_F(Cli, InputReachedThroughALinkIsNeverOverwritten) {
    // The second output of "scan.bmp" is a link to the input itself: a symbolic link, or a
    // hard link (the only kind the Windows runtime can make).
    write_sample("scan.bmp", 4);
    const auto before = testutil::read_file(dir.path("scan.bmp"));
    int made = 0;
    for (bool symbolic : {true, false}) {
        std::error_code ec;
        std::filesystem::remove(dir.path("scan-as-tg.bmp"));
        if (symbolic) {
            std::filesystem::create_symlink("scan.bmp", dir.path("scan-as-tg.bmp"), ec);
        } else {
            std::filesystem::create_hard_link(dir.path("scan.bmp"), dir.path("scan-as-tg.bmp"), ec);
        }
        if (ec) continue;
        ++made;
        const auto r = run({"scan.bmp"});
        EXPECT_EQ(r.status, 1) << symbolic;
        EXPECT_EQ(r.err, kBanner + "Error: scan-as-tg.bmp would overwrite the input file\n") << symbolic;
        EXPECT_EQ(testutil::read_file(dir.path("scan.bmp")), before) << symbolic;
        EXPECT_EQ(files(), (std::vector<std::string>{"scan-as-tg.bmp", "scan.bmp"})) << symbolic;
    }
    EXPECT_GE(made, 1);
}

TEST_F(Cli, NamesOutsideAnyOneCodePageWork) {
    // Greek, Cyrillic and Japanese letters in one name: no single-byte code page holds
    // them all, so only names kept as UTF-8 throughout reach the right files.
    namespace fs = std::filesystem;
    const std::string stem = "\xCF\x86\xCF\x89\xCF\x84\xCE\xBF-\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE-\xE5\x86\x99\xE7\x9C\x9F";
    const auto at = [&](const std::string& name) { return dir.root / fs::u8path(name); };
    const auto names = [&] {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir.root)) found.push_back(e.path().filename().u8string());
        std::sort(found.begin(), found.end());
        return found;
    };
    write_sample("plain.bmp", 6);
    fs::rename(dir.path("plain.bmp"), at(stem + ".bmp"));
    const auto r = run({stem + ".bmp"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names(), (std::vector<std::string>{stem + "-as-bw.bmp", stem + "-as-tg.bmp", stem + "-ps-bw.bmp",
                                                 stem + "-ps-tg.bmp", stem + ".bmp", stem + ".csv"}));
    // The same picture named like its own profile: refused by its UTF-8 name, untouched.
    for (const std::string& name : names()) fs::remove(at(name));
    write_sample("plain.bmp", 6);
    const auto before = testutil::read_file(dir.path("plain.bmp"));
    fs::rename(dir.path("plain.bmp"), at(stem + ".csv"));
    const auto refused = run({stem + ".csv"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, kBanner + "Error: " + stem + ".csv would overwrite the input file\n");
    EXPECT_EQ(names(), std::vector<std::string>{stem + ".csv"});
    fs::rename(at(stem + ".csv"), dir.path("plain.bmp"));
    EXPECT_EQ(testutil::read_file(dir.path("plain.bmp")), before);
}

TEST_F(Cli, ValidInputEndsWithSuccess) {
    write_sample("photo.bmp", 6);
    const auto r = run({"photo.bmp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.substr(0, kBanner.size()), kBanner);
    EXPECT_EQ(r.err.substr(r.err.size() - kSuccess.size()), kSuccess);
    EXPECT_EQ(r.out, "");
    // Exactly the five outputs appear, and no temporary is left.
    EXPECT_EQ(files(), (std::vector<std::string>{"photo-as-bw.bmp", "photo-as-tg.bmp", "photo-ps-bw.bmp",
                                                 "photo-ps-tg.bmp", "photo.bmp", "photo.csv"}));
}

const char* const kHeader =
    "Wavenumber[m-1] = frequency / L[m]\n"
    "L[m] : the actual distance of the side length of the calculated square image\n\n"
    "frequency,amplitude,power\n";
const char* const kOutputs[] = {"in-as-bw.bmp", "in-as-tg.bmp", "in-ps-bw.bmp", "in-ps-tg.bmp",
                                "in.csv"};

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

TEST(LargePicture, Side2048KeepsTheCentreAndAllRows) {
    TempDir dir;
    const auto made = testutil::run_program(MAKE_SAMPLE_EXE, {"in.bmp", "2048"}, dir.root.string());
    ASSERT_EQ(made.status, 0) << made.err;
    const auto r = testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - kSuccess.size()), kSuccess);
    EXPECT_EQ(r.err.find('\r'), std::string::npos);  // no progress line off a terminal
    const uint64_t file_size = 54 + 2048ull * 2048 * 3;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(std::filesystem::file_size(dir.path(kOutputs[i])), file_size);
    // The zero frequency, far above the range, is white at row 1024, column 1024.
    const Bytes gray = testutil::read_file(dir.path(kOutputs[0]));
    const std::size_t centre = 54 + (2047 - 1024) * 2048ull * 3 + 1024 * 3;
    EXPECT_EQ(gray[centre], 255);
    std::ifstream csv(dir.path("in.csv"));
    std::string line;
    for (int i = 0; i < 4; ++i) std::getline(csv, line);
    int expect_bin = 2;
    while (std::getline(csv, line)) {
        EXPECT_EQ(std::stoi(line), expect_bin) << line;
        ++expect_bin;
    }
    EXPECT_EQ(expect_bin, 1025);
}

TEST(LargePicture, UnrepresentableClaimedSizesGetTheAllocationMessage) {
    for (int32_t side : {-256, -1, INT32_MIN}) {
        TempDir dir;
        Bytes b = testutil::make_bmp({1, 1}, {});
        testutil::put_le32(b, 18, static_cast<uint32_t>(side));
        testutil::put_le32(b, 22, static_cast<uint32_t>(side));
        testutil::write_file(dir.path("in.bmp"), b);
        const auto r = testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
        EXPECT_EQ(r.status, 1) << side;
        const std::string msg = "Error: Memory allocation error\n";
        EXPECT_EQ(r.err.substr(r.err.size() - msg.size()), msg) << side;
    }
}

}  // namespace
