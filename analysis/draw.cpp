#include <cmath>

#include "analysis/analysis.h"

namespace {

double quantity_at(const double* re, const double* im, uint64_t k, Quantity quantity) {
    const double power = re[k] * re[k] + im[k] * im[k];
    return quantity == kPower ? power : std::sqrt(power);
}

}  // namespace

void draw_gray(Image& image, const double* re, const double* im, Quantity quantity,
               const ValueRange& range) {
    const uint64_t count = uint64_t{image.width} * image.height;
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        const double s = value_range_scale(range, quantity_at(re, im, k, quantity)) * 255;
        // Levels from just below 0 up to 255 are kept; everything else, far below the
        // range as well as above it, shows white.
        const uint8_t level = (s > -1 && s < 256) ? static_cast<uint8_t>(static_cast<int>(s)) : 255;
        p[0] = level;
        p[1] = level;
        p[2] = level;
    }
}

void draw_ramp(Image& image, const double* re, const double* im, Quantity quantity,
               const ValueRange& range) {
    const uint64_t count = uint64_t{image.width} * image.height;
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        double w = value_range_scale(range, quantity_at(re, im, k, quantity));
        if (w > 1) w = 1;
        if (!(w >= 0)) w = 0;  // also catches a NaN, which must never reach the ramp
        const uint32_t c = ramp_color(w);
        p[2] = static_cast<uint8_t>(c >> 16);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[0] = static_cast<uint8_t>(c);
    }
}
