#include "analysis/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "system/report.h"
#include "system/size.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kLn10 = 2.302585092994046;

// How far the window's correlation is followed along an axis, in samples, and below
// which a pair's power correlation counts as none. Hann's ends at 2 exactly; a Tukey
// window's falls off with the distance and is below 1e-4 of a sample's own by 8 for
// every fraction of 0.2 or more.
constexpr int kMaxLag = 8;
constexpr double kNegligible = 1e-6;

// The frequency of row b: cycles per side, or per metre with a length.
double row_frequency(uint64_t b, double length) {
    const double cycles = static_cast<double>(b) / 2;
    return length > 0 ? cycles / length : cycles;
}

// Both ends of the band are included, within the rounding of a band converted from
// another unit (0.1 cycles per pixel of 320 pixels is 32 cycles per side, give or take
// the last bit).
constexpr double kEdge = 1e-12;

bool row_used(const RadialBins& bins, const Psd& psd, double length, double from, double to, uint64_t b) {
    const double f = row_frequency(b, length);
    return bins.weight[b] > 0 && f > 0 && f >= from * (1 - kEdge) && f <= to * (1 + kEdge) && psd.mean[b] > 0;
}

// rho(d) for d = 0 .. lag along a line of n samples (fit.h): the correlation of two
// transform samples d apart under the window; returns the largest d whose rho matters.
int line_correlation(const Window& window, uint32_t n, double* rho) {
    rho[0] = 1;
    if (window.kind == kWindowNone) return 0;
    // Lags beyond half the line wrap around onto shorter ones.
    const int lags = static_cast<int>(std::min<uint32_t>(kMaxLag, (n - 1) / 2));
    double total = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const double w = window_weight(window, i, n);
        total += w * w;
    }
    int last = 0;
    for (int d = 1; d <= lags; ++d) {
        double sum = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const double w = window_weight(window, i, n);
            // The angle reduced to one turn first, so that it stays accurate on long lines.
            const uint64_t turn = (static_cast<uint64_t>(d) * i) % n;
            sum += w * w * std::cos(2 * kPi * static_cast<double>(turn) / n);
        }
        rho[d] = sum / total;
        if (rho[d] * rho[d] >= kNegligible) last = d;
    }
    return last;
}

// The trigamma function, the variance of the logarithm of a gamma variable of shape x:
// the recurrence up to 6, then its asymptotic series.
double trigamma(double x) {
    double sum = 0;
    while (x < 6) {
        sum += 1 / (x * x);
        x += 1;
    }
    const double r = 1 / x;
    const double r2 = r * r;
    return sum + r + r2 / 2 + r * r2 * (1.0 / 6 - r2 * (1.0 / 30 - r2 * (1.0 / 42 - r2 / 30)));
}

// sum_b sum_c a_b a_c cov(y_b, y_c) under the model of fit.h, a[b] holding a_b for the
// used rows (0 elsewhere); -1 after the allocation message.
double slope_variance(const RadialBins& bins, const ScanGrid& grid, const Window& window, const double* a,
                      const bool* used) {
    double rho_x[kMaxLag + 1];
    double rho_y[kMaxLag + 1];
    const int lag_x = line_correlation(window, grid.width, rho_x);
    const int lag_y = line_correlation(window, grid.height, rho_y);
    const double ax = grid.axes.ax;
    const double ay = grid.axes.ay;
    // Two samples within the lags lie at most this many bins apart.
    const auto reach = static_cast<uint64_t>(2 * std::hypot(ax * lag_x, ay * lag_y)) + 2;
    const uint64_t stride = 2 * reach + 1;
    uint64_t cells = 0;
    if (!size_mul(bins.count, stride, &cells)) {
        report_alloc_failure();
        return -1;
    }
    Buffer<double> sums = buffer_new<double>(cells);
    if (!sums) return -1;
    std::fill(sums.get(), sums.get() + cells, 0.0);
    const int64_t cx = grid.width / 2;
    const int64_t cy = grid.height / 2;
    const int64_t fx_min = -cx;
    const int64_t fx_max = static_cast<int64_t>(grid.width) - 1 - cx;
    const int64_t fy_min = cy - static_cast<int64_t>(grid.height) + 1;
    const int64_t fy_max = cy;
    // Only samples within the last used bin's reach can touch a used bin: a box around
    // the centre, and its neighbours within the lags.
    uint64_t last_used = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (used[b]) last_used = b;
    }
    const double radius = (static_cast<double>(last_used) + 1) / 2;
    const int64_t x_lo = std::max(fx_min, -static_cast<int64_t>(radius / ax) - 1);
    const int64_t x_hi = std::min(fx_max, static_cast<int64_t>(radius / ax) + 1);
    const int64_t y_lo = std::max(fy_min, -static_cast<int64_t>(radius / ay) - 1);
    const int64_t y_hi = std::min(fy_max, static_cast<int64_t>(radius / ay) + 1);
    const int64_t n_lo = std::max(fx_min, x_lo - lag_x);
    const int64_t n_hi = std::min(fx_max, x_hi + lag_x);
    const auto columns = static_cast<uint64_t>(n_hi - n_lo + 1);
    // The shares of the rows within lag_y of the current one, each worked out once.
    const int64_t kept = 2 * lag_y + 1;
    Buffer<BinShare> shares = buffer_new<BinShare>(columns * static_cast<uint64_t>(kept));
    if (!shares) return -1;
    auto row_of = [&](int64_t fy) {
        return &shares[static_cast<uint64_t>(((fy % kept) + kept) % kept) * columns];
    };
    auto fill = [&](int64_t fy) {
        if (fy < fy_min || fy > fy_max) return;
        BinShare* row = row_of(fy);
        for (int64_t fx = n_lo; fx <= n_hi; ++fx) row[fx - n_lo] = radial_share(fx, fy, ax, ay);
    };
    // The power correlation of each lag.
    double lag_c[(2 * kMaxLag + 1) * (2 * kMaxLag + 1)];
    const int64_t lag_row = 2 * lag_x + 1;
    for (int dy = -lag_y; dy <= lag_y; ++dy) {
        for (int dx = -lag_x; dx <= lag_x; ++dx) {
            const double rho = rho_x[std::abs(dx)] * rho_y[std::abs(dy)];
            lag_c[(dy + lag_y) * lag_row + dx + lag_x] = rho * rho;
        }
    }
    for (int64_t fy = y_lo - lag_y; fy < y_lo + lag_y; ++fy) fill(fy);
    for (int64_t fy = y_lo; fy <= y_hi; ++fy) {
        fill(fy + lag_y);
        const BinShare* here = row_of(fy);
        for (int64_t fx = x_lo; fx <= x_hi; ++fx) {
            const BinShare s = here[fx - n_lo];
            const uint64_t bin_k[2] = {s.bin, s.bin + 1};
            const double share_k[2] = {1 - s.next, s.next};
            bool touches = false;
            for (int i = 0; i < 2; ++i) {
                touches = touches || (bin_k[i] < bins.count && used[bin_k[i]] && share_k[i] != 0);
            }
            if (!touches) continue;
            for (int dy = -lag_y; dy <= lag_y; ++dy) {
                if (fy + dy < fy_min || fy + dy > fy_max) continue;
                const BinShare* there = row_of(fy + dy);
                for (int dx = -lag_x; dx <= lag_x; ++dx) {
                    if (fx + dx < fx_min || fx + dx > fx_max) continue;
                    const double c = lag_c[(dy + lag_y) * lag_row + dx + lag_x];
                    if (c < kNegligible) continue;
                    const BinShare t = there[fx + dx - n_lo];
                    const uint64_t bin_j[2] = {t.bin, t.bin + 1};
                    const double share_j[2] = {1 - t.next, t.next};
                    for (int i = 0; i < 2; ++i) {
                        if (bin_k[i] >= bins.count || !used[bin_k[i]] || share_k[i] == 0) continue;
                        for (int j = 0; j < 2; ++j) {
                            if (bin_j[j] >= bins.count || !used[bin_j[j]]) continue;
                            const uint64_t offset = bin_j[j] + reach - bin_k[i];
                            sums[bin_k[i] * stride + offset] += c * share_k[i] * share_j[j];
                        }
                    }
                }
            }
        }
    }
    // R_bc = 2 sums / (W_b W_c); cov(y_b, y_c) = R_bc / sqrt(R_bb R_cc) sqrt(v_b v_c) with
    // v_b = trigamma(1 / R_bb) / ln(10)^2: the correlation times the two deviations.
    auto relative = [&](uint64_t b, uint64_t c) {
        return 2 * sums[b * stride + (c + reach - b)] / (bins.weight[b] * bins.weight[c]);
    };
    double variance = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (!used[b]) continue;
        const double rbb = relative(b, b);
        const double sd_b = std::sqrt(trigamma(1 / rbb)) / kLn10;
        const uint64_t last = std::min(bins.count - 1, b + reach);
        for (uint64_t c = b >= reach ? b - reach : 0; c <= last; ++c) {
            if (!used[c]) continue;
            const double rcc = relative(c, c);
            const double sd_c = std::sqrt(trigamma(1 / rcc)) / kLn10;
            variance += a[b] * a[c] * relative(b, c) / std::sqrt(rbb * rcc) * sd_b * sd_c;
        }
    }
    return variance;
}

}  // namespace

uint64_t psd_fit_rows(const RadialBins& bins, const Psd& psd, double length, double from, double to) {
    uint64_t rows = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (row_used(bins, psd, length, from, to, b)) ++rows;
    }
    return rows;
}

int psd_fit(const RadialBins& bins, const Psd& psd, const ScanGrid& grid, const Window& window, double length,
            double from, double to, PsdFit& fit) {
    const uint64_t rows = psd_fit_rows(bins, psd, length, from, to);
    if (rows < 3) {
        report("Error: The fit band %g to %g holds %llu row%s with a psd above 0; a fit needs 3 or more\n",
               from, to, static_cast<unsigned long long>(rows), rows == 1 ? "" : "s");
        return 1;
    }
    Buffer<bool> used = buffer_new<bool>(bins.count);
    Buffer<double> a = used ? buffer_new<double>(bins.count) : Buffer<double>();
    if (!a) return 1;
    // Means first, then the sums of squares about them, for accuracy.
    double sx = 0;
    double sy = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        used[b] = row_used(bins, psd, length, from, to, b);
        a[b] = 0;
        if (!used[b]) continue;
        sx += std::log10(row_frequency(b, length));
        sy += std::log10(psd.mean[b]);
    }
    const double count = static_cast<double>(rows);
    const double mx = sx / count;
    const double my = sy / count;
    double sxx = 0;
    double sxy = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (!used[b]) continue;
        const double dx = std::log10(row_frequency(b, length)) - mx;
        sxx += dx * dx;
        sxy += dx * (std::log10(psd.mean[b]) - my);
    }
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (used[b]) a[b] = (std::log10(row_frequency(b, length)) - mx) / sxx;
    }
    const double variance = slope_variance(bins, grid, window, a.get(), used.get());
    if (variance < 0) return 1;
    const double slope = sxy / sxx;
    fit.rows = rows;
    fit.slope = slope;
    fit.slope_error = std::sqrt(variance);
    fit.intercept = std::pow(10.0, my - slope * mx);
    fit.hurst = -slope / 2 - 1;
    fit.hurst_valid = fit.hurst > 0 && fit.hurst < 1;
    return 0;
}
