// Height maps: PGM and PFM read exactly (byte orders, depths, the PFM's bottom-up rows),
// every malformed file refused with its one message, a BMP read as varlox greys it.
// Every input is read from a file and, where there are pipes, from a pipe too, whose
// size the reader cannot know: it must give the same map or the same message.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/heights.h"
#include "tests/format_bytes.h"
#include "tests/test_util.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

Bytes text_bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

// A PGM: `header` as it stands, then each level in one byte or two (high byte first).
Bytes pgm(const std::string& header, const std::vector<uint32_t>& levels, int bytes_per_sample) {
    Bytes b = text_bytes(header);
    for (const uint32_t v : levels) {
        if (bytes_per_sample == 2) b.push_back(static_cast<uint8_t>(v >> 8));
        b.push_back(static_cast<uint8_t>(v));
    }
    return b;
}

// A PFM: `header`, then the values in the order given, 4 bytes each in the byte order asked.
Bytes pfm(const std::string& header, const std::vector<float>& values, bool little) {
    Bytes b = text_bytes(header);
    for (const float f : values) {
        uint32_t u = 0;
        std::memcpy(&u, &f, 4);
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(u >> (little ? 8 * i : 24 - 8 * i)));
    }
    return b;
}

struct ReadResult {
    int status;
    HeightMap map;
    std::string err;
};

ReadResult read_map(const std::string& path, uint64_t pipe_max = kHeightsPipeMax) {
    ReadResult r{1, HeightMap{}, ""};
    testing::internal::CaptureStderr();
    r.status = heights_read(path, r.map, pipe_max);
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

// Where the reader finds a test's bytes: a file, or a pipe opened by name as /dev/fd/N,
// as a shell's pipe is opened as /dev/stdin (POSIX only).
enum Source { kFromFile, kFromPipe };
#ifdef _WIN32
const Source kSources[] = {kFromFile};
#else
const Source kSources[] = {kFromFile, kFromPipe};
#endif

const char* source_name(Source source) {
    return source == kFromFile ? "file" : "pipe";
}

// Reads `bytes` from `source` with the bound pipe_max; *path is the name the reader was
// given. A file's name says BMP whatever it holds: the content decides.
ReadResult read_from(Source source, const TempDir& dir, const Bytes& bytes, std::string* path,
                     uint64_t pipe_max = kHeightsPipeMax) {
    if (source == kFromFile) {
        *path = dir.path("in.bmp");
        testutil::write_file(*path, bytes);
        return read_map(*path, pipe_max);
    }
#ifdef _WIN32
    ADD_FAILURE() << "no pipes here";
    return ReadResult{1, HeightMap{}, ""};
#else
    // The whole input is in the pipe before the reader starts, so it must fit the pipe's
    // buffer (64 KiB on Linux): a write that would block fails the test instead.
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe";
        return ReadResult{1, HeightMap{}, ""};
    }
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const ssize_t wrote = bytes.empty() ? 0 : write(fds[1], bytes.data(), bytes.size());
    close(fds[1]);
    EXPECT_EQ(wrote, static_cast<ssize_t>(bytes.size())) << "the input does not fit the pipe";
    *path = "/dev/fd/" + std::to_string(fds[0]);
    ReadResult r = read_map(*path, pipe_max);
    close(fds[0]);
    return r;
#endif
}

// Pixel bytes of a grey picture of side n for make_bmp, top row first: level 40 r + 7 c + 3.
Bytes grey_pixels(int n) {
    Bytes px;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) px.insert(px.end(), 3, static_cast<uint8_t>(40 * r + 7 * c + 3));
    return px;
}

// A header of exactly `size` bytes: `magic`, blanks, then `numbers`.
std::string padded_header(const std::string& magic, const std::string& numbers, std::size_t size) {
    return magic + std::string(size - magic.size() - numbers.size(), ' ') + numbers;
}

TEST(HeightsRead, EveryFileGetsItsHeightsOrOneMessageFromAFileAndFromAPipe) {
    // Every file is read from a file and, where there are pipes, from a pipe, whose size the
    // reader cannot know: the same heights, or the same message but where a pipe's bound
    // (pipe_max) decides. Read heights have no symmetry, so that a flip, a transpose or a
    // swapped byte order shows; the PFM stores its rows bottom first, so its file's first
    // row is the map's last.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::string read_instead =
        "; only binary PGM (P5), grey PFM (Pf), x3p, Gwyddion, TIFF and 24-bit BMP are read\n";
    const Bytes bmp = testutil::make_bmp({2, 2}, grey_pixels(2));  // 70 bytes
    const Bytes pgm8 = pgm("P5\n2 2\n255\n", {1, 2, 3, 4}, 1);     // 15 bytes
    const Bytes pfm1 = pfm("Pf\n1 1\n-1\n", {1}, true);            // 14 bytes
    const Bytes gwy = formatbytes::gwy_file({formatbytes::gwy_component_object(
        "/0/data", formatbytes::gwy_field(3, 2, 3e-6, 2e-6, "m", "m", {1, 2, 3, 4, 5, 6}))});
    const auto with = [](Bytes b, std::size_t more) {
        b.resize(b.size() + more, '.');
        return b;
    };
    struct Case {
        const char* label;
        Bytes file;
        std::vector<double> top_down;  // the heights read, rows from the top (side^2 of them)
        HeightFormat format;
        std::string message;       // %s is the path; empty when the map is read
        std::string pipe_message;  // from a pipe, when it differs
        uint64_t pipe_max = kHeightsPipeMax;
        uint32_t width = 0;  // when it differs from the square root of top_down's size
    };
    const Case cases[] = {
        {"pgm 8-bit", pgm("P5\n2 2\n255\n", {0, 7, 200, 255}, 1), {0, 7, 200, 255}, kHeightsPgm, "", ""},
        {"pgm comments and blanks", pgm("P5 # made by hand\n 3\t3 # side\n9\r", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 1),
         {1, 2, 3, 4, 5, 6, 7, 8, 9}, kHeightsPgm, "", ""},
        {"pgm 16-bit high byte first", pgm("P5\n2 2\n65535\n", {1, 256, 65535, 4660}, 2),
         {1, 256, 65535, 4660}, kHeightsPgm, "", ""},
        {"pgm maxval 256 takes two bytes", pgm("P5\n1 1\n256\n", {256}, 2), {256}, kHeightsPgm, "", ""},
        {"pgm bytes after the picture",
         [] { Bytes b = pgm("P5\n1 1\n1\n", {1}, 1); append(b, text_bytes("more")); return b; }(),
         {1}, kHeightsPgm, "", ""},
        {"pfm little-endian", pfm("Pf\n2 2\n-1.0\n", {1.5f, -2.25f, 3e-8f, 1e30f}, true),
         {3e-8f, 1e30f, 1.5, -2.25}, kHeightsPfm, "", ""},
        {"pfm big-endian, scale ignored", pfm("Pf\n2 2\n4.5\n", {1.5f, -2.25f, 3e-8f, 1e30f}, false),
         {3e-8f, 1e30f, 1.5, -2.25}, kHeightsPfm, "", ""},
        {"pfm 3 x 3", pfm("Pf 3 3 -1 ", {1, 2, 3, 4, 5, 6, 7, 8, 9}, true),
         {7, 8, 9, 4, 5, 6, 1, 2, 3}, kHeightsPfm, "", ""},
        // A comment ends the magic as whitespace does; the header may take 4096 bytes.
        {"pgm comment right after the magic", pgm("P5#x\n1 1\n9\n", {7}, 1), {7}, kHeightsPgm, "", ""},
        {"pfm comment before the sides", pfm("Pf # by hand\n1 1\n-1\n", {5}, true), {5}, kHeightsPfm, "", ""},
        {"pgm header of 4096 bytes", pgm(padded_header("P5", "1 1 255", 4096) + "\n", {7}, 1),
         {7}, kHeightsPgm, "", ""},
        {"pfm header of 4096 bytes", pfm(padded_header("Pf", "1 1 -1", 4096) + "\n", {7}, true),
         {7}, kHeightsPfm, "", ""},
        // Grey levels 40 r + 7 c + 3.
        {"bmp", testutil::make_bmp({2, 2}, grey_pixels(2)), {3, 10, 43, 50}, kHeightsBmp, "", ""},
        {"bmp with a gap before its rows", testutil::make_bmp({3, 3, 24, 0, 80}, grey_pixels(3)),
         {3, 10, 17, 43, 50, 57, 83, 90, 97}, kHeightsBmp, "", ""},
        // A colour picture is greyed as varlox greys it: each height is the truncated mean
        // of the pixel's blue, green and red bytes.
        {"bmp in colour", testutil::make_bmp({2, 2}, {10, 20, 31, 255, 255, 254, 0, 255, 0, 200, 0, 100}),
         {20, 254, 85, 100}, kHeightsBmp, "", ""},
        {"no maxval", text_bytes("P5\n2 2\n"), {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"letters for a side", text_bytes("P5\n2 x\n255\n...."),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"negative side", text_bytes("P5\n-2 -2\n255\n...."),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"side 0", text_bytes("P5\n0 0\n255\n"), {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"side beyond 32 bits", text_bytes("P5\n4294967297 4294967297\n255\n"),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"header ends at maxval", text_bytes("P5\n1 1\n255"),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"comment right after maxval", text_bytes("P5\n1 1\n255#x\n."),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"header of 5000 blanks",
         [] { Bytes b = text_bytes("P5"); b.resize(5000, ' '); append(b, text_bytes("1 1 255 x")); return b; }(),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"header of 4097 bytes", pgm(padded_header("P5", "1 1 255", 4097) + "\n", {7}, 1),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        // Whitespace or a comment must follow the magic: "P532" is no side of 32.
        {"no whitespace after the magic", pgm("P532 32\n255\n", std::vector<uint32_t>(32 * 32, 9), 1),
         {}, kHeightsBmp, "Error: %s has a malformed PGM header\n", ""},
        {"a row of two", pgm("P5\n2 1\n255\n", {1, 2}, 1), {1, 2}, kHeightsPgm, "", "", kHeightsPipeMax, 2},
        // An instrument file is read whole, from a file or a pipe alike, by its reader.
        {"gwy of 3 x 2", gwy, {1, 2, 3, 4, 5, 6}, kHeightsGwy, "", "", kHeightsPipeMax, 3},
        {"gwy a byte beyond the bound", gwy, {1, 2, 3, 4, 5, 6}, kHeightsGwy, "",
         "Error: %s holds more than the " + std::to_string(gwy.size() - 1) + " bytes read from a pipe or FIFO\n",
         gwy.size() - 1, 3},
        {"gwy without an image channel", formatbytes::gwy_file({formatbytes::gwy_string("/filename", "none")}), {},
         kHeightsBmp, "Error: %s has no image channel\n", ""},
        {"a column of three", pgm("P5\n1 3\n255\n", {1, 2, 3}, 1), {1, 2, 3}, kHeightsPgm, "", "", kHeightsPipeMax, 1},
        {"maxval 0", pgm("P5\n1 1\n0\n", {0}, 1), {}, kHeightsBmp, "Error: %s has a maxval outside 1 to 65535\n", ""},
        {"maxval 65536", pgm("P5\n1 1\n65536\n", {0}, 2),
         {}, kHeightsBmp, "Error: %s has a maxval outside 1 to 65535\n", ""},
        {"short by one byte", [] { Bytes b = pgm("P5\n2 2\n65535\n", {1, 2, 3, 4}, 2); b.pop_back(); return b; }(),
         {}, kHeightsBmp, "Error: %s is truncated\n", ""},
        // A pipe is not read at all beyond the header when the picture could not be held.
        {"huge side, few bytes", text_bytes("P5\n2000000000 2000000000\n65535\n...."), {}, kHeightsBmp,
         "Error: %s is truncated\n",
         "Error: %s has a header that asks for 8000000000000000031 bytes, more than the 5726558373 read from a "
         "pipe or FIFO\n"},
        // The bound on a pipe is the largest PFM a run can measure: side 37837 (the largest
        // whose BMP fits 32 bits) after a header of 4096 bytes and its whitespace byte.
        {"pfm of the largest side a pipe takes, few bytes",
         text_bytes(padded_header("Pf", "37837 37837 -1", 4096) + "\n...."),
         {}, kHeightsBmp, "Error: %s is truncated\n", ""},
        {"pfm of one side more, few bytes", text_bytes("Pf\n37838 37838\n-1\n...."), {}, kHeightsBmp,
         "Error: %s is truncated\n",
         "Error: %s has a header that asks for 5726856994 bytes, more than the 5726558373 read from a pipe or "
         "FIFO\n"},
        {"sample above maxval", pgm("P5\n2 2\n100\n", {1, 2, 101, 4}, 1),
         {}, kHeightsBmp, "Error: %s has a sample above its maxval at row 1, column 0\n", ""},
        {"pfm scale 0", pfm("Pf\n1 1\n0\n", {1}, true),
         {}, kHeightsBmp, "Error: %s has a malformed PFM header\n", ""},
        {"pfm scale not a number", pfm("Pf\n1 1\nabc\n", {1}, true),
         {}, kHeightsBmp, "Error: %s has a malformed PFM header\n", ""},
        {"pfm scale inf", pfm("Pf\n1 1\ninf\n", {1}, true),
         {}, kHeightsBmp, "Error: %s has a malformed PFM header\n", ""},
        // Whitespace or a comment must follow a PFM's magic; its scale follows whitespace only.
        {"pfm without whitespace after the magic", pfm("Pf1 1\n-1\n", {1}, true),
         {}, kHeightsBmp, "Error: %s has a malformed PFM header\n", ""},
        {"pfm comment before the scale", pfm("Pf\n1 1 # by hand\n-1\n", {1}, true),
         {}, kHeightsBmp, "Error: %s has a malformed PFM header\n", ""},
        {"pfm header of 4097 bytes", pfm(padded_header("Pf", "1 1 -1", 4097) + "\n", {7}, true),
         {}, kHeightsBmp, "Error: %s has a malformed PFM header\n", ""},
        {"pfm of 3 x 2", pfm("Pf\n3 2\n-1\n", {1, 2, 3, 4, 5, 6}, true), {4, 5, 6, 1, 2, 3}, kHeightsPfm, "", "",
         kHeightsPipeMax, 3},
        {"pfm truncated",
         [] { Bytes b = pfm("Pf\n2 2\n-1\n", {1, 2, 3, 4}, true); b.resize(b.size() - 3); return b; }(),
         {}, kHeightsBmp, "Error: %s is truncated\n", ""},
        // File order is bottom row first: the third value is the top row's first. A NaN is a
        // point without a valid height, kept as NaN for the measurement to refuse or fill.
        {"pfm NaN", pfm("Pf\n2 2\n-1\n", {1, 2, nan, 4}, true), {nan, 4, 1, 2}, kHeightsPfm, "", ""},
        {"pfm infinity", pfm("Pf\n2 2\n1\n", {1, -inf, 3, 4}, false),
         {}, kHeightsBmp, "Error: %s has a non-finite sample at row 1, column 1\n", ""},
        // The other netpbm files are named, with what is read instead.
        {"plain pbm", text_bytes("P1\n1 1\n0\n"),
         {}, kHeightsBmp, "Error: %s is a plain-text PBM (P1)" + read_instead, ""},
        {"plain pgm", text_bytes("P2\n1 1\n255\n7\n"),
         {}, kHeightsBmp, "Error: %s is a plain-text PGM (P2)" + read_instead, ""},
        {"plain ppm", text_bytes("P3\n1 1\n255\n7 7 7\n"),
         {}, kHeightsBmp, "Error: %s is a plain-text PPM (P3)" + read_instead, ""},
        {"binary pbm", text_bytes("P4\n8 8\n........"),
         {}, kHeightsBmp, "Error: %s is a binary PBM (P4)" + read_instead, ""},
        {"binary ppm", text_bytes("P6\n1 1\n255\nabc"),
         {}, kHeightsBmp, "Error: %s is a binary PPM (P6)" + read_instead, ""},
        {"pam", text_bytes("P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n."),
         {}, kHeightsBmp, "Error: %s is a PAM (P7)" + read_instead, ""},
        {"colour pfm", pfm("PF\n1 1\n-1\n", {1, 2, 3}, true),
         {}, kHeightsBmp, "Error: %s is a colour PFM (PF)" + read_instead, ""},
        // Neither netpbm nor BMP: the BMP reader's messages, without a line end.
        {"P and another digit", text_bytes("P8\n1 1\n255\n."),
         {}, kHeightsBmp, "Error: %s is not a bitmap image", ""},
        {"a lone P", text_bytes("P"), {}, kHeightsBmp, "Error: %s is not a bitmap image", ""},
        {"empty file", {}, {}, kHeightsBmp, "Error: %s is not a bitmap image", ""},
        {"bmp of 2 x 1", testutil::make_bmp({2, 1}, grey_pixels(2)), {3, 10}, kHeightsBmp, "", "", kHeightsPipeMax,
         2},
        {"bmp truncated",
         [] { Bytes b = testutil::make_bmp({3, 3}, grey_pixels(3)); b.resize(b.size() - 4); return b; }(),
         {}, kHeightsBmp, "Error: %s is truncated\n", ""},
        // A pipe's bytes are held in memory up to the bound: a PGM or PFM is refused as soon as
        // its header asks for more, and held up to its last sample only, so that bytes after
        // it count for nothing; a BMP is read to the stream's end. A file is not bound.
        {"bmp of the bound's size", bmp, {3, 10, 43, 50}, kHeightsBmp, "", "", 70},
        {"bmp a byte beyond the bound", bmp,
         {3, 10, 43, 50}, kHeightsBmp, "", "Error: %s holds more than the 69 bytes read from a pipe or FIFO\n", 69},
        {"bmp and bytes after it beyond the bound", with(bmp, 10),
         {3, 10, 43, 50}, kHeightsBmp, "", "Error: %s holds more than the 75 bytes read from a pipe or FIFO\n", 75},
        {"pgm ending at the bound", pgm8, {1, 2, 3, 4}, kHeightsPgm, "", "", 15},
        {"pgm a byte beyond the bound", pgm8, {1, 2, 3, 4}, kHeightsPgm, "",
         "Error: %s has a header that asks for 15 bytes, more than the 14 read from a pipe or FIFO\n", 14},
        {"bytes after a pgm do not count", with(pgm8, 9000), {1, 2, 3, 4}, kHeightsPgm, "", "", 15},
        {"pfm a byte beyond the bound", pfm1, {1}, kHeightsPfm, "",
         "Error: %s has a header that asks for 14 bytes, more than the 13 read from a pipe or FIFO\n", 13},
        {"bytes after a pfm do not count", with(pfm1, 9000), {1}, kHeightsPfm, "", "", 14},
        {"a file is not bound", with(bmp, 10),
         {3, 10, 43, 50}, kHeightsBmp, "", "Error: %s holds more than the 1 bytes read from a pipe or FIFO\n", 1},
    };
    for (const Case& c : cases) {
        for (const Source source : kSources) {
            TempDir dir;
            std::string path;
            const ReadResult r = read_from(source, dir, c.file, &path, c.pipe_max);
            std::string expected =
                source == kFromPipe && !c.pipe_message.empty() ? c.pipe_message : c.message;
            const std::string label = std::string(c.label) + " from a " + source_name(source);
            if (!expected.empty()) {
                expected.replace(expected.find("%s"), 2, path);
                EXPECT_EQ(r.status, 1) << label;
                EXPECT_EQ(r.err, expected) << label;
                EXPECT_FALSE(r.map.z) << label;
                continue;
            }
            ASSERT_EQ(r.status, 0) << label << ": " << r.err;
            EXPECT_EQ(r.err, "") << label;
            EXPECT_EQ(r.map.format, c.format) << label;
            ASSERT_EQ(uint64_t{r.map.width} * r.map.height, c.top_down.size()) << label;
            EXPECT_EQ(r.map.width, c.width > 0 ? c.width : r.map.height) << label;
            for (std::size_t k = 0; k < c.top_down.size(); ++k) {
                // NaN is compared by being NaN.
                if (std::isnan(c.top_down[k])) {
                    EXPECT_TRUE(std::isnan(r.map.z[k])) << label << " " << k;
                } else {
                    EXPECT_EQ(r.map.z[k], c.top_down[k]) << label << " " << k;
                }
            }
        }
    }
    TempDir dir;
    const ReadResult missing = read_map(dir.path("none.pgm"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Error: Could not read " + dir.path("none.pgm")) << "the BMP reader's message";
}

#ifndef _WIN32
TEST(HeightsRead, ViewReadsAFifoAsItReadsTheFile) {
    // varlox-view on a named FIFO that `cat` fills: the same outputs as from the file,
    // for each format. The summary names the picture, so it is left out.
    struct Case {
        const char* name;
        Bytes file;
        std::vector<std::string> outputs;  // suffixes compared
    };
    const std::vector<std::string> measured = {"-as-log.bmp", "-full.csv", "-angles.csv", "-peaks.csv"};
    std::vector<uint32_t> levels;
    for (uint32_t k = 0; k < 16 * 16; ++k) levels.push_back((k * 7919) % 60000);
    std::vector<float> values;
    for (uint32_t k = 0; k < 16 * 16; ++k) values.push_back(static_cast<float>((k * 31) % 97) / 8);
    const Case cases[] = {
        {"pgm", pgm("P5\n16 16\n65535\n", levels, 2), measured},
        {"pfm", pfm("Pf\n16 16\n-1\n", values, true), measured},
        {"bmp",
         testutil::make_bmp({16, 16}, testutil::pattern_pixels(16, 16, 4)),
         {"-as-log.bmp", "-full.csv"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string name = c.name;
        testutil::write_file(dir.path("in." + name), c.file);
        ASSERT_EQ(mkfifo(dir.path("fifo." + name).c_str(), 0600), 0) << name;
        const auto from_file = testutil::run_program(VARLOX_VIEW_EXE, {"in." + name}, dir.root.string());
        ASSERT_EQ(from_file.status, 0) << name << ": " << from_file.err;
        // The writer's own output goes nowhere, so that only the program is waited for; a
        // reader that hangs is ended after a minute.
        const auto from_fifo =
            testutil::run_program("/bin/sh",
                                  {"-c",
                                   "(cat \"$1\" > \"$2\") >/dev/null 2>&1 & exec timeout 60 " +
                                       testutil::emulator_prefix() + "\"$0\" \"$2\"",
                                   VARLOX_VIEW_EXE, "in." + name, "fifo." + name},
                                  dir.root.string());
        ASSERT_EQ(from_fifo.status, 0) << name << ": " << from_fifo.err;
        for (const std::string& suffix : c.outputs) {
            EXPECT_EQ(testutil::read_file(dir.path("fifo" + suffix)),
                      testutil::read_file(dir.path("in" + suffix)))
                << name << " " << suffix;
        }
    }
}
#endif

}  // namespace
