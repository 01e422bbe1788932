// varlox-view: the spectrum varlox measures, shown the way people read one. The same
// reader, transform, bins, output set and interrupt handling as varlox (the driver's
// run_start and run_read, the analysis's spectrum_measure); only the outputs differ.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/driver.h"
#include "spectrum/dft.h"
#include "system/os.h"

namespace {

// The depth of the log scale when --decades is not given, chosen by measuring
// photographs and textures: with it only a small share of an ordinary picture's samples
// sits at the bottom colour, while its strongest components still stand out.
constexpr double kDefaultDecades = 5;

constexpr const char* kUsage =
    "Usage: varlox-view [--decades D] [--gray] [--length L] [--threads N] <inputfile>\n";

constexpr const char* kHelp =
    "Writes NAME-as-log.bmp, the amplitude spectrum on a logarithmic scale (through the\n"
    "colour ramp, or in grey with --gray), and NAME-full.csv, the radial profile in absolute\n"
    "numbers from bin 0 out to the corner. NAME is named from the input as varlox names its\n"
    "outputs.\n"
    "  --decades D  the scale's bottom lies D decades below its top, the largest amplitude\n"
    "               outside the centre 3 x 3 (default 5)\n"
    "  --gray       grey levels instead of the colour ramp\n"
    "  --length L   the picture's side is L metres: the profile gets cycles per metre\n"
    "  --threads N  the transform on N threads (default: every processor the program may\n"
    "               run on); the outputs are the same for every N\n";

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

}  // namespace

int view_parse(int argc, char** argv, ViewOptions& options, std::string& input) {
    options = ViewOptions{kDefaultDecades, false, 0, os_processor_count()};
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
            std::fputs(kHelp, stderr);
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
    const std::string base = output_base(input);
    const std::string names[2] = {base + "-as-log.bmp", base + "-full.csv"};
    ImagePtr image = run_read(input, names, 2);
    if (!image) {
        return 1;
    }
    const int threads = dft_threads_used(static_cast<int32_t>(image->width), static_cast<int32_t>(image->height),
                                         options.threads);
    const ViewReport report = view_spectrum(*image, names[0], names[1], options);
    image_free(std::move(image));
    std::fprintf(stderr, "The transform ran on %d thread%s\n", threads, threads == 1 ? "" : "s");
    std::fprintf(stderr,
                 "Wrote %s: the amplitude on a log scale (%s) from %.4g, %g decades below its top, "
                 "to %.4g, the largest amplitude outside the centre 3 x 3\n",
                 names[0].c_str(), options.gray ? "grey" : "colour ramp", report.bottom,
                 options.decades, report.top);
    if (options.length > 0) {
        std::fprintf(stderr,
                     "Wrote %s: %llu rows, bins 0 to %llu, means not rescaled, cycles per metre for "
                     "a side of %g m\n",
                     names[1].c_str(), static_cast<unsigned long long>(report.rows),
                     static_cast<unsigned long long>(report.last_bin), options.length);
    } else {
        std::fprintf(stderr, "Wrote %s: %llu rows, bins 0 to %llu, means not rescaled\n",
                     names[1].c_str(), static_cast<unsigned long long>(report.rows),
                     static_cast<unsigned long long>(report.last_bin));
    }
    std::fputs("The calculation has been completed successfully.\n", stderr);
    return 0;
}
