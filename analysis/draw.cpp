#include "analysis/analysis.h"

namespace {

// value_range_scale with the same operations, inlined into the drawing loops.
struct Scale {
    double minimum;
    double width;
};

Scale scale_of(const ValueRange& range) {
    const double width = range.maximum - range.minimum;
    return Scale{range.minimum, width == 0 ? 1.0 : width};
}

inline double scaled(const Scale& s, double value) { return (value - s.minimum) / s.width; }

}  // namespace

void draw_gray(Image& image, const double* amplitude, const double* power, Quantity quantity,
               const ValueRange& range) {
    const uint64_t count = uint64_t{image.width} * image.height;
    const double* values = quantity == kPower ? power : amplitude;
    const Scale scale = scale_of(range);
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        const double s = scaled(scale, values[k]) * 255;
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
    const Scale scale = scale_of(range);
    uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k, p += 3) {
        double w = scaled(scale, values[k]);
        if (w > 1) w = 1;
        if (!(w >= 0)) w = 0;  // also catches a NaN, which must never reach the ramp
        const uint32_t c = ramp_color(w);
        p[2] = static_cast<uint8_t>(c >> 16);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[0] = static_cast<uint8_t>(c);
    }
}
