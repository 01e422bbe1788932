#include "app/view_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/output_table.h"
#include "system/os.h"
#include "system/report.h"

namespace {

// The depth of the log scale when --decades is not given, chosen by measuring
// photographs and textures: with it only a small share of an ordinary picture's samples
// sits at the bottom colour, while its strongest components still stand out.
constexpr double kDefaultDecades = 5;

// How many peaks NAME-peaks.csv lists when --peaks is not given.
constexpr uint64_t kDefaultPeaks = 10;

// Sal's threshold when --acf-threshold is not given: the value ISO 25178-2 names as the
// default.
constexpr double kDefaultAcfThreshold = 0.2;

constexpr uint64_t kMaxThreads = 4096;
constexpr uint64_t kMaxChannel = 0x7fffffff;
// Whole numbers above this would not survive the trip through a double.
constexpr uint64_t kMaxWhole = uint64_t{1} << 53;

constexpr const char* kUsage =
    "Usage: varlox-view [--decades D] [--gray] [--length LX[,LY] | --pixel-size DX[,DY]] [--channel K]\n"
    "                   [--z-scale Z] [--level none|mean|plane] [--window hann|tukey[:A]] [--fill mean]\n"
    "                   [--fit F1:F2[/U]] [--band F1:F2[/U]] [--peaks K] [--min-prominence P] [--acf]\n"
    "                   [--acf-threshold S] [--threads N] <inputfile>\n";

// The help's options; the files it writes are listed from the output table before them.
constexpr const char* kHelpOptions =
    "  --decades D  the scale's bottom lies D decades below its top, the largest amplitude\n"
    "               outside the centre 3 x 3 (default 5)\n"
    "  --gray       grey levels instead of the colour ramp\n"
    "  --length LX[,LY]  the scan is LX metres wide and LY high (default: square pixels):\n"
    "               the profile gets cycles per metre; overrides a size the file gives\n"
    "  --pixel-size DX[,DY]  the same from a pixel's width and height (DY default DX)\n"
    "  --channel K  the channel /K/data of a Gwyddion file (default: its first image)\n"
    "  --threads N  the transform on N threads (default: every processor the program may\n"
    "               run on); the outputs are the same for every N\n"
    "The input is a 24-bit BMP, a grey PGM (8 or 16 bits), a grey PFM, an x3p, a Gwyddion\n"
    "file or a one-channel TIFF, of any width and height. Measuring options (any of them,\n"
    "or an input other than a BMP, adds the psd to the profile and writes the summary):\n"
    "  --z-scale Z  heights are the file's values times Z, above 0 (default 1)\n"
    "  --fill mean  points without a valid height take the mean of the valid ones (without\n"
    "               it such points are refused)\n"
    "  --level K    none (default), mean, or plane (the least-squares plane) removed first\n"
    "  --window W   hann or tukey[:A] (taper fraction A, default 0.5), the psd corrected\n"
    "               for the window's power\n"
    "  --fit F1:F2[/U]  fits log psd against log frequency over F1 to F2: slope, its error\n"
    "               and the Hurst exponent (where the slope gives one between 0 and 1)\n"
    "  --band F1:F2[/U]  the angular spectrum takes the frequencies from F1 to F2 (default 2\n"
    "               cycles per side to the lower of the half-bands)\n"
    "               U is side (cycles per side), px (cycles per pixel of the side) or m\n"
    "               (cycles per metre, with a size); without /U cycles per side, or per\n"
    "               metre with a size\n"
    "  --peaks K    the peaks file lists the K strongest peaks (default 10)\n"
    "  --min-prominence P  lists only peaks of P or more times the background power\n"
    "               around them (default 25)\n"
    "  --acf        the autocorrelation (its picture and decay) and the field parameters\n"
    "               Sal, Str, Std, Sq, Sa, Ssk, Sku, Sp, Sv, Sz, Sdq, Sdr in the summary\n"
    "  --acf-threshold S  Sal is where the autocorrelation falls to S, 0 < S < 1 (default\n"
    "               0.2); implies --acf\n"
    "A side is the scan's shorter side in length; on a square, its side.\n";

// A number from the whole of `text`: decimal as strtod reads it, finite, with nothing
// before or after it (strtod would skip leading blanks: they are refused here).
bool number_of(const std::string& text, double* out) {
    if (text.empty() || text[0] == ' ' || text[0] == '\t' || text[0] == '\n' || text[0] == '\r' ||
        text[0] == '\v' || text[0] == '\f') {
        return false;
    }
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// A whole number from `min` to `max`, in decimal digits only.
bool whole_of(const std::string& text, uint64_t min, uint64_t max, uint64_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    uint64_t v = 0;
    for (const char c : text) {
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > max) return false;
    }
    if (v < min) return false;
    *out = v;
    return true;
}

// "X" or "X,Y", numbers above 0; y is 0 when only X is given.
bool pair_of(const std::string& text, double* x, double* y) {
    const std::size_t comma = text.find(',');
    double a = 0;
    double b = 0;
    if (comma == std::string::npos) {
        if (!number_of(text, &a) || !(a > 0)) return false;
    } else if (!number_of(text.substr(0, comma), &a) || !number_of(text.substr(comma + 1), &b) || !(a > 0) ||
               !(b > 0)) {
        return false;
    }
    *x = a;
    *y = b;
    return true;
}

// The suffixes a band's unit is written with, after its second number.
struct UnitWord {
    FrequencyUnit unit;
    const char* suffix;
};
constexpr UnitWord kUnits[] = {{kUnitSide, "/side"}, {kUnitPixel, "/px"}, {kUnitMetre, "/m"}};

// "F1:F2" with an optional unit suffix ("/side", "/px", "/m"), two numbers with
// 0 <= F1 <= F2, or F1 < F2 when `strict`.
bool band_of(const std::string& text, bool strict, double* from, double* to, FrequencyUnit* unit) {
    std::string numbers = text;
    FrequencyUnit u = kUnitDefault;
    const std::size_t slash = text.rfind('/');
    if (slash != std::string::npos) {
        for (const UnitWord& w : kUnits) {
            if (text.compare(slash, std::string::npos, w.suffix) == 0) u = w.unit;
        }
        if (u == kUnitDefault) return false;
        numbers = text.substr(0, slash);
    }
    const std::size_t colon = numbers.find(':');
    double f = 0;
    double t = 0;
    if (colon == std::string::npos || !number_of(numbers.substr(0, colon), &f) ||
        !number_of(numbers.substr(colon + 1), &t) || !(f >= 0) || (strict ? !(t > f) : !(t >= f))) {
        return false;
    }
    *from = f;
    *to = t;
    *unit = u;
    return true;
}

struct LevelWord {
    LevelKind kind;
    const char* word;
};
constexpr LevelWord kLevels[] = {{kLevelNone, "none"}, {kLevelMean, "mean"}, {kLevelPlane, "plane"}};

bool level_of(const std::string& text, LevelKind* kind) {
    for (const LevelWord& l : kLevels) {
        if (text == l.word) {
            *kind = l.kind;
            return true;
        }
    }
    return false;
}

// "hann", "tukey" (A = 0.5) or "tukey:A" with 0 < A <= 1.
bool window_of(const std::string& text, Window* window) {
    double a = 0.5;
    if (text == "hann") {
        *window = Window{kWindowHann, 1};
        return true;
    }
    if (text != "tukey" &&
        (text.compare(0, 6, "tukey:") != 0 || !number_of(text.substr(6), &a) || !(a > 0) || !(a <= 1))) {
        return false;
    }
    *window = Window{kWindowTukey, a};
    return true;
}

// What an option takes.
enum class Takes {
    kNothing,
    kPositive,
    kFraction,
    kWhole,
    kIndex,
    kPair,
    kBand,
    kStrictBand,
    kLevel,
    kWindow,
    kFill
};

// A value read for an option.
struct Value {
    double number;
    uint64_t whole;
    double from;
    double to;
    LevelKind level;
    Window window;
    FrequencyUnit unit;
};

struct Option {
    const char* name;
    Takes takes;
    uint64_t max;       // the largest whole number
    bool measuring;     // giving the option makes the run a measuring one
    const char* wants;  // the refusal: "Error: NAME takes WANTS, not 'VALUE'"
    void (*set)(ViewOptions& o, const Value& v);
};

constexpr Option kOptions[] = {
    {"--decades", Takes::kPositive, 0, false, "a number of decades above 0",
     [](ViewOptions& o, const Value& v) { o.decades = v.number; }},
    {"--gray", Takes::kNothing, 0, false, "", [](ViewOptions& o, const Value&) { o.gray = true; }},
    {"--length", Takes::kPair, 0, false, "the scan's width and height in metres, LX[,LY], above 0",
     [](ViewOptions& o, const Value& v) {
         o.size = kSizeLength;
         o.size_x = v.from;
         o.size_y = v.to;
     }},
    {"--pixel-size", Takes::kPair, 0, false, "the pixel's width and height in metres, DX[,DY], above 0",
     [](ViewOptions& o, const Value& v) {
         o.size = kSizePixel;
         o.size_x = v.from;
         o.size_y = v.to;
     }},
    {"--channel", Takes::kIndex, kMaxChannel, false, "a channel number from 0 to 2147483647",
     [](ViewOptions& o, const Value& v) { o.channel = static_cast<int>(v.whole); }},
    {"--threads", Takes::kWhole, kMaxThreads, false, "a whole number of threads from 1 to 4096",
     [](ViewOptions& o, const Value& v) { o.measure.threads = static_cast<int>(v.whole); }},
    {"--z-scale", Takes::kPositive, 0, true, "a factor for the file's values, above 0",
     [](ViewOptions& o, const Value& v) {
         o.measure.z_scale = v.number;
         o.z_scale_given = true;
     }},
    {"--level", Takes::kLevel, 0, true, "none, mean or plane",
     [](ViewOptions& o, const Value& v) { o.measure.level = v.level; }},
    {"--window", Takes::kWindow, 0, true, "hann or tukey[:A] with 0 < A <= 1",
     [](ViewOptions& o, const Value& v) { o.measure.window = v.window; }},
    {"--fit", Takes::kStrictBand, 0, true, "a band F1:F2 with 0 <= F1 < F2, then /side, /px, /m or nothing",
     [](ViewOptions& o, const Value& v) {
         o.measure.fit = true;
         o.measure.fit_from = v.from;
         o.measure.fit_to = v.to;
         o.fit_unit = v.unit;
     }},
    {"--band", Takes::kBand, 0, true,
     "F1:F2, two frequencies with 0 <= F1 <= F2, then /side, /px, /m or nothing",
     [](ViewOptions& o, const Value& v) {
         o.measure.band = true;
         o.measure.band_from = v.from;
         o.measure.band_to = v.to;
         o.band_unit = v.unit;
     }},
    {"--peaks", Takes::kWhole, kMaxWhole, true, "a whole number of peaks, 1 or more",
     [](ViewOptions& o, const Value& v) { o.measure.peaks = v.whole; }},
    {"--min-prominence", Takes::kPositive, 0, true, "a prominence above 0",
     [](ViewOptions& o, const Value& v) { o.measure.min_prominence = v.number; }},
    {"--fill", Takes::kFill, 0, true, "mean", [](ViewOptions& o, const Value&) { o.measure.fill = true; }},
    {"--acf", Takes::kNothing, 0, true, "", [](ViewOptions& o, const Value&) { o.measure.acf = true; }},
    {"--acf-threshold", Takes::kFraction, 0, true, "a threshold S with 0 < S < 1",
     [](ViewOptions& o, const Value& v) {
         o.measure.acf = true;
         o.measure.acf_threshold = v.number;
     }},
};
static_assert(4096 == kMaxThreads, "the --threads refusal names the limit");

// Reads an option's value; false when it is not one the option takes.
bool value_of(const Option& option, const std::string& text, Value& v) {
    switch (option.takes) {
        case Takes::kNothing: return true;
        case Takes::kPositive: return number_of(text, &v.number) && v.number > 0;
        case Takes::kFraction: return number_of(text, &v.number) && v.number > 0 && v.number < 1;
        case Takes::kWhole: return whole_of(text, 1, option.max, &v.whole);
        case Takes::kIndex: return whole_of(text, 0, option.max, &v.whole);
        case Takes::kPair: return pair_of(text, &v.from, &v.to);
        case Takes::kFill: return text == "mean";
        case Takes::kBand: return band_of(text, false, &v.from, &v.to, &v.unit);
        case Takes::kStrictBand: return band_of(text, true, &v.from, &v.to, &v.unit);
        case Takes::kLevel: return level_of(text, &v.level);
        case Takes::kWindow: return window_of(text, &v.window);
    }
    return false;
}

// The option argv[i] names, given as "--name", "--name=VALUE" or "--name VALUE" (an
// option without a value only as "--name"); null for none. Its value goes to `text`, and
// i past a separate value; `missing` is set when the value should follow and does not.
const Option* option_at(int argc, char** argv, int& i, std::string& text, bool& missing) {
    const char* arg = argv[i];
    for (const Option& option : kOptions) {
        const std::size_t n = std::strlen(option.name);
        if (std::strncmp(arg, option.name, n) != 0) continue;
        if (option.takes == Takes::kNothing) {
            if (arg[n] == '\0') return &option;
            continue;
        }
        if (arg[n] == '=') {
            text = arg + n + 1;
            return &option;
        }
        if (arg[n] != '\0') continue;
        if (i + 1 >= argc) {
            missing = true;
            return nullptr;
        }
        text = argv[++i];
        return &option;
    }
    return nullptr;
}

}  // namespace

const char* level_name(LevelKind kind) {
    for (const LevelWord& l : kLevels) {
        if (l.kind == kind) return l.word;
    }
    return "none";
}

int view_parse(int argc, char** argv, ViewOptions& options, std::string& input) {
    options = ViewOptions{};
    options.decades = kDefaultDecades;
    options.measure.z_scale = 1;
    options.measure.level = kLevelNone;
    options.measure.window = Window{kWindowNone, 1};
    options.measure.peaks = kDefaultPeaks;
    options.measure.min_prominence = kPeakMinProminence;
    options.measure.acf_threshold = kDefaultAcfThreshold;
    options.measure.threads = os_processor_count();
    options.channel = -1;
    int inputs = 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            input = arg;
            ++inputs;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_done = true;
            continue;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            report("%s", kUsage);
            report("Writes, with NAME named from the input as varlox names its outputs:\n");
            for (const OutputRow& row : kViewOutputs) {
                report("  NAME%-12s %s\n", row.suffix, row.holds);
            }
            report("%s", kHelpOptions);
            return 2;
        }
        std::string text;
        bool missing = false;
        const Option* option = option_at(argc, argv, i, text, missing);
        if (option == nullptr) {
            report("%s", kUsage);
            return 1;
        }
        Value value{};
        if (!value_of(*option, text, value)) {
            report("Error: %s takes %s, not '%s'\n", option->name, option->wants, text.c_str());
            return 1;
        }
        const SizeGiven before = options.size;
        option->set(options, value);
        if (before != kSizeNone && options.size != before) {
            report("Error: --length and --pixel-size both give the scan's size; give one of them\n");
            return 1;
        }
        options.measure.measuring = options.measure.measuring || option->measuring;
    }
    if (inputs != 1) {
        report("%s", kUsage);
        return 1;
    }
    return 0;
}
