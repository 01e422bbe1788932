#include "analysis/bins.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "analysis/plane.h"

ValueRange value_range_fresh() {
    return ValueRange{DBL_MAX, DBL_MIN};
}

void value_range_widen(ValueRange& range, double value) {
    if (value < range.minimum) range.minimum = value;
    if (value > range.maximum) range.maximum = value;
}

uint64_t radial_bin_count(uint32_t width, uint32_t height) {
    const uint64_t sum = uint64_t{width} * width + uint64_t{height} * height;
    return static_cast<uint64_t>(std::sqrt(static_cast<double>(sum)) * 2);
}

bool radial_bins_new(RadialBins& bins, uint64_t count) {
    bins.count = count;
    bins.weight = buffer_new<double>(count);
    bins.amp_sum = bins.weight ? buffer_new<double>(count) : Buffer<double>();
    bins.pow_sum = bins.amp_sum ? buffer_new<double>(count) : Buffer<double>();
    if (!bins.pow_sum) {
        return false;
    }
    std::memset(bins.weight.get(), 0, count * sizeof(double));
    std::memset(bins.amp_sum.get(), 0, count * sizeof(double));
    std::memset(bins.pow_sum.get(), 0, count * sizeof(double));
    return true;
}

void spectrum_magnitudes(double* re, double* im, uint64_t count) {
    for (uint64_t k = 0; k < count; ++k) {
        const double power = re[k] * re[k] + im[k] * im[k];
        re[k] = std::sqrt(power);
        im[k] = power;
    }
}

uint64_t radial_means(RadialBins& bins, uint64_t half, ValueRange& amp, ValueRange& pow) {
    const uint64_t last = half < bins.count ? half : bins.count - 1;
    amp = value_range_fresh();
    pow = value_range_fresh();
    for (uint64_t i = 1; i <= last; ++i) {
        if (bins.weight[i] > 0) {
            bins.amp_sum[i] = bins.amp_sum[i] / bins.weight[i];
            bins.pow_sum[i] = bins.pow_sum[i] / bins.weight[i];
            value_range_widen(amp, bins.amp_sum[i]);
            value_range_widen(pow, bins.pow_sum[i]);
        }
    }
    return last;
}

void radial_accumulate(const double* amplitude, const double* power, uint32_t width, uint32_t height,
                       RadialBins& bins, ValueRange& amp, ValueRange& pow, double ax, double ay) {
    plane_walk(width, height, [&](uint64_t k, int64_t fx, int64_t fy) {
        const BinShare share = radial_share(fx, fy, ax, ay);
        const uint64_t b = share.bin;
        const double f = share.next;
        const double a = amplitude[k];
        const double w = power[k];
        bins.weight[b] += 1 - f;
        bins.amp_sum[b] += (1 - f) * a;
        bins.pow_sum[b] += (1 - f) * w;
        if (b + 1 < bins.count) {
            bins.weight[b + 1] += f;
            bins.amp_sum[b + 1] += f * a;
            bins.pow_sum[b + 1] += f * w;
        }
        // The centre sample and its eight neighbours on the grid stay out of the ranges: the
        // zero frequency would otherwise squeeze the rest of the spectrum into black.
        if (fx > 1 || fx < -1 || fy > 1 || fy < -1) {
            value_range_widen(amp, a);
            value_range_widen(pow, w);
        }
    });
}
