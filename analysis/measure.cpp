#include "analysis/measure.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "spectrum/dft.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The angular band in cycles per side: the one asked for, or 2 to half the side. 0, or 1
// after the message when it takes no sample of the plane.
int band_resolve(const MeasureOptions& options, uint32_t side, double* from, double* to) {
    if (!options.band) {
        *from = 2;
        *to = side / 2.0;
        return 0;
    }
    const double scale = options.length > 0 ? options.length : 1;
    const double f = options.band_from * scale;
    const double t = options.band_to * scale;
    if (!angular_band_holds_a_sample(side, f, t)) {
        // The plane's samples lie from 1 cycle per side out to its corner.
        const double corner = std::sqrt(2.0) * static_cast<double>(side / 2);
        std::fprintf(stderr,
                     "Error: --band %g:%g holds no frequency of this picture: its samples lie from "
                     "%g to %g cycles per %s\n",
                     options.band_from, options.band_to, side > 1 ? 1 / scale : 0.0, corner / scale,
                     options.length > 0 ? "metre" : "side");
        return 1;
    }
    *from = f;
    *to = t;
    return 0;
}

// The top of the log scale: the largest amplitude outside the centre 3 x 3, as in
// varlox's pictures. A picture of side 1 to 3 has no sample outside the centre, and a
// flat one none above 0 there: the range then still holds its starting value, which is
// no amplitude, and the top is the largest amplitude of all samples instead (1 when
// every amplitude is 0).
void top_of_scale(ViewResult& r) {
    const Spectrum& s = r.spectrum;
    r.top = s.amp.maximum;
    r.top_kind = kTopOutsideCentre;
    if (!(s.amp.maximum > value_range_fresh().maximum)) {
        double largest = 0;
        for (uint64_t k = 0; k < s.count; ++k) {
            if (s.amplitude[k] > largest) largest = s.amplitude[k];
        }
        r.top = largest > 0 ? largest : 1;
        r.top_kind = largest > 0 ? kTopOfAll : kTopNone;
    }
}

// The directions and periods of a measuring run: the angular spectrum over the band, its
// direction, lay and aspect, and the strongest peaks refined between the grid's
// frequencies, from the levelled heights z (before the window) and the window's factor
// (null for none). 0, or 1 after the allocation message.
int directions(const double* z, const double* window, uint32_t side, uint64_t wanted, ViewResult& r) {
    if (!angular_new(r.angles)) {
        return 1;
    }
    const double* power = r.spectrum.power.get();
    angular_accumulate(power, side, r.band_from, r.band_to, r.angles);
    // A flat picture's spectrum outside the zero frequency is the transform's rounding
    // alone: it has no direction and no peaks, though its angular spectrum shows that noise.
    const uint64_t count = uint64_t{side} * side;
    bool flat = true;
    for (uint64_t k = 1; k < count && flat; ++k) flat = z[k] == z[0];
    if (flat) {
        return 0;
    }
    r.direction = angular_direction(r.angles);
    r.lay = angle_fold(r.direction + 90);
    r.aspect = angular_aspect(r.angles);
    uint64_t found = 0;
    if (!peaks_find(power, side, wanted, r.peaks, &found)) {
        return 1;
    }
    // A peak with no amplitude between the grid's frequencies is rounding on the grid.
    uint64_t kept = 0;
    for (uint64_t i = 0; i < found; ++i) {
        if (!peak_refine(z, side, window, r.peaks[i])) {
            return 1;
        }
        if (r.peaks[i].amplitude > 0) r.peaks[kept++] = r.peaks[i];
    }
    peaks_rank(r.peaks.get(), kept);
    r.peak_count = kept;
    return 0;
}

}  // namespace

int view_measure(HeightMap& map, const MeasureOptions& options, ViewResult& r) {
    const uint32_t side = map.width;
    if (map.height != map.width) {
        std::fprintf(stderr, "Error: The height map is not square\n");
        return 1;
    }
    r = ViewResult{};
    r.side = side;
    r.measured = options.measuring;
    r.direction = r.lay = r.aspect = kNaN;
    // A band without a sample is refused before any work.
    if (r.measured && band_resolve(options, side, &r.band_from, &r.band_to) != 0) {
        return 1;
    }
    if (heights_scale(map, options.z_scale) != 0) {
        return 1;
    }
    level_apply(map.z.get(), side, options.level);
    r.rms = heights_rms(map.z.get(), side);
    // The peaks are measured on the levelled heights and the window's factor, so a
    // measuring run keeps both.
    Buffer<double> levelled;
    Buffer<double> window_line;
    if (r.measured) {
        const uint64_t count = uint64_t{side} * side;
        levelled = buffer_new<double>(count);
        if (!levelled) {
            return 1;
        }
        std::memcpy(levelled.get(), map.z.get(), count * sizeof(double));
        if (options.window.kind != kWindowNone) {
            window_line = buffer_new<double>(side);
            if (!window_line) {
                return 1;
            }
            for (uint32_t i = 0; i < side; ++i) window_line[i] = window_weight(options.window, i, side);
        }
    }
    r.window_mean_square = 1;
    if (window_apply(map.z.get(), side, options.window, &r.window_mean_square) != 0) {
        return 1;
    }
    r.threads = dft_threads_used(static_cast<int32_t>(side), static_cast<int32_t>(side), options.threads);
    if (heights_measure(map.z.get(), side, r.spectrum, options.threads) != 0) {
        return 1;
    }
    top_of_scale(r);
    if (!r.measured) {
        return 0;
    }
    r.psd_scale = psd_scale(side, options.length, r.window_mean_square);
    if (psd_from_spectrum(r.spectrum.power.get(), side, r.spectrum.bins, options.length, r.window_mean_square,
                          r.psd) != 0) {
        return 1;
    }
    if (options.fit) {
        if (psd_fit(r.spectrum.bins, r.psd, options.length, options.fit_from, options.fit_to, r.fit) != 0) {
            return 1;
        }
        r.fitted = true;
    }
    return directions(levelled.get(), window_line.get(), side, options.peaks, r);
}
