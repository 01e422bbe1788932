#include "analysis/draw.h"

#include "analysis/ramp.h"

void draw_gray(Image& image, const double* amplitude, const double* power, Quantity quantity,
               const ValueRange& range) {
    const uint64_t count = uint64_t{image.width} * image.height;
    const double* values = quantity == kPower ? power : amplitude;
    // A copy: the pixel stores could alias the caller's range, which would then be read
    // again for every pixel.
    const ValueRange r = range;
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        const double s = value_range_scale(r, values[k]) * 255;
        // Levels from just below 0 up to 255 are kept; everything else, far below the
        // range as well as above it, shows white.
        const uint8_t level = (s > -1 && s < 256) ? static_cast<uint8_t>(static_cast<int>(s)) : 255;
        p[0] = level;
        p[1] = level;
        p[2] = level;
    }
}

void draw_ramp(Image& image, const double* amplitude, const double* power, Quantity quantity,
               const ValueRange& range) {
    const uint64_t count = uint64_t{image.width} * image.height;
    const double* values = quantity == kPower ? power : amplitude;
    // A copy: the pixel stores could alias the caller's range, which would then be read
    // again for every pixel.
    const ValueRange r = range;
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        double w = value_range_scale(r, values[k]);
        if (w > 1) w = 1;
        if (!(w >= 0)) w = 0;  // also catches a NaN, which must never reach the ramp
        const uint32_t c = ramp_color(w);
        p[2] = static_cast<uint8_t>(c >> 16);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[0] = static_cast<uint8_t>(c);
    }
}
