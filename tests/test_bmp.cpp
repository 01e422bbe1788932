// The one BMP form: its stride, the writer's bytes field by field and its failures, a
// round trip for every stride, every file the reader accepts with its pixels and every
// one it refuses with its one message, and varlox on a public suite of BMP files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/output_table.h"
#include "image/bmp.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using testutil::BmpFields;
using testutil::Bytes;
using testutil::make_bmp;
using testutil::TempDir;

struct ReadResult {
    ImagePtr image;
    std::string err;
};

ReadResult read_capturing(const std::string& path) {
    testing::internal::CaptureStderr();
    ImagePtr image = bmp_read(path);
    return {std::move(image), testing::internal::GetCapturedStderr()};
}

int write_capturing(const std::string& path, const Image& image, std::string* err) {
    testing::internal::CaptureStderr();
    const int status = bmp_write(path, image);
    *err = testing::internal::GetCapturedStderr();
    return status;
}

ImagePtr image_with(uint32_t width, uint32_t height, const Bytes& pixels) {
    ImagePtr image = image_new(width, height);
    if (image) std::memcpy(image->pixels.get(), pixels.data(), pixels.size());
    return image;
}

Bytes pixels_of(const Image& image) {
    return Bytes(image.pixels.get(), image.pixels.get() + uint64_t{image.width} * image.height * 3);
}

TEST(BmpStride, RoundsRowUpToFourBytes) {
    const uint64_t expected[] = {0, 4, 8, 12, 12, 16, 20, 24, 24};
    for (uint32_t w = 1; w <= 8; ++w) EXPECT_EQ(bmp_stride(w), expected[w]) << "width " << w;
    EXPECT_EQ(bmp_stride(0xFFFFFFFFu), 0xFFFFFFFFull * 3 + 3);  // no 32-bit wrap
}

TEST(BmpWrite, WritesTheHeaderThenTheRowsBottomUpWithZeroFill) {
    // Every header field worked by hand; then the picture's bottom row first, each row
    // padded with zero bytes to its stride.
    struct Case {
        uint32_t width, height;
        Bytes header;
    };
    const Case cases[] = {
        {5,
         5,  // 54 + 5 rows of 16 bytes
         {'B', 'M', 134, 0, 0, 0, 0, 0,  0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 5, 0, 0, 0, 5, 0, 0, 0, 1,
          0,   24,  0,   0, 0, 0, 0, 80, 0, 0, 0,  1, 0, 0, 0,  1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {3,
         2,  // 54 + 2 rows of 12 bytes
         {'B', 'M', 78, 0, 0, 0, 0, 0,  0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1,
          0,   24,  0,  0, 0, 0, 0, 24, 0, 0, 0,  1, 0, 0, 0,  1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.width) + " x " + std::to_string(c.height);
        const Bytes px = testutil::pattern_pixels(c.width, c.height);
        ImagePtr image = image_with(c.width, c.height, px);
        ASSERT_TRUE(image);
        std::string err;
        ASSERT_EQ(write_capturing(dir.path("a.bmp"), *image, &err), 0) << label;
        EXPECT_EQ(err, "") << label;
        const Bytes b = testutil::read_file(dir.path("a.bmp"));
        const std::size_t row = c.width * 3, stride = (row + 3) / 4 * 4;
        ASSERT_EQ(b.size(), 54 + stride * c.height) << label;
        EXPECT_EQ(Bytes(b.begin(), b.begin() + 54), c.header) << label;
        for (std::size_t stored = 0; stored < c.height; ++stored) {
            const auto at = b.begin() + 54 + stored * stride;
            const auto from = px.begin() + (c.height - 1 - stored) * row;
            EXPECT_EQ(Bytes(at, at + row), Bytes(from, from + row)) << label << " stored row " << stored;
            EXPECT_EQ(Bytes(at + row, at + stride), Bytes(stride - row, 0))
                << label << " stored row " << stored;
        }
    }
}

TEST(BmpWrite, FailuresGiveOneMessage) {
    // A file that cannot be created, a full disk, a picture too large for the format's
    // 32-bit size fields (37838 x 37838 needs a file of over 4 GiB; the record has no
    // pixel memory, so the writer must refuse it before reading any) and a picture without
    // pixels.
    enum After { kNoFile, kHeaderOnly, kNotLooked };
    struct Case {
        const char* label;
        std::string path;  // in the test's folder, or absolute
        uint32_t side;     // of a picture with pixels, or 0
        Image record;      // used when side is 0
        std::string message;
        After after;
    };
    TempDir dir;
    const Case cases[] = {
        {"cannot be created",
         dir.path("no/such/dir/a.bmp"),
         2,
         {},
         "Error: Could not write to %s\n",
         kNoFile},
        {"full disk", "/dev/full", 8, {}, "Error: Could not write to %s\n", kNotLooked},
        {"too large for the format",
         dir.path("big.bmp"),
         0,
         {37838, 37838, Buffer<uint8_t>()},
         "Error: Could not write to %s\n",
         kNoFile},
        {"no pixels",
         dir.path("empty.bmp"),
         0,
         {0, 0, Buffer<uint8_t>()},
         "Error: Memory allocation error\n",
         kHeaderOnly},
    };
    for (const Case& c : cases) {
        if (c.path == "/dev/full" && !fs::exists("/dev/full")) {
            std::printf("[  SKIPPED ] %s: no /dev/full\n", c.label);
            continue;
        }
        ImagePtr made =
            c.side > 0 ? image_with(c.side, c.side, testutil::pattern_pixels(c.side, c.side)) : ImagePtr();
        std::string err;
        EXPECT_EQ(write_capturing(c.path, c.side > 0 ? *made : c.record, &err), 1) << c.label;
        std::string message = c.message;
        if (message.find("%s") != std::string::npos) message.replace(message.find("%s"), 2, c.path);
        EXPECT_EQ(err, message) << c.label;
        if (c.after == kNoFile) {
            EXPECT_FALSE(fs::exists(c.path)) << c.label;
        } else if (c.after == kHeaderOnly) {
            EXPECT_EQ(testutil::read_file(c.path).size(), 54u) << c.label;
        }
    }
}

TEST(BmpRoundTrip, KeepsPixelsForEveryStride) {
    TempDir dir;
    for (uint32_t w = 1; w <= 8; ++w) {
        const Bytes px = testutil::pattern_pixels(w, w, w);
        ImagePtr image = image_with(w, w, px);
        ASSERT_TRUE(image);
        const std::string path = dir.path("rt" + std::to_string(w) + ".bmp");
        std::string err;
        ASSERT_EQ(write_capturing(path, *image, &err), 0) << err;
        EXPECT_EQ(testutil::read_file(path).size(), 54 + w * bmp_stride(w));
        ReadResult r = read_capturing(path);
        ASSERT_TRUE(r.image) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.image->width, w);
        EXPECT_EQ(r.image->height, w);
        EXPECT_EQ(pixels_of(*r.image), px) << "width " << w;
    }
}

TEST(BmpRead, EveryFileGetsItsPixelsOrTheReadersOneMessage) {
    // Accepted files give their pixels, top row first, and say nothing; refused ones give
    // no picture and one message (%s the path), in the order the reader checks: the
    // signature, an OS/2 header, squareness, the depth, a side that cannot be allocated,
    // then the pixels' extent, before any pixel memory is allocated.
    enum Entry { kFile, kMissing, kFolder };
    struct Case {
        const char* label;
        Bytes file;
        Bytes pixels;  // accepted: the picture, top row first; empty when refused
        std::string message;
        Entry entry;
    };
    const Bytes px2 = testutil::pattern_pixels(2, 2), px3 = testutil::pattern_pixels(3, 3);
    const Bytes px4 = testutil::pattern_pixels(4, 4), px5 = testutil::pattern_pixels(5, 5);
    const Bytes full5 = make_bmp({5, 5}, px5);  // rows of 16 bytes
    // A header alone, with room after it for pixels that are never reached.
    const auto header = [](const BmpFields& f) {
        Bytes b = make_bmp(f, {});
        if (b.size() < 54 + 64) b.resize(54 + 64, 0);
        return b;
    };
    // A 12-byte BITMAPCOREHEADER: 16-bit width and height, planes, 24 bits, then pixels.
    const auto os2 = [](uint16_t width, uint16_t height) {
        Bytes b(26 + 64, 0);
        b[0] = 'B';
        b[1] = 'M';
        testutil::put_le32(b, 2, static_cast<uint32_t>(b.size()));
        testutil::put_le32(b, 10, 26);
        testutil::put_le32(b, 14, 12);
        testutil::put_le16(b, 18, width);
        testutil::put_le16(b, 20, height);
        testutil::put_le16(b, 22, 1);
        testutil::put_le16(b, 24, 24);
        return b;
    };
    // A file of one pixel whose header claims another side, or another pixel offset.
    const auto claims = [](Bytes b, std::size_t at, uint32_t value, std::size_t at2 = 0,
                           uint32_t value2 = 0) {
        testutil::put_le32(b, at, value);
        if (at2 > 0) testutil::put_le32(b, at2, value2);
        return b;
    };
    Bytes header_only = make_bmp({1, 1}, {});
    header_only.resize(54);
    Bytes ba = make_bmp({2, 2}, {});
    ba[1] = 'A';
    const std::string not_square = "Error: %s is not a square image";
    const std::string not_24 = "Error: %s is not a 24bit color image";
    const std::string no_memory = "Error: Memory allocation error\n";
    const std::string truncated = "Error: %s is truncated\n";
    const std::string not_bmp = "Error: %s is not a bitmap image";
    const std::string os2_named =
        "Error: %s is an OS/2 bitmap (12-byte header); only 24bit color Windows bitmaps are read";
    const Case cases[] = {
        {"side 3, rows bottom up", make_bmp({3, 3}, px3), px3, "", kFile},
        {"side 5", full5, px5, "", kFile},
        {"last row without its fill", Bytes(full5.begin(), full5.end() - 1), px5, "", kFile},
        // 108- and 124-byte information headers put the pixels at 122 and 138; an offset
        // below 54 is taken as 54.
        {"pixels at 54", make_bmp({4, 4, 24, 0, 54}, px4), px4, "", kFile},
        {"pixels at 122", make_bmp({4, 4, 24, 0, 122}, px4), px4, "", kFile},
        {"pixels at 138", make_bmp({4, 4, 24, 0, 138}, px4), px4, "", kFile},
        {"pixels at 200", make_bmp({4, 4, 24, 0, 200}, px4), px4, "", kFile},
        {"pixel offset 0", make_bmp({4, 4, 24, 0, 0}, px4), px4, "", kFile},
        {"pixel offset 53", make_bmp({4, 4, 24, 0, 53}, px4), px4, "", kFile},
        // Only the low half of the compression field takes part in the depth test.
        {"high compression bytes", make_bmp({2, 2, 24, 0x00010000u}, px2), px2, "", kFile},
        {"empty", {}, {}, not_bmp, kFile},
        {"one byte", {'B'}, {}, not_bmp, kFile},
        {"BA signature", ba, {}, not_bmp, kFile},
        {"text", {'h', 'e', 'l', 'l', 'o'}, {}, not_bmp, kFile},
        {"OS/2, square", os2(4, 4), {}, os2_named, kFile},
        {"OS/2, not square", os2(640, 480), {}, os2_named, kFile},
        {"non-square", header({640, 480}), {}, not_square, kFile},
        {"non-square 8-bit", header({640, 480, 8}), {}, not_square, kFile},
        {"top-down", header({4, -4}), {}, not_square, kFile},
        // "BM" and nothing else: width = height = 0 and a depth of 0.
        {"short header bytes count as zero", {'B', 'M'}, {}, not_24, kFile},
        {"8-bit", header({4, 4, 8}), {}, not_24, kFile},
        {"32-bit", header({4, 4, 32}), {}, not_24, kFile},
        {"compressed low half", header({4, 4, 24, 1}), {}, not_24, kFile},
        {"compressed bitfields", header({4, 4, 24, 3}), {}, not_24, kFile},
        {"zero side", header({0, 0}), {}, no_memory, kFile},
        {"negative side", header({-256, -256}), {}, no_memory, kFile},
        {"one pixel claiming side -256",
         claims(make_bmp({1, 1}, {}), 18, uint32_t(-256), 22, uint32_t(-256)),
         {},
         no_memory,
         kFile},
        {"one pixel claiming side -1",
         claims(make_bmp({1, 1}, {}), 18, uint32_t(-1), 22, uint32_t(-1)),
         {},
         no_memory,
         kFile},
        {"one pixel claiming side -2^31",
         claims(make_bmp({1, 1}, {}), 18, 0x80000000u, 22, 0x80000000u),
         {},
         no_memory,
         kFile},
        {"header only", Bytes(full5.begin(), full5.begin() + 54), {}, truncated, kFile},
        {"one byte short of the last row's pixels",
         Bytes(full5.begin(), full5.end() - 2),
         {},
         truncated,
         kFile},
        {"header claiming 60000 x 60000", claims(header_only, 18, 60000, 22, 60000), {}, truncated, kFile},
        // The largest side the header can claim: its row buffer alone would be 6 GiB.
        {"header claiming the largest side",
         claims(header_only, 18, 0x7FFFFFFFu, 22, 0x7FFFFFFFu),
         {},
         truncated,
         kFile},
        {"pixel offset beyond the end", claims(full5, 10, 0x7FFFFFF0u), {}, truncated, kFile},
        {"missing", {}, {}, "Error: Could not read %s", kMissing},
        {"a folder", {}, {}, "Error: Could not read %s", kFolder},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = c.entry == kFolder ? dir.root.string() : dir.path("x.bmp");
        if (c.entry == kFile) testutil::write_file(path, c.file);
        ReadResult r = read_capturing(path);
        if (c.pixels.empty()) {
            std::string message = c.message;
            if (message.find("%s") != std::string::npos) message.replace(message.find("%s"), 2, path);
            EXPECT_FALSE(r.image) << c.label;
            EXPECT_EQ(r.err, message) << c.label;
            continue;
        }
        ASSERT_TRUE(r.image) << c.label << ": " << r.err;
        EXPECT_EQ(r.err, "") << c.label;
        EXPECT_EQ(r.image->width * r.image->height * 3, c.pixels.size()) << c.label;
        EXPECT_EQ(r.image->width, r.image->height) << c.label;
        EXPECT_EQ(pixels_of(*r.image), c.pixels) << c.label;
    }
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
        return "Error: " + name +
               " is an OS/2 bitmap (12-byte header); only 24bit color Windows bitmaps are read";
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

fs::path suite_dir() {
    return fs::path(VARLOX_SOURCE_DIR) / ".." / "shared" / "corpus" / "bmpsuite";
}

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
                const std::string output = std::string("in") + kVarloxOutputs[i].suffix;
                EXPECT_EQ(fs::file_size(dir.path(output)), 54 + w * ((w * 3 + 3) / 4 * 4))
                    << what << " " << output;
            }
        } else {
            EXPECT_EQ(r.status, 1) << what;
            EXPECT_TRUE(testutil::ends_with(r.err, want)) << what << ": " << r.err;
            EXPECT_EQ(testutil::count_of(r.err, "Error: "), 1u) << what;
            EXPECT_FALSE(fs::exists(dir.path("in.csv"))) << what;
        }
    }
    EXPECT_GT(files, 50);
    RecordProperty("files", files);
    RecordProperty("accepted", accepted);
}

}  // namespace
