#include "app/view.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "analysis/analysis.h"
#include "analysis/draw.h"
#include "analysis/profile.h"
#include "app/driver.h"
#include "app/output_table.h"
#include "image/bmp.h"
#include "system/outputs.h"
#include "system/report.h"

namespace {

// The depth of the log scale when --decades is not given, chosen by measuring
// photographs and textures: with it only a small share of an ordinary picture's samples
// sits at the bottom colour, while its strongest components still stand out.
constexpr double kDefaultDecades = 5;

constexpr const char* kUsage = "Usage: varlox-view [--decades D] [--gray] [--length L] <inputfile>\n";

// The help's options; the files it writes are listed from the output table before them.
constexpr const char* kHelpOptions =
    "  --decades D  the scale's bottom lies D decades below its top, the largest amplitude\n"
    "               outside the centre 3 x 3 (default 5)\n"
    "  --gray       grey levels instead of the colour ramp\n"
    "  --length L   the picture's side is L metres: the profile gets cycles per metre\n";

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
// printing the failure's message. The outputs are committed by the caller.
int view_write(Image& image, OutputSet& outputs, const ViewOptions& options, ViewReport& report) {
    // Every output is created before the long transform, so that a name that cannot be
    // written is reported at once.
    if (outputs_create(outputs) != 0) {
        return 1;
    }
    Spectrum s{};
    if (spectrum_measure(image, s) != 0) {
        return 1;
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
    draw_log(image, s.amplitude.get(), report.top, options.decades, !options.gray);
    const int log = kViewOutputs[kViewLog].order;
    if (bmp_write_file(outputs_file(outputs, log), outputs.files[log].name, image) != 0 ||
        outputs_close(outputs, log) != 0) {
        return 1;
    }
    const int full = kViewOutputs[kViewFull].order;
    if (profile_write_full(outputs_file(outputs, full), s.bins, options.length, &report.rows,
                           &report.last_bin) != 0) {
        report_write_failure(outputs.files[full].name);
        return 1;
    }
    return outputs_close(outputs, full);
}

}  // namespace

int view_parse(int argc, char** argv, ViewOptions& options, std::string& input) {
    options = ViewOptions{kDefaultDecades, false, 0};
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
    ImagePtr image = run_read(input, names, kViewOutputCount);
    if (!image) {
        return 1;
    }
    OutputSet outputs;
    output_table_add(outputs, kViewOutputs, kViewOutputCount, names);
    ViewReport report{};
    if (view_write(*image, outputs, options, report) != 0 || outputs_commit(outputs) != 0) {
        outputs_discard(outputs);
        return 1;
    }
    image_free(std::move(image));
    const char* const top_kinds[] = {"the largest amplitude outside the centre 3 x 3",
                                     "the largest amplitude (no sample outside the centre 3 x 3 "
                                     "has one above 0)",
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
    std::fputs("The calculation has been completed successfully.\n", stderr);
    return 0;
}
