// The colour ramp: worked colours at the ends, the segment starts and their middles, and
// no jump where one segment meets the next.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "analysis/ramp.h"

namespace {

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return r << 16 | g << 8 | b;
}

TEST(RampColor, WorkedValuesAndSegmentStarts) {
    struct Case {
        double x;
        uint32_t color;
    };
    const Case cases[] = {
        {0.0, rgb(0, 0, 0)},
        {0.25, rgb(0, 127, 255)},
        {0.5, rgb(0, 255, 0)},
        {1.0, rgb(255, 255, 255)},
        {1.0 / 6, rgb(0, 0, 255)},
        {4.0 / 6, rgb(255, 255, 0)},
        // Middle of each segment: t = 0.5, v = 127, u = 128.
        {0.5 / 6, rgb(0, 0, 127)},
        {2.5 / 6, rgb(0, 255, 128)},
        {3.5 / 6, rgb(127, 255, 0)},
        {4.5 / 6, rgb(255, 128, 0)},
        {5.5 / 6, rgb(255, 127, 127)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ramp_color(c.x), c.color) << "x = " << c.x;
    }
}

TEST(RampColor, HasNoJumpsAtSegmentBoundaries) {
    for (int seg = 1; seg <= 5; ++seg) {
        const double at = seg / 6.0;
        const uint32_t below = ramp_color(std::nextafter(at, 0.0) - 1e-9);
        const uint32_t above = ramp_color(std::nextafter(at, 1.0) + 1e-9);
        for (int shift : {0, 8, 16}) {
            const int a = static_cast<int>(below >> shift & 255);
            const int b = static_cast<int>(above >> shift & 255);
            EXPECT_LE(std::abs(a - b), 1) << "segment " << seg << " channel shift " << shift;
        }
    }
}

}  // namespace
