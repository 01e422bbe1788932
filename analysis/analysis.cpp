#include "analysis/analysis.h"

#include "spectrum/spectrum.h"
#include "system/progress.h"
#include "system/report.h"

namespace {

// What fills the planes with a centred spectrum: a picture or a grid of heights.
struct Source {
    const Image* image;
    const double* z;
    PlaneAxes axes;
};

int measure(const Source& source, uint32_t width, uint32_t height, Spectrum& s, int threads) {
    if (!size_mul(width, height, &s.count)) {
        report_alloc_failure();
        return 1;
    }
    // The planes start as the real and imaginary parts of the spectrum.
    s.amplitude = buffer_new<double>(s.count);
    s.power = s.amplitude ? buffer_new<double>(s.count) : Buffer<double>();
    if (!s.power) {
        return 1;
    }
    if (!radial_bins_new(s.bins, radial_bin_count(width, height))) {
        return 1;
    }
    ProgressLine line{};
    progress_begin(line);
    const DftProgress progress{progress_report, &line};
    const int transform_status =
        source.image != nullptr
            ? image_spectrum(*source.image, s.amplitude.get(), s.power.get(), &progress, threads)
            : heights_spectrum(source.z, width, height, s.amplitude.get(), s.power.get(), &progress, threads);
    progress_end(line);
    if (transform_status != 0) {
        return 1;
    }
    // Power and amplitude once, for the bins and every picture.
    spectrum_magnitudes(s.amplitude.get(), s.power.get(), s.count);
    s.amp = value_range_fresh();
    s.pow = value_range_fresh();
    radial_accumulate(s.amplitude.get(), s.power.get(), width, height, s.bins, s.amp, s.pow, source.axes.ax,
                      source.axes.ay);
    return 0;
}

}  // namespace

int spectrum_measure(const Image& image, Spectrum& s, int threads) {
    return measure(Source{&image, nullptr, PlaneAxes{1, 1}}, image.width, image.height, s, threads);
}

int heights_measure(const double* z, uint32_t width, uint32_t height, Spectrum& s, int threads,
                    PlaneAxes axes) {
    return measure(Source{nullptr, z, axes}, width, height, s, threads);
}
