#include "app/directions.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "analysis/angles.h"
#include "analysis/peaks.h"
#include "app/output_table.h"
#include "system/report.h"

namespace {

// Whether any sample of a plane of this side lies at a distance in [from, to] from the
// centre, the centre itself left out: the same test as the angular spectrum's.
bool band_holds_a_sample(uint32_t side, double from, double to) {
    const int64_t half = side / 2;
    for (int64_t y = 0; y < side; ++y) {
        for (int64_t x = 0; x < side; ++x) {
            const auto r2 = static_cast<double>((x - half) * (x - half) + (y - half) * (y - half));
            if (r2 > 0 && r2 >= from * from && r2 <= to * to) return true;
        }
    }
    return false;
}

}  // namespace

int directions_band(const ViewOptions& options, uint32_t side, double* from, double* to) {
    if (!options.band) {
        *from = 2;
        *to = side / 2.0;
        return 0;
    }
    const double scale = options.length > 0 ? options.length : 1;
    const double f = options.band_from * scale;
    const double t = options.band_to * scale;
    if (!band_holds_a_sample(side, f, t)) {
        // The plane's samples lie from 1 cycle per side out to its corner.
        const double corner = std::sqrt(2.0) * static_cast<double>(side / 2);
        std::fprintf(stderr,
                     "Error: --band %g:%g holds no frequency of this picture: its samples lie from "
                     "%g to %g cycles per %s\n",
                     options.band_from, options.band_to, side > 1 ? 1 / scale : 0.0,
                     corner / scale, options.length > 0 ? "metre" : "side");
        return 1;
    }
    *from = f;
    *to = t;
    return 0;
}

int directions_write(const double* z, const double* window, const double* power, uint32_t side,
                     const ViewOptions& options, double psd_scale, OutputSet& outputs,
                     Directions& found) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    found = Directions{kNaN, kNaN, kNaN, kNaN, kNaN, 0, 0, 0};
    if (directions_band(options, side, &found.from, &found.to) != 0) {
        return 1;
    }
    AngularSpectrum a;
    if (!angular_new(a)) {
        return 1;
    }
    angular_accumulate(power, side, found.from, found.to, a);
    // A flat picture's spectrum outside the zero frequency is the transform's rounding
    // alone: it has no direction and no peaks, though the angles file shows that noise.
    const uint64_t count_z = uint64_t{side} * side;
    bool flat = true;
    for (uint64_t k = 1; k < count_z && flat; ++k) flat = z[k] == z[0];
    if (!flat) {
        found.direction = angular_direction(a);
        found.lay = angle_fold(found.direction + 90);
        found.aspect = angular_aspect(a);
    }
    const int angles = kViewOutputs[kViewAngles].order;
    if (angular_write(outputs_file(outputs, angles), a, psd_scale) != 0) {
        report_write_failure(outputs.files[angles].name);
        return 1;
    }
    if (outputs_close(outputs, angles) != 0) {
        return 1;
    }

    Buffer<Peak> peaks;
    uint64_t count = 0;
    if (!flat && !peaks_find(power, side, options.peaks, peaks, &count)) {
        return 1;
    }
    // A peak with no amplitude between the grid's frequencies is rounding on the grid.
    uint64_t kept = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (!peak_refine(z, side, window, peaks[i])) {
            return 1;
        }
        if (peaks[i].amplitude > 0) peaks[kept++] = peaks[i];
    }
    count = kept;
    peaks_rank(peaks.get(), count);
    if (count > 0) {
        found.peak_period_px = side / peaks[0].frequency;
        found.peak_direction = peaks[0].direction;
    }
    found.peaks = count;
    const int file = kViewOutputs[kViewPeaks].order;
    if (peaks_write(outputs_file(outputs, file), peaks.get(), count, side, options.length) != 0) {
        report_write_failure(outputs.files[file].name);
        return 1;
    }
    return outputs_close(outputs, file);
}
