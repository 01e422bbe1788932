// Writes the fuzzers' seed corpus: small valid BMPs of every stride and with a larger
// header, and one file for each of the reader's refusals; then PGMs of both depths and
// PFMs of both byte orders, valid and with each kind of flaw, and the other netpbm
// formats (for the height-map reader).
//
// Usage: make_fuzz_seeds DIR
#include <string>

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
    return 0;
}
