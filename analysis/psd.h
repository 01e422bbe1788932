// The power spectral density of a height map, from its centred spectrum and radial bins
// (bins.h), in units that compare across scans of any side and pixel size.
//
// Definition, once. The heights z (levelled and windowed, level.h and window.h) of a scan
// of M columns by N rows, Lx wide and Ly high, have the unnormalised transform F (dft.h).
// The 2-D PSD of a sample of the spectrum is
//   C = Lx Ly |F|^2 / (M N)^2 / mean(w^2)
// with mean(w^2) the window's power (1 without a window). Lx and Ly are in metres when
// they are known, so C is in z^2 m^2 (height unit squared times metres squared), or
// Lx = M and Ly = N pixels and C is in z^2 px^2. Frequencies are in cycles (not radians)
// per unit: the sample dx columns and dy rows from the zero frequency lies at
// sqrt((dx / Lx)^2 + (dy / Ly)^2) cycles per unit, and the rings are taken at that
// physical frequency (plane.h), bin b at b / 2 cycles per reference side (the shorter of
// Lx and Ly); for a square of side N, b / (2 N) cycles per pixel.
//
// The profile's psd of a bin is the ring mean: sum(share * C) / sum(share), the shares
// those of the bins (weight = sum of shares, a count of samples; all weights sum to M N).
// Since every sample's shares sum to 1 and sum |F|^2 = M N sum z^2 (Parseval),
//   sum over bins of psd * weight / (Lx Ly) = mean(z^2) / mean(w^2),
// the mean square of the heights analysed (exactly, without a window). In integral form
// C d^2f with d^2f = 1 / (Lx Ly) per sample; the angle-integrated (1-D radial) PSD is
// 2 pi f psd(f), in z^2 per cycle per unit. A ring sum instead of the mean would be
// psd * weight. psd_sd is the ring's spread: the share-weighted standard deviation of C
// over the ring's samples (not the error of the mean, which is smaller by about the
// square root of half the weight, half the samples being mirror images of the others).
//
//   psd_scale(grid, mean_square)
//                                Lx Ly / (M N)^2 / mean(w^2), the factor from |F|^2 to C
//   psd_from_spectrum(power, grid, bins, mean_square, psd)
//                                the ring means and spreads of C for every bin, from the
//                                power plane (|F|^2, as spectrum_magnitudes leaves it)
//                                and the bins accumulated from it at the grid's axes.
//                                Bins without weight get 0. 0, or 1 after the allocation
//                                message (psd unchanged)
#pragma once

#include <cstdint>

#include "analysis/bins.h"
#include "analysis/plane.h"
#include "system/size.h"

struct Psd {
    uint64_t count;       // as many as the bins
    Buffer<double> mean;  // ring mean of C for each bin
    Buffer<double> sd;    // spread of C within each ring
};

// A scan's grid and its size: M columns, N rows, Lx wide and Ly high (in metres, or in
// pixels, M and N, when no size is known), and the axes plane_axes gives for them.
struct ScanGrid {
    uint32_t width;
    uint32_t height;
    double length_x;
    double length_y;
    PlaneAxes axes;
};

double psd_scale(const ScanGrid& grid, double mean_square);
int psd_from_spectrum(const double* power, const ScanGrid& grid, const RadialBins& bins, double mean_square,
                      Psd& psd);
