#include "analysis/draw.h"

#include <cmath>

#include "analysis/ramp.h"

namespace {

void put_color(uint8_t* p, uint32_t c) {
    p[2] = static_cast<uint8_t>(c >> 16);
    p[1] = static_cast<uint8_t>(c >> 8);
    p[0] = static_cast<uint8_t>(c);
}

}  // namespace

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
        put_color(p, ramp_color(w));
    }
}

namespace {

// Paints one pixel with the place t on a scale, clamped to [0, 1] (NaN to 0): the ramp
// colour of t, or the grey level t * 255 truncated.
void put_scaled(uint8_t* p, double t, bool ramp) {
    if (t > 1) t = 1;
    if (!(t >= 0)) t = 0;
    if (ramp) {
        put_color(p, ramp_color(t));
    } else {
        const auto level = static_cast<uint8_t>(static_cast<int>(t * 255));
        p[0] = level;
        p[1] = level;
        p[2] = level;
    }
}

}  // namespace

void draw_log(Image& image, const double* amplitude, double top, double decades, bool ramp) {
    const uint64_t count = uint64_t{image.width} * image.height;
    const double log_top = std::log10(top);
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        // log10(0) is minus infinity: a zero amplitude lands at the bottom like any other
        // below it.
        double t = 1 + (std::log10(amplitude[k]) - log_top) / decades;
        put_scaled(p, t, ramp);
    }
}

void draw_signed(Image& image, const double* values, bool ramp) {
    const uint64_t count = uint64_t{image.width} * image.height;
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        double t = (values[k] + 1) / 2;
        put_scaled(p, t, ramp);
    }
}
