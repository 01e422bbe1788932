#include "app/profile.h"

int profile_write_header(std::FILE* file) {
    const int status = std::fputs(
        "Wavenumber[m-1] = frequency / L[m]\n"
        "L[m] : the actual distance of the side length of the calculated square image\n\n"
        "frequency,amplitude,power\n",
        file);
    return status < 0 ? 1 : 0;
}

int profile_write_rows(std::FILE* file, RadialBins& bins, uint64_t half) {
    ValueRange amp{};
    ValueRange pow{};
    const uint64_t last = radial_means(bins, half, amp, pow);
    for (uint64_t i = 1; i <= last; ++i) {
        if (bins.weight[i] > 0) {
            if (std::fprintf(file, "%d,%e,%e\n", static_cast<int>(i), value_range_scale(amp, bins.amp_sum[i]),
                             value_range_scale(pow, bins.pow_sum[i])) < 0) {
                return 1;
            }
        }
    }
    return 0;
}
