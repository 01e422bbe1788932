#include "analysis/acf.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "spectrum/dft.h"
#include "system/report.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.141592653589793;
// The padded plane's sides must stay int32 lengths of the transform.
constexpr uint32_t kAcfSideMax = 1073741823;
// The rays searched for Sal and Str: one every quarter degree over [0, 180).
constexpr uint32_t kRaysPerDegree = 4;
constexpr uint32_t kRays = kAcfDirections * kRaysPerDegree;

// The mean of the heights; for equal heights that height itself, which the rounding of
// their sum over their count need not give, so that their d is 0 exactly.
double heights_mean(const double* z, uint64_t n) {
    double sum = 0;
    bool flat = true;
    for (uint64_t k = 0; k < n; ++k) {
        sum += z[k];
        flat = flat && z[k] == z[0];
    }
    return flat ? z[0] : sum / static_cast<double>(n);
}

// The height parameters and the gradient's, from z less its mean m.
void heights_parameters(const double* z, uint32_t width, uint32_t height, double dx, double dy,
                        AcfResult& a) {
    const uint64_t n = uint64_t{width} * height;
    const double m = heights_mean(z, n);
    double s1 = 0, s2 = 0, s3 = 0, s4 = 0;
    double top = -std::numeric_limits<double>::infinity();
    double bottom = std::numeric_limits<double>::infinity();
    for (uint64_t k = 0; k < n; ++k) {
        const double d = z[k] - m;
        const double d2 = d * d;
        s1 += std::fabs(d);
        s2 += d2;
        s3 += d2 * d;
        s4 += d2 * d2;
        if (d > top) top = d;
        if (d < bottom) bottom = d;
    }
    const double count = static_cast<double>(n);
    a.sq = std::sqrt(s2 / count);
    a.sa = s1 / count;
    a.ssk = a.sq > 0 ? s3 / count / (a.sq * a.sq * a.sq) : kNaN;
    a.sku = a.sq > 0 ? s4 / count / (a.sq * a.sq * a.sq * a.sq) : kNaN;
    a.sp = top;
    a.sv = -bottom;
    a.sz = a.sp + a.sv;
    // The gradient, a central difference inside and a one-sided one at either end.
    double g2 = 0;
    double area = 0;
    for (uint32_t y = 0; y < height; ++y) {
        const double* row = z + uint64_t{y} * width;
        const uint32_t up = y > 0 ? y - 1 : 0;
        const uint32_t down = y + 1 < height ? y + 1 : height - 1;
        const double* row_up = z + uint64_t{up} * width;
        const double* row_down = z + uint64_t{down} * width;
        const double span_y = static_cast<double>(down - up) * dy;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t left = x > 0 ? x - 1 : 0;
            const uint32_t right = x + 1 < width ? x + 1 : width - 1;
            const double gx =
                right > left ? (row[right] - row[left]) / (static_cast<double>(right - left) * dx) : 0;
            const double gy = down > up ? (row_down[x] - row_up[x]) / span_y : 0;
            const double g = gx * gx + gy * gy;
            g2 += g;
            // sqrt(1 + g) - 1 without the cancellation of a small slope.
            area += g / (std::sqrt(1 + g) + 1);
        }
    }
    a.sdq = std::sqrt(g2 / count);
    a.sdr = area / count;
}

// The normalised ACF over the lag window into a.plane; 0, or 1 after the message.
//
// The transform of d padded with zeros to 2 width x 2 height, at the frequency (2 m + p,
// 2 n + q) with p and q 0 or 1, is the width x height transform of d(x, y) e^(-pi i (p x /
// width + q y / height)) at (m, n); and the inverse of the padded power at the lag (tx,
// ty) is the sum over p and q of e^(pi i (p tx / width + q ty / height)) / 4 times the
// width x height inverse of that plane's power at (tx mod width, ty mod height). So four
// transforms of the map's size each way give the padded plane's correlation exactly, in
// half the time of the padded plane's two and a quarter of its memory.
int acf_plane(const double* z, uint32_t width, uint32_t height, int threads, AcfResult& a) {
    const uint64_t n = uint64_t{width} * height;
    const double m = heights_mean(z, n);
    a.lags_x = width / 2;
    a.lags_y = height / 2;
    const uint64_t wx = uint64_t{a.lags_x} * 2 + 1;
    const uint64_t wy = uint64_t{a.lags_y} * 2 + 1;
    uint64_t window = 0;
    if (!size_mul(wx, wy, &window)) {
        report_alloc_failure();
        return 1;
    }
    Buffer<double> re = buffer_new<double>(n);
    Buffer<double> im = re ? buffer_new<double>(n) : Buffer<double>();
    Buffer<double> along_x = im ? buffer_new<double>(uint64_t{width} * 2) : Buffer<double>();
    Buffer<double> along_y = along_x ? buffer_new<double>(uint64_t{height} * 2) : Buffer<double>();
    Buffer<double> plane = along_y ? buffer_new<double>(window) : Buffer<double>();
    if (!plane) {
        return 1;
    }
    for (uint64_t k = 0; k < window; ++k) plane[k] = 0;
    DftRun run;
    run.threads = threads;
    const auto w = static_cast<int32_t>(width);
    const auto h = static_cast<int32_t>(height);
    const int64_t lx = a.lags_x;
    const int64_t ly = a.lags_y;
    for (int p = 0; p < 2; ++p) {
        for (int q = 0; q < 2; ++q) {
            // The shifts e^(-pi i p x / width) and e^(-pi i q y / height), cosine and sine.
            for (uint32_t x = 0; x < width; ++x) {
                const double t = -kPi * p * x / width;
                along_x[2 * x] = std::cos(t);
                along_x[2 * x + 1] = std::sin(t);
            }
            for (uint32_t y = 0; y < height; ++y) {
                const double t = -kPi * q * y / height;
                along_y[2 * y] = std::cos(t);
                along_y[2 * y + 1] = std::sin(t);
            }
            for (uint32_t y = 0; y < height; ++y) {
                const double cy = along_y[2 * y];
                const double sy = along_y[2 * y + 1];
                for (uint32_t x = 0; x < width; ++x) {
                    const uint64_t k = uint64_t{y} * width + x;
                    const double d = z[k] - m;
                    const double cx = along_x[2 * x];
                    const double sx = along_x[2 * x + 1];
                    re[k] = d * (cx * cy - sx * sy);
                    im[k] = d * (cx * sy + sx * cy);
                }
            }
            if (dft_2d_run(re.get(), im.get(), w, h, DftDirection::kForward, run) != 0) {
                return 1;
            }
            for (uint64_t k = 0; k < n; ++k) {
                re[k] = re[k] * re[k] + im[k] * im[k];
                im[k] = 0;
            }
            if (dft_2d_run(re.get(), im.get(), w, h, DftDirection::kInverse, run) != 0) {
                return 1;
            }
            // The real part of e^(pi i (p tx / width + q ty / height)) times the inverse at
            // (tx mod width, ty mod height): the correlation is real, so the imaginary
            // parts sum to 0.
            uint64_t k = 0;
            for (int64_t ty = -ly; ty <= ly; ++ty) {
                const int64_t row = ty < 0 ? ty + h : ty;
                for (int64_t tx = -lx; tx <= lx; ++tx, ++k) {
                    const int64_t col = tx < 0 ? tx + w : tx;
                    const uint64_t at = static_cast<uint64_t>(row) * width + static_cast<uint64_t>(col);
                    const double t =
                        kPi * (static_cast<double>(p * tx) / width + static_cast<double>(q * ty) / height);
                    plane[k] += (std::cos(t) * re[at] - std::sin(t) * im[at]) / 4;
                }
            }
        }
    }
    // Each lag's sum over its pairs, by their count, over the lag 0's.
    const double zero = plane[uint64_t{a.lags_y} * wx + a.lags_x] / static_cast<double>(n);
    uint64_t k = 0;
    for (int64_t ty = -ly; ty <= ly; ++ty) {
        const double pairs_y = static_cast<double>(height - static_cast<uint64_t>(ty < 0 ? -ty : ty));
        for (int64_t tx = -lx; tx <= lx; ++tx, ++k) {
            const double pairs =
                static_cast<double>(width - static_cast<uint64_t>(tx < 0 ? -tx : tx)) * pairs_y;
            plane[k] = zero > 0 ? plane[k] / pairs / zero : kNaN;
        }
    }
    a.plane = std::move(plane);
    return 0;
}

// A bilinear between the lags of the window at (tx, ty) columns and rows from the origin,
// which the caller keeps inside the window.
double acf_at(const AcfResult& a, double tx, double ty) {
    const uint32_t cols = a.lags_x * 2 + 1;
    const uint32_t rows = a.lags_y * 2 + 1;
    const double u = tx + a.lags_x;
    const double v = ty + a.lags_y;
    auto c0 = static_cast<uint32_t>(u);
    auto r0 = static_cast<uint32_t>(v);
    if (c0 > cols - 1) c0 = cols - 1;
    if (r0 > rows - 1) r0 = rows - 1;
    const uint32_t c1 = c0 + 1 < cols ? c0 + 1 : c0;
    const uint32_t r1 = r0 + 1 < rows ? r0 + 1 : r0;
    const double fu = u - c0;
    const double fv = v - r0;
    const double* p = a.plane.get();
    const double top = p[uint64_t{r0} * cols + c0] * (1 - fu) + p[uint64_t{r0} * cols + c1] * fu;
    const double bottom = p[uint64_t{r1} * cols + c0] * (1 - fu) + p[uint64_t{r1} * cols + c1] * fu;
    return top * (1 - fv) + bottom * fv;
}

// The crossing of the ray at `deg` degrees: its distance in dx's unit, or the window's
// edge with *capped set.
double ray_crossing(const AcfResult& a, double deg, bool* capped) {
    const double t = deg * kPi / 180;
    const double c = std::cos(t);
    const double s = std::sin(t);
    // The distance at which the ray leaves the window, along each axis.
    const double cap_x = std::fabs(c) > 1e-12 ? a.lags_x * a.dx / std::fabs(c) : HUGE_VAL;
    const double cap_y = std::fabs(s) > 1e-12 ? a.lags_y * a.dy / std::fabs(s) : HUGE_VAL;
    const double cap = std::fmin(cap_x, cap_y);
    const double step = std::fmin(a.dx, a.dy) / 4;
    // Columns to the right, rows downwards: up on the screen is a negative row lag.
    const double per_x = c / a.dx;
    const double per_y = -s / a.dy;
    double before = 1;
    double at = 0;
    for (uint64_t i = 1;; ++i) {
        const bool last = static_cast<double>(i) * step >= cap;
        const double rho = last ? cap : static_cast<double>(i) * step;
        const double value = acf_at(a, rho * per_x, rho * per_y);
        if (value <= a.threshold) {
            *capped = false;
            return at + (rho - at) * (before - a.threshold) / (before - value);
        }
        if (last) break;
        before = value;
        at = rho;
    }
    *capped = true;
    return cap;
}

// The extreme of the sampled rays r[0..kRays) at index i refined by the parabola through
// it and its neighbours (the rays wrap at 180 degrees): its value and its direction.
void parabola(const double* r, uint32_t i, double* value, double* deg) {
    const double a = r[(i + kRays - 1) % kRays];
    const double b = r[i];
    const double c = r[(i + 1) % kRays];
    const double curve = a - 2 * b + c;
    double offset = curve != 0 ? (a - c) / (2 * curve) : 0;
    if (!(std::fabs(offset) <= 1)) offset = 0;
    *value = b - (a - c) * offset / 4;
    *deg = angle_fold((i + offset) / kRaysPerDegree);
}

// The direction of the fastest decay: the short axis of the ellipse A x^2 + B x y +
// C y^2 = 1 fitted by least squares to the crossings of the rays that crossed (x
// rightwards, y up). The shortest crossing alone would not do: between lags the bilinear
// contour is a chain of chords, each a pixel long, and near its minimum an elongated
// texture's crossing varies less than the chords' error over several degrees. NaN when
// the crossings do not determine an ellipse.
double ellipse_direction(const double* r, const bool* cap) {
    double m[3][3] = {};
    double v[3] = {};
    uint32_t used = 0;
    for (uint32_t i = 0; i < kRays; ++i) {
        if (cap[i]) continue;
        const double t = static_cast<double>(i) / kRaysPerDegree * kPi / 180;
        const double x = r[i] * std::cos(t);
        const double y = r[i] * std::sin(t);
        const double f[3] = {x * x, x * y, y * y};
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) m[j][k] += f[j] * f[k];
            v[j] += f[j];
        }
        ++used;
    }
    if (used < 3) return kNaN;
    // Cramer's rule on the 3 x 3 normal equations.
    auto det = [](const double a[3][3]) {
        return a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
               a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
               a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    };
    const double whole = det(m);
    if (!(std::fabs(whole) > 0)) return kNaN;
    double q[3];
    for (int c = 0; c < 3; ++c) {
        double t[3][3];
        for (int j = 0; j < 3; ++j) {
            for (int k = 0; k < 3; ++k) t[j][k] = k == c ? v[j] : m[j][k];
        }
        q[c] = det(t) / whole;
    }
    // The larger eigenvalue's axis, the shorter radius: at half atan2(B, A - C).
    return angle_fold(std::atan2(q[1], q[0] - q[2]) / 2 * 180 / kPi);
}

// Sal, its direction, Str and the directional decay from the plane.
void acf_lengths(AcfResult& a) {
    a.sal = a.sal_direction = a.str = kNaN;
    a.str_capped = false;
    for (uint32_t d = 0; d < kAcfDirections; ++d) {
        a.crossing[d] = kNaN;
        a.capped[d] = false;
    }
    if (std::isnan(a.plane[0])) return;
    double r[kRays];
    bool cap[kRays];
    for (uint32_t i = 0; i < kRays; ++i) {
        r[i] = ray_crossing(a, static_cast<double>(i) / kRaysPerDegree, &cap[i]);
    }
    for (uint32_t d = 0; d < kAcfDirections; ++d) {
        a.crossing[d] = r[d * kRaysPerDegree];
        a.capped[d] = cap[d * kRaysPerDegree];
    }
    uint32_t shortest = kRays;
    uint32_t longest = 0;
    for (uint32_t i = 0; i < kRays; ++i) {
        if (!cap[i] && (shortest == kRays || r[i] < r[shortest])) shortest = i;
        if (r[i] > r[longest]) longest = i;
    }
    if (shortest == kRays) return;
    // Neighbours that were capped are no crossings: the sampled minimum stands then.
    const uint32_t before = (shortest + kRays - 1) % kRays;
    const uint32_t after = (shortest + 1) % kRays;
    double deg = static_cast<double>(shortest) / kRaysPerDegree;
    a.sal = r[shortest];
    if (!cap[before] && !cap[after]) {
        parabola(r, shortest, &a.sal, &deg);
        if (a.sal > r[shortest]) a.sal = r[shortest];
    }
    a.sal_direction = ellipse_direction(r, cap);
    if (std::isnan(a.sal_direction)) a.sal_direction = deg;
    double most = r[longest];
    a.str_capped = cap[longest];
    if (!a.str_capped) {
        double deg = 0;
        parabola(r, longest, &most, &deg);
        if (most < r[longest]) most = r[longest];
    }
    a.str = a.sal / most;
}

// The mean of A over rings of lag distance; 0, or 1 after the allocation message.
int acf_rings(AcfResult& a) {
    a.ring_step = std::fmin(a.dx, a.dy);
    const double far = std::hypot(a.lags_x * a.dx, a.lags_y * a.dy) / a.ring_step;
    a.rings = static_cast<uint64_t>(far + 0.5) + 1;
    a.ring_mean = buffer_new<double>(a.rings);
    a.ring_count = a.ring_mean ? buffer_new<uint64_t>(a.rings) : Buffer<uint64_t>();
    if (!a.ring_count) return 1;
    for (uint64_t i = 0; i < a.rings; ++i) {
        a.ring_mean[i] = 0;
        a.ring_count[i] = 0;
    }
    const int64_t lx = a.lags_x;
    const int64_t ly = a.lags_y;
    uint64_t k = 0;
    for (int64_t ty = -ly; ty <= ly; ++ty) {
        for (int64_t tx = -lx; tx <= lx; ++tx, ++k) {
            const double dist = std::hypot(static_cast<double>(tx) * a.dx, static_cast<double>(ty) * a.dy);
            auto ring = static_cast<uint64_t>(dist / a.ring_step + 0.5);
            if (ring >= a.rings) ring = a.rings - 1;
            a.ring_mean[ring] += a.plane[k];
            ++a.ring_count[ring];
        }
    }
    for (uint64_t i = 0; i < a.rings; ++i) {
        a.ring_mean[i] = a.ring_count[i] > 0 ? a.ring_mean[i] / static_cast<double>(a.ring_count[i]) : kNaN;
    }
    return 0;
}

}  // namespace

int acf_measure(const double* z, uint32_t width, uint32_t height, double dx, double dy, double threshold,
                int threads, AcfResult& acf) {
    if (width > kAcfSideMax || height > kAcfSideMax) {
        report("Error: The autocorrelation takes a map of at most 1073741823 columns and rows\n");
        return 1;
    }
    AcfResult a{};
    a.dx = dx;
    a.dy = dy;
    a.threshold = threshold;
    heights_parameters(z, width, height, dx, dy, a);
    if (acf_plane(z, width, height, threads, a) != 0 || acf_rings(a) != 0) {
        return 1;
    }
    acf_lengths(a);
    acf = std::move(a);
    return 0;
}

double acf_stdi(const AngularSpectrum& angles) {
    double sum = 0;
    double largest = 0;
    uint32_t sectors = 0;
    for (uint32_t s = 0; s < kSectors; ++s) {
        const double mean = angular_mean(angles, s);
        if (std::isnan(mean)) continue;
        sum += mean;
        ++sectors;
        if (mean > largest) largest = mean;
    }
    return largest > 0 ? sum / sectors / largest : kNaN;
}
