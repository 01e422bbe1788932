#include "analysis/angles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "analysis/plane.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegree = kPi / 180;
constexpr int kSmooth = 10;  // half-width, in sectors, of the smoothing and of the window

// The trend's window: the rings from half a ring's radius to twice it, and at least
// kTrendRings on each side of it where the band has them.
constexpr uint64_t kTrendRings = 8;

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

double relative_mean(const AngularSpectrum& a, uint32_t k) {
    return a.relative_sum[k] / a.weight[k];
}

// The relative-power-weighted mean of the sectors' directions around `centre`, each
// sector weighted by how much of it lies within kSmooth + 0.5 degrees: a window whose
// weights sum to the same total and whose first moment vanishes wherever it sits between
// sectors, so that an even background does not pull the mean. `centre` itself when the
// window is empty.
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
        const double m = relative_mean(a, k);
        sum += u * m;
        moment += u * m * d;
    }
    return sum > 0 ? centre + moment / sum : centre;
}

// The rings the band is sampled on: `count` rings `spacing` apart, the first at `first`,
// each standing for an annulus `width` wide, sampled along its arc at most `step` apart.
struct Rings {
    uint64_t count;
    double first;
    double spacing;
    double width;
    double step;
};

// The step is the finer axis's grid step (cycles per reference side), so that no sample
// lies more than one grid step from the next in either direction. Bands far beyond the
// plane's inscribed circle on pixels of very unequal sides would need far more samples
// than the plane has: the step then grows so that the band takes at most about 8 samples
// per grid sample and 2 rings per column or row of the larger side, which keeps the
// sampling even in angle, only coarser.
Rings rings_of(uint32_t width, uint32_t height, PlaneAxes axes, double from, double to) {
    const double span = to - from;
    double step = std::min(axes.ax, axes.ay);
    const double most_rings = 2.0 * std::max(width, height);
    const double most_samples = 8.0 * width * height + 1e6;
    step = std::max(step, span / most_rings);
    step = std::max(step, std::sqrt(2 * kPi * (to * to - from * from) / most_samples));
    Rings r{};
    r.count = span > 0 ? static_cast<uint64_t>(std::ceil(span / step)) : 1;
    if (r.count == 0) r.count = 1;
    r.spacing = span / static_cast<double>(r.count);
    r.first = from + r.spacing / 2;
    r.width = r.spacing > 0 ? r.spacing : step;
    r.step = step;
    return r;
}

// The samples per degree on a ring of radius r: enough that they lie at most `step` apart.
uint64_t per_degree(double r, double step) {
    const double q = std::ceil(r * kDegree / step);
    return q < 1 ? 1 : static_cast<uint64_t>(q);
}

// v moved into [0, n) by whole periods; v lies within one period of that range.
uint64_t wrap(int64_t v, uint32_t n) {
    if (v < 0) v += n;
    if (v >= int64_t{n}) v -= n;
    return static_cast<uint64_t>(v);
}

// The power at the grid position (gx, gy) (columns rightwards and rows upwards from the
// zero frequency), bilinear between the four samples around it. The plane is periodic (a
// frequency a whole width away is the same frequency), so a position up to half a width
// from the centre has its four samples, wrapped; the zero frequency is left out and the
// other weights renormalised. False when the position lies outside the plane.
bool power_at(const double* power, uint32_t width, uint32_t height, double gx, double gy, double* out) {
    if (std::fabs(gx) > width / 2.0 || std::fabs(gy) > height / 2.0) return false;
    const double x0 = std::floor(gx);
    const double y0 = std::floor(gy);
    const double tx = gx - x0;
    const double ty = gy - y0;
    const int64_t cx = width / 2;
    const int64_t cy = height / 2;
    const uint64_t left = wrap(static_cast<int64_t>(x0) + cx, width);
    const uint64_t right = wrap(static_cast<int64_t>(x0) + cx + 1, width);
    const uint64_t low = wrap(cy - static_cast<int64_t>(y0), height);
    const uint64_t high = wrap(cy - static_cast<int64_t>(y0) - 1, height);
    const uint64_t centre = static_cast<uint64_t>(cy) * width + static_cast<uint64_t>(cx);
    const uint64_t at[4] = {low * width + left, low * width + right, high * width + left,
                            high * width + right};
    const double share[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
    double sum = 0;
    double total = 0;
    for (int k = 0; k < 4; ++k) {
        // A share of 0 adds nothing; the zero frequency is never taken.
        if (share[k] == 0 || at[k] == centre) continue;
        sum += share[k] * power[at[k]];
        total += share[k];
    }
    if (!(total > 0)) return false;
    *out = sum / total;
    return true;
}

// Each ring's level for the whitening: a straight line fitted by least squares to the
// logarithms of the ring means against the logarithm of the radius, over the rings of the
// trend's window (those with a mean above 0), taken at the ring's radius. A power law is
// followed exactly, to the band's edges; a ring that stands out (a grating's) lifts the
// line only by its share of the window, so it stays loud. 0 when no ring of the window
// has power. `sums` holds 5 (n + 1) doubles of scratch.
void ring_levels(const double* mean, const Rings& rings, double* sums, double* level) {
    const uint64_t n = rings.count;
    auto radius = [&](uint64_t i) { return rings.first + static_cast<double>(i) * rings.spacing; };
    // Prefix sums over the rings with power of 1, x, y, x^2 and x y (x = log r, y = log mean).
    double* c = sums;
    double* sx = c + n + 1;
    double* sy = sx + n + 1;
    double* sxx = sy + n + 1;
    double* sxy = sxx + n + 1;
    c[0] = sx[0] = sy[0] = sxx[0] = sxy[0] = 0;
    for (uint64_t j = 0; j < n; ++j) {
        const bool has = mean[j] > 0;
        const double x = has ? std::log(radius(j)) : 0;
        const double y = has ? std::log(mean[j]) : 0;
        c[j + 1] = c[j] + (has ? 1 : 0);
        sx[j + 1] = sx[j] + x;
        sy[j + 1] = sy[j] + y;
        sxx[j + 1] = sxx[j] + x * x;
        sxy[j + 1] = sxy[j] + x * y;
    }
    uint64_t near = 0;  // the first ring at or beyond half the radius
    uint64_t far = 0;   // the last ring at or within twice the radius
    for (uint64_t i = 0; i < n; ++i) {
        const double r = radius(i);
        while (radius(near) < r / 2) ++near;
        while (far + 1 < n && radius(far + 1) <= 2 * r) ++far;
        uint64_t lo = std::min(near, i);
        uint64_t hi = std::max(far, i);
        if (hi - lo < 2 * kTrendRings) {
            hi = std::min(n - 1, std::max(hi, lo + 2 * kTrendRings));
            lo = hi >= 2 * kTrendRings ? std::min(lo, hi - 2 * kTrendRings) : 0;
        }
        const double k = c[hi + 1] - c[lo];
        const double x = sx[hi + 1] - sx[lo];
        const double y = sy[hi + 1] - sy[lo];
        const double xx = sxx[hi + 1] - sxx[lo];
        const double xy = sxy[hi + 1] - sxy[lo];
        const double det = k * xx - x * x;
        if (k == 0) {
            level[i] = 0;
        } else if (k < 2 || !(det > 1e-9 * k * xx)) {
            level[i] = std::exp(y / k);
        } else {
            const double slope = (k * xy - x * y) / det;
            level[i] = std::exp((y - slope * x) / k + slope * std::log(r));
        }
    }
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
    a.relative_sum = a.weight ? buffer_new<double>(kSectors) : Buffer<double>();
    if (!a.relative_sum) {
        return false;
    }
    std::memset(a.power_sum.get(), 0, kSectors * sizeof(double));
    std::memset(a.weight.get(), 0, kSectors * sizeof(double));
    std::memset(a.relative_sum.get(), 0, kSectors * sizeof(double));
    return true;
}

bool angular_accumulate(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, double from,
                        double to, AngularSpectrum& a) {
    // A band that ends before it starts (the default band of a picture of side 3 or
    // less) takes nothing.
    if (!(to >= from) || !(to > 0)) return true;
    const Rings rings = rings_of(width, height, axes, from, to);
    const uint64_t n = rings.count;
    const uint64_t top = per_degree(rings.first + static_cast<double>(n - 1) * rings.spacing, rings.step);
    // Per ring and sector: the sum of the samples' powers and their count; per ring: its
    // mean, its level, and the level fit's sums; the angles' cosines and sines.
    uint64_t cells = 0;
    uint64_t table = 0;
    uint64_t scratch = 0;
    if (!size_mul(n, 2 * kSectors + 7, &cells) || !size_mul(top, 2 * 360, &table) ||
        !size_add(cells, table, &scratch) || !size_add(scratch, 5, &scratch)) {
        report_alloc_failure();
        return false;
    }
    Buffer<double> work = buffer_new<double>(scratch);
    if (!work) {
        return false;
    }
    double* sums = work.get();
    double* counts = sums + n * kSectors;
    double* mean = counts + n * kSectors;
    double* level = mean + n;
    double* fit = level + n;
    double* cosines = fit + 5 * (n + 1);
    double* sines = cosines + 360 * top;
    std::memset(sums, 0, 2 * n * kSectors * sizeof(double));
    uint64_t tabled = 0;  // the samples per degree the table holds
    for (uint64_t i = 0; i < n; ++i) {
        const double r = rings.first + static_cast<double>(i) * rings.spacing;
        mean[i] = 0;
        if (!(r > 0)) continue;
        const uint64_t q = per_degree(r, rings.step);
        if (q != tabled) {
            // Sample j of 360 q lies at ((j + 0.5) / q - 0.5) degrees: q samples per sector,
            // placed evenly about its centre.
            for (uint64_t j = 0; j < 360 * q; ++j) {
                const double t = ((static_cast<double>(j) + 0.5) / static_cast<double>(q) - 0.5) * kDegree;
                cosines[j] = std::cos(t);
                sines[j] = std::sin(t);
            }
            tabled = q;
        }
        const double rx = r / axes.ax;
        const double ry = r / axes.ay;
        double* ring_sums = sums + i * kSectors;
        double* ring_counts = counts + i * kSectors;
        double total = 0;
        double taken = 0;
        for (uint64_t j = 0; j < 360 * q; ++j) {
            double p = 0;
            if (!power_at(power, width, height, rx * cosines[j], ry * sines[j], &p)) continue;
            const uint64_t s = (j / q) % kSectors;
            ring_sums[s] += p;
            ring_counts[s] += 1;
            total += p;
            taken += 1;
        }
        if (taken > 0) mean[i] = total / taken;
    }
    ring_levels(mean, rings, fit, level);
    for (uint64_t i = 0; i < n; ++i) {
        const double r = rings.first + static_cast<double>(i) * rings.spacing;
        if (!(r > 0)) continue;
        const uint64_t q = per_degree(r, rings.step);
        // The area one sample stands for, in grid samples (a grid sample covers ax by ay).
        const double area = r * (kDegree / static_cast<double>(q)) * rings.width / (axes.ax * axes.ay);
        const double whiten = level[i] > 0 ? 1 / level[i] : 0;
        for (uint32_t s = 0; s < kSectors; ++s) {
            a.power_sum[s] += area * sums[i * kSectors + s];
            a.weight[s] += area * counts[i * kSectors + s];
            a.relative_sum[s] += area * whiten * sums[i * kSectors + s];
        }
    }
    // Scaled so that the sectors' relative means average 1.
    double average = 0;
    double held = 0;
    for (uint32_t s = 0; s < kSectors; ++s) {
        if (a.weight[s] > 0) {
            average += relative_mean(a, s);
            held += 1;
        }
    }
    average = held > 0 ? average / held : 0;
    if (average > 0) {
        for (uint32_t s = 0; s < kSectors; ++s) a.relative_sum[s] /= average;
    }
    return true;
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

double angular_relative(const AngularSpectrum& a, uint32_t sector) {
    return a.weight[sector] > 0 ? relative_mean(a, sector) : kNaN;
}

double angular_smoothed(const AngularSpectrum& a, uint32_t sector) {
    double p = 0;
    double w = 0;
    for (int64_t s = int64_t{sector} - kSmooth; s <= int64_t{sector} + kSmooth; ++s) {
        p += a.relative_sum[sector_at(s)];
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
