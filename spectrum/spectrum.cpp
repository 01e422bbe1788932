#include "spectrum/dft.h"

#include <utility>

namespace {

// Rotates `count` elements of both arrays right by `shift` (0 <= shift < count) in place,
// following the gcd(count, shift) cycles of the permutation, so no scratch is needed.
void rotate_index(double* re, double* im, int64_t count, int64_t shift) {
    if (shift == 0) return;
    int64_t a = count;
    int64_t b = shift;
    while (b != 0) {
        const int64_t t = a % b;
        a = b;
        b = t;
    }
    const int64_t cycles = a;
    for (int64_t start = 0; start < cycles; ++start) {
        double carry_re = re[start];
        double carry_im = im[start];
        int64_t i = start;
        for (;;) {
            int64_t next = i + shift;
            if (next >= count) next -= count;
            std::swap(carry_re, re[next]);
            std::swap(carry_im, im[next]);
            i = next;
            if (i == start) break;
        }
    }
}

}  // namespace

void swap_quadrants(double* re, double* im, int32_t width, int32_t height) {
    if (width < 1 || height < 1) return;
    const int64_t w = width;
    const int64_t h = height;
    // Rows down by h/2: the whole plane rotates right by (h/2) * w elements.
    rotate_index(re, im, w * h, (h / 2) * w);
    // Each row right by w/2.
    for (int64_t r = 0; r < h; ++r) {
        rotate_index(re + r * w, im + r * w, w, w / 2);
    }
}

int image_spectrum(const Image& image, double* re, double* im, const DftProgress* progress) {
    const uint64_t count = uint64_t{image.width} * image.height;
    const uint8_t* p = image.pixels.get();
    for (uint64_t i = 0; i < count; ++i) {
        re[i] = p[i * 3 + 2];
        im[i] = 0.0;
    }
    const auto w = static_cast<int32_t>(image.width);
    const auto h = static_cast<int32_t>(image.height);
    swap_quadrants(re, im, w, h);
    if (dft_2d_progress(re, im, w, h, +1, progress) != 0) {
        return 1;
    }
    swap_quadrants(re, im, w, h);
    return 0;
}
