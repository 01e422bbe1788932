#include "app/view.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/analysis.h"
#include "analysis/draw.h"
#include "analysis/fit.h"
#include "analysis/profile.h"
#include "analysis/psd.h"
#include "app/directions.h"
#include "app/driver.h"
#include "app/output_table.h"
#include "image/bmp.h"
#include "spectrum/dft.h"
#include "system/os.h"
#include "system/outputs.h"
#include "system/report.h"

namespace {

// The depth of the log scale when --decades is not given, chosen by measuring
// photographs and textures: with it only a small share of an ordinary picture's samples
// sits at the bottom colour, while its strongest components still stand out.
constexpr double kDefaultDecades = 5;

// How many peaks NAME-peaks.csv lists when --peaks is not given.
constexpr uint64_t kDefaultPeaks = 10;

constexpr const char* kUsage =
    "Usage: varlox-view [--decades D] [--gray] [--length L] [--z-scale Z] [--level none|mean|plane]\n"
    "                   [--window hann|tukey[:A]] [--fit F1:F2] [--band F1:F2] [--peaks K]\n"
    "                   [--threads N] <inputfile>\n";

// The help's options; the files it writes are listed from the output table before them.
constexpr const char* kHelpOptions =
    "  --decades D  the scale's bottom lies D decades below its top, the largest amplitude\n"
    "               outside the centre 3 x 3 (default 5)\n"
    "  --gray       grey levels instead of the colour ramp\n"
    "  --length L   the picture's side is L metres: the profile gets cycles per metre\n"
    "  --threads N  the transform on N threads (default: every processor the program may\n"
    "               run on); the outputs are the same for every N\n"
    "The input is a 24-bit BMP, a grey PGM (8 or 16 bits) or a grey PFM. Measuring options\n"
    "(any of them, or a PGM or PFM input, adds the psd to the profile and writes the summary):\n"
    "  --z-scale Z  heights are grey levels (or PFM values) times Z, above 0 (default 1)\n"
    "  --level K    none (default), mean, or plane (the least-squares plane) removed first\n"
    "  --window W   hann or tukey[:A] (taper fraction A, default 0.5), the psd corrected\n"
    "               for the window's power\n"
    "  --fit F1:F2  fits log psd against log frequency over F1 to F2 cycles per side (per\n"
    "               metre with --length): slope, its error and the Hurst exponent\n"
    "  --band F1:F2 the angular spectrum takes the frequencies from F1 to F2 cycles per side\n"
    "               (per metre with --length; default 2 to half the side)\n"
    "  --peaks K    the peaks file lists the K strongest peaks (default 10)\n";

// A number above 0 from the whole of `text`; false for anything else. The C locale is
// never changed, so the decimal mark is a point.
bool positive_number(const char* text, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || !(v > 0)) {
        return false;
    }
    *out = v;
    return true;
}

// "F1:F2" with 0 <= F1 <= F2, both finite numbers, from the whole of `text`.
bool band_of(const char* text, double* from, double* to) {
    char* end = nullptr;
    const double f = std::strtod(text, &end);
    if (end == text || *end != ':') {
        return false;
    }
    const char* second = end + 1;
    const double t = std::strtod(second, &end);
    if (end == second || *end != '\0' || !std::isfinite(f) || !std::isfinite(t) || !(f >= 0) ||
        !(t >= f)) {
        return false;
    }
    *from = f;
    *to = t;
    return true;
}

// A whole number of 1 or more, in decimal digits only.
bool count_of(const char* text, uint64_t* out) {
    if (*text == '\0') {
        return false;
    }
    uint64_t v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || v > (UINT64_MAX - 9) / 10) {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(*p - '0');
    }
    if (v < 1) {
        return false;
    }
    *out = v;
    return true;
}

// A thread count from the whole of `text`: decimal digits only, 1 to kMaxThreads; false
// for anything else.
constexpr long kMaxThreads = 4096;
bool thread_count(const char* text, int* out) {
    long v = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > kMaxThreads) return false;
    }
    if (p == text || *p != '\0' || v < 1) {
        return false;
    }
    *out = static_cast<int>(v);
    return true;
}

// The value of option `name` given as "--name=VALUE" or "--name VALUE"; null when argv[i]
// is not that option. Advances i past a separate value.
const char* option_value(int argc, char** argv, int& i, const char* name, bool* missing) {
    const std::size_t n = std::strlen(name);
    const char* arg = argv[i];
    if (std::strncmp(arg, name, n) != 0) {
        return nullptr;
    }
    if (arg[n] == '=') {
        return arg + n + 1;
    }
    if (arg[n] != '\0') {
        return nullptr;
    }
    if (i + 1 >= argc) {
        *missing = true;
        return nullptr;
    }
    return argv[++i];
}

// The run's measurement, written into the set's temporaries; returns 0, or 1 after
// printing the failure's message. The outputs are committed by the caller. The heights
// are levelled and windowed in place.
int view_write(HeightMap& map, OutputSet& outputs, const ViewOptions& options,
               const std::string& input, ViewReport& report, Directions& directions) {
    // Every output is created before the long transform, so that a name that cannot be
    // written is reported at once.
    if (outputs_create(outputs) != 0) {
        return 1;
    }
    const uint32_t side = map.side;
    if (heights_scale(map, options.z_scale) != 0) {
        return 1;
    }
    level_apply(map.z.get(), side, options.level);
    report.summary = Summary{input, side, options.length, heights_rms(map.z.get(), side), false, PsdFit{},
                             options.fit_from, options.fit_to};
    // The peaks are measured on the levelled heights and the window's factor, so a
    // measuring run keeps both.
    Buffer<double> levelled;
    Buffer<double> window_line;
    if (report.measured) {
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
    double mean_square = 1;
    if (window_apply(map.z.get(), side, options.window, &mean_square) != 0) {
        return 1;
    }
    report.window_mean_square = mean_square;
    Spectrum s{};
    report.threads = dft_threads_used(static_cast<int32_t>(side), static_cast<int32_t>(side),
                                      options.threads);
    if (heights_measure(map.z.get(), side, s, options.threads) != 0) {
        return 1;
    }
    // The psd and the fit come before any file is written, so that a band without rows
    // is refused with nothing written.
    Psd psd{};
    if (report.measured) {
        if (psd_from_spectrum(s.power.get(), side, s.bins, options.length, mean_square, psd) != 0) {
            return 1;
        }
        if (options.fit) {
            if (psd_fit(s.bins, psd, options.length, options.fit_from, options.fit_to, report.summary.fit) != 0) {
                return 1;
            }
            report.summary.fitted = true;
        }
    }
    // The top of the scale is the largest amplitude outside the centre 3 x 3, as in
    // varlox's pictures; the bottom lies `decades` decades below. A picture of side 1 to 3
    // has no sample outside the centre, and a flat one none above 0 there: the range then
    // still holds its starting value, which is no amplitude, and the top is the largest
    // amplitude of all samples instead (1 when every amplitude is 0).
    report.top = s.amp.maximum;
    report.top_kind = kTopOutsideCentre;
    if (!(s.amp.maximum > value_range_fresh().maximum)) {
        double largest = 0;
        for (uint64_t k = 0; k < s.count; ++k) {
            if (s.amplitude[k] > largest) largest = s.amplitude[k];
        }
        report.top = largest > 0 ? largest : 1;
        report.top_kind = largest > 0 ? kTopOfAll : kTopNone;
    }
    report.bottom = report.top * std::pow(10.0, -options.decades);
    ImagePtr canvas = image_new(side, side);
    if (!canvas) {
        return 1;
    }
    draw_log(*canvas, s.amplitude.get(), report.top, options.decades, !options.gray);
    const int log = kViewOutputs[kViewLog].order;
    if (bmp_write_file(outputs_file(outputs, log), outputs.files[log].name, *canvas) != 0 ||
        outputs_close(outputs, log) != 0) {
        return 1;
    }
    const int full = kViewOutputs[kViewFull].order;
    std::FILE* full_file = outputs_file(outputs, full);
    const int full_status =
        report.measured
            ? profile_write_psd(full_file, s.bins, psd, side, options.length, &report.rows, &report.last_bin)
            : profile_write_full(full_file, s.bins, options.length, &report.rows, &report.last_bin);
    if (full_status != 0) {
        report_write_failure(outputs.files[full].name);
        return 1;
    }
    if (outputs_close(outputs, full) != 0) {
        return 1;
    }
    if (!report.measured) {
        return 0;
    }
    if (directions_write(levelled.get(), window_line.get(), s.power.get(), side, options,
                         psd_scale(side, options.length, mean_square), outputs, directions) != 0) {
        return 1;
    }
    report.summary.direction = directions.direction;
    report.summary.lay = directions.lay;
    report.summary.aspect = directions.aspect;
    report.summary.peak_period_px = directions.peak_period_px;
    report.summary.peak_direction = directions.peak_direction;
    const int summary = kViewOutputs[kViewSummary].order;
    if (summary_write(outputs_file(outputs, summary), report.summary) != 0) {
        report_write_failure(outputs.files[summary].name);
        return 1;
    }
    return outputs_close(outputs, summary);
}

}  // namespace

int view_parse(int argc, char** argv, ViewOptions& options, std::string& input) {
    options = ViewOptions{kDefaultDecades, false, 0, false, 1, kLevelNone, Window{kWindowNone, 1},
                          false, 0, 0, false, 0, 0, kDefaultPeaks,
                          os_processor_count()};
    int inputs = 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            input = arg;
            ++inputs;
            continue;
        }
        bool missing = false;
        if (std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(arg, "--gray") == 0) {
            options.gray = true;
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stderr);
            std::fputs("Writes, with NAME named from the input as varlox names its outputs:\n",
                       stderr);
            for (const OutputRow& row : kViewOutputs) {
                std::fprintf(stderr, "  NAME%-12s %s\n", row.suffix, row.holds);
            }
            std::fputs(kHelpOptions, stderr);
            return 2;
        } else if (const char* v = option_value(argc, argv, i, "--decades", &missing)) {
            if (!positive_number(v, &options.decades)) {
                std::fprintf(stderr, "Error: --decades takes a number of decades above 0, not '%s'\n", v);
                return 1;
            }
        } else if (const char* v = option_value(argc, argv, i, "--length", &missing)) {
            if (!positive_number(v, &options.length)) {
                std::fprintf(stderr, "Error: --length takes the side's length in metres, above 0, not '%s'\n", v);
                return 1;
            }
        } else if (const char* v = option_value(argc, argv, i, "--z-scale", &missing)) {
            if (!positive_number(v, &options.z_scale)) {
                std::fprintf(stderr, "Error: --z-scale takes the height of one grey level or PFM unit, above 0, not '%s'\n", v);
                return 1;
            }
            options.measure = true;
        } else if (const char* v = option_value(argc, argv, i, "--level", &missing)) {
            if (!level_parse(v, &options.level)) {
                std::fprintf(stderr, "Error: --level takes none, mean or plane, not '%s'\n", v);
                return 1;
            }
            options.measure = true;
        } else if (const char* v = option_value(argc, argv, i, "--window", &missing)) {
            if (!window_parse(v, &options.window)) {
                std::fprintf(stderr, "Error: --window takes hann or tukey[:A] with 0 < A <= 1, not '%s'\n", v);
                return 1;
            }
            options.measure = true;
        } else if (const char* v = option_value(argc, argv, i, "--fit", &missing)) {
            if (!fit_band_parse(v, &options.fit_from, &options.fit_to)) {
                std::fprintf(stderr, "Error: --fit takes a band F1:F2 with 0 <= F1 < F2, not '%s'\n", v);
                return 1;
            }
            options.fit = true;
            options.measure = true;
        } else if (const char* v = option_value(argc, argv, i, "--band", &missing)) {
            if (!band_of(v, &options.band_from, &options.band_to)) {
                std::fprintf(stderr, "Error: --band takes F1:F2, two frequencies with 0 <= F1 <= F2, not '%s'\n", v);
                return 1;
            }
            options.band = true;
            options.measure = true;
        } else if (const char* v = option_value(argc, argv, i, "--peaks", &missing)) {
            if (!count_of(v, &options.peaks)) {
                std::fprintf(stderr, "Error: --peaks takes a whole number of peaks, 1 or more, not '%s'\n", v);
                return 1;
            }
            options.measure = true;
        } else if (const char* v = option_value(argc, argv, i, "--threads", &missing)) {
            if (!thread_count(v, &options.threads)) {
                std::fprintf(stderr, "Error: --threads takes a whole number of threads from 1 to %ld, not '%s'\n",
                             kMaxThreads, v);
                return 1;
            }
        } else {
            std::fputs(kUsage, stderr);
            return 1;
        }
        if (missing) {
            std::fputs(kUsage, stderr);
            return 1;
        }
    }
    if (inputs != 1) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    return 0;
}

int view_main(int argc, char** argv) {
    run_start();
    ViewOptions options{};
    std::string input;
    switch (view_parse(argc, argv, options, input)) {
        case 0:
            break;
        case 2:
            return 0;  // the help was asked for
        default:
            return 1;
    }
    std::string names[kViewOutputCount];
    output_names_of(input, kViewOutputs, kViewOutputCount, names);
    HeightMap map{};
    if (run_read_heights(input, names, kViewOutputCount, map) != 0) {
        return 1;
    }
    ViewReport report{};
    report.measured = options.measure || map.format != kHeightsBmp;
    // A band that holds no frequency of the picture is refused before anything is made.
    double from = 0;
    double to = 0;
    if (report.measured && directions_band(options, map.side, &from, &to) != 0) {
        return 1;
    }
    OutputSet outputs;
    output_table_add(outputs, kViewOutputs, report.measured ? kViewOutputCount : kViewPlainCount, names);
    Directions directions{};
    if (view_write(map, outputs, options, input, report, directions) != 0 ||
        outputs_commit(outputs) != 0) {
        outputs_discard(outputs);
        return 1;
    }
    const char* const top_kinds[] = {"the largest amplitude outside the centre 3 x 3",
                                     ("the largest amplitude (no sample outside the centre 3 x 3 "
                                      "has one above 0)"),
                                     "as every amplitude is 0"};
    std::fprintf(stderr,
                 "Wrote %s: the amplitude on a log scale (%s) from %.4g, %g decades below its top, "
                 "to %.4g, %s\n",
                 names[kViewLog].c_str(), options.gray ? "grey" : "colour ramp", report.bottom,
                 options.decades, report.top, top_kinds[report.top_kind]);
    if (options.length > 0) {
        std::fprintf(stderr,
                     "Wrote %s: %llu rows, bins 0 to %llu, means not rescaled, cycles per metre for "
                     "a side of %g m\n",
                     names[kViewFull].c_str(), static_cast<unsigned long long>(report.rows),
                     static_cast<unsigned long long>(report.last_bin), options.length);
    } else {
        std::fprintf(stderr, "Wrote %s: %llu rows, bins 0 to %llu, means not rescaled\n",
                     names[kViewFull].c_str(), static_cast<unsigned long long>(report.rows),
                     static_cast<unsigned long long>(report.last_bin));
    }
    if (report.measured) {
        const Summary& sum = report.summary;
        char window[64] = "none";
        if (options.window.kind != kWindowNone) {
            std::snprintf(window, sizeof window, "%s (power %.4g corrected)",
                          options.window.kind == kWindowHann ? "hann" : "tukey", report.window_mean_square);
            if (options.window.kind == kWindowTukey) {
                std::snprintf(window, sizeof window, "tukey:%g (power %.4g corrected)",
                              options.window.fraction, report.window_mean_square);
            }
        }
        std::fprintf(stderr, "The profile has the psd in z^2 %s (ring means) against cycles per pixel; "
                             "levelling %s, window %s\n",
                     options.length > 0 ? "m^2" : "px^2", level_name(options.level), window);
        if (sum.fitted) {
            std::fprintf(stderr,
                         "Wrote %s: rms %.6g, psd slope %.4f +- %.4f over %llu rows from %g to %g cycles "
                         "per %s, Hurst exponent %.4f\n",
                         names[kViewSummary].c_str(), sum.rms, sum.fit.slope, sum.fit.slope_error,
                         static_cast<unsigned long long>(sum.fit.rows), sum.fit_from, sum.fit_to,
                         options.length > 0 ? "metre" : "side", sum.fit.hurst);
        } else {
            std::fprintf(stderr, "Wrote %s: rms %.6g, no fit (--fit F1:F2 asks for one)\n",
                         names[kViewSummary].c_str(), sum.rms);
        }
        if (std::isnan(directions.direction)) {
            std::fprintf(stderr,
                         "Wrote %s: 180 one-degree sectors from %g to %g cycles per side, no "
                         "direction (no power there, or a flat picture)\n",
                         names[kViewAngles].c_str(), directions.from, directions.to);
        } else {
            std::fprintf(stderr,
                         "Wrote %s: 180 one-degree sectors from %g to %g cycles per side, direction "
                         "%.4g degrees, aspect %.3g\n",
                         names[kViewAngles].c_str(), directions.from, directions.to,
                         directions.direction, directions.aspect);
        }
        if (directions.peaks > 0) {
            std::fprintf(stderr,
                         "Wrote %s: %llu peaks, the strongest of period %.6g px at %.4g degrees\n",
                         names[kViewPeaks].c_str(), static_cast<unsigned long long>(directions.peaks),
                         directions.peak_period_px, directions.peak_direction);
        } else {
            std::fprintf(stderr, "Wrote %s: no peaks outside the centre 3 x 3\n",
                         names[kViewPeaks].c_str());
        }
    }
    std::fprintf(stderr, "The transform ran on %d thread%s\n", report.threads, report.threads == 1 ? "" : "s");
    std::fputs("The calculation has been completed successfully.\n", stderr);
    return 0;
}
