#include "analysis/level.h"

#include <cmath>
#include <cstring>

void level_apply(double* z, uint32_t width, uint32_t height, LevelKind kind) {
    if (kind == kLevelNone || width == 0 || height == 0) return;
    const uint64_t w = width;
    const uint64_t h = height;
    // Positions from the grid's centre, ((w - 1) / 2, (h - 1) / 2), so that 1, x and y are
    // orthogonal.
    const double centre_x = (static_cast<double>(w) - 1) / 2;
    const double centre_y = (static_cast<double>(h) - 1) / 2;
    double sum = 0;
    double sum_x = 0;
    double sum_y = 0;
    for (uint64_t r = 0; r < h; ++r) {
        const double y = static_cast<double>(r) - centre_y;
        double row_sum = 0;
        for (uint64_t c = 0; c < w; ++c) {
            const double v = z[r * w + c];
            row_sum += v;
            sum_x += (static_cast<double>(c) - centre_x) * v;
        }
        sum += row_sum;
        sum_y += y * row_sum;
    }
    const double wd = static_cast<double>(w);
    const double hd = static_cast<double>(h);
    const double count = hd * wd;
    const double a = sum / count;
    double b = 0;
    double c = 0;
    if (kind == kLevelPlane) {
        // Sums over the grid of x^2: h rows of w (w^2 - 1) / 12; of y^2: w columns of
        // h (h^2 - 1) / 12. A line of one sample has no tilt along it.
        if (w > 1) b = sum_x / (hd * wd * (wd * wd - 1) / 12);
        if (h > 1) c = sum_y / (wd * hd * (hd * hd - 1) / 12);
    }
    for (uint64_t r = 0; r < h; ++r) {
        const double y = static_cast<double>(r) - centre_y;
        const double row_level = a + c * y;
        for (uint64_t col = 0; col < w; ++col) {
            z[r * w + col] -= row_level + b * (static_cast<double>(col) - centre_x);
        }
    }
}

double heights_rms(const double* z, uint32_t width, uint32_t height) {
    const uint64_t count = uint64_t{width} * height;
    if (count == 0) return 0;
    double sum = 0;
    for (uint64_t k = 0; k < count; ++k) sum += z[k] * z[k];
    return std::sqrt(sum / static_cast<double>(count));
}
