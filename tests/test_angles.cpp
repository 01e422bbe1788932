// The angular spectrum: directions folded by the one convention, every ring of a band
// sampled evenly in angle (each sector the same share of it), and the direction and
// aspect of power planes drawn around a known direction and of surfaces made isotropic,
// stretched, or on pixels that are not square, measured as varlox-view measures them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/angles.h"
#include "analysis/measure.h"
#include "tests/surfaces.h"

namespace {

// A power plane of side n whose samples in the band [from, to] are exponential speckle
// times a Gaussian of `spread` degrees around `direction` (isotropic for spread 0), plus
// `floor` times the speckle everywhere in the band.
std::vector<double> textured_plane(uint32_t n, double from, double to, double direction, double spread,
                                   double floor, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<double> p(std::size_t(n) * n, 0.0);
    const int64_t half = n / 2;
    for (int64_t y = 0; y < n; ++y)
        for (int64_t x = 0; x < n; ++x) {
            const double fx = double(x - half), fy = double(half - y);
            const double r = std::hypot(fx, fy);
            if (r < from || r > to) continue;
            const double speckle = -std::log(rng() / 4294967296.0 + 1e-12);
            double shape = 1;
            if (spread > 0) {
                const double d = fold_distance(angle_of(fx, fy), direction);
                shape = std::exp(-0.5 * d * d / (spread * spread));
            }
            p[std::size_t(y) * n + x] = speckle * (shape + floor);
        }
    return p;
}

AngularSpectrum angles_of(const std::vector<double>& p, uint32_t n, double from, double to) {
    AngularSpectrum a;
    EXPECT_TRUE(angular_new(a));
    EXPECT_TRUE(angular_accumulate(p.data(), n, n, PlaneAxes{1, 1}, from, to, a));
    return a;
}

TEST(AngleFold, FoldsEveryTurnIntoHalfOpenRange) {
    const struct {
        double in, out;
    } cases[] = {{0, 0},    {180, 0},       {-30, 150},  {210, 30},
                 {-180, 0}, {359.5, 179.5}, {-1e-17, 0}, {720 + 45, 45}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(angle_fold(c.in), c.out) << c.in;
    // Up on the screen is 90 degrees; the wave vector pointing down-right is 135 folded.
    EXPECT_DOUBLE_EQ(angle_of(0, 1), 90);
    EXPECT_DOUBLE_EQ(angle_of(1, -1), 135);
    EXPECT_DOUBLE_EQ(angle_of(-2, 0), 0);
}

AngularSpectrum angles_on(const std::vector<double>& p, uint32_t width, uint32_t height, PlaneAxes axes,
                          double from, double to) {
    AngularSpectrum a;
    EXPECT_TRUE(angular_new(a));
    EXPECT_TRUE(angular_accumulate(p.data(), width, height, axes, from, to, a));
    return a;
}

TEST(AngularSpectrum, EverySectorTakesTheSameShareOfEachRing) {
    // A plane of one power c but for a zero frequency of 1e6 (which the band never takes):
    // every sector's mean power is c and its relative power 1, and as each ring is sampled
    // evenly in angle every sector has the same weight, together the band's area in grid
    // samples, pi (to^2 - from^2) / (ax ay), whatever the plane's shape and its axes (the
    // bands lie within the plane). Counting the grid's samples instead gives sectors at 0,
    // 45 and 90 degrees far more weight than their neighbours at low frequency.
    const struct {
        uint32_t width, height;
        PlaneAxes axes;
        double from, to;
    } cases[] = {{16, 16, {1, 1}, 2, 8},      {17, 17, {1, 1}, 2, 8.5},        {64, 64, {1, 1}, 2, 32},
                 {65, 65, {1, 1}, 10.5, 20},  {32, 32, {1, 1}, 3, 3},          {300, 500, {1, 0.4}, 2, 100},
                 {257, 128, {0.5, 1}, 3, 64}, {128, 3, {1, 0.01}, 0.01, 0.015}};
    for (const auto& c : cases) {
        const std::string label = std::to_string(c.width) + " x " + std::to_string(c.height) + " band " +
                                  std::to_string(c.from) + ":" + std::to_string(c.to);
        const double power = 2.5;
        std::vector<double> p(std::size_t(c.width) * c.height, power);
        p[std::size_t(c.height / 2) * c.width + c.width / 2] = 1e6;
        const AngularSpectrum a = angles_on(p, c.width, c.height, c.axes, c.from, c.to);
        double weight = 0;
        for (uint32_t s = 0; s < kSectors; ++s) {
            EXPECT_NEAR(angular_mean(a, s), power, 1e-12) << label << " sector " << s;
            EXPECT_NEAR(angular_relative(a, s), 1, 1e-12) << label << " sector " << s;
            EXPECT_NEAR(a.weight[s], a.weight[0], 1e-9 * a.weight[0]) << label << " sector " << s;
            weight += a.weight[s];
        }
        if (c.to > c.from) {
            const double area = kPi * (c.to * c.to - c.from * c.from) / (c.axes.ax * c.axes.ay);
            EXPECT_NEAR(weight, area, 1e-9 * area) << label;
        }
    }
}

TEST(AngularSpectrum, OneSampleLandsAtItsDirection) {
    // One sample of power 1 on a plane otherwise empty, at a known place: the power the
    // sectors take is centred on its direction (the wave vector's, up at 90 degrees,
    // folded), on a square and on a plane whose rows are 2.5 times as far apart in
    // frequency as its columns, where the direction is the physical one.
    const struct {
        int64_t fx, fy;
        PlaneAxes axes;
    } cases[] = {{7, 3, {1, 1}},   {-7, 3, {1, 1}}, {3, -7, {1, 1}},  {5, 0, {1, 1}},
                 {-4, -1, {1, 1}}, {1, -9, {1, 1}}, {7, 3, {0.4, 1}}, {-2, 9, {0.4, 1}}};
    const uint32_t n = 32;
    for (const auto& c : cases) {
        std::vector<double> p(std::size_t(n) * n, 0.0);
        p[std::size_t(n / 2 - c.fy) * n + (n / 2 + c.fx)] = 1;
        const AngularSpectrum a = angles_on(p, n, n, c.axes, 1, 16);
        const double truth = angle_of(c.axes.ax * double(c.fx), c.axes.ay * double(c.fy));
        // The power's circular mean over the doubled angles (the directions are folded).
        double cx = 0, cy = 0;
        for (uint32_t s = 0; s < kSectors; ++s) {
            cx += a.power_sum[s] * std::cos(2 * s * kPi / 180);
            cy += a.power_sum[s] * std::sin(2 * s * kPi / 180);
        }
        const double centre = angle_fold(std::atan2(cy, cx) * 90 / kPi);
        EXPECT_LT(fold_distance(centre, truth), 0.5) << c.fx << ", " << c.fy << " at " << truth;
        EXPECT_GT(a.power_sum[uint32_t(std::lround(truth)) % kSectors], 0) << truth;
    }
}

// A map of width x height heights, with no size of its own.
HeightMap map_of(const Grid& z, uint32_t width, uint32_t height) {
    HeightMap map{};
    map.width = width;
    map.height = height;
    map.z = buffer_new<double>(uint64_t{width} * height);
    map.format = kHeightsPfm;
    std::copy(z.begin(), z.end(), map.z.get());
    return map;
}

// view_measure's angular spectrum of a surface of pixels dx by dy (metres), with the plane
// removed and a Hann window, over the default band.
void measure_angles(const Grid& z, uint32_t width, uint32_t height, double dx, double dy, ViewResult& r) {
    MeasureOptions m{};
    m.z_scale = 1;
    m.length_x = width * dx;
    m.length_y = height * dy;
    m.measuring = true;
    m.level = kLevelPlane;
    m.window = kHann;
    m.peaks = 1;
    m.threads = 2;
    HeightMap map = map_of(z, width, height);
    ASSERT_EQ(view_measure(map, m, r), 0);
}

TEST(AngularSpectrum, IsotropicSurfacesReadIsotropic) {
    // Surfaces with psd ~ f^-beta in every direction, at the physical frequency: no
    // direction may stand out. The relative power smoothed over +-10 degrees stays within
    // 1.5 times its median and the aspect is at least 0.8, where counting the grid's
    // samples puts 26 to 92 times the median power into the sectors at 0 and 90 degrees
    // and at atan(1/2) (the few low-frequency samples on rational directions take the
    // steeply falling power) and reads an aspect of 0.05 to 0.25. The relative powers
    // average 1 over the sectors.
    const struct {
        uint32_t width, height;
        double dx, dy, beta;
        uint32_t seed;
    } cases[] = {{512, 512, 1e-6, 1e-6, 2, 31},
                 {512, 512, 1e-6, 1e-6, 3, 32},
                 {512, 512, 1e-6, 1e-6, 4, 33},
                 {300, 500, 1e-6, 1.5e-6, 3, 34}};
    for (const auto& c : cases) {
        const std::string label =
            std::to_string(c.width) + " x " + std::to_string(c.height) + " beta " + std::to_string(c.beta);
        const double lx = c.width * c.dx, ly = c.height * c.dy;
        const Grid z = spectral_surface(
            int(c.width), int(c.height),
            [&](double kx, double ky) {
                const double fx = kx / lx, fy = ky / ly;
                return std::pow(fx * fx + fy * fy, -c.beta / 4);
            },
            c.seed);
        ViewResult r;
        measure_angles(z, c.width, c.height, c.dx, c.dy, r);
        std::vector<double> smoothed(kSectors);
        double average = 0;
        for (uint32_t s = 0; s < kSectors; ++s) {
            average += angular_relative(r.angles, s) / kSectors;
            double sum = 0;
            for (int k = -10; k <= 10; ++k) sum += angular_relative(r.angles, (s + kSectors + k) % kSectors);
            smoothed[s] = sum / 21;
        }
        std::vector<double> sorted = smoothed;
        std::nth_element(sorted.begin(), sorted.begin() + kSectors / 2, sorted.end());
        const double median = sorted[kSectors / 2];
        const double top = *std::max_element(smoothed.begin(), smoothed.end());
        EXPECT_NEAR(average, 1, 1e-12) << label;
        EXPECT_LE(top, 1.5 * median) << label;
        EXPECT_GE(r.aspect, 0.8) << label;
        std::printf("%s: aspect %.3f, smoothed relative power at most %.3f times its median\n", label.c_str(),
                    r.aspect, top / median);
    }
}

TEST(AngularSpectrum, StretchedSurfaceGivesTheDirectionAcrossTheStretch) {
    // An isotropic surface (psd ~ f^-3) stretched 3 : 1 along the direction `stretch`: its
    // features are three times as long that way, its spectrum three times as narrow, so
    // the waves run across the stretch, at stretch + 90 degrees, and the texture has one
    // lay. The directions avoid 0, 26.6, 45, 63.4 and 90 degrees, where counting the grid's
    // samples pulls the direction.
    const struct {
        uint32_t width, height;
        double dx, dy, stretch;
        uint32_t seed;
    } cases[] = {
        {512, 512, 1e-6, 1e-6, 37, 41}, {512, 512, 1e-6, 1e-6, 101.5, 42}, {300, 500, 1e-6, 1.5e-6, 160, 43}};
    for (const auto& c : cases) {
        const double lx = c.width * c.dx, ly = c.height * c.dy;
        const double ux = std::cos(c.stretch * kPi / 180), uy = std::sin(c.stretch * kPi / 180);
        const Grid z = spectral_surface(
            int(c.width), int(c.height),
            [&](double kx, double ky) {
                const double fx = kx / lx, fy = ky / ly;
                const double along = 3 * (fx * ux + fy * uy), across = -fx * uy + fy * ux;
                return std::pow(along * along + across * across, -3.0 / 4);
            },
            c.seed);
        ViewResult r;
        measure_angles(z, c.width, c.height, c.dx, c.dy, r);
        const double truth = angle_fold(c.stretch + 90);
        EXPECT_LT(fold_distance(r.direction, truth), 2) << c.stretch << ": " << r.direction;
        EXPECT_LT(r.aspect, 0.3) << c.stretch;
        std::printf("stretched along %g: direction %.3f (truth %g), aspect %.3f\n", c.stretch, r.direction,
                    truth, r.aspect);
    }
}

TEST(AngularSpectrum, DirectionAndAspectOfTexturesAroundKnownDirections) {
    // A band of 40-60 cycles on a side of 512, a Gaussian of 5 degrees across the
    // direction, over a faint isotropic floor; directions on both halves of the range
    // and across the fold at 0 / 180.
    const uint32_t n = 512;
    const double directions[] = {30.4, 117.7, 0.6, 178.8, 90.25};
    uint32_t seed = 3;
    for (const double truth : directions) {
        const std::vector<double> p = textured_plane(n, 40, 60, truth, 5, 0.02, seed++);
        const AngularSpectrum a = angles_of(p, n, 2, n / 2);
        EXPECT_LT(fold_distance(angular_direction(a), truth), 1.0) << truth;
        EXPECT_LT(angular_aspect(a), 0.2) << truth;
    }
    const std::vector<double> iso = textured_plane(n, 2, n / 2, 0, 0, 0, 99);
    const AngularSpectrum a = angles_of(iso, n, 2, n / 2);
    EXPECT_GT(angular_aspect(a), 0.7);
    EXPECT_LE(angular_aspect(a), 1.0);

    // Nothing in the band: no direction and no aspect, rather than sector 0.
    const std::vector<double> flat(std::size_t(64) * 64, 0.0);
    const AngularSpectrum none = angles_of(flat, 64, 2, 32);
    EXPECT_TRUE(std::isnan(angular_direction(none)));
    EXPECT_TRUE(std::isnan(angular_aspect(none)));
    // A band beyond the plane's corner holds no sample: no sector has a mean.
    const AngularSpectrum empty = angles_of(flat, 64, 46, 50);
    for (uint32_t s = 0; s < kSectors; ++s) EXPECT_TRUE(std::isnan(angular_mean(empty, s)));
    EXPECT_EQ(angular_mean(none, 7), 0.0);
}

}  // namespace
