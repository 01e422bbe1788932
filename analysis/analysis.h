// The spectrum analysis of one picture, from the grey picture to its output files. It
// drives the output files itself: they are written under hidden temporaries and replace
// the files of those names all together, or not at all. Two runs share one measurement:
// varlox's five fixed outputs, and varlox-view's logarithmic picture and absolute
// profile, come from the same planes, bins and ranges, bit for bit.
//
//   spectrum_measure(image, outputs, spectrum, threads)
//                                allocates the planes and bins, creates the outputs'
//                                temporaries (so that a name that cannot be written is
//                                reported before the transform), computes the centred
//                                spectrum with the progress line, the transform on
//                                `threads` threads (the same bits for any number), turns it into
//                                amplitudes and powers and spreads them over the bins,
//                                widening the ranges; 0, or 1 after the message
//   analyze_spectrum(image, as_bw, as_tg, ps_bw, ps_tg, csv)
//                                varlox's analysis of a grey square picture into the
//                                five named files; the picture is used as the drawing
//                                canvas. Returns only on success: any failure has
//                                printed its message, removed what it wrote, and ended
//                                the process with status 1
//   view_spectrum(image, log_name, full_name, options)
//                                varlox-view's: the amplitude on a log scale into
//                                log_name and the absolute profile into full_name, with
//                                the same promise; returns what it wrote
#pragma once

#include <cstdint>
#include <string>

#include "analysis/bins.h"
#include "image/image.h"
#include "system/outputs.h"
#include "system/size.h"

// A measured spectrum: after spectrum_measure, `amplitude` and `power` hold each sample's
// amplitude and power (row-major, zero frequency at the centre), the bins their sums and
// the ranges those of every sample beyond the centre 3 x 3.
struct Spectrum {
    uint64_t count;
    Buffer<double> amplitude;
    Buffer<double> power;
    RadialBins bins;
    ValueRange amp;
    ValueRange pow;
};

struct ViewOptions {
    double decades;  // depth of the log scale below its top
    bool gray;       // grey levels instead of the colour ramp
    double length;   // the side's length in metres, or 0 when not known
    int threads;     // threads of the transform
};

// What view_spectrum wrote: the top and bottom of the log scale, and the profile's rows.
struct ViewReport {
    double top;
    double bottom;
    uint64_t rows;
    uint64_t last_bin;
};

int spectrum_measure(const Image& image, OutputSet& outputs, Spectrum& spectrum, int threads = 1);
void analyze_spectrum(Image& image, const std::string& as_bw_name, const std::string& as_tg_name,
                      const std::string& ps_bw_name, const std::string& ps_tg_name,
                      const std::string& csv_name);
ViewReport view_spectrum(Image& image, const std::string& log_name, const std::string& full_name,
                         const ViewOptions& options);
