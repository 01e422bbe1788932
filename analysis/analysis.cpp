#include "analysis/analysis.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "analysis/draw.h"
#include "analysis/profile.h"
#include "image/bmp.h"
#include "spectrum/dft.h"
#include "system/progress.h"
#include "system/report.h"

int spectrum_measure(const Image& image, OutputSet& outputs, Spectrum& s, int threads) {
    if (!size_mul(image.width, image.height, &s.count)) {
        report_alloc_failure();
        return 1;
    }
    // The planes start as the real and imaginary parts of the spectrum.
    s.amplitude = buffer_new<double>(s.count);
    s.power = s.amplitude ? buffer_new<double>(s.count) : Buffer<double>();
    if (!s.power) {
        return 1;
    }
    if (!radial_bins_new(s.bins, radial_bin_count(image.width, image.height))) {
        return 1;
    }
    // Every output is created before the long transform, so that a name that cannot be
    // written is reported at once.
    if (outputs_create(outputs) != 0) {
        return 1;
    }
    ProgressLine line{};
    progress_begin(line);
    const DftProgress progress{progress_report, &line};
    const int transform_status = image_spectrum(image, s.amplitude.get(), s.power.get(), &progress, threads);
    progress_end(line);
    if (transform_status != 0) {
        return 1;
    }
    // Power and amplitude once, for the bins and every picture.
    spectrum_magnitudes(s.amplitude.get(), s.power.get(), s.count);
    s.amp = value_range_fresh();
    s.pow = value_range_fresh();
    radial_accumulate(s.amplitude.get(), s.power.get(), image.width, image.height, s.bins, s.amp,
                      s.pow);
    return 0;
}

namespace {

// varlox's outputs by their number in the set: the profile is added, and so created, first.
enum Output { kCsv, kAmpGray, kAmpRamp, kPowGray, kPowRamp };

// varlox's analysis, written into the set's temporaries; returns 0, or 1 after printing
// the failure's message. Everything it allocates is released when it returns; the
// outputs are committed by the caller.
int analyze(Image& image, OutputSet& outputs) {
    Spectrum s{};
    if (spectrum_measure(image, outputs, s) != 0) {
        return 1;
    }
    std::FILE* csv = outputs_file(outputs, kCsv);
    const std::string& csv_name = outputs.files[kCsv].name;
    if (profile_write_header(csv) != 0) {
        report_write_failure(csv_name);
        return 1;
    }
    struct Picture {
        Output output;
        bool ramp;
        Quantity quantity;
        const ValueRange* range;
    };
    const Picture pictures[4] = {{kAmpGray, false, kAmplitude, &s.amp},
                                 {kAmpRamp, true, kAmplitude, &s.amp},
                                 {kPowGray, false, kPower, &s.pow},
                                 {kPowRamp, true, kPower, &s.pow}};
    for (const Picture& pic : pictures) {
        if (pic.ramp) {
            draw_ramp(image, s.amplitude.get(), s.power.get(), pic.quantity, *pic.range);
        } else {
            draw_gray(image, s.amplitude.get(), s.power.get(), pic.quantity, *pic.range);
        }
        if (bmp_write_file(outputs_file(outputs, pic.output), outputs.files[pic.output].name,
                           image) != 0 ||
            outputs_close(outputs, pic.output) != 0) {
            return 1;
        }
    }
    if (profile_write_rows(csv, s.bins, image.width / 2) != 0) {
        report_write_failure(csv_name);
        return 1;
    }
    return outputs_close(outputs, kCsv);
}

// varlox-view's outputs, in the order they are created.
enum ViewOutput { kFull, kLog };

int view(Image& image, OutputSet& outputs, const ViewOptions& options, ViewReport& report) {
    Spectrum s{};
    if (spectrum_measure(image, outputs, s, options.threads) != 0) {
        return 1;
    }
    // The top of the scale is the largest amplitude outside the centre 3 x 3, as in
    // varlox's pictures; the bottom lies `decades` decades below.
    report.top = s.amp.maximum;
    report.bottom = s.amp.maximum * std::pow(10.0, -options.decades);
    draw_log(image, s.amplitude.get(), report.top, options.decades, !options.gray);
    if (bmp_write_file(outputs_file(outputs, kLog), outputs.files[kLog].name, image) != 0 ||
        outputs_close(outputs, kLog) != 0) {
        return 1;
    }
    if (profile_write_full(outputs_file(outputs, kFull), s.bins, options.length, &report.rows,
                           &report.last_bin) != 0) {
        report_write_failure(outputs.files[kFull].name);
        return 1;
    }
    return outputs_close(outputs, kFull);
}

}  // namespace

void analyze_spectrum(Image& image, const std::string& as_bw_name, const std::string& as_tg_name,
                      const std::string& ps_bw_name, const std::string& ps_tg_name,
                      const std::string& csv_name) {
    OutputSet outputs;
    // In the order of the Output numbers above.
    outputs_add(outputs, csv_name, true);
    outputs_add(outputs, as_bw_name, false);
    outputs_add(outputs, as_tg_name, false);
    outputs_add(outputs, ps_bw_name, false);
    outputs_add(outputs, ps_tg_name, false);
    if (analyze(image, outputs) != 0 || outputs_commit(outputs) != 0) {
        outputs_discard(outputs);
        std::exit(1);
    }
}

ViewReport view_spectrum(Image& image, const std::string& log_name, const std::string& full_name,
                         const ViewOptions& options) {
    OutputSet outputs;
    // In the order of the ViewOutput numbers above.
    outputs_add(outputs, full_name, true);
    outputs_add(outputs, log_name, false);
    ViewReport report{};
    if (view(image, outputs, options, report) != 0 || outputs_commit(outputs) != 0) {
        outputs_discard(outputs);
        std::exit(1);
    }
    return report;
}
