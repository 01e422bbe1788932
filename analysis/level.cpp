#include "analysis/level.h"

#include <cmath>
#include <cstring>

void level_apply(double* z, uint32_t side, LevelKind kind) {
    if (kind == kLevelNone || side == 0) return;
    const uint64_t n = side;
    // Positions from the grid's centre, (n - 1) / 2, so that 1, x and y are orthogonal.
    const double centre = (static_cast<double>(n) - 1) / 2;
    double sum = 0;
    double sum_x = 0;
    double sum_y = 0;
    for (uint64_t r = 0; r < n; ++r) {
        const double y = static_cast<double>(r) - centre;
        double row_sum = 0;
        for (uint64_t c = 0; c < n; ++c) {
            const double v = z[r * n + c];
            row_sum += v;
            sum_x += (static_cast<double>(c) - centre) * v;
        }
        sum += row_sum;
        sum_y += y * row_sum;
    }
    const double count = static_cast<double>(n) * static_cast<double>(n);
    const double a = sum / count;
    double b = 0;
    double c = 0;
    if (kind == kLevelPlane && n > 1) {
        // sum over the grid of x^2: n rows of n (n^2 - 1) / 12.
        const double nd = static_cast<double>(n);
        const double sxx = nd * nd * (nd * nd - 1) / 12;
        b = sum_x / sxx;
        c = sum_y / sxx;
    }
    for (uint64_t r = 0; r < n; ++r) {
        const double y = static_cast<double>(r) - centre;
        const double row_level = a + c * y;
        for (uint64_t col = 0; col < n; ++col) {
            z[r * n + col] -= row_level + b * (static_cast<double>(col) - centre);
        }
    }
}

double heights_rms(const double* z, uint32_t side) {
    const uint64_t count = uint64_t{side} * side;
    if (count == 0) return 0;
    double sum = 0;
    for (uint64_t k = 0; k < count; ++k) sum += z[k] * z[k];
    return std::sqrt(sum / static_cast<double>(count));
}
