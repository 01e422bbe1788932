// Writes the bundled sample picture: a 256 x 256 woven texture with two oriented
// gratings, a brick-like lattice and a little noise, so that its spectrum shows clear
// peaks, directions and a falling background. Deterministic: same bytes on every run.
//
// Usage: make_sample OUTPUT.bmp [SIDE]   (SIDE defaults to 256, the bundled sample)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image/bmp.h"
#include "image/image.h"

namespace {

constexpr double kPi = 3.141592653589793;

uint8_t clamp_byte(double v) {
    if (v < 0) return 0;
    if (v > 255) return 255;
    return static_cast<uint8_t>(v);
}

}  // namespace

int main(int argc, char** argv) {
    const long side = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 256;
    if (argc < 2 || argc > 3 || side < 1 || side > 65536) {
        std::fputs("Usage: make_sample OUTPUT.bmp [SIDE]\n", stderr);
        return 1;
    }
    const auto kSide = static_cast<uint32_t>(side);
    ImagePtr image = image_new(kSide, kSide);
    if (!image) {
        return 1;
    }
    uint32_t noise = 12345;  // linear congruential generator: reproducible everywhere
    for (uint32_t r = 0; r < kSide; ++r) {
        for (uint32_t c = 0; c < kSide; ++c) {
            const double x = c;
            const double y = r;
            // Grating of period 16 at 30 degrees, and a finer one of period 6.4 at -60.
            const double g1 = std::cos(2 * kPi * (x * 0.8660254 + y * 0.5) / 16.0);
            const double g2 = std::cos(2 * kPi * (x * 0.5 - y * 0.8660254) / 6.4);
            // Brick lattice: mortar every 32 rows, joints every 64 columns, offset by half
            // a brick on alternate courses.
            const uint32_t course = r / 32;
            const bool mortar = r % 32 < 3 || (c + course % 2 * 32) % 64 < 3;
            noise = noise * 1103515245u + 12345u;
            const double n = static_cast<double>(noise >> 24) / 255.0 - 0.5;
            const double base = mortar ? 40 : 150 + 55 * g1 + 25 * g2 + 30 * n;
            uint8_t* p = image->pixels.get() + (uint64_t{r} * kSide + c) * 3;
            p[0] = clamp_byte(base * 0.8 + 20);  // blue
            p[1] = clamp_byte(base * 0.9);       // green
            p[2] = clamp_byte(base + 10);        // red
        }
    }
    return bmp_write(argv[1], *image);
}
