#include "analysis/profile.h"

int profile_write_header(std::FILE* file) {
    const int status = std::fputs(
        "Wavenumber[m-1] = frequency / L[m]\n"
        "L[m] : the actual distance of the side length of the calculated square image\n\n"
        "frequency,amplitude,power\n",
        file);
    return status < 0 ? 1 : 0;
}

int profile_write_rows(std::FILE* file, RadialBins& bins, uint64_t half) {
    const uint64_t last = half < bins.count ? half : bins.count - 1;
    ValueRange amp = value_range_fresh();
    ValueRange pow = value_range_fresh();
    for (uint64_t i = 1; i <= last; ++i) {
        if (bins.weight[i] > 0) {
            bins.amp_sum[i] = bins.amp_sum[i] / bins.weight[i];
            bins.pow_sum[i] = bins.pow_sum[i] / bins.weight[i];
            value_range_widen(amp, bins.amp_sum[i]);
            value_range_widen(pow, bins.pow_sum[i]);
        }
    }
    for (uint64_t i = 1; i <= last; ++i) {
        if (bins.weight[i] > 0) {
            if (std::fprintf(file, "%d,%e,%e\n", static_cast<int>(i),
                             value_range_scale(amp, bins.amp_sum[i]),
                             value_range_scale(pow, bins.pow_sum[i])) < 0) {
                return 1;
            }
        }
    }
    return 0;
}

int profile_write_full(std::FILE* file, const RadialBins& bins, double length, uint64_t* rows,
                       uint64_t* last) {
    *rows = 0;
    *last = 0;
    const char* header = length > 0 ? "bin,cycles_per_side,cycles_per_metre,mean_amplitude,mean_power,weight\n"
                                     : "bin,cycles_per_side,mean_amplitude,mean_power,weight\n";
    if (std::fputs(header, file) < 0) {
        return 1;
    }
    for (uint64_t i = 0; i < bins.count; ++i) {
        const double weight = bins.weight[i];
        if (!(weight > 0)) {
            continue;
        }
        const double cycles = static_cast<double>(i) / 2;
        const double amp = bins.amp_sum[i] / weight;
        const double pow = bins.pow_sum[i] / weight;
        const unsigned long long bin = i;
        const int status =
            length > 0 ? std::fprintf(file, "%llu,%.17g,%.17g,%.17g,%.17g,%.17g\n", bin, cycles,
                                      cycles / length, amp, pow, weight)
                       : std::fprintf(file, "%llu,%.17g,%.17g,%.17g,%.17g\n", bin, cycles, amp, pow,
                                      weight);
        if (status < 0) {
            return 1;
        }
        ++*rows;
        *last = i;
    }
    return 0;
}
