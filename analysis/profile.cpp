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

namespace {

// The full profile, with the psd columns when psd is given (side then gives cycles per
// pixel). The columns both forms share are written alike, byte for byte.
int write_full(std::FILE* file, const RadialBins& bins, double length, const Psd* psd,
               uint32_t side, uint64_t* rows, uint64_t* last) {
    *rows = 0;
    *last = 0;
    const char* header = length > 0 ? "bin,cycles_per_side,cycles_per_metre,mean_amplitude,mean_power,weight"
                                     : "bin,cycles_per_side,mean_amplitude,mean_power,weight";
    if (std::fputs(header, file) < 0 ||
        std::fputs(psd != nullptr ? ",cycles_per_pixel,psd,psd_sd\n" : "\n", file) < 0) {
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
        int status =
            length > 0 ? std::fprintf(file, "%llu,%.17g,%.17g,%.17g,%.17g,%.17g", bin, cycles,
                                      cycles / length, amp, pow, weight)
                       : std::fprintf(file, "%llu,%.17g,%.17g,%.17g,%.17g", bin, cycles, amp, pow,
                                      weight);
        if (status >= 0) {
            status = psd != nullptr ? std::fprintf(file, ",%.17g,%.17g,%.17g\n", cycles / side,
                                                   psd->mean[i], psd->sd[i])
                                    : std::fputs("\n", file);
        }
        if (status < 0) {
            return 1;
        }
        ++*rows;
        *last = i;
    }
    return 0;
}

}  // namespace

int profile_write_full(std::FILE* file, const RadialBins& bins, double length, uint64_t* rows,
                       uint64_t* last) {
    return write_full(file, bins, length, nullptr, 0, rows, last);
}

int profile_write_psd(std::FILE* file, const RadialBins& bins, const Psd& psd, uint32_t side,
                      double length, uint64_t* rows, uint64_t* last) {
    return write_full(file, bins, length, &psd, side, rows, last);
}
