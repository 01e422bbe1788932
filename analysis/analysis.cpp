#include "analysis/analysis.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "analysis/outputs.h"
#include "analysis/progress.h"
#include "image/bmp.h"
#include "spectrum/dft.h"

ValueRange value_range_fresh() { return ValueRange{DBL_MAX, DBL_MIN}; }

void value_range_widen(ValueRange& range, double value) {
    if (value < range.minimum) range.minimum = value;
    if (value > range.maximum) range.maximum = value;
}

double value_range_scale(const ValueRange& range, double value) {
    double width = range.maximum - range.minimum;
    if (width == 0) {
        // All values alike: scale as if the range were 1 wide, so they map to 0.
        width = 1;
    }
    return (value - range.minimum) / width;
}

uint64_t radial_bin_count(uint32_t width, uint32_t height) {
    const uint64_t sum = uint64_t{width} * width + uint64_t{height} * height;
    return static_cast<uint64_t>(std::sqrt(static_cast<double>(sum)) * 2);
}

bool radial_bins_new(RadialBins& bins, uint64_t count) {
    bins.count = count;
    bins.weight = buffer_new<double>(count);
    bins.amp_sum = bins.weight ? buffer_new<double>(count) : Buffer<double>();
    bins.pow_sum = bins.amp_sum ? buffer_new<double>(count) : Buffer<double>();
    if (!bins.pow_sum) {
        return false;
    }
    std::memset(bins.weight.get(), 0, count * sizeof(double));
    std::memset(bins.amp_sum.get(), 0, count * sizeof(double));
    std::memset(bins.pow_sum.get(), 0, count * sizeof(double));
    return true;
}

void spectrum_magnitudes(double* re, double* im, uint64_t count) {
    for (uint64_t k = 0; k < count; ++k) {
        const double power = re[k] * re[k] + im[k] * im[k];
        re[k] = std::sqrt(power);
        im[k] = power;
    }
}

void radial_accumulate(const double* amplitude, const double* power, uint32_t width,
                       uint32_t height, RadialBins& bins, ValueRange& amp, ValueRange& pow) {
    const int64_t half = width / 2;
    uint64_t k = 0;
    for (int64_t y = 0; y < height; ++y) {
        const int64_t dy = y - half;
        for (int64_t x = 0; x < width; ++x, ++k) {
            const int64_t dx = x - half;
            const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
            const double p = 2 * d;
            const auto b = static_cast<uint64_t>(p);
            const double f = p - static_cast<double>(b);
            const double a = amplitude[k];
            const double w = power[k];
            bins.weight[b] += 1 - f;
            bins.amp_sum[b] += (1 - f) * a;
            bins.pow_sum[b] += (1 - f) * w;
            if (b + 1 < bins.count) {
                bins.weight[b + 1] += f;
                bins.amp_sum[b + 1] += f * a;
                bins.pow_sum[b + 1] += f * w;
            }
            // The centre sample and its eight neighbours stay out of the ranges: the zero
            // frequency would otherwise squeeze the rest of the spectrum into black.
            if (b > 2) {
                value_range_widen(amp, a);
                value_range_widen(pow, w);
            }
        }
    }
}

namespace {

void report_write(const std::string& name) {
    std::fprintf(stderr, "Error: Could not write to %s\n", name.c_str());
}

// The analysis proper, written into the set's temporaries; returns 0, or 1 after printing
// the failure's message. Everything it allocates is released when it returns; the
// outputs are committed by the caller.
int analyze(Image& image, OutputSet& outputs) {
    uint64_t count = 0;
    if (!size_mul(image.width, image.height, &count)) {
        report_alloc_failure();
        return 1;
    }
    Buffer<double> re = buffer_new<double>(count);
    Buffer<double> im = re ? buffer_new<double>(count) : Buffer<double>();
    if (!im) {
        return 1;
    }
    RadialBins bins{};
    if (!radial_bins_new(bins, radial_bin_count(image.width, image.height))) {
        return 1;
    }
    // Every output is created before the long transform, so that a name that cannot be
    // written is reported at once.
    if (outputs_create(outputs) != 0) {
        return 1;
    }
    std::FILE* csv = outputs_file(outputs, kProfile);
    const std::string& csv_name = outputs.names[kProfile];
    ProgressLine line{};
    progress_begin(line);
    const DftProgress progress{progress_report, &line};
    const int transform_status = image_spectrum(image, re.get(), im.get(), &progress);
    progress_end(line);
    if (transform_status != 0) {
        return 1;
    }
    if (profile_write_header(csv) != 0) {
        report_write(csv_name);
        return 1;
    }
    ValueRange amp = value_range_fresh();
    ValueRange pow = value_range_fresh();
    // Power and amplitude once for the bins and all four pictures: from here on re holds
    // the amplitudes and im the powers.
    spectrum_magnitudes(re.get(), im.get(), count);
    radial_accumulate(re.get(), im.get(), image.width, image.height, bins, amp, pow);

    struct Picture {
        OutputName name;
        bool ramp;
        Quantity quantity;
        const ValueRange* range;
    };
    const Picture pictures[4] = {{kAmpGray, false, kAmplitude, &amp},
                                 {kAmpRamp, true, kAmplitude, &amp},
                                 {kPowGray, false, kPower, &pow},
                                 {kPowRamp, true, kPower, &pow}};
    for (const Picture& pic : pictures) {
        if (pic.ramp) {
            draw_ramp(image, re.get(), im.get(), pic.quantity, *pic.range);
        } else {
            draw_gray(image, re.get(), im.get(), pic.quantity, *pic.range);
        }
        if (bmp_write_file(outputs_file(outputs, pic.name), outputs.names[pic.name], image) != 0 ||
            outputs_close(outputs, pic.name) != 0) {
            return 1;
        }
    }
    if (profile_write_rows(csv, bins, image.width / 2) != 0) {
        report_write(csv_name);
        return 1;
    }
    return outputs_close(outputs, kProfile);
}

}  // namespace

void analyze_spectrum(Image& image, const std::string& as_bw_name, const std::string& as_tg_name,
                      const std::string& ps_bw_name, const std::string& ps_tg_name,
                      const std::string& csv_name) {
    OutputSet outputs = outputs_new({as_bw_name, as_tg_name, ps_bw_name, ps_tg_name, csv_name});
    if (analyze(image, outputs) != 0 || outputs_commit(outputs) != 0) {
        outputs_discard(outputs);
        std::exit(1);
    }
}
