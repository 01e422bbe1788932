// The measurement both programs share: every way from a picture to its centred planes
// gives the literal transform's bits, a picture's and a height map's alike.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "image/bmp.h"
#include "image/heights.h"
#include "spectrum/dft.h"
#include "spectrum/spectrum.h"
#include "tests/test_util.h"

namespace {

using testutil::TempDir;

// The index of the first of `count` doubles whose bits differ, or count when none does.
std::size_t first_difference(const double* a, const double* b, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        if (std::memcmp(&a[k], &b[k], sizeof(double)) != 0) return k;
    }
    return count;
}

// Two planes of a way to the spectrum: its real and imaginary parts, or its amplitudes
// and powers.
struct Planes {
    std::vector<double> first, second;
};

TEST(SpectrumMeasure, EveryWayToThePlanesIsTheLiteralTransformBitForBit) {
    // The reference: the greyed picture's levels shifted by half the sides, the literal
    // per-line transform, shifted back; then power and its root. Against it every way the
    // programs take, varlox's from the picture and varlox-view's from the picture read as
    // a height map (whose heights are the greyed red bytes), on odd and even sides; and the
    // height map's bins and ranges are the picture's, bit for bit.
    struct Way {
        const char* name;
        bool magnitudes;  // amplitudes and powers, else real and imaginary parts
        int record;       // the measured record it fills: 0 the picture's, 1 the map's; -1 none
        std::function<int(const Image&, const HeightMap&, Planes&, Spectrum&)> run;
    };
    const auto measured = [](int status, Planes& p, Spectrum& s) {
        if (status == 0) {
            p.first.assign(s.amplitude.get(), s.amplitude.get() + s.count);
            p.second.assign(s.power.get(), s.power.get() + s.count);
        }
        return status;
    };
    const Way ways[] = {
        {"image_spectrum", false, -1,
         [](const Image& image, const HeightMap&, Planes& p, Spectrum&) {
             return image_spectrum(image, p.first.data(), p.second.data());
         }},
        {"heights_spectrum of the height map", false, -1,
         [](const Image&, const HeightMap& map, Planes& p, Spectrum&) {
             return heights_spectrum(map.z.get(), map.width, map.height, p.first.data(), p.second.data());
         }},
        {"spectrum_measure", true, 0,
         [&](const Image& image, const HeightMap&, Planes& p, Spectrum& s) {
             return measured(spectrum_measure(image, s), p, s);
         }},
        {"heights_measure of the height map", true, 1,
         [&](const Image&, const HeightMap& map, Planes& p, Spectrum& s) {
             return measured(heights_measure(map.z.get(), map.width, map.height, s), p, s);
         }},
    };
    for (const int n : {1, 2, 3, 4, 7, 8, 13, 16}) {
        for (const uint32_t seed : {3u, 7u}) {
            const std::string side = "side " + std::to_string(n) + " seed " + std::to_string(seed);
            TempDir dir;
            testutil::write_file(dir.path("in.bmp"),
                                 testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, seed)));
            ImagePtr image = bmp_read(dir.path("in.bmp"));
            ASSERT_TRUE(image) << side;
            image_to_gray(*image);
            HeightMap map{};
            ASSERT_EQ(heights_read(dir.path("in.bmp"), map), 0) << side;
            EXPECT_EQ(map.format, kHeightsBmp) << side;

            const std::size_t count = std::size_t(n) * n;
            std::vector<double> re(count), im(count, 0.0), amplitude(count), power(count);
            for (std::size_t k = 0; k < count; ++k) re[k] = image->pixels[k * 3 + 2];
            swap_quadrants(re.data(), im.data(), n, n);
            ASSERT_EQ(dft_2d_literal(re.data(), im.data(), n, n, +1), 0);
            swap_quadrants(re.data(), im.data(), n, n);
            for (std::size_t k = 0; k < count; ++k) {
                power[k] = re[k] * re[k] + im[k] * im[k];
                amplitude[k] = std::sqrt(power[k]);
            }

            Spectrum records[2]{};
            for (const Way& way : ways) {
                const std::string label = side + ", " + way.name;
                Planes got{std::vector<double>(count), std::vector<double>(count)};
                Spectrum unused{};
                ASSERT_EQ(way.run(*image, map, got, way.record < 0 ? unused : records[way.record]), 0)
                    << label;
                ASSERT_EQ(got.first.size(), count) << label;
                const double* want_first = way.magnitudes ? amplitude.data() : re.data();
                const double* want_second = way.magnitudes ? power.data() : im.data();
                std::size_t at = first_difference(got.first.data(), want_first, count);
                EXPECT_EQ(at, count) << label << ": first plane differs at " << at;
                at = first_difference(got.second.data(), want_second, count);
                EXPECT_EQ(at, count) << label << ": second plane differs at " << at;
            }
            const Spectrum& of_picture = records[0];
            const Spectrum& of_map = records[1];
            ASSERT_EQ(of_map.bins.count, of_picture.bins.count) << side;
            const std::size_t bins = of_map.bins.count;
            EXPECT_EQ(first_difference(of_map.bins.weight.get(), of_picture.bins.weight.get(), bins), bins)
                << side;
            EXPECT_EQ(first_difference(of_map.bins.amp_sum.get(), of_picture.bins.amp_sum.get(), bins), bins)
                << side;
            EXPECT_EQ(first_difference(of_map.bins.pow_sum.get(), of_picture.bins.pow_sum.get(), bins), bins)
                << side;
            const double ranges_of_map[4] = {of_map.amp.minimum, of_map.amp.maximum, of_map.pow.minimum,
                                             of_map.pow.maximum};
            const double ranges_of_picture[4] = {of_picture.amp.minimum, of_picture.amp.maximum,
                                                 of_picture.pow.minimum, of_picture.pow.maximum};
            EXPECT_EQ(first_difference(ranges_of_map, ranges_of_picture, 4), 4u) << side;
        }
    }
}

}  // namespace
