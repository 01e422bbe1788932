// The spectrum pictures: linear ones scaled by a range with its edge rules, and the
// logarithmic one placing amplitudes on their decades, in grey and on the colour ramp.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/bins.h"
#include "analysis/draw.h"
#include "analysis/ramp.h"

namespace {

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
    return r << 16 | g << 8 | b;
}

TEST(DrawSpectrum, ScalesByItsQuantitysRangeWithTheEdgeRules) {
    // Every case is a sample of one picture, drawn with its own quantity and range; only
    // its pixel is looked at, so a pixel drawn from another sample shows. Grey levels
    // outside (-1, 256) are white, the ramp is clamped to [0, 1]; a range of zero width
    // scales as if it were 1 wide, and an untouched range scales everything to 1.
    struct Case {
        double re, im;  // the sample: amplitude sqrt(re^2 + im^2), power re^2 + im^2
        Quantity quantity;
        ValueRange range;
        uint8_t gray;
        uint32_t color;
    };
    const ValueRange a{2, 10}, flat{4, 4}, fresh = value_range_fresh();
    const Case cases[] = {
        {6, 0, kAmplitude, a, 127, rgb(0, 255, 0)},
        {10, 0, kAmplitude, a, 255, rgb(255, 255, 255)},
        {2, 0, kAmplitude, a, 0, rgb(0, 0, 0)},
        {50, 0, kAmplitude, a, 255, rgb(255, 255, 255)},
        {1.99, 0, kAmplitude, a, 0, rgb(0, 0, 0)},
        {1.9, 0, kAmplitude, a, 255, rgb(0, 0, 0)},
        {1e300, 0, kAmplitude, a, 255, rgb(255, 255, 255)},  // its power, and so its amplitude, overflow
        {4, 0, kAmplitude, flat, 0, rgb(0, 0, 0)},
        {4.5, 0, kAmplitude, flat, 127, rgb(0, 255, 0)},
        {5, 0, kAmplitude, flat, 255, rgb(255, 255, 255)},
        {0, 0, kAmplitude, fresh, 255, rgb(255, 255, 255)},
        {77, 0, kAmplitude, fresh, 255, rgb(255, 255, 255)},
        {3, 4, kPower, {16, 32}, 143, rgb(78, 255, 0)},  // (25 - 16) / 16 = 0.5625: 143.4
        {4, 0, kPower, {16, 32}, 0, rgb(0, 0, 0)},
        {3, 4, kAmplitude, {4, 8}, 63, rgb(0, 127, 255)},  // (5 - 4) / 4 = 0.25: 63.75
    };
    const uint32_t n = sizeof cases / sizeof cases[0];
    ImagePtr image = image_new(n, 1);
    ASSERT_TRUE(image);
    std::vector<double> amplitude(n), power(n);
    for (uint32_t k = 0; k < n; ++k) {
        amplitude[k] = cases[k].re;
        power[k] = cases[k].im;
    }
    spectrum_magnitudes(amplitude.data(), power.data(), n);
    for (uint32_t k = 0; k < n; ++k) {
        const Case& c = cases[k];
        const uint8_t* p = image->pixels.get() + k * 3;
        draw_gray(*image, amplitude.data(), power.data(), c.quantity, c.range);
        EXPECT_EQ(p[0], c.gray) << "case " << k;
        EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "case " << k;
        draw_ramp(*image, amplitude.data(), power.data(), c.quantity, c.range);
        EXPECT_EQ(rgb(p[2], p[1], p[0]), c.color) << "case " << k;
    }
}

TEST(DrawLog, PlacesAmplitudesOnTheirDecades) {
    // Top 1000 and 4 decades: the bottom is 0.1. Level = (1 + log10(a / 1000) / 4) * 255.
    struct Case {
        double amplitude;
        uint8_t level;  // grey
        double t;       // the colour is ramp_color(t)
    };
    const Case cases[] = {
        {1000, 255, 1.0}, {1e6, 255, 1.0},   // the top, and above it (a centre sample)
        {10, 127, 0.5},   {100, 191, 0.75},  // 2 decades below: half the scale; 1: three quarters
        {0.1, 0, 0.0},    {0.001, 0, 0.0},   // the bottom, and below it
        {0, 0, 0.0},                         // no amplitude at all
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
