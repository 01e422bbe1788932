#include "analysis/window.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system/report.h"
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

namespace {

// The window's factors along a line of n samples into w, and their mean square.
double window_line(const Window& window, uint64_t n, double* w) {
    double sum = 0;
    for (uint64_t i = 0; i < n; ++i) {
        w[i] = window_weight(window, i, n);
        sum += w[i] * w[i];
    }
    return sum / static_cast<double>(n);
}

}  // namespace

int window_apply(double* z, uint32_t width, uint32_t height, const Window& window, double* mean_square) {
    if (window.kind == kWindowNone) {
        *mean_square = 1;
        return 0;
    }
    if (width < 2 || height < 2) {
        // A line of one sample is all edge: its window is 0 and would leave nothing.
        report("Error: A window needs a picture of 2 or more columns and rows\n");
        return 1;
    }
    Buffer<double> wc = buffer_new<double>(width);
    Buffer<double> wr = wc ? buffer_new<double>(height) : Buffer<double>();
    if (!wr) return 1;
    const double line_c = window_line(window, width, wc.get());
    const double line_r = window_line(window, height, wr.get());
    for (uint64_t r = 0; r < height; ++r) {
        for (uint64_t c = 0; c < width; ++c) z[r * width + c] *= wr[r] * wc[c];
    }
    *mean_square = line_r * line_c;
    return 0;
}
