// Writes the fuzzer's seed corpus: small valid BMPs of every stride and with a larger
// header, and one file for each of the reader's refusals.
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
    return 0;
}
