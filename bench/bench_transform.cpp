// Prints the seconds image_spectrum takes for a picture of side N on the default path:
// the transform and centring alone, for comparison with a whole run.
//
// Usage: bench_transform N
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "spectrum/dft.h"

int main(int argc, char** argv) {
    const long n = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (n < 1 || n > 8192) {
        std::fputs("Usage: bench_transform N\n", stderr);
        return 1;
    }
    const auto side = static_cast<uint32_t>(n);
    ImagePtr image = image_new(side, side);
    if (!image) return 1;
    for (uint64_t i = 0; i < uint64_t{side} * side * 3; ++i) image->pixels[i] = static_cast<uint8_t>(i * 7 % 251);
    std::vector<double> re(uint64_t{side} * side), im(uint64_t{side} * side);
    const auto t0 = std::chrono::steady_clock::now();
    if (image_spectrum(*image, re.data(), im.data()) != 0) return 1;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%.3f\n", s);
    return 0;
}
