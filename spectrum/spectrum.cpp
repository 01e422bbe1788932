#include "spectrum/spectrum.h"

#include <algorithm>

namespace {

// Rotates every row of a plane right by `shift` (0 <= shift < width) in place.
void rotate_rows(double* p, int64_t width, int64_t height, int64_t shift) {
    if (shift == 0) return;
    for (int64_t r = 0; r < height; ++r) {
        double* row = p + r * width;
        std::rotate(row, row + (width - shift), row + width);
    }
}

// Moves every row of a plane down by `shift` rows (0 <= shift < height), cyclically.
// The rows follow the gcd(height, shift) cycles of the permutation; the first row of a
// cycle holds the row being carried, and each step exchanges it with the next row of
// the cycle, so whole rows move as contiguous runs and no scratch is needed.
void shift_rows(double* p, int64_t width, int64_t height, int64_t shift) {
    if (shift == 0) return;
    int64_t a = height;
    int64_t b = shift;
    while (b != 0) {
        const int64_t t = a % b;
        a = b;
        b = t;
    }
    const int64_t cycles = a;
    for (int64_t start = 0; start < cycles; ++start) {
        double* carry = p + start * width;
        for (int64_t next = start + shift; next != start; next = (next + shift) % height) {
            std::swap_ranges(carry, carry + width, p + next * width);
        }
    }
}

// The cyclic shift of one plane by (height/2, width/2).
void shift_plane(double* p, int64_t width, int64_t height) {
    const int64_t half_w = width / 2;
    const int64_t half_h = height / 2;
    if (width % 2 == 0 && height % 2 == 0) {
        // Even sides: the diagonal quadrants exchange places, row by row.
        for (int64_t r = 0; r < half_h; ++r) {
            double* top = p + r * width;
            double* bottom = p + (r + half_h) * width;
            std::swap_ranges(top, top + half_w, bottom + half_w);
            std::swap_ranges(top + half_w, top + width, bottom);
        }
        return;
    }
    shift_rows(p, width, height, half_h);
    rotate_rows(p, width, height, half_w);
}

// The centred spectrum of the samples sample(r, c), r < height, c < width. Each sample
// goes straight to its centred place: row r, column c of the plane takes sample
// ((r - height/2) mod height, (c - width/2) mod width), as swap_quadrants would put it.
template <class Sample>
int centred_spectrum(int64_t width, int64_t height, const Sample& sample, double* re, double* im,
                     const DftProgress* progress, int threads) {
    const int64_t half_w = width / 2;
    const int64_t half_h = height / 2;
    for (int64_t r = 0; r < height; ++r) {
        const int64_t from = (r + height - half_h) % height;
        double* dst = re + r * width;
        for (int64_t c = 0; c < half_w; ++c) dst[c] = sample(from, c + width - half_w);
        for (int64_t c = half_w; c < width; ++c) dst[c] = sample(from, c - half_w);
        std::fill(im + r * width, im + (r + 1) * width, 0.0);
    }
    const auto w32 = static_cast<int32_t>(width);
    const auto h32 = static_cast<int32_t>(height);
    const DftRun run{kDftBest, threads, progress};
    if (dft_2d_run(re, im, w32, h32, DftDirection::kForward, run) != 0) {
        return 1;
    }
    swap_quadrants(re, im, w32, h32);
    return 0;
}

}  // namespace

void swap_quadrants(double* re, double* im, int32_t width, int32_t height) {
    if (width < 1 || height < 1) return;
    shift_plane(re, width, height);
    shift_plane(im, width, height);
}

int heights_spectrum(const double* z, uint32_t width, uint32_t height, double* re, double* im,
                     const DftProgress* progress, int threads) {
    const int64_t w = width;
    const auto at = [z, w](int64_t r, int64_t c) { return z[r * w + c]; };
    return centred_spectrum(w, height, at, re, im, progress, threads);
}

int image_spectrum(const Image& image, double* re, double* im, const DftProgress* progress, int threads) {
    const int64_t w = image.width;
    const uint8_t* p = image.pixels.get();
    const auto red = [p, w](int64_t r, int64_t c) { return static_cast<double>(p[(r * w + c) * 3 + 2]); };
    return centred_spectrum(w, image.height, red, re, im, progress, threads);
}
