#include "analysis/analysis.h"

#include <cstdio>
#include <cstdlib>

#include "analysis/bins.h"
#include "analysis/draw.h"
#include "analysis/profile.h"
#include "image/bmp.h"
#include "spectrum/dft.h"
#include "system/outputs.h"
#include "system/progress.h"
#include "system/report.h"
#include "system/size.h"

namespace {

// The outputs by their number in the set: the profile is added, and so created, first.
enum Output { kCsv, kAmpGray, kAmpRamp, kPowGray, kPowRamp };

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
    std::FILE* csv = outputs_file(outputs, kCsv);
    const std::string& csv_name = outputs.files[kCsv].name;
    ProgressLine line{};
    progress_begin(line);
    const DftProgress progress{progress_report, &line};
    const int transform_status = image_spectrum(image, re.get(), im.get(), &progress);
    progress_end(line);
    if (transform_status != 0) {
        return 1;
    }
    if (profile_write_header(csv) != 0) {
        report_write_failure(csv_name);
        return 1;
    }
    ValueRange amp = value_range_fresh();
    ValueRange pow = value_range_fresh();
    // Power and amplitude once for the bins and all four pictures: from here on re holds
    // the amplitudes and im the powers.
    spectrum_magnitudes(re.get(), im.get(), count);
    radial_accumulate(re.get(), im.get(), image.width, image.height, bins, amp, pow);

    struct Picture {
        Output output;
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
        if (bmp_write_file(outputs_file(outputs, pic.output), outputs.files[pic.output].name,
                           image) != 0 ||
            outputs_close(outputs, pic.output) != 0) {
            return 1;
        }
    }
    if (profile_write_rows(csv, bins, image.width / 2) != 0) {
        report_write_failure(csv_name);
        return 1;
    }
    return outputs_close(outputs, kCsv);
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
