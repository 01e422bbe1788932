// The in-memory picture: its record and buffer, the sizes it refuses, and the grey rule
// (the truncated mean of a pixel's three bytes), worked by hand.
#include <gtest/gtest.h>

#include <limits>

#include "image/image.h"

namespace {

TEST(ImageNew, SetsDimensionsAndOwnsBuffer) {
    ImagePtr image = image_new(5, 3);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 5u);
    EXPECT_EQ(image->height, 3u);
    ASSERT_NE(image->pixels, nullptr);
    image->pixels[5 * 3 * 3 - 1] = 9;  // the last byte is inside the buffer (ASan checks)
    image_free(std::move(image));
    image_free(ImagePtr());  // freeing nothing does nothing
}

TEST(ImageNew, RefusesEmptyAndUnrepresentableSizes) {
    struct Case {
        uint32_t width, height;
    };
    const uint32_t big = std::numeric_limits<uint32_t>::max();
    for (const Case c : {Case{0, 4}, Case{4, 0}, Case{0, 0}, Case{big, big}}) {
        testing::internal::CaptureStderr();
        ImagePtr image = image_new(c.width, c.height);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(image) << c.width << "x" << c.height;
        EXPECT_EQ(err, "Error: Memory allocation error\n") << c.width << "x" << c.height;
    }
}

TEST(ImageToGray, TakesTruncatedMeanOfTheThreeBytesOfEveryPixelOfEveryRow) {
    // One picture of two rows holds every case, so that a pixel left out anywhere, or a
    // row converted with the wrong length, shows.
    struct Case {
        uint8_t b, g, r, gray;
    };
    const Case cases[] = {
        {10, 20, 31, 20}, {0, 0, 2, 0},        {255, 255, 255, 255}, {255, 255, 254, 254}, {0, 0, 0, 0},
        {1, 1, 0, 0},     {200, 0, 100, 100},  {0, 255, 0, 85},      {0, 10, 20, 10},      {30, 40, 50, 40},
        {60, 70, 80, 70}, {90, 100, 110, 100}, {120, 130, 140, 130}, {150, 160, 170, 160}};
    const uint32_t n = sizeof cases / sizeof cases[0];
    ImagePtr image = image_new(n / 2, 2);
    ASSERT_TRUE(image);
    for (uint32_t i = 0; i < n; ++i) {
        image->pixels[i * 3] = cases[i].b;
        image->pixels[i * 3 + 1] = cases[i].g;
        image->pixels[i * 3 + 2] = cases[i].r;
    }
    image_to_gray(*image);
    for (uint32_t i = 0; i < n; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            EXPECT_EQ(image->pixels[i * 3 + ch], cases[i].gray) << "case " << i << " channel " << ch;
        }
    }
}

}  // namespace
