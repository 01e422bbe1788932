#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "spectrum/dft.h"
#include "spectrum/spectrum.h"

namespace {

ImagePtr gray_image(uint32_t side, uint32_t seed) {
    ImagePtr image = image_new(side, side);
    std::mt19937 gen(seed);
    for (uint64_t i = 0; i < uint64_t{side} * side; ++i) {
        const auto g = static_cast<uint8_t>(gen());
        for (int ch = 0; ch < 3; ++ch) image->pixels[i * 3 + ch] = g;
    }
    return image;
}

TEST(SwapQuadrants, IsTheCyclicShiftByHalfTheSides) {
    for (const auto& [w, h] : {std::pair{4, 4}, {3, 3}, {5, 2}, {2, 7}, {1, 1}, {6, 3}}) {
        std::vector<double> re(w * h), im(w * h);
        for (int i = 0; i < w * h; ++i) {
            re[i] = i;
            im[i] = -i;
        }
        swap_quadrants(re.data(), im.data(), w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int to = ((y + h / 2) % h) * w + (x + w / 2) % w;
                EXPECT_EQ(re[to], y * w + x) << w << "x" << h << " (" << y << "," << x << ")";
                EXPECT_EQ(im[to], -(y * w + x));
            }
        }
    }
}

TEST(SwapQuadrants, EvenSizesExchangeDiagonalQuadrants) {
    // 2 x 2: (0,0) <-> (1,1) and (0,1) <-> (1,0).
    std::vector<double> re = {1, 2, 3, 4}, im = {5, 6, 7, 8};
    swap_quadrants(re.data(), im.data(), 2, 2);
    EXPECT_EQ(re, (std::vector<double>{4, 3, 2, 1}));
    EXPECT_EQ(im, (std::vector<double>{8, 7, 6, 5}));
}

TEST(ImageSpectrum, UniformPictureHasOnlyTheCentreTerm) {
    ImagePtr image = image_new(4, 4);
    for (int i = 0; i < 48; ++i) image->pixels[i] = 10;
    std::vector<double> re(16), im(16);
    ASSERT_EQ(image_spectrum(*image, re.data(), im.data()), 0);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(re[i], i == 2 * 4 + 2 ? 160.0 : 0.0, 1e-12) << i;
        EXPECT_NEAR(im[i], 0.0, 1e-12) << i;
    }
}

TEST(ImageSpectrum, ReadsTheRedByte) {
    ImagePtr image = image_new(2, 2);
    for (int i = 0; i < 4; ++i) {
        image->pixels[i * 3] = 200;      // blue, ignored
        image->pixels[i * 3 + 1] = 100;  // green, ignored
        image->pixels[i * 3 + 2] = 5;
    }
    std::vector<double> re(4), im(4);
    ASSERT_EQ(image_spectrum(*image, re.data(), im.data()), 0);
    EXPECT_DOUBLE_EQ(re[1 * 2 + 1], 20.0);
}

TEST(ImageSpectrum, CentresTheZeroFrequencyAndKeepsAmplitudesForOddAndEvenSides) {
    for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 16u}) {
        ImagePtr image = gray_image(n, n);
        std::vector<double> re(n * n), im(n * n), pre(n * n), pim(n * n, 0.0);
        double sum = 0;
        for (uint32_t i = 0; i < n * n; ++i) {
            pre[i] = image->pixels[i * 3 + 2];
            sum += pre[i];
        }
        ASSERT_EQ(image_spectrum(*image, re.data(), im.data()), 0);
        // The plain, uncentred transform for comparison.
        ASSERT_EQ(dft_2d_literal(pre.data(), pim.data(), n, n, +1), 0);
        const uint32_t c = n / 2;
        EXPECT_NEAR(re[c * n + c], sum, 1e-9 * sum) << "side " << n;
        EXPECT_NEAR(im[c * n + c], 0.0, 1e-9 * sum) << "side " << n;
        for (uint32_t u = 0; u < n; ++u) {
            for (uint32_t v = 0; v < n; ++v) {
                // Frequency (u, v) of the plain transform sits at ((u + c) mod n, (v + c) mod n).
                const uint32_t at = ((u + c) % n) * n + (v + c) % n;
                const double amp = std::hypot(re[at], im[at]);
                const double want = std::hypot(pre[u * n + v], pim[u * n + v]);
                EXPECT_NEAR(amp, want, 1e-9 * (sum + 1)) << "side " << n << " (" << u << "," << v << ")";
            }
        }
    }
}

}  // namespace
