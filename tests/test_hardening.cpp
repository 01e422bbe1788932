// The program against hostile inputs and failing machines: a public suite of BMP files,
// every allocation failing in turn, outputs that cannot be created, and a large picture.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/output_table.h"
#include "system/progress.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;
using testutil::Bytes;
using testutil::TempDir;

namespace {

const std::string kSuccess = "The calculation has been completed successfully.\n";
// varlox's outputs for the input "in.bmp", in the order of its table.
const std::vector<std::string> kOutputs = [] {
    std::vector<std::string> names;
    for (const OutputRow& row : kVarloxOutputs) names.push_back(std::string("in") + row.suffix);
    return names;
}();

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

uint32_t le32(const Bytes& b, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | (at + i < b.size() ? b[at + i] : 0);
    return v;
}

// What the reader must say of a file called `name`, worked out from its header alone;
// empty when the file must be accepted.
std::string expected_reader_message(const Bytes& b, const std::string& name) {
    if (b.size() < 2 || b[0] != 'B' || b[1] != 'M') return "Error: " + name + " is not a bitmap image";
    if (b.size() >= 18 && le32(b, 14) == 12) {
        return "Error: " + name + " is an OS/2 bitmap (12-byte header); only 24bit color Windows bitmaps are read";
    }
    const auto w = static_cast<int32_t>(le32(b, 18));
    const auto h = static_cast<int32_t>(le32(b, 22));
    if (w != h) return "Error: " + name + " is not a square image";
    if (le32(b, 28) != 24) return "Error: " + name + " is not a 24bit color image";
    if (w <= 0) return "Error: Memory allocation error\n";
    const uint64_t offset = std::max<uint64_t>(54, le32(b, 10));
    const uint64_t stride = (uint64_t(w) * 3 + 3) / 4 * 4;
    if (offset + (uint64_t(w) - 1) * stride + uint64_t(w) * 3 > b.size()) {
        return "Error: " + name + " is truncated\n";
    }
    return "";
}

fs::path suite_dir() { return fs::path(VARLOX_SOURCE_DIR) / ".." / "shared" / "corpus" / "bmpsuite"; }

TEST(BmpSuite, EveryFileGetsTheReadersVerdict) {
    if (!fs::exists(suite_dir())) GTEST_SKIP() << "no BMP suite at " << suite_dir();
    int files = 0, accepted = 0;
    for (const auto& entry : fs::recursive_directory_iterator(suite_dir())) {
        if (!entry.is_regular_file() || entry.path().extension() != ".bmp") continue;
        ++files;
        TempDir dir;
        const Bytes bytes = testutil::read_file(entry.path().string());
        testutil::write_file(dir.path("in.bmp"), bytes);
        const auto r = testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
        const std::string want = expected_reader_message(bytes, "in.bmp");
        const std::string what = entry.path().filename().string();
        ASSERT_TRUE(r.status == 0 || r.status == 1) << what << " ended abnormally";
        EXPECT_EQ(testutil::read_file(dir.path("in.bmp")), bytes) << what;
        if (want.empty()) {
            ++accepted;
            EXPECT_EQ(r.status, 0) << what << ": " << r.err;
            const uint64_t w = le32(bytes, 18);
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(fs::file_size(dir.path(kOutputs[i])), 54 + w * ((w * 3 + 3) / 4 * 4)) << what;
            }
        } else {
            EXPECT_EQ(r.status, 1) << what;
            ASSERT_GE(r.err.size(), want.size()) << what;
            EXPECT_EQ(r.err.substr(r.err.size() - want.size()), want) << what;
            EXPECT_EQ(count_of(r.err, "Error: "), 1u) << what;
            EXPECT_FALSE(fs::exists(dir.path("in.csv"))) << what;
        }
    }
    EXPECT_GT(files, 50);
    RecordProperty("files", files);
    RecordProperty("accepted", accepted);
}

Bytes small_picture(int n) {
    return testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, 5));
}

TEST(AllocationFailure, EveryAllocationOfARunFailsCleanly) {
    struct Case {
        const char* exe;
        std::vector<std::string> args;
        int side;
        int least;  // allocation points the run has at least
    };
    const Case cases[] = {
        // Reader (row buffer, record, pixels: 3), two planes, three bin arrays, four
        // transform scratch arrays and one shared angle table, and a row buffer for each
        // picture (4).
        {FAULTS_EXE, {"in.bmp"}, 6, 17},
        // varlox-view on three threads (three batches of lines): each thread's four
        // scratch arrays, and one picture.
        {VIEW_FAULTS_EXE, {"--threads", "3", "in.bmp"}, 130, 22},
    };
    for (const Case& c : cases) {
        TempDir dir;
        testutil::write_file(dir.path("in.bmp"), small_picture(c.side));
        const std::string count_file = dir.path("count");
        const auto base = testutil::run_program(c.exe, c.args, dir.root.string(),
                                                {"VARLOX_ALLOC_COUNT=" + count_file});
        ASSERT_EQ(base.status, 0) << base.err;
        const int total = std::stoi(testutil::read_text(count_file));
        EXPECT_GE(total, c.least) << c.exe;
        RecordProperty("allocation_points", total);
        const auto before = testutil::snapshot(dir.root);
        for (int n = 1; n <= total; ++n) {
            const auto r = testutil::run_program(c.exe, c.args, dir.root.string(),
                                                 {"VARLOX_FAIL_ALLOC=" + std::to_string(n)});
            const std::string label = std::string(c.exe) + " allocation " + std::to_string(n);
            EXPECT_EQ(r.status, 1) << label;
            const std::string msg = "Error: Memory allocation error\n";
            ASSERT_GE(r.err.size(), msg.size()) << label;
            EXPECT_EQ(r.err.substr(r.err.size() - msg.size()), msg) << label;
            EXPECT_EQ(count_of(r.err, "Error: "), 1u) << label << ": " << r.err;
            EXPECT_EQ(r.err.find("successfully"), std::string::npos) << label;
            // The first run's outputs are kept as they were, and no temporary is left.
            EXPECT_TRUE(testutil::snapshot(dir.root) == before) << label;
        }
    }
}

TEST(CommitFailure, RenameThatFailsPartwayPutsEveryFileBack) {
    // The commit renames the outputs in the order of the table. Whichever rename fails,
    // those before it are undone: over earlier outputs the directory holds them again,
    // byte for byte; in an empty directory the new files are gone.
    for (const bool earlier : {true, false}) {
        for (int n = 1; n <= 5; ++n) {
            const std::string label = std::string(earlier ? "over earlier outputs" : "alone") +
                                      ", rename " + std::to_string(n);
            TempDir dir;
            testutil::write_file(dir.path("in.bmp"), small_picture(6));
            if (earlier) {
                ASSERT_EQ(testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string()).status, 0);
                testutil::write_file(dir.path("in.bmp"), small_picture(8));
            }
            const auto before = testutil::snapshot(dir.root);
            const auto r = testutil::run_program(FAULTS_EXE, {"in.bmp"}, dir.root.string(),
                                                 {"VARLOX_FAIL_RENAME=" + std::to_string(n)});
            EXPECT_EQ(r.status, 1) << label;
            const std::string msg = std::string("Error: Could not write to in") + kVarloxOutputs[n - 1].suffix + "\n";
            EXPECT_TRUE(r.err.size() >= msg.size() && r.err.substr(r.err.size() - msg.size()) == msg)
                << label << ": " << r.err;
            EXPECT_EQ(count_of(r.err, "Error: "), 1u) << label << ": " << r.err;
            const auto after = testutil::snapshot(dir.root);
            EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
        }
    }
}

TEST(DiskFailure, OutputsThatCannotBeCreated) {
    // A directory where an output file should go cannot be opened as a file, even by root.
    for (int i = 0; i < 5; ++i) {
        TempDir dir;
        testutil::write_file(dir.path("in.bmp"), small_picture(8));
        fs::create_directory(dir.path(kOutputs[i]));
        const auto r = testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
        EXPECT_EQ(r.status, 1) << kOutputs[i];
        const std::string msg = std::string("Error: Could not write to ") + kOutputs[i] + "\n";
        ASSERT_GE(r.err.size(), msg.size());
        EXPECT_EQ(r.err.substr(r.err.size() - msg.size()), msg) << kOutputs[i];
        EXPECT_EQ(r.err.find("successfully"), std::string::npos);
        EXPECT_EQ(testutil::snapshot(dir.root).size(), 2u) << kOutputs[i];  // input and directory
    }
}

TEST(DiskFailure, ReadOnlyDirectory) {
#ifdef _WIN32
    GTEST_SKIP() << "a read-only directory on Windows still takes new files";
#else
    if (geteuid() == 0) GTEST_SKIP() << "root may write into read-only directories";
#endif
    TempDir dir;
    fs::create_directory(dir.path("ro"));
    testutil::write_file(dir.path("ro/in.bmp"), small_picture(8));
    fs::permissions(dir.path("ro"), fs::perms::owner_read | fs::perms::owner_exec);
    const auto r = testutil::run_program(VARLOX_EXE, {"ro/in.bmp"}, dir.root.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Could not write to ro/in.csv\n"), std::string::npos) << r.err;
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
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fs::file_size(dir.path(kOutputs[i])), file_size);
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

namespace {

// What a terminal shows after receiving `bytes`: "\r" returns to the start of the line,
// "\033[K" erases from the cursor to the end of the line, "\n" starts a new line.
std::string screen_after(const std::string& bytes) {
    std::vector<std::string> lines(1);
    std::size_t col = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char ch = bytes[i];
        if (ch == '\r') {
            col = 0;
        } else if (ch == '\n') {
            lines.emplace_back();
            col = 0;
        } else if (ch == '\033' && bytes.compare(i, 3, "\033[K") == 0) {
            lines.back().resize(col);
            i += 2;
        } else {
            std::string& line = lines.back();
            if (col < line.size()) line[col] = ch; else line += ch;
            ++col;
        }
    }
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) text += lines[i] + (i + 1 < lines.size() ? "\n" : "");
    return text;
}

TEST(ProgressLine, EndLeavesNoTraceBeforeTheNextMessage) {
    // A run's transform reports its progress, then the run prints its next message. On a
    // terminal a long run shows the line; whatever was shown, the screen must then hold
    // the message alone.
    struct Case {
        const char* what;
        bool terminal;
        bool long_run;
        bool shown;  // whether the line is expected on the screen before the end
    };
    const Case cases[] = {
        {"long run on a terminal", true, true, true},
        {"short run on a terminal", true, false, false},
        {"long run, not a terminal", false, true, false},
    };
    const std::string next = "Error: Could not write to x.csv\n";
    for (const Case& c : cases) {
        ProgressLine line{};
        progress_begin(line);
        line.terminal = c.terminal;
        testing::internal::CaptureStderr();
        progress_report(&line, 0.001);
        if (c.long_run) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            progress_report(&line, 0.002);  // on this pace the whole takes minutes
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            progress_report(&line, 0.004);  // drawn again
        } else {
            progress_report(&line, 1.0);
        }
        const bool on_screen = line.shown;
        progress_end(line);
        std::fputs(next.c_str(), stderr);
        const std::string bytes = testing::internal::GetCapturedStderr();
        EXPECT_EQ(on_screen, c.shown) << c.what;
        EXPECT_EQ(screen_after(bytes), next) << c.what << ": " << bytes;
        if (!c.shown) {
            EXPECT_EQ(bytes, next) << c.what;
        }
    }
}

TEST(ProgressLine, InterruptedRunErasesTheLineOnce) {
    // What the interrupt handler does for a line on the screen: erase it, and only once.
    ProgressLine line{};
    progress_begin(line);
    line.terminal = true;
    testing::internal::CaptureStderr();
    progress_report(&line, 0.001);
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    progress_report(&line, 0.002);  // a long run: the line appears
    const std::string shown = testing::internal::GetCapturedStderr();
    testing::internal::CaptureStderr();
    progress_erase_now();
    progress_erase_now();
    const std::string erased = testing::internal::GetCapturedStderr();
    progress_end(line);
    EXPECT_NE(screen_after(shown), "");
    EXPECT_EQ(erased, "\r\033[K");
    EXPECT_EQ(screen_after(shown + erased), "");
}

TEST(ProgressLine, AppearsOnATerminalAndLeavesNoTrace) {
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
    TempDir dir;
    const auto made = testutil::run_program(MAKE_SAMPLE_EXE, {"in.bmp", "2048"}, dir.root.string());
    ASSERT_EQ(made.status, 0) << made.err;
    // The same run without a terminal: the usual text, byte for byte.
    const auto plain = testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err.find('\r'), std::string::npos);
    EXPECT_EQ(plain.err.find("% done"), std::string::npos);
    // Under script(1) standard error is a pseudo-terminal; script copies what it shows.
    const auto start = std::chrono::steady_clock::now();
    const auto tty = testutil::run_program(
        "script", {"-qfec", std::string("'") + VARLOX_EXE + "' in.bmp", "/dev/null"}, dir.root.string());
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(tty.status, 0) << tty.out;
    std::string shown = tty.out;
    // The terminal turns each line end into carriage return and line feed.
    for (std::size_t at; (at = shown.find("\r\n")) != std::string::npos;) shown.replace(at, 2, "\n");
    EXPECT_EQ(screen_after(shown), plain.err);
    if (took > 3.0) {
        EXPECT_NE(tty.out.find("% done"), std::string::npos) << "a " << took << " s run showed no progress";
    }
}

}  // namespace
