#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/driver.h"
#include "tests/test_util.h"

namespace {

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

TEST(Sample, GeneratorReproducesTheBundledPicture) {
    TempDir dir;
    const auto r = testutil::run_program(MAKE_SAMPLE_EXE, {"sample.bmp"}, dir.root.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(testutil::read_file(dir.path("sample.bmp")),
              testutil::read_file(std::string(VARLOX_SOURCE_DIR) + "/examples/sample.bmp"));
}

}  // namespace
