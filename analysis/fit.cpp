#include "analysis/fit.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// A finite number from the whole of [text, stop), no leading blanks.
// The frequency of row b: cycles per side, or per metre with a length.
double row_frequency(uint64_t b, double length) {
    const double cycles = static_cast<double>(b) / 2;
    return length > 0 ? cycles / length : cycles;
}

}  // namespace

int psd_fit(const RadialBins& bins, const Psd& psd, double length, double from, double to, PsdFit& fit) {
    auto used = [&](uint64_t b) {
        const double f = row_frequency(b, length);
        return bins.weight[b] > 0 && f > 0 && f >= from && f <= to && psd.mean[b] > 0;
    };
    // Means first, then the sums of squares about them, for accuracy.
    uint64_t rows = 0;
    double sx = 0;
    double sy = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (!used(b)) continue;
        ++rows;
        sx += std::log10(row_frequency(b, length));
        sy += std::log10(psd.mean[b]);
    }
    if (rows < 3) {
        std::fprintf(
            stderr,
            "Error: The fit band %g to %g holds %llu row%s with a psd above 0; a fit needs 3 or more\n", from,
            to, static_cast<unsigned long long>(rows), rows == 1 ? "" : "s");
        return 1;
    }
    const double count = static_cast<double>(rows);
    const double mx = sx / count;
    const double my = sy / count;
    double sxx = 0;
    double sxy = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (!used(b)) continue;
        const double dx = std::log10(row_frequency(b, length)) - mx;
        sxx += dx * dx;
        sxy += dx * (std::log10(psd.mean[b]) - my);
    }
    const double slope = sxy / sxx;
    const double offset = my - slope * mx;
    double residual = 0;
    for (uint64_t b = 0; b < bins.count; ++b) {
        if (!used(b)) continue;
        const double e = std::log10(psd.mean[b]) - (offset + slope * std::log10(row_frequency(b, length)));
        residual += e * e;
    }
    fit.rows = rows;
    fit.slope = slope;
    fit.slope_error = std::sqrt(residual / (count - 2) / sxx);
    fit.intercept = std::pow(10.0, offset);
    fit.hurst = -slope / 2 - 1;
    return 0;
}
