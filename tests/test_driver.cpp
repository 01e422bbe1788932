// varlox end to end, and the names of every program's outputs: the names built from an
// input's name, the command line's refusals (nothing written, the input never
// overwritten), and whole runs on pictures whose outputs are worked out by hand, on the
// bundled sample and on a large picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using testutil::Bytes;
using testutil::TempDir;

const std::string kBanner =
    "\n------- VARLOX version 1.0 -------\n"
    "Spatial-frequency spectrum of a square picture by direct 2-D Fourier transform\n\n";
const std::string kSuccess = "The calculation has been completed successfully.\n";
// varlox's documented suffixes, pinned here as the interface they are.
const char* const kSuffixes[] = {"-as-bw.bmp", "-as-tg.bmp", "-ps-bw.bmp", "-ps-tg.bmp", ".csv"};

// Greek, Cyrillic and Japanese letters in one name: no single-byte code page holds them
// all, so only names kept as UTF-8 throughout reach the right files.
const std::string kUtf8Stem =
    "\xCF\x86\xCF\x89\xCF\x84\xCE\xBF-\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE-\xE5\x86\x99\xE7\x9C\x9F";

TEST(OutputNames, AreTheBaseAndEachSuffixTheBaseCutTo190BytesOfWholeCharacters) {
    // The base is the path up to the last "." of its final component; only that component
    // is cut, to 190 bytes, never inside a UTF-8 character.
    struct Case {
        std::string input, base;
    };
    const std::string a189(189, 'a'), s250(250, 's'), s190(190, 's'), d300(300, 'd');
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
        {s250 + ".bmp", s190},
        {s250, s190},
        {d300 + ".x/" + s250 + ".bmp", d300 + ".x/" + s190},
        {d300 + "/p.bmp", d300 + "/p"},
        {"dir/" + std::string(250, 'a') + ".bmp", "dir/" + std::string(190, 'a')},
        {"dir/" + a189 +
             "\xC3\xA9"
             "b.bmp",
         "dir/" + a189},  // 2-byte character across the cut
        {"dir/" + a189.substr(1) +
             "\xE2\x82\xAC"
             "b.bmp",
         "dir/" + a189.substr(1)},  // 3-byte
        {"dir/" + a189.substr(2) +
             "\xF0\x9F\x98\x80"
             "b.bmp",
         "dir/" + a189.substr(2)},  // 4-byte
        {"dir/" + a189.substr(1) +
             "\xC3\xA9"
             "bb.bmp",
         "dir/" + a189.substr(1) + "\xC3\xA9"},  // ends at the cut
        {"dir/" + a189 +
             "\x80\x80"
             "b.bmp",
         "dir/" + a189 + "\x80"},  // not UTF-8: cut where the limit falls
    };
    for (const Case& c : cases) {
        const OutputNames n = output_names_build(c.input);
        for (int i = 0; i < kOutputCount; ++i) {
            EXPECT_EQ(n[i], c.base + kSuffixes[i]) << c.input.size() << " bytes: " << c.input;
        }
    }
}

// varlox in a folder of its own. Names and contents are read through UTF-8 paths, so that
// names outside any one code page are seen as they are on every system.
class Cli : public testing::Test {
  public:
    testutil::RunResult run(const std::vector<std::string>& args) {
        return testutil::run_program(VARLOX_EXE, args, dir.root.string());
    }
    fs::path at(const std::string& name) const { return dir.root / fs::u8path(name); }
    void put(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(at(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes sample(int side) {
        return testutil::make_bmp({side, side}, testutil::pattern_pixels(side, side));
    }
    // Every name in the folder with its bytes (through a link, its target's).
    std::map<std::string, Bytes> contents() const {
        std::map<std::string, Bytes> found;
        for (const auto& e : fs::directory_iterator(dir.root)) {
            std::ifstream in(e.path(), std::ios::binary);
            found[e.path().filename().u8string()] =
                Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return found;
    }
    TempDir dir;
};

TEST_F(Cli, RefusalsPrintTheBannerAndOneMessageAndChangeNothing) {
    // The wrong number of arguments, an input that cannot be read or is refused by the
    // reader, and an input that one of its outputs would overwrite: by its name, through a
    // symbolic or hard link (the only kind the Windows runtime can make), or by a name
    // outside any one code page.
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::function<bool(const Cli&)> plant;  // false: what it plants cannot be made here
        std::string message;
    };
    const auto nothing = [](const Cli&) { return true; };
    const auto link = [](bool symbolic) {
        return [symbolic](const Cli& t) {
            t.put("scan.bmp", sample(4));
            std::error_code ec;
            if (symbolic) {
                fs::create_symlink("scan.bmp", t.at("scan-as-tg.bmp"), ec);
            } else {
                fs::create_hard_link(t.at("scan.bmp"), t.at("scan-as-tg.bmp"), ec);
            }
            return !ec;
        };
    };
    Bytes unrepresentable = testutil::make_bmp({1, 1}, {});
    testutil::put_le32(unrepresentable, 18, 0x80000000u);
    testutil::put_le32(unrepresentable, 22, 0x80000000u);
    const Case cases[] = {
        {"no argument", {}, nothing, "Usage: varlox <inputfile>\n"},
        {"two arguments", {"a.bmp", "b.bmp"}, nothing, "Usage: varlox <inputfile>\n"},
        {"missing input", {"missing.bmp"}, nothing, "Error: Could not read missing.bmp"},
        {"not square",
         {"wide.bmp"},
         [](const Cli& t) {
             t.put("wide.bmp", testutil::make_bmp({8, 4}, {}));
             return true;
         },
         "Error: wide.bmp is not a square image"},
        {"side -2^31",
         {"huge.bmp"},
         [&](const Cli& t) {
             t.put("huge.bmp", unrepresentable);
             return true;
         },
         "Error: Memory allocation error\n"},
        {"named like its profile",
         {"photo.csv"},
         [](const Cli& t) {
             t.put("photo.csv", sample(4));
             return true;
         },
         "Error: photo.csv would overwrite the input file\n"},
        {"a symbolic link at an output's name",
         {"scan.bmp"},
         link(true),
         "Error: scan-as-tg.bmp would overwrite the input file\n"},
        {"a hard link at an output's name",
         {"scan.bmp"},
         link(false),
         "Error: scan-as-tg.bmp would overwrite the input file\n"},
        {"a UTF-8 name like its profile",
         {kUtf8Stem + ".csv"},
         [](const Cli& t) {
             t.put(kUtf8Stem + ".csv", sample(6));
             return true;
         },
         "Error: " + kUtf8Stem + ".csv would overwrite the input file\n"},
    };
    int links = 0;
    for (const Case& c : cases) {
        for (const auto& e : fs::directory_iterator(dir.root)) fs::remove_all(e.path());
        if (!c.plant(*this)) {
            std::printf("[  SKIPPED ] %s: cannot be made here\n", c.label);
            continue;
        }
        links += c.args.size() == 1 && c.args[0] == "scan.bmp";
        const auto before = contents();
        const auto r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_EQ(r.err, kBanner + c.message) << c.label;
        EXPECT_EQ(r.out, "") << c.label;
        EXPECT_TRUE(contents() == before) << c.label;
    }
    EXPECT_GE(links, 1) << "neither kind of link could be made";
}

TEST_F(Cli, ValidInputWritesExactlyTheFiveOutputsAndSaysSo) {
    for (const std::string& stem : {std::string("photo"), kUtf8Stem}) {
        for (const auto& e : fs::directory_iterator(dir.root)) fs::remove_all(e.path());
        put(stem + ".bmp", sample(6));
        const auto r = run({stem + ".bmp"});
        EXPECT_EQ(r.status, 0) << stem << ": " << r.err;
        EXPECT_EQ(r.err.substr(0, kBanner.size()), kBanner) << stem;
        EXPECT_TRUE(testutil::ends_with(r.err, kSuccess)) << stem << ": " << r.err;
        EXPECT_EQ(r.out, "") << stem;
        // Exactly the five outputs appear beside the input, and no temporary is left.
        std::vector<std::string> names = {stem + ".bmp"};
        for (const char* suffix : kSuffixes) names.push_back(stem + suffix);
        std::sort(names.begin(), names.end());
        std::vector<std::string> found;
        for (const auto& entry : contents()) found.push_back(entry.first);
        EXPECT_EQ(found, names) << stem;
    }
}

const char* const kHeader =
    "Wavenumber[m-1] = frequency / L[m]\n"
    "L[m] : the actual distance of the side length of the calculated square image\n\n"
    "frequency,amplitude,power\n";
const char* const kOutputs[] = {"in-as-bw.bmp", "in-as-tg.bmp", "in-ps-bw.bmp", "in-ps-tg.bmp", "in.csv"};

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

// varlox's outputs of a picture, read back.
struct Outputs {
    testutil::RunResult run;
    Bytes pictures[4];
    std::string profile;  // line ends as the platform's text mode writes them, made "\n"
};

Outputs run_varlox(const Bytes& picture) {
    TempDir dir;
    testutil::write_file(dir.path("in.bmp"), picture);
    Outputs o{testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string()), {}, ""};
    for (int i = 0; i < 4; ++i) o.pictures[i] = testutil::read_file(dir.path(kOutputs[i]));
    o.profile = testutil::from_text_mode(testutil::read_text(dir.path("in.csv")));
    return o;
}

TEST(Run, WorkedPicturesGiveTheirPicturesAndProfiles) {
    // Small grey pictures whose spectra are worked out by hand. Sides 1 to 3 have no
    // sample outside the centre 3 x 3, so every range stays untouched and everything
    // scales to white; sides 4 and 5 have one row, bin 2, whose means are the only ones
    // and read 0. A black picture is black. A grating of level 100 + 50 cos(pi col / 2) on
    // side 8 has the zero frequency (6400) at (4, 4) and two peaks of 1600 at (4, 2) and
    // (4, 6), every other sample zero up to rounding: the peaks lie 2 samples out, in bin
    // 4, beyond the centre 3 x 3, so they set the top of both ranges. On the odd side 9 a
    // grating of period 3 columns has its peaks 3 columns either side of the centre (4, 4).
    struct Case {
        const char* label;
        int side;
        std::function<int(int, int)> level;  // of (row, column)
        bool pictures_worked;                // the four pictures are `background` but for white `spots`
        uint32_t background;
        std::vector<Spot> spots;
        const char* rows;       // the profile's rows exactly, or null
        std::vector<Row> near;  // else these, within 1e-12 (none: rows not worked out)
    };
    const Spot white = {0, 0, 0xFFFFFF};
    const auto at = [&](int row, int col) { return Spot{row, col, white.color}; };
    const int grating4[4] = {150, 100, 50, 100};
    const int grating3[3] = {200, 50, 50};
    const Case cases[] = {
        {"side 3", 3, [](int row, int col) { return row * 40 + col * 7; }, true, 0xFFFFFF, {}, "", {}},
        {"side 4",
         4,
         [](int row, int col) { return (row * 37 + col * 91) % 256; },
         false,
         0,
         {},
         "2,0.000000e+00,0.000000e+00\n",
         {}},
        {"side 5",
         5,
         [](int row, int col) { return (row * 37 + col * 91) % 256; },
         false,
         0,
         {},
         "2,0.000000e+00,0.000000e+00\n",
         {}},
        {"black",
         8,
         [](int, int) { return 0; },
         true,
         0x000000,
         {},
         "2,0.000000e+00,0.000000e+00\n3,0.000000e+00,0.000000e+00\n4,0.000000e+00,0.000000e+00\n",
         {}},
        {"grating on side 8",
         8,
         [&](int, int col) { return grating4[col % 4]; },
         true,
         0x000000,
         {at(4, 2), at(4, 4), at(4, 6)},
         nullptr,
         {{2, 0, 0}, {3, 0, 0}, {4, 1, 1}}},
        {"grating on side 9",
         9,
         [&](int, int col) { return grating3[col % 3]; },
         true,
         0x000000,
         {at(4, 1), at(4, 4), at(4, 7)},
         nullptr,
         {}},
    };
    for (const Case& c : cases) {
        const Outputs o = run_varlox(testutil::grey_bmp(c.side, c.level));
        ASSERT_EQ(o.run.status, 0) << c.label << ": " << o.run.err;
        EXPECT_TRUE(testutil::ends_with(o.run.err, kSuccess)) << c.label << ": " << o.run.err;
        if (c.pictures_worked) {
            for (int i = 0; i < 4; ++i) {
                expect_picture(o.pictures[i], expected_picture(c.side, c.background, c.spots), c.side,
                               c.spots, std::string(c.label) + " " + kOutputs[i]);
            }
        }
        std::string header;
        const std::vector<Row> rows = profile_rows(o.profile, &header);
        EXPECT_EQ(header, kHeader) << c.label;
        if (c.rows != nullptr) {
            EXPECT_EQ(o.profile, kHeader + std::string(c.rows)) << c.label;
        } else if (!c.near.empty()) {
            ASSERT_EQ(rows.size(), c.near.size()) << c.label;
            for (std::size_t i = 0; i < rows.size(); ++i) {
                EXPECT_EQ(rows[i].bin, c.near[i].bin) << c.label;
                EXPECT_NEAR(rows[i].amp, c.near[i].amp, 1e-12) << c.label << " bin " << rows[i].bin;
                EXPECT_NEAR(rows[i].pow, c.near[i].pow, 1e-12) << c.label << " bin " << rows[i].bin;
            }
        }
    }
}

// What a complete run on a real picture of side n must give: the success message and no
// progress line off a terminal, four pictures of the full size whose zero frequency, far
// above the range, is white, and a profile of every bin from 2 to n / 2, each column
// rescaled to reach both 0 and 1.
void expect_whole_run(const Outputs& o, uint64_t n) {
    ASSERT_EQ(o.run.status, 0) << o.run.err;
    EXPECT_TRUE(testutil::ends_with(o.run.err, kSuccess)) << o.run.err;
    EXPECT_EQ(o.run.err.find('\r'), std::string::npos);
    const uint64_t stride = (n * 3 + 3) / 4 * 4;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(o.pictures[i].size(), 54 + n * stride) << kOutputs[i];
    const std::size_t centre = 54 + (n - 1 - n / 2) * stride + n / 2 * 3;
    ASSERT_LT(centre, o.pictures[0].size());
    EXPECT_EQ(o.pictures[0][centre], 255);
    std::string header;
    const std::vector<Row> rows = profile_rows(o.profile, &header);
    EXPECT_EQ(header, kHeader);
    ASSERT_EQ(rows.size(), n / 2 - 1);
    bool amp_zero = false, amp_one = false, pow_zero = false, pow_one = false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].bin, static_cast<int>(i) + 2);
        EXPECT_TRUE(rows[i].amp >= 0 && rows[i].amp <= 1 && rows[i].pow >= 0 && rows[i].pow <= 1)
            << rows[i].bin;
        amp_zero = amp_zero || rows[i].amp == 0;
        amp_one = amp_one || rows[i].amp == 1;
        pow_zero = pow_zero || rows[i].pow == 0;
        pow_one = pow_one || rows[i].pow == 1;
    }
    EXPECT_TRUE(amp_zero && amp_one && pow_zero && pow_one);
}

TEST(Run, SampleGivesAllFiveOutputs) {
    expect_whole_run(run_varlox(testutil::read_file(std::string(VARLOX_SOURCE_DIR) + "/examples/sample.bmp")),
                     256);
}

TEST(LargePicture, Side2048KeepsTheCentreAndAllRows) {
    TempDir dir;
    const auto made = testutil::run_program(MAKE_SAMPLE_EXE, {"in.bmp", "2048"}, dir.root.string());
    ASSERT_EQ(made.status, 0) << made.err;
    expect_whole_run(run_varlox(testutil::read_file(dir.path("in.bmp"))), 2048);
}

}  // namespace
