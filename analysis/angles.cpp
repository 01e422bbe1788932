#include "analysis/angles.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/plane.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kSmooth = 10;  // half-width, in sectors, of the smoothing and of the window

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

uint32_t sector_at(int64_t s) {
    const int64_t m = s % kSectors;
    return static_cast<uint32_t>(m < 0 ? m + kSectors : m);
}

// The signed difference a - b of two directions, in (-90, 90].
double angle_difference(double a, double b) {
    double d = std::fmod(a - b, 180.0);
    if (d > 90) d -= 180;
    if (d <= -90) d += 180;
    return d;
}

// The power-weighted mean of the sectors' means around `centre`, each sector weighted
// by how much of it lies within kSmooth + 0.5 degrees: a window whose weights sum to the
// same total and whose first moment vanishes wherever it sits between sectors, so that
// an even background does not pull the mean. `centre` itself when the window is empty.
double window_mean(const AngularSpectrum& a, double centre) {
    const auto first = static_cast<int64_t>(std::floor(centre)) - kSmooth - 1;
    double sum = 0;
    double moment = 0;
    for (int64_t s = first; s <= first + 2 * kSmooth + 3; ++s) {
        const uint32_t k = sector_at(s);
        const double d = static_cast<double>(s) - centre;
        double u = kSmooth + 0.5 - std::fabs(d);
        if (u <= 0 || a.weight[k] <= 0) continue;
        if (u > 1) u = 1;
        const double m = a.power_sum[k] / a.weight[k];
        sum += u * m;
        moment += u * m * d;
    }
    return sum > 0 ? centre + moment / sum : centre;
}

}  // namespace

double angle_fold(double deg) {
    double d = std::fmod(deg, 180.0);
    if (d < 0) d += 180;
    // A tiny negative remainder plus 180 can round to 180 itself.
    if (d >= 180) d -= 180;
    return d;
}

double angle_of(double fx, double fy) {
    return angle_fold(std::atan2(fy, fx) * (180 / kPi));
}

bool angular_new(AngularSpectrum& a) {
    a.power_sum = buffer_new<double>(kSectors);
    a.weight = a.power_sum ? buffer_new<double>(kSectors) : Buffer<double>();
    if (!a.weight) {
        return false;
    }
    std::memset(a.power_sum.get(), 0, kSectors * sizeof(double));
    std::memset(a.weight.get(), 0, kSectors * sizeof(double));
    return true;
}

void angular_accumulate(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, double from,
                        double to, AngularSpectrum& a) {
    const double lo = from * from;
    const double hi = to * to;
    plane_walk(width, height, [&](uint64_t k, int64_t fx, int64_t fy) {
        const double x = axes.ax * static_cast<double>(fx);
        const double y = axes.ay * static_cast<double>(fy);
        const double r2 = x * x + y * y;
        if (r2 < lo || r2 > hi || r2 == 0) return;
        const double d = angle_of(x, y);
        const auto s = static_cast<uint32_t>(d);
        const double f = d - s;
        const uint32_t next = s + 1 == kSectors ? 0 : s + 1;
        a.power_sum[s] += (1 - f) * power[k];
        a.weight[s] += 1 - f;
        a.power_sum[next] += f * power[k];
        a.weight[next] += f;
    });
}

bool angular_band_holds_a_sample(uint32_t width, uint32_t height, PlaneAxes axes, double from, double to) {
    bool found = false;
    plane_walk(width, height, [&](uint64_t, int64_t fx, int64_t fy) {
        const double x = axes.ax * static_cast<double>(fx);
        const double y = axes.ay * static_cast<double>(fy);
        const double r2 = x * x + y * y;
        found = found || (r2 > 0 && r2 >= from * from && r2 <= to * to);
    });
    return found;
}

double angular_mean(const AngularSpectrum& a, uint32_t sector) {
    return a.weight[sector] > 0 ? a.power_sum[sector] / a.weight[sector] : kNaN;
}

double angular_smoothed(const AngularSpectrum& a, uint32_t sector) {
    double p = 0;
    double w = 0;
    for (int64_t s = int64_t{sector} - kSmooth; s <= int64_t{sector} + kSmooth; ++s) {
        p += a.power_sum[sector_at(s)];
        w += a.weight[sector_at(s)];
    }
    return w > 0 ? p / w : kNaN;
}

double angular_direction(const AngularSpectrum& a) {
    uint32_t best = 0;
    double top = 0;
    for (uint32_t s = 0; s < kSectors; ++s) {
        const double m = angular_smoothed(a, s);
        if (m > top) {
            top = m;
            best = s;
        }
    }
    if (!(top > 0)) {
        return kNaN;
    }
    // Mean shift: the window's mean moves towards the mode of the lobe; a hundred steps
    // are far more than a lobe of a few degrees needs to settle below 1e-9 degrees.
    double centre = best;
    for (int i = 0; i < 100; ++i) {
        const double next = window_mean(a, centre);
        const double step = angle_difference(next, centre);
        centre += step;
        if (std::fabs(step) < 1e-9) break;
    }
    return angle_fold(centre);
}

double angular_aspect(const AngularSpectrum& a) {
    double low = std::numeric_limits<double>::infinity();
    double high = 0;
    for (uint32_t s = 0; s < kSectors; ++s) {
        const double m = angular_smoothed(a, s);
        if (std::isnan(m)) continue;
        if (m < low) low = m;
        if (m > high) high = m;
    }
    return high > 0 ? low / high : kNaN;
}
