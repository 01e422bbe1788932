#include "analysis/analysis.h"

#include "spectrum/dft.h"
#include "system/progress.h"
#include "system/report.h"

int spectrum_measure(const Image& image, Spectrum& s) {
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
    ProgressLine line{};
    progress_begin(line);
    const DftProgress progress{progress_report, &line};
    const int transform_status = image_spectrum(image, s.amplitude.get(), s.power.get(), &progress);
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
