// The power spectral density of a height map, from its centred spectrum and radial bins
// (bins.h), in units that compare across scans of any side and pixel size.
//
// Definition, once. The heights z (levelled and windowed, level.h and window.h) of a
// square of N x N samples and side length L have the unnormalised transform F (dft.h).
// The 2-D PSD of a sample of the spectrum is
//   C = L^2 |F|^2 / N^4 / mean(w^2)
// with mean(w^2) the window's power (1 without a window). L is the side in metres when it
// is known, so C is in z^2 m^2 (height unit squared times metres squared), or L = N
// pixels and C is in z^2 px^2. Frequencies are in cycles (not radians) per unit: the
// sample (dx, dy) samples from the zero frequency lies at sqrt(dx^2 + dy^2) / L cycles
// per unit, bin b at b / 2 cycles per side, b / (2 N) cycles per pixel.
//
// The profile's psd of a bin is the ring mean: sum(share * C) / sum(share), the shares
// those of the bins (weight = sum of shares, a count of samples; all weights sum to N^2).
// Since every sample's shares sum to 1 and sum |F|^2 = N^2 sum z^2 (Parseval),
//   sum over bins of psd * weight / L^2 = mean(z^2) / mean(w^2),
// the mean square of the heights analysed (exactly, without a window). In integral form
// C d^2f with d^2f = 1 / L^2 per sample; the angle-integrated (1-D radial) PSD is
// 2 pi f psd(f), in z^2 per cycle per unit. A ring sum instead of the mean would be
// psd * weight. psd_sd is the ring's spread: the share-weighted standard deviation of C
// over the ring's samples (not the error of the mean, which is smaller by about the
// square root of half the weight, half the samples being mirror images of the others).
//
//   psd_scale(side, length, mean_square)
//                                L^2 / N^4 / mean(w^2), the factor from |F|^2 to C;
//                                length 0 takes L = side pixels
//   psd_from_spectrum(power, side, bins, length, mean_square, psd)
//                                the ring means and spreads of C for every bin, from the
//                                power plane (|F|^2, as spectrum_magnitudes leaves it)
//                                and the bins accumulated from it. Bins without weight
//                                get 0. 0, or 1 after the allocation message (psd
//                                unchanged)
#pragma once

#include <cstdint>

#include "analysis/bins.h"
#include "system/size.h"

struct Psd {
    uint64_t count;       // as many as the bins
    Buffer<double> mean;  // ring mean of C for each bin
    Buffer<double> sd;    // spread of C within each ring
};

double psd_scale(uint32_t side, double length, double mean_square);
int psd_from_spectrum(const double* power, uint32_t side, const RadialBins& bins, double length,
                      double mean_square, Psd& psd);
