#include "analysis/measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "spectrum/dft.h"
#include "system/report.h"

namespace {

// The unit a message shows a band in: the one given, or else the measure's own.
FrequencyShown shown_unit(const FrequencyShown& given, double side_length) {
    if (given.factor > 0) return given;
    return FrequencyShown{1, side_length > 0 ? "cycles per metre" : "cycles per side", ""};
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The angular band in cycles per reference side: the one asked for, or 2 to the smaller
// half-band (the lower of the two axes' highest frequencies, half the side of a square).
// 0, or 1 after the message when it takes no sample of the plane.
int band_resolve(const MeasureOptions& options, const ScanGrid& g, double side_length, double* from,
                 double* to) {
    const PlaneAxes& a = g.axes;
    if (!options.band) {
        *from = 2;
        *to = std::min(g.width / 2.0 * a.ax, g.height / 2.0 * a.ay);
        return 0;
    }
    const double scale = side_length > 0 ? side_length : 1;
    const double f = options.band_from * scale;
    const double t = options.band_to * scale;
    if (!angular_band_holds_a_sample(g.width, g.height, a, f, t)) {
        // The plane's samples lie from one step of the finer axis out to its corner.
        const double corner = std::hypot(a.ax * (g.width / 2), a.ay * (g.height / 2));
        const double nearest = g.width > 1 && g.height > 1 ? std::min(a.ax, a.ay) : g.width > 1 ? a.ax : a.ay;
        const FrequencyShown u = shown_unit(options.band_shown, side_length);
        report(
            "Error: --band %g:%g%s holds no frequency of this picture: its samples lie from "
            "%g to %g %s\n",
            options.band_from * u.factor, options.band_to * u.factor, u.suffix,
            g.width > 1 || g.height > 1 ? nearest / scale * u.factor : 0.0, corner / scale * u.factor,
            u.unit);
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
// direction, lay and aspect, and the strongest peaks of the least prominence or more,
// refined between the grid's frequencies (peaks_search), from the levelled heights z (before the window) and
// the window's factor (null for none). 0, or 1 after the allocation message.
int directions(const double* z, const double* window_x, const double* window_y, uint64_t wanted,
               double min_prominence, ViewResult& r) {
    const ScanGrid& g = r.grid;
    if (!angular_new(r.angles)) {
        return 1;
    }
    const double* power = r.spectrum.power.get();
    if (!angular_accumulate(power, g.width, g.height, g.axes, r.band_from, r.band_to, r.angles)) {
        return 1;
    }
    // A flat picture's spectrum outside the zero frequency is the transform's rounding
    // alone: it has no direction and no peaks, though its angular spectrum shows that noise.
    const uint64_t count = uint64_t{g.width} * g.height;
    bool flat = true;
    for (uint64_t k = 1; k < count && flat; ++k) flat = z[k] == z[0];
    if (flat) {
        return 0;
    }
    r.direction = angular_direction(r.angles);
    r.lay = angle_fold(r.direction + 90);
    r.aspect = angular_aspect(r.angles);
    uint64_t found = 0;
    if (!peaks_search(power, z, g.width, g.height, g.axes, window_x, window_y, wanted, min_prominence,
                      r.peaks, &found)) {
        return 1;
    }
    r.peak_count = found;
    return 0;
}

// The factors of the window along a line of n samples; 0, or 1 after the allocation
// message.
int window_factors(const Window& window, uint32_t n, Buffer<double>& line) {
    line = buffer_new<double>(n);
    if (!line) return 1;
    for (uint32_t i = 0; i < n; ++i) line[i] = window_weight(window, i, n);
    return 0;
}

// Fills the points without a valid height with the mean of the valid ones; 0, or 1 after
// the message when there are such points and no fill was asked for, or no valid point.
int fill_invalid(HeightMap& map, bool fill, uint64_t* filled) {
    uint64_t first = 0;
    const uint64_t invalid = heights_invalid(map, &first);
    *filled = 0;
    if (invalid == 0) return 0;
    const uint64_t count = uint64_t{map.width} * map.height;
    if (invalid == count) {
        report("Error: The height map has no valid point\n");
        return 1;
    }
    if (!fill) {
        report("Error: The height map has %llu points without a valid height\n",
               static_cast<unsigned long long>(invalid));
        return 1;
    }
    double sum = 0;
    for (uint64_t k = 0; k < count; ++k) {
        if (!std::isnan(map.z[k])) sum += map.z[k];
    }
    heights_fill(map, sum / static_cast<double>(count - invalid));
    *filled = invalid;
    return 0;
}

// Refuses a fit band of fewer than 3 rows, naming the band and the profile's rows in the
// unit the band was given in; 0, or 1 after the message.
int fit_band_check(const MeasureOptions& options, const ViewResult& r) {
    const RadialBins& bins = r.spectrum.bins;
    const uint64_t rows = psd_fit_rows(bins, r.psd, r.side_length, options.fit_from, options.fit_to);
    if (rows >= 3) return 0;
    // The rows a fit could take: from the first above the zero frequency to the last.
    uint64_t first = 0;
    uint64_t last = 0;
    for (uint64_t b = 1; b < bins.count; ++b) {
        if (!(bins.weight[b] > 0 && r.psd.mean[b] > 0)) continue;
        if (first == 0) first = b;
        last = b;
    }
    const FrequencyShown u = shown_unit(options.fit_shown, r.side_length);
    const double scale = (r.side_length > 0 ? 0.5 / r.side_length : 0.5) * u.factor;
    report(
        "Error: --fit %g:%g%s holds %llu row%s with a psd above 0; a fit needs 3 or more: the "
        "profile's rows lie from %g to %g %s\n",
        options.fit_from * u.factor, options.fit_to * u.factor, u.suffix,
        static_cast<unsigned long long>(rows), rows == 1 ? "" : "s", static_cast<double>(first) * scale,
        static_cast<double>(last) * scale, u.unit);
    return 1;
}

}  // namespace

int view_measure(HeightMap& map, const MeasureOptions& options, ViewResult& r) {
    const uint32_t width = map.width;
    const uint32_t height = map.height;
    r = ViewResult{};
    // Without a size the pixel is the unit, on both axes.
    const bool sized = options.length_x > 0 && options.length_y > 0;
    const double lx = sized ? options.length_x : width;
    const double ly = sized ? options.length_y : height;
    r.grid = ScanGrid{width, height, lx, ly, plane_axes(lx, ly)};
    r.side = lx <= ly ? width : height;
    r.side_length = sized ? std::min(lx, ly) : 0;
    r.measured = options.measuring;
    r.min_prominence = options.min_prominence;
    r.direction = r.lay = r.aspect = r.stdi = kNaN;
    // A band without a sample is refused before any work.
    if (r.measured && band_resolve(options, r.grid, r.side_length, &r.band_from, &r.band_to) != 0) {
        return 1;
    }
    if (fill_invalid(map, options.fill, &r.filled) != 0) {
        return 1;
    }
    if (heights_scale(map, options.z_scale) != 0) {
        return 1;
    }
    level_apply(map.z.get(), width, height, options.level);
    r.rms = heights_rms(map.z.get(), width, height);
    // The peaks are measured on the levelled heights and the window's factors, so a
    // measuring run keeps them.
    Buffer<double> levelled;
    Buffer<double> window_x;
    Buffer<double> window_y;
    if (r.measured) {
        const uint64_t count = uint64_t{width} * height;
        levelled = buffer_new<double>(count);
        if (!levelled) {
            return 1;
        }
        std::memcpy(levelled.get(), map.z.get(), count * sizeof(double));
        if (options.window.kind != kWindowNone && (window_factors(options.window, width, window_x) != 0 ||
                                                   window_factors(options.window, height, window_y) != 0)) {
            return 1;
        }
    }
    r.window_mean_square = 1;
    if (window_apply(map.z.get(), width, height, options.window, &r.window_mean_square) != 0) {
        return 1;
    }
    r.threads = dft_threads_used(static_cast<int32_t>(width), static_cast<int32_t>(height), options.threads);
    if (heights_measure(map.z.get(), width, height, r.spectrum, options.threads, r.grid.axes) != 0) {
        return 1;
    }
    top_of_scale(r);
    if (!r.measured) {
        return 0;
    }
    r.psd_scale = psd_scale(r.grid, r.window_mean_square);
    if (psd_from_spectrum(r.spectrum.power.get(), r.grid, r.spectrum.bins, r.window_mean_square, r.psd) !=
        0) {
        return 1;
    }
    if (options.fit) {
        if (fit_band_check(options, r) != 0 ||
            psd_fit(r.spectrum.bins, r.psd, r.grid, options.window, r.side_length, options.fit_from,
                    options.fit_to, r.fit) != 0) {
            return 1;
        }
        r.fitted = true;
    }
    if (directions(levelled.get(), window_x.get(), window_y.get(), options.peaks, options.min_prominence,
                   r) != 0) {
        return 1;
    }
    if (!options.acf) {
        return 0;
    }
    // The lags step by the pixel's width and height: metres, or 1 when the pixel is the unit.
    if (acf_measure(levelled.get(), width, height, r.grid.length_x / width, r.grid.length_y / height,
                    options.acf_threshold, options.threads, r.acf) != 0) {
        return 1;
    }
    r.stdi = std::isnan(r.direction) ? kNaN : acf_stdi(r.angles);
    r.acf_measured = true;
    return 0;
}
