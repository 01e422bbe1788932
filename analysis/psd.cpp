#include "analysis/psd.h"

#include <cmath>

#include "analysis/plane.h"

double psd_scale(const ScanGrid& grid, double mean_square) {
    const double m = grid.width;
    const double n = grid.height;
    return grid.length_x * grid.length_y / (m * m * n * n) / mean_square;
}

int psd_from_spectrum(const double* power, const ScanGrid& grid, const RadialBins& bins, double mean_square,
                      Psd& psd) {
    Buffer<double> mean = buffer_new<double>(bins.count);
    Buffer<double> var = mean ? buffer_new<double>(bins.count) : Buffer<double>();
    if (!var) return 1;
    const double scale = psd_scale(grid, mean_square);
    for (uint64_t b = 0; b < bins.count; ++b) {
        mean[b] = bins.weight[b] > 0 ? bins.pow_sum[b] / bins.weight[b] * scale : 0;
        var[b] = 0;
    }
    // The second pass shares each sample between its bins through radial_share, as
    // radial_accumulate does, and sums the shares' squared distances from their bin's mean.
    plane_walk(grid.width, grid.height, [&](uint64_t k, int64_t fx, int64_t fy) {
        const BinShare share = radial_share(fx, fy, grid.axes.ax, grid.axes.ay);
        const uint64_t b = share.bin;
        const double f = share.next;
        const double c = power[k] * scale;
        var[b] += (1 - f) * (c - mean[b]) * (c - mean[b]);
        if (b + 1 < bins.count) var[b + 1] += f * (c - mean[b + 1]) * (c - mean[b + 1]);
    });
    for (uint64_t b = 0; b < bins.count; ++b) {
        var[b] = bins.weight[b] > 0 ? std::sqrt(var[b] / bins.weight[b]) : 0;
    }
    psd.count = bins.count;
    psd.mean = std::move(mean);
    psd.sd = std::move(var);
    return 0;
}
