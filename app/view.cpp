#include "app/view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/driver.h"
#include "app/output_table.h"
#include "app/view_options.h"
#include "system/report.h"

namespace {

// Reads the height map, after checking that no output name is the input itself; 0, or 1
// after the message (map unchanged).
int read_heights(const std::string& input, const std::string* names, int count, int channel, HeightMap& map) {
    HeightMap read{};
    if (heights_read(input, read, kHeightsPipeMax, channel) != 0) {
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        if (names_input(names[i], input)) {
            report("Error: %s would overwrite the input file\n", names[i].c_str());
            return 1;
        }
    }
    map = std::move(read);
    return 0;
}

// The scan's size in metres from the options or else from the file, into the measuring
// options; what it came from, and the heights' unit, into `p`. 0, or 1 after the message.
// --length LX alone keeps the pixels square, as does a square map's LX (which then is
// its height too, exactly).
int sizes_resolve(const HeightMap& map, ViewOptions& options, ViewProvenance& p) {
    MeasureOptions& m = options.measure;
    const double w = map.width;
    const double h = map.height;
    m.length_x = m.length_y = 0;
    p.size = nullptr;
    if (options.size == kSizeLength) {
        m.length_x = options.size_x;
        m.length_y = options.size_y > 0        ? options.size_y
                     : map.width == map.height ? options.size_x
                                               : options.size_x / w * h;
        p.size = "--length";
    } else if (options.size == kSizePixel) {
        m.length_x = options.size_x * w;
        m.length_y = (options.size_y > 0 ? options.size_y : options.size_x) * h;
        p.size = "--pixel-size";
    } else if (map.dx > 0 && map.dy > 0) {
        m.length_x = map.dx * w;
        m.length_y = map.dy * h;
        p.size = "the file";
    }
    if (!(std::isfinite(m.length_x) && std::isfinite(m.length_y) && m.length_x > 0 && m.length_y > 0) &&
        p.size != nullptr) {
        report("Error: The scan's size from %s, %g x %g m, is not a finite size above 0\n", p.size,
               m.length_x, m.length_y);
        return 1;
    }
    if (options.z_scale_given) {
        options.height_unit = "";
        p.unit_from = "--z-scale";
    } else {
        options.height_unit = map.z_unit;
        p.unit_from = "the file";
    }
    return 0;
}

// The factor from a band given in `unit` to the measure's unit (cycles per reference
// side, or per metre with a size), for a reference side of `side` pixels and `length`
// metres (0 without a size), and how messages name it.
struct UnitScale {
    double factor;
    FrequencyShown shown;
};

UnitScale unit_scale(FrequencyUnit unit, uint32_t side, double length) {
    const bool sized = length > 0;
    const double s = side;
    switch (unit) {
        case kUnitSide:
            return sized ? UnitScale{1 / length, {length, "cycles per side", "/side"}}
                         : UnitScale{1, {1, "cycles per side", "/side"}};
        case kUnitPixel:
            return sized ? UnitScale{s / length, {length / s, "cycles per pixel", "/px"}}
                         : UnitScale{s, {1 / s, "cycles per pixel", "/px"}};
        case kUnitMetre: return UnitScale{1, {1, "cycles per metre", "/m"}};
        case kUnitDefault: break;
    }
    return UnitScale{1, {1, sized ? "cycles per metre" : "cycles per side", ""}};
}

// Turns the bands of --fit and --band from the units they were given in into the
// measure's, once the map and its size are known; 0, or 1 after the message for a band in
// cycles per metre without a size.
int bands_resolve(const HeightMap& map, ViewOptions& options) {
    MeasureOptions& m = options.measure;
    const bool sized = m.length_x > 0 && m.length_y > 0;
    // The reference side as view_measure takes it: the shorter in length, the width when
    // both are as long.
    const double lx = sized ? m.length_x : map.width;
    const double ly = sized ? m.length_y : map.height;
    const uint32_t side = lx <= ly ? map.width : map.height;
    const double length = sized ? std::min(lx, ly) : 0;
    struct Band {
        bool given;
        const char* name;
        FrequencyUnit unit;
        double* from;
        double* to;
        FrequencyShown* shown;
    };
    const Band bands[] = {{m.fit, "--fit", options.fit_unit, &m.fit_from, &m.fit_to, &m.fit_shown},
                          {m.band, "--band", options.band_unit, &m.band_from, &m.band_to, &m.band_shown}};
    for (const Band& b : bands) {
        if (!b.given) continue;
        if (b.unit == kUnitMetre && !sized) {
            report(
                "Error: %s %g:%g/m is in cycles per metre, and the scan's size is not known; "
                "give --length or --pixel-size, or the band in /side or /px\n",
                b.name, *b.from, *b.to);
            return 1;
        }
        const UnitScale u = unit_scale(b.unit, side, length);
        *b.from *= u.factor;
        *b.to *= u.factor;
        *b.shown = u.shown;
    }
    return 0;
}

// What the run wrote, said on standard error once the outputs are committed.
void say_written(const ViewResult& r, const ViewOptions& options, const ViewProvenance& p,
                 const std::string* names) {
    const MeasureOptions& m = options.measure;
    const ScanGrid& g = r.grid;
    if (r.measured) {
        if (p.size != nullptr) {
            report("The scan: %u x %u pixels of %g x %g m, %g x %g m (from %s)\n", g.width, g.height,
                   g.length_x / g.width, g.length_y / g.height, g.length_x, g.length_y, p.size);
        } else {
            report("The scan: %u x %u pixels of unknown size: the pixel is the unit\n", g.width, g.height);
        }
        if (!options.height_unit.empty()) {
            report("Heights in %s (from %s)\n", options.height_unit.c_str(), p.unit_from);
        } else {
            report("Heights in %s\n", options.z_scale_given ? "the unit --z-scale gives"
                                                            : "the file's own unit (it names none)");
        }
        if (r.filled > 0) {
            report("Filled %llu point%s without a valid height (%.4g%%) with the mean of the others\n",
                   static_cast<unsigned long long>(r.filled), r.filled == 1 ? "" : "s",
                   100.0 * static_cast<double>(r.filled) / (static_cast<double>(g.width) * g.height));
        }
    }
    const char* const top_kinds[] = {"the largest amplitude outside the centre 3 x 3",
                                     ("the largest amplitude (no sample outside the centre 3 x 3 "
                                      "has one above 0)"),
                                     "as every amplitude is 0"};
    report(
        "Wrote %s: the amplitude on a log scale (%s) from %.4g, %g decades below its top, "
        "to %.4g, %s\n",
        names[kViewLog].c_str(), options.gray ? "grey" : "colour ramp",
        r.top * std::pow(10.0, -options.decades), options.decades, r.top, top_kinds[r.top_kind]);
    uint64_t rows = 0;
    uint64_t last = 0;
    for (uint64_t i = 0; i < r.spectrum.bins.count; ++i) {
        if (r.spectrum.bins.weight[i] > 0) {
            ++rows;
            last = i;
        }
    }
    report("Wrote %s: %llu rows, bins 0 to %llu, means not rescaled", names[kViewFull].c_str(),
           static_cast<unsigned long long>(rows), static_cast<unsigned long long>(last));
    if (r.side_length > 0) {
        report(", cycles per metre for a side of %g m", r.side_length);
    }
    report("\n");
    if (r.measured) {
        char window[64] = "none";
        if (m.window.kind == kWindowHann) {
            std::snprintf(window, sizeof window, "hann (power %.4g corrected)", r.window_mean_square);
        } else if (m.window.kind == kWindowTukey) {
            std::snprintf(window, sizeof window, "tukey:%g (power %.4g corrected)", m.window.fraction,
                          r.window_mean_square);
        }
        report(
            "The profile has the psd in z^2 %s (ring means) against cycles per side%s; "
            "levelling %s, window %s\n",
            r.side_length > 0 ? "m^2" : "px^2",
            r.side_length > 0 ? ", per pixel and per metre" : " and per pixel", level_name(m.level), window);
        if (r.fitted) {
            const FrequencyShown& u = m.fit_shown;
            char hurst[128];
            if (r.fit.hurst_valid) {
                std::snprintf(hurst, sizeof hurst, "Hurst exponent %.4f", r.fit.hurst);
            } else {
                std::snprintf(hurst, sizeof hurst,
                              "the slope %.4g gives H = %.4g, outside 0 to 1: no Hurst exponent", r.fit.slope,
                              r.fit.hurst);
            }
            report("Wrote %s: rms %.6g, psd slope %.4f +- %.4f over %llu rows from %g to %g %s, %s\n",
                   names[kViewSummary].c_str(), r.rms, r.fit.slope, r.fit.slope_error,
                   static_cast<unsigned long long>(r.fit.rows), m.fit_from * u.factor, m.fit_to * u.factor,
                   u.unit, hurst);
        } else {
            report("Wrote %s: rms %.6g, no fit (--fit F1:F2 asks for one)\n", names[kViewSummary].c_str(),
                   r.rms);
        }
        // The angular band in the unit it was given in (result's band: cycles per side).
        const FrequencyShown band_unit =
            m.band ? m.band_shown
                   : FrequencyShown{r.side_length > 0 ? r.side_length : 1, "cycles per side", ""};
        const double per_side = band_unit.factor / (r.side_length > 0 ? r.side_length : 1);
        if (std::isnan(r.direction)) {
            report(
                "Wrote %s: 180 one-degree sectors from %g to %g %s, no "
                "direction (no power there, or a flat picture)\n",
                names[kViewAngles].c_str(), r.band_from * per_side, r.band_to * per_side, band_unit.unit);
        } else {
            report(
                "Wrote %s: 180 one-degree sectors from %g to %g %s, direction "
                "%.4g degrees, aspect %.3g\n",
                names[kViewAngles].c_str(), r.band_from * per_side, r.band_to * per_side, band_unit.unit,
                r.direction, r.aspect);
        }
        if (r.peak_count > 0) {
            report("Wrote %s: %llu peaks, the strongest of period %.6g px at %.4g degrees\n",
                   names[kViewPeaks].c_str(), static_cast<unsigned long long>(r.peak_count),
                   r.side / r.peaks[0].frequency, r.peaks[0].direction);
        } else {
            report("Wrote %s: no peaks of prominence %g or more outside the centre 3 x 3\n",
                   names[kViewPeaks].c_str(), r.min_prominence);
        }
    }
    if (r.acf_measured) {
        const AcfResult& a = r.acf;
        const char* unit = r.side_length > 0 ? "m" : "px";
        report("Wrote %s: the autocorrelation over lags -%u..%u x -%u..%u, linear from -1 to 1\n",
               names[kViewAcfPicture].c_str(), a.lags_x, a.lags_x, a.lags_y, a.lags_y);
        if (std::isnan(a.sal)) {
            report("Wrote %s: the autocorrelation does not fall to %g within the lags\n",
                   names[kViewAcfDecay].c_str(), a.threshold);
        } else {
            report(
                "Wrote %s: Sal %.6g %s at %.4g degrees (threshold %g), Str %.4g%s; Sq %.6g, Sdq "
                "%.6g\n",
                names[kViewAcfDecay].c_str(), a.sal, unit, a.sal_direction, a.threshold, a.str,
                a.str_capped ? " (capped by the lags: at most)" : "", a.sq, a.sdq);
        }
    }
    report("The transform ran on %d thread%s\n", r.threads, r.threads == 1 ? "" : "s");
}

}  // namespace

int view_prepare(const HeightMap& map, const std::string& input, ViewOptions& options,
                 ViewProvenance& provenance) {
    if (options.channel >= 0 && map.format != kHeightsGwy) {
        report("Error: --channel is for Gwyddion files, and %s is not one\n", input.c_str());
        return 1;
    }
    uint64_t first = 0;
    const uint64_t invalid = heights_invalid(map, &first);
    if (invalid > 0 && invalid == uint64_t{map.width} * map.height) {
        report("Error: %s has no point with a valid height\n", input.c_str());
        return 1;
    }
    if (invalid > 0 && !options.measure.fill) {
        report(
            "Error: %s has %llu point%s without a valid height, the first at row %llu, column %llu; "
            "--fill mean gives them the mean of the valid heights\n",
            input.c_str(), static_cast<unsigned long long>(invalid), invalid == 1 ? "" : "s",
            static_cast<unsigned long long>(first / map.width),
            static_cast<unsigned long long>(first % map.width));
        return 1;
    }
    if (sizes_resolve(map, options, provenance) != 0 || bands_resolve(map, options) != 0) {
        return 1;
    }
    options.measure.measuring = options.measure.measuring || map.format != kHeightsBmp;
    return 0;
}

int view_main(int argc, char** argv) {
    run_start();
    ViewOptions options{};
    std::string input;
    switch (view_parse(argc, argv, options, input)) {
        case 0: break;
        case 2: return 0;  // the help was asked for
        default: return 1;
    }
    std::string names[kViewOutputCount];
    output_names_of(input, kViewOutputs, kViewOutputCount, names);
    HeightMap map{};
    if (read_heights(input, names, kViewOutputCount, options.channel, map) != 0) {
        return 1;
    }
    ViewProvenance provenance{};
    if (view_prepare(map, input, options, provenance) != 0) {
        return 1;
    }
    OutputSet outputs;
    const int written = !options.measure.measuring ? kViewPlainCount
                        : options.measure.acf      ? kViewOutputCount
                                                   : kViewMeasuringCount;
    output_table_add(outputs, kViewOutputs, written, names);
    // Every output is created before the long transform, so that a name that cannot be
    // written is reported at once.
    ViewResult result;
    if (outputs_create(outputs) != 0) {
        return 1;
    }
    if (view_measure(map, options.measure, result) != 0 || view_write(result, options, input, outputs) != 0 ||
        outputs_commit(outputs) != 0) {
        outputs_discard(outputs);
        return 1;
    }
    say_written(result, options, provenance, names);
    report("The calculation has been completed successfully.\n");
    return 0;
}
