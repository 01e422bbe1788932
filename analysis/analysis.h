// The spectrum analysis of one picture: the measurement that both programs share. It
// returns what it measured and writes nothing; the programs decide which files to make
// of it (the pictures with draw.h, the profiles with profile.h). varlox's five fixed
// outputs and varlox-view's logarithmic picture and absolute profile come from the same
// planes, bins and ranges, bit for bit.
//
//   spectrum_measure(image, spectrum, threads)
//                                allocates the planes and bins, computes the grey square
//                                picture's centred spectrum with the progress line (the
//                                transform on `threads` threads, the same bits for any
//                                number; see dft_2d_run), turns
//                                it into amplitudes and powers and spreads them over the
//                                bins, widening the ranges; 0, or 1 after the message
//                                (what was allocated is released with the record)
//   heights_measure(z, width, height, spectrum, threads, axes)
//                                the same for a grid of heights (image/heights.h layout)
//                                through heights_spectrum, its samples binned at their
//                                physical frequencies (plane.h; PlaneAxes{1, 1}, the
//                                default, for the plain grid): for the red bytes of a
//                                grey picture the record is spectrum_measure's, bit for
//                                bit
#pragma once

#include <cstdint>

#include "analysis/bins.h"
#include "analysis/plane.h"
#include "image/image.h"
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

int spectrum_measure(const Image& image, Spectrum& spectrum, int threads = 1);
int heights_measure(const double* z, uint32_t width, uint32_t height, Spectrum& spectrum, int threads = 1,
                    PlaneAxes axes = PlaneAxes{1, 1});
