// The measurement both programs share: the planes of a picture and of a height map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/analysis.h"
#include "image/bmp.h"
#include "image/heights.h"
#include "spectrum/dft.h"
#include "tests/test_util.h"

namespace {

using testutil::Bytes;
using testutil::TempDir;

TEST(SpectrumMeasure, PlanesAreTheLiteralTransformsBitForBit) {
    // The measurement both programs share, against the reference: grey levels shifted by
    // half the sides, the literal per-line transform, shifted back; then power and its
    // root. Odd and even sides.
    for (const int n : {1, 2, 3, 4, 7, 8, 13, 16}) {
        ImagePtr image = image_new(n, n);
        const Bytes px = testutil::pattern_pixels(n, n, 7);
        std::memcpy(image->pixels.get(), px.data(), px.size());
        image_to_gray(*image);
        std::vector<double> re(std::size_t(n) * n), im(re.size(), 0.0);
        for (std::size_t i = 0; i < re.size(); ++i) re[i] = image->pixels[i * 3 + 2];
        swap_quadrants(re.data(), im.data(), n, n);
        ASSERT_EQ(dft_2d_literal(re.data(), im.data(), n, n, +1), 0);
        swap_quadrants(re.data(), im.data(), n, n);

        Spectrum s{};
        ASSERT_EQ(spectrum_measure(*image, s), 0) << n;
        for (std::size_t k = 0; k < re.size(); ++k) {
            const double power = re[k] * re[k] + im[k] * im[k];
            const double amplitude = std::sqrt(power);
            EXPECT_EQ(std::memcmp(&s.power[k], &power, sizeof power), 0) << "side " << n << " k " << k;
            EXPECT_EQ(std::memcmp(&s.amplitude[k], &amplitude, sizeof amplitude), 0)
                << "side " << n << " k " << k;
        }
    }
}

TEST(HeightsSpectrum, BmpHeightsGiveVarloxSpectrumBitForBit) {
    // The map of a BMP is the greyed picture's red bytes, and its spectrum is
    // image_spectrum's in every bit; odd and even sides.
    for (const int n : {1, 2, 3, 7, 8, 13, 16}) {
        TempDir dir;
        testutil::write_file(dir.path("in.bmp"), testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, 3)));
        struct {
            int status;
            HeightMap map;
        } r{1, HeightMap{}};
        r.status = heights_read(dir.path("in.bmp"), r.map);
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(r.map.format, kHeightsBmp);
        ImagePtr image = bmp_read(dir.path("in.bmp"));
        ASSERT_TRUE(image);
        image_to_gray(*image);
        const std::size_t count = std::size_t(n) * n;
        for (std::size_t k = 0; k < count; ++k) ASSERT_EQ(r.map.z[k], image->pixels[k * 3 + 2]) << n;
        std::vector<double> re1(count), im1(count), re2(count), im2(count);
        ASSERT_EQ(image_spectrum(*image, re1.data(), im1.data()), 0);
        ASSERT_EQ(heights_spectrum(r.map.z.get(), r.map.side, re2.data(), im2.data()), 0);
        EXPECT_EQ(std::memcmp(re1.data(), re2.data(), count * sizeof(double)), 0) << n;
        EXPECT_EQ(std::memcmp(im1.data(), im2.data(), count * sizeof(double)), 0) << n;
    }
}

}  // namespace
