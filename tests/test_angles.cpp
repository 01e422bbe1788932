// The angular spectrum: directions folded by the one convention, every sample of a band
// counted and shared between its two nearest sectors, and the direction and aspect of
// power planes drawn around a known direction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/angles.h"
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
    angular_accumulate(p.data(), n, n, PlaneAxes{1, 1}, from, to, a);
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

TEST(AngularSpectrum, WeightsCountTheBandsSamplesAndPowerIsKept) {
    const struct {
        uint32_t n;
        double from, to;
    } cases[] = {{16, 2, 8}, {17, 2, 8.5}, {64, 2, 32}, {65, 10.5, 20}, {33, 0, 100}, {32, 3, 3}};
    for (const auto& c : cases) {
        std::vector<double> p(std::size_t(c.n) * c.n);
        std::mt19937 rng(c.n);
        for (double& v : p) v = uniform_centred(rng) + 1;
        const AngularSpectrum a = angles_of(p, c.n, c.from, c.to);
        double count = 0, power = 0, weight = 0, shared = 0;
        const int64_t half = c.n / 2;
        for (int64_t y = 0; y < c.n; ++y)
            for (int64_t x = 0; x < c.n; ++x) {
                const double r = std::hypot(double(x - half), double(y - half));
                if (r >= c.from && r <= c.to && r > 0) {
                    count += 1;
                    power += p[std::size_t(y) * c.n + x];
                }
            }
        for (uint32_t s = 0; s < kSectors; ++s) {
            weight += a.weight[s];
            shared += a.power_sum[s];
        }
        EXPECT_NEAR(weight, count, 1e-9 * count) << c.n << " " << c.from << ":" << c.to;
        EXPECT_NEAR(shared, power, 1e-9 * power) << c.n;
    }
}

TEST(AngularSpectrum, SampleIsSharedLinearlyBetweenNeighbouringSectors) {
    // One sample of power 1 at a known direction on a plane otherwise empty: the sector
    // below it gets 1 - f, the one above f, where f is the fraction past the sector centre.
    const struct { int64_t fx, fy; } cases[] = {{7, 3}, {-7, 3}, {3, -7}, {5, 0}, {-4, -1}, {1, -9}};
    const uint32_t n = 32;
    for (const auto& c : cases) {
        std::vector<double> p(std::size_t(n) * n, 0.0);
        p[std::size_t(n / 2 - c.fy) * n + (n / 2 + c.fx)] = 1;
        const AngularSpectrum a = angles_of(p, n, 2, 16);
        const double d = angle_of(double(c.fx), double(c.fy));
        const auto s = static_cast<uint32_t>(d);
        EXPECT_NEAR(a.power_sum[s], 1 - (d - s), 1e-12) << d;
        EXPECT_NEAR(a.power_sum[(s + 1) % kSectors], d - s, 1e-12) << d;
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
    // A band between the grid's radii holds no sample: no sector has a mean.
    const AngularSpectrum empty = angles_of(flat, 64, 2.1, 2.2);
    for (uint32_t s = 0; s < kSectors; ++s) EXPECT_TRUE(std::isnan(angular_mean(empty, s)));
    EXPECT_EQ(angular_mean(none, 7), 0.0);
}

}  // namespace
