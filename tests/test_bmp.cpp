#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>

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

TEST(BmpWrite, WritesEveryHeaderField) {
    TempDir dir;
    ImagePtr image = image_with(5, 5, testutil::pattern_pixels(5, 5));
    ASSERT_TRUE(image);
    std::string err;
    ASSERT_EQ(write_capturing(dir.path("a.bmp"), *image, &err), 0);
    EXPECT_EQ(err, "");
    const Bytes b = testutil::read_file(dir.path("a.bmp"));
    ASSERT_EQ(b.size(), 134u);  // 54 + 5 rows of 16 bytes
    const Bytes expected_header = {
        'B', 'M', 134, 0, 0, 0,  0, 0, 0, 0,  54, 0, 0, 0,  40, 0, 0, 0,  5, 0, 0, 0,
        5,   0,   0,   0, 1, 0,  24, 0, 0, 0, 0, 0, 80, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0,
        0,   0,   0,   0, 0, 0,  0,  0,  0};
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 54), expected_header);
}

TEST(BmpWrite, StoresRowsBottomUpWithZeroFill) {
    TempDir dir;
    const Bytes px = testutil::pattern_pixels(3, 2);
    ImagePtr image = image_with(3, 2, px);
    ASSERT_TRUE(image);
    std::string err;
    ASSERT_EQ(write_capturing(dir.path("a.bmp"), *image, &err), 0);
    const Bytes b = testutil::read_file(dir.path("a.bmp"));
    ASSERT_EQ(b.size(), 54u + 2 * 12);
    // First stored row is the picture's bottom row.
    EXPECT_EQ(Bytes(b.begin() + 54, b.begin() + 63), Bytes(px.begin() + 9, px.begin() + 18));
    EXPECT_EQ(Bytes(b.begin() + 63, b.begin() + 66), Bytes(3, 0));
    EXPECT_EQ(Bytes(b.begin() + 66, b.begin() + 75), Bytes(px.begin(), px.begin() + 9));
    EXPECT_EQ(Bytes(b.begin() + 75, b.end()), Bytes(3, 0));
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

TEST(BmpRead, ReadsRowsBottomUpIntoTopDownImage) {
    TempDir dir;
    const Bytes px = testutil::pattern_pixels(3, 3);
    testutil::write_file(dir.path("a.bmp"), make_bmp({3, 3}, px));
    ReadResult r = read_capturing(dir.path("a.bmp"));
    ASSERT_TRUE(r.image) << r.err;
    EXPECT_EQ(pixels_of(*r.image), px);
}

TEST(BmpRead, ReadsPixelsFromTheOffsetTheFileGives) {
    TempDir dir;
    const Bytes px = testutil::pattern_pixels(4, 4);
    // 108- and 124-byte information headers put the pixels at 122 and 138; an offset
    // below 54 is taken as 54.
    for (uint32_t offset : {54u, 122u, 138u, 200u, 0u, 53u}) {
        testutil::write_file(dir.path("a.bmp"), make_bmp({4, 4, 24, 0, offset}, px));
        ReadResult r = read_capturing(dir.path("a.bmp"));
        ASSERT_TRUE(r.image) << "offset " << offset << ": " << r.err;
        EXPECT_EQ(pixels_of(*r.image), px) << "offset " << offset;
    }
}

struct Rejection {
    const char* name;
    BmpFields fields;
    const char* message;  // with %s for the path
};

TEST(BmpRead, RejectsInOrderWithTheReadersMessages) {
    const Rejection cases[] = {
        {"non-square", {640, 480}, "Error: %s is not a square image"},
        {"non-square 8-bit", {640, 480, 8}, "Error: %s is not a square image"},
        {"top-down", {4, -4}, "Error: %s is not a square image"},
        {"8-bit", {4, 4, 8}, "Error: %s is not a 24bit color image"},
        {"32-bit", {4, 4, 32}, "Error: %s is not a 24bit color image"},
        {"compressed low half", {4, 4, 24, 1}, "Error: %s is not a 24bit color image"},
        {"compressed bitfields", {4, 4, 24, 3}, "Error: %s is not a 24bit color image"},
        {"zero side", {0, 0}, "Error: Memory allocation error\n"},
        {"negative side", {-256, -256}, "Error: Memory allocation error\n"},
    };
    TempDir dir;
    for (const Rejection& c : cases) {
        const std::string path = dir.path("x.bmp");
        Bytes b = make_bmp(c.fields, {});
        if (b.size() < 54 + 64) b.resize(54 + 64, 0);
        testutil::write_file(path, b);
        ReadResult r = read_capturing(path);
        EXPECT_FALSE(r.image) << c.name;
        char expected[512];
        std::snprintf(expected, sizeof expected, c.message, path.c_str());
        EXPECT_EQ(r.err, expected) << c.name;
    }
}

TEST(BmpRead, NamesOs2BitmapsWhateverTheirSides) {
    // A 12-byte BITMAPCOREHEADER: 16-bit width and height, planes, 24 bits, then pixels.
    const std::pair<uint16_t, uint16_t> sides[] = {{4, 4}, {640, 480}};
    TempDir dir;
    const std::string path = dir.path("os2.bmp");
    for (const auto& [width, height] : sides) {
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
        testutil::write_file(path, b);
        ReadResult r = read_capturing(path);
        EXPECT_FALSE(r.image) << width << " x " << height;
        EXPECT_EQ(r.err, "Error: " + path +
                             " is an OS/2 bitmap (12-byte header); only 24bit color Windows bitmaps "
                             "are read")
            << width << " x " << height;
    }
}

TEST(BmpRead, HighCompressionBytesAreNotConsulted) {
    TempDir dir;
    const Bytes px = testutil::pattern_pixels(2, 2);
    // Only the low half of the compression field takes part in the depth test.
    testutil::write_file(dir.path("a.bmp"), make_bmp({2, 2, 24, 0x00010000u}, px));
    ReadResult r = read_capturing(dir.path("a.bmp"));
    ASSERT_TRUE(r.image) << r.err;
    EXPECT_EQ(pixels_of(*r.image), px);
}

TEST(BmpRead, RejectsFilesThatAreNotBitmaps) {
    TempDir dir;
    const std::string path = dir.path("x.bmp");
    const std::string not_bmp = "Error: " + path + " is not a bitmap image";
    Bytes ba = make_bmp({2, 2}, {});
    ba[1] = 'A';
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {{"empty", {}}, {"one byte", {'B'}}, {"BA signature", ba},
                          {"text", Bytes{'h', 'e', 'l', 'l', 'o'}}};
    for (const Case& c : cases) {
        testutil::write_file(path, c.bytes);
        ReadResult r = read_capturing(path);
        EXPECT_FALSE(r.image) << c.name;
        EXPECT_EQ(r.err, not_bmp) << c.name;
    }
}

TEST(BmpRead, ShortHeaderBytesCountAsZero) {
    TempDir dir;
    const std::string path = dir.path("x.bmp");
    // "BM" and nothing else: width = height = 0 and a depth of 0.
    testutil::write_file(path, Bytes{'B', 'M'});
    ReadResult r = read_capturing(path);
    EXPECT_FALSE(r.image);
    EXPECT_EQ(r.err, "Error: " + path + " is not a 24bit color image");
}

TEST(BmpRead, RefusesTruncatedFilesBeforeAllocatingPixels) {
    TempDir dir;
    const std::string path = dir.path("t.bmp");
    const std::string truncated = "Error: " + path + " is truncated\n";
    const Bytes full = make_bmp({5, 5}, testutil::pattern_pixels(5, 5));  // stride 16
    struct Case {
        const char* name;
        Bytes bytes;
        bool accepted;
    };
    Bytes huge = make_bmp({1, 1}, {});
    huge.resize(54);
    testutil::put_le32(huge, 18, 60000);
    testutil::put_le32(huge, 22, 60000);
    // The largest side the header can claim: its row buffer alone would be 6 GiB.
    Bytes widest = huge;
    testutil::put_le32(widest, 18, 0x7FFFFFFFu);
    testutil::put_le32(widest, 22, 0x7FFFFFFFu);
    Bytes far_offset = full;
    testutil::put_le32(far_offset, 10, 0x7FFFFFF0u);
    const Case cases[] = {
        {"header only", Bytes(full.begin(), full.begin() + 54), false},
        {"one byte short of the last row's pixels", Bytes(full.begin(), full.end() - 2), false},
        {"last row without its fill", Bytes(full.begin(), full.end() - 1), true},
        {"complete", full, true},
        {"claims 60000 x 60000", huge, false},
        {"claims the largest side", widest, false},
        {"pixel offset beyond the end", far_offset, false},
    };
    for (const Case& c : cases) {
        testutil::write_file(path, c.bytes);
        ReadResult r = read_capturing(path);
        EXPECT_EQ(static_cast<bool>(r.image), c.accepted) << c.name;
        EXPECT_EQ(r.err, c.accepted ? "" : truncated) << c.name;
    }
}

TEST(BmpRead, ReportsMissingAndUnreadableFiles) {
    TempDir dir;
    for (const std::string& path : {dir.path("missing.bmp"), dir.root.string()}) {
        ReadResult r = read_capturing(path);
        EXPECT_FALSE(r.image) << path;
        EXPECT_EQ(r.err, "Error: Could not read " + path) << path;
    }
}

TEST(BmpWrite, ReportsFilesThatCannotBeCreated) {
    TempDir dir;
    ImagePtr image = image_with(2, 2, testutil::pattern_pixels(2, 2));
    ASSERT_TRUE(image);
    const std::string path = dir.path("no/such/dir/a.bmp");
    std::string err;
    EXPECT_EQ(write_capturing(path, *image, &err), 1);
    EXPECT_EQ(err, "Error: Could not write to " + path + "\n");
}

TEST(BmpWrite, ReportsAFullDisk) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    ImagePtr image = image_with(8, 8, testutil::pattern_pixels(8, 8));
    ASSERT_TRUE(image);
    std::string err;
    EXPECT_EQ(write_capturing("/dev/full", *image, &err), 1);
    EXPECT_EQ(err, "Error: Could not write to /dev/full\n");
}

TEST(BmpWrite, RefusesPicturesTooLargeForTheFormatBeforeCreatingTheFile) {
    TempDir dir;
    // The size fields are 32 bits: 37838 x 37838 needs a file of over 4 GiB. The record
    // is made by hand so no pixel memory is needed: the writer must refuse it first.
    Image image{37838, 37838, Buffer<uint8_t>()};
    const std::string path = dir.path("big.bmp");
    std::string err;
    EXPECT_EQ(write_capturing(path, image, &err), 1);
    EXPECT_EQ(err, "Error: Could not write to " + path + "\n");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(BmpWrite, EmptyRowBufferLeavesHeaderOnly) {
    TempDir dir;
    Image image{0, 0, Buffer<uint8_t>()};
    const std::string path = dir.path("empty.bmp");
    std::string err;
    EXPECT_EQ(write_capturing(path, image, &err), 1);
    EXPECT_EQ(err, "Error: Memory allocation error\n");
    EXPECT_EQ(testutil::read_file(path).size(), 54u);
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
                EXPECT_EQ(fs::file_size(dir.path(std::string("in") + kVarloxOutputs[i].suffix)), 54 + w * ((w * 3 + 3) / 4 * 4)) << what;
            }
        } else {
            EXPECT_EQ(r.status, 1) << what;
            ASSERT_GE(r.err.size(), want.size()) << what;
            EXPECT_EQ(r.err.substr(r.err.size() - want.size()), want) << what;
            EXPECT_EQ(testutil::count_of(r.err, "Error: "), 1u) << what;
            EXPECT_FALSE(fs::exists(dir.path("in.csv"))) << what;
        }
    }
    EXPECT_GT(files, 50);
    RecordProperty("files", files);
    RecordProperty("accepted", accepted);
}

}  // namespace
