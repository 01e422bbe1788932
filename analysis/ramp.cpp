#include "analysis/ramp.h"

#include <cmath>

uint32_t ramp_color(double x) {
    constexpr double kPi = 3.141592653589793;
    const double s = x * 6;
    const int seg = static_cast<int>(s);
    const double f = s - seg;
    const double t = std::sin((f - 0.5) * kPi) * 0.5 + 0.5;
    const auto v = static_cast<uint32_t>(255 * t);
    const uint32_t u = 255 - v;
    switch (seg) {
        case 0: return v;                       // black -> blue
        case 1: return v << 8 | 0x0000FFu;      // blue -> cyan
        case 2: return 0x00FF00u | u;           // cyan -> green
        case 3: return v << 16 | 0x00FF00u;     // green -> yellow
        case 4: return u << 8 | 0xFF0000u;      // yellow -> red
        case 5: return 0xFF0000u | v << 8 | v;  // red -> white
        default: return 0xFFFFFFu;              // x = 1 exactly
    }
}
