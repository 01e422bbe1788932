// The spectrum pictures: linear ones scaled by a range with its edge rules, and the
// logarithmic one placing amplitudes on their decades, in grey and on the colour ramp.
#include <gtest/gtest.h>

#include <cmath>

#include "analysis/bins.h"
#include "analysis/draw.h"
#include "analysis/ramp.h"

namespace {

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

struct Drawn {
    uint8_t gray;
    uint32_t color;
};

// Draws one pixel of amplitude `value` with both drawings.
Drawn draw_one(double value, ValueRange range) {
    ImagePtr image = image_new(1, 1);
    double re = value, im = 0.0;
    spectrum_magnitudes(&re, &im, 1);
    draw_gray(*image, &re, &im, kAmplitude, range);
    const uint8_t* p = image->pixels.get();
    EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]);
    const uint8_t gray = p[0];
    draw_ramp(*image, &re, &im, kAmplitude, range);
    return {gray, rgb(p[2], p[1], p[0])};
}

TEST(DrawSpectrum, ScalesByTheRangeWithTheEdgeRules) {
    struct Case {
        double value;
        uint8_t gray;
        uint32_t color;
    };
    const ValueRange a{2, 10};
    const Case cases[] = {
        {6, 127, rgb(0, 255, 0)},       {10, 255, rgb(255, 255, 255)}, {2, 0, rgb(0, 0, 0)},
        {50, 255, rgb(255, 255, 255)},  {1.99, 0, rgb(0, 0, 0)},        {1.9, 255, rgb(0, 0, 0)},
        {1e300, 255, rgb(255, 255, 255)},  // its power overflows to infinity
    };
    for (const Case& c : cases) {
        const Drawn d = draw_one(c.value, a);
        EXPECT_EQ(d.gray, c.gray) << "value " << c.value;
        EXPECT_EQ(d.color, c.color) << "value " << c.value;
    }
}

TEST(DrawSpectrum, ZeroWidthAndUntouchedRanges) {
    // A range of zero width maps its own value to 0 and values above it as if width 1.
    EXPECT_EQ(draw_one(4, {4, 4}).gray, 0);
    EXPECT_EQ(draw_one(4, {4, 4}).color, rgb(0, 0, 0));
    EXPECT_EQ(draw_one(4.5, {4, 4}).gray, 127);
    EXPECT_EQ(draw_one(5, {4, 4}).color, rgb(255, 255, 255));
    // An untouched range scales everything to exactly 1: white.
    EXPECT_EQ(draw_one(0, value_range_fresh()).gray, 255);
    EXPECT_EQ(draw_one(77, value_range_fresh()).color, rgb(255, 255, 255));
}

TEST(DrawSpectrum, PowerUsesItsOwnRange) {
    ImagePtr image = image_new(2, 1);
    double re[2] = {3, 4}, im[2] = {4, 0};  // amplitudes 5 and 4, powers 25 and 16
    spectrum_magnitudes(re, im, 2);
    draw_gray(*image, re, im, kPower, {16, 32});
    EXPECT_EQ(image->pixels[0], 143);  // (25 - 16) / 16 * 255 = 143.4
    EXPECT_EQ(image->pixels[3], 0);
    draw_gray(*image, re, im, kAmplitude, {4, 8});
    EXPECT_EQ(image->pixels[0], 63);  // (5 - 4) / 4 * 255 = 63.75
}

TEST(DrawLog, PlacesAmplitudesOnTheirDecades) {
    // Top 1000 and 4 decades: the bottom is 0.1. Level = (1 + log10(a / 1000) / 4) * 255.
    struct Case {
        double amplitude;
        uint8_t level;  // grey
        double t;       // the colour is ramp_color(t)
    };
    const Case cases[] = {
        {1000, 255, 1.0},  {1e6, 255, 1.0},     // the top, and above it (a centre sample)
        {10, 127, 0.5},    {100, 191, 0.75},    // 2 decades below: half the scale; 1: three quarters
        {0.1, 0, 0.0},     {0.001, 0, 0.0},     // the bottom, and below it
        {0, 0, 0.0},                            // no amplitude at all
    };
    ImagePtr image = image_new(1, 1);
    for (const Case& c : cases) {
        draw_log(*image, &c.amplitude, 1000, 4, false);
        EXPECT_EQ(image->pixels[0], c.level) << c.amplitude;
        EXPECT_TRUE(image->pixels[0] == image->pixels[1] && image->pixels[1] == image->pixels[2]);
        draw_log(*image, &c.amplitude, 1000, 4, true);
        const uint32_t want = ramp_color(c.t);
        EXPECT_EQ(image->pixels[2], want >> 16 & 255) << c.amplitude;
        EXPECT_EQ(image->pixels[1], want >> 8 & 255) << c.amplitude;
        EXPECT_EQ(image->pixels[0], want & 255) << c.amplitude;
    }
}

}  // namespace
