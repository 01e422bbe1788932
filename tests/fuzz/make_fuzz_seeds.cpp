// Writes the fuzzers' seed corpus: small valid BMPs of every stride and with a larger
// header, and one file for each of the reader's refusals; then PGMs of both depths and
// PFMs of both byte orders, valid and with each kind of flaw, and the other netpbm
// formats (for the height-map reader); then Gwyddion files and baseline TIFFs, valid and
// with the readers' refusals (for the instrument readers; CI adds the real x3p and TIFF
// files of tests/data/formats).
//
// Usage: make_fuzz_seeds DIR
#include <string>
#include <vector>

#include "tests/format_bytes.h"
#include "tests/test_util.h"

int main(int argc, char** argv) {
    if (argc != 2) return 1;
    const std::string dir = argv[1];
    using testutil::BmpFields;
    int count = 0;
    auto put = [&](const testutil::Bytes& b) {
        testutil::write_file(dir + "/seed" + std::to_string(count++) + ".bmp", b);
    };
    for (int w = 1; w <= 8; ++w) {
        put(testutil::make_bmp({w, w}, testutil::pattern_pixels(w, w, w)));
    }
    put(testutil::make_bmp({3, 3, 24, 0, 138}, testutil::pattern_pixels(3, 3)));
    put(testutil::make_bmp({4, 2}, {}));
    put(testutil::make_bmp({2, -2}, {}));
    put(testutil::make_bmp({2, 2, 8}, {}));
    put(testutil::make_bmp({2, 2, 24, 1}, {}));
    put(testutil::make_bmp({0, 0}, {}));
    put(testutil::make_bmp({-4, -4}, {}));
    testutil::Bytes cut = testutil::make_bmp({5, 5}, testutil::pattern_pixels(5, 5));
    cut.resize(cut.size() - 9);
    put(cut);
    put({'B', 'M'});
    put({});
    auto text = [&](const std::string& header, std::size_t samples, uint8_t fill) {
        testutil::Bytes b(header.begin(), header.end());
        for (std::size_t i = 0; i < samples; ++i) b.push_back(static_cast<uint8_t>(fill + i * 37));
        testutil::write_file(dir + "/seed" + std::to_string(count++) + ".pgm", b);
    };
    text("P5\n3 3\n255\n", 9, 1);
    text("P5 # comment\n2 2 # side\n65535\n", 8, 3);
    text("P5\n2 2\n1000\n", 8, 0);
    text("P5\n2 2\n10\n", 4, 9);
    text("P5\n2 3\n255\n", 6, 1);
    text("P5\n4 4\n255\n", 5, 1);
    text("P5\n1 1\n0\n", 1, 1);
    text("Pf\n2 2\n-1.0\n", 16, 0);
    text("Pf\n2 2\n1.0\n", 16, 64);
    text("Pf 1 1 -1 ", 4, 0x7f);
    text("Pf\n1 1\n0\n", 4, 0);
    // No whitespace after the magic; a comment there (PGM only); a picture larger than a
    // pipe may hold; the netpbm formats that are refused by name.
    text("P532 32\n255\n", 1024, 0);
    text("Pf1 1\n-1\n", 4, 0);
    text("P5#c\n2 2\n255\n", 4, 5);
    text("Pf # c\n1 1\n-1\n", 4, 0);
    text("P5\n60000 60000\n65535\n", 8, 0);
    text("P2\n1 1\n255\n", 0, 0);
    text("P6\n1 1\n255\n", 3, 1);
    text("PF\n1 1\n-1\n", 12, 0);
    namespace fb = formatbytes;
    auto file = [&](const fb::Bytes& b, const char* ext) {
        testutil::write_file(dir + "/seed" + std::to_string(count++) + ext, b);
    };
    const std::vector<double> six = {1, -2, 3.5, 0, 5, 6};
    file(fb::gwy_file({fb::gwy_string("/0/data/title", "h"),
                       fb::gwy_component_object("/0/data", fb::gwy_field(3, 2, 3e-6, 2e-6, "m", "m", six)),
                       fb::gwy_component_object("/4/data", fb::gwy_field(2, 3, 1, 1, "", "V", six))}),
         ".gwy");
    file(fb::gwy_file({fb::gwy_component_object("/1/data", fb::gwy_field(2, 2, 1, 1, "m", "m", {1, 2, 3}))}),
         ".gwy");
    file(fb::gwy_file({fb::gwy_string("/filename", "none")}), ".gwy");
    const uint16_t kinds[][2] = {{8, 1}, {8, 2}, {16, 1}, {16, 2}, {32, 1}, {32, 2}, {32, 3}, {64, 3}};
    for (const auto& k : kinds) {
        const fb::Bytes px(std::size_t(6) * (k[0] / 8), 0x41);
        file(fb::tiff_file(fb::tiff_grey(3, 2, k[0], k[1]), px), ".tif");
    }
    std::vector<fb::TiffEntry> turned = fb::tiff_grey(3, 2, 8, 1);
    turned.push_back({274, 3, 6});
    file(fb::tiff_file(turned, {0, 1, 2, 3, 4, 5}), ".tif");
    std::vector<fb::TiffEntry> tiled = fb::tiff_grey(3, 2, 8, 1);
    tiled.erase(tiled.begin() + 5);  // StripOffsets, RowsPerStrip and StripByteCounts give way
    tiled.erase(tiled.begin() + 6, tiled.begin() + 8);
    tiled.insert(tiled.end(), {{322, 4, 16}, {323, 4, 16}, {324, 4, fb::kPixelsOffset}, {325, 4, 256}});
    file(fb::tiff_file(tiled, fb::Bytes(256, 7)), ".tif");
    return 0;
}
