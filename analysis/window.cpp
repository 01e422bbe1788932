#include "analysis/window.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system/size.h"

namespace {

constexpr double kPi = 3.141592653589793;

}  // namespace

double window_weight(const Window& window, uint64_t i, uint64_t n) {
    if (window.kind == kWindowNone) return 1;
    const double a = window.fraction;
    const double p = static_cast<double>(i) / static_cast<double>(n);
    if (p < a / 2) return 0.5 - 0.5 * std::cos(2 * kPi * p / a);
    if (p > 1 - a / 2) return 0.5 - 0.5 * std::cos(2 * kPi * (1 - p) / a);
    return 1;
}

int window_apply(double* z, uint32_t side, const Window& window, double* mean_square) {
    if (window.kind == kWindowNone) {
        *mean_square = 1;
        return 0;
    }
    const uint64_t n = side;
    if (n < 2) {
        // A line of one sample is all edge: its window is 0 and would leave nothing.
        std::fputs("Error: A window needs a picture of side 2 or more\n", stderr);
        return 1;
    }
    Buffer<double> w = buffer_new<double>(n);
    if (!w) return 1;
    double sum = 0;
    for (uint64_t i = 0; i < n; ++i) {
        w[i] = window_weight(window, i, n);
        sum += w[i] * w[i];
    }
    for (uint64_t r = 0; r < n; ++r) {
        for (uint64_t c = 0; c < n; ++c) z[r * n + c] *= w[r] * w[c];
    }
    const double line = sum / static_cast<double>(n);
    *mean_square = line * line;
    return 0;
}
