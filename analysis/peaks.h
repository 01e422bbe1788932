// The spectrum's strongest peaks, found on the frequency grid and then measured between
// its samples by evaluating the transform exactly where the grid has no sample.
//
// The heights are those the spectrum was computed from, after levelling and before the
// window, width x height doubles, row-major, rows top-down; the window is its factor
// along a row (width values) and along a column (height values), or none. The power
// plane is centred as in analysis/angles.h, whose conventions of frequency and direction
// hold here too. The transform at any grid frequency (fx, fy), fx in cycles per width
// along the columns and fy in cycles per height upwards, is the sum
//     F(fx, fy) = sum over rows r and columns c of h[r][c] e^(-2 pi i (fx c / width - fy r / height))
// (fy counts upwards, the rows downwards) of the heights less their mean m, windowed:
// h[r][c] = (z[r][c] - m) wy[r] wx[c], with w = 1 without a window. Taking away m changes
// the grid only next to the zero frequency (for no window or Hann, only in the centre
// 3 x 3; nothing after levelling), so that at whole frequencies beyond those F's
// magnitude is that of the grid's sample at row height/2 - fy, column width/2 + fx
// (halves rounded down; the grid's phase is taken from the middle of the picture);
// between them the mean's leakage would otherwise pull every peak. F is not normalised:
// a cosine of amplitude A gives A/2 times the sum of the window there (A width height / 2
// without one). A peak's length and direction are those of its physical frequency
// (ax fx, ay fy) (plane.h), in cycles per reference side.
// Other strong components leak too, far less under a window: without one a peak next to
// a stronger one can be pulled by a few hundredths of a bin.
//
// A peak is a sample whose power is above that of its 8 neighbours (the plane wrapping
// round at its edges, as the transform is periodic; among equal samples the first in
// row-major order), outside the centre 3 x 3, and of each symmetric pair only the
// member whose direction lies in [0, 180). Both members are compared through their sum,
// so rounding in the transform cannot make one a peak and not the other.
//
// Refinement maximises |F|^2 by Newton's method, starting at the grid peak: each step
// evaluates F and its first and second derivatives in fx and fy in one pass over the
// heights (a complex exponential per row and per column, three complex sums per
// height, about 12 multiply-adds), takes the Newton step where the curvature is that of
// a maximum and a gradient step otherwise, halves a step that does not raise |F|^2, and
// stops when a step moves less than 1e-4 of a bin (the estimate then lies well within
// 1e-3 of a bin of the maximum, Newton's error shrinking with the square of the step),
// within a bin of the grid peak, bins counted along each axis. A peak costs a few passes
// (3 to 8 for a component of the picture), each about 12 width height multiply-adds:
// some 9 ms at a side of 2048.
//
//   peaks_find(power, width, height, axes, k, peaks, found)
//                                the k strongest peaks of the plane by grid power,
//                                into `peaks` (allocated here, k records, or fewer
//                                when the plane has fewer peaks: *found of them),
//                                each with its grid frequency and power share;
//                                false after the allocation message
//   peak_refine(z, width, height, axes, window_x, window_y, peak)
//                                the exact frequency, direction and amplitude of a peak
//                                found on the grid, in place, from the levelled heights
//                                z and the window's factors (null for none). False after
//                                the allocation message (the peak unchanged)
//   peaks_rank(peaks, found)     orders the refined peaks by amplitude, strongest first
#pragma once

#include <cstdint>

#include "analysis/plane.h"
#include "system/size.h"

struct Peak {
    int64_t grid_fx;     // the grid sample: frequency along the columns, cycles per width
    int64_t grid_fy;     //   and upwards, cycles per height
    double grid_power;   // its power
    double power_share;  // the power of the 3 x 3 around the sample and of the 3 x 3
                         // around its mirror, over that of every sample but the zero
                         // frequency: a lone grating of a whole frequency, without
                         // a window, has 1
    double fx;           // refined grid frequency, cycles per width, along the columns
    double fy;           //   and upwards, cycles per height; its direction in [0, 180)
    double frequency;    // the physical frequency's length, cycles per reference side
    double direction;    // the physical frequency's direction in degrees, folded
    double amplitude;    // |F| there
    uint32_t steps;      // passes the refinement took
};

bool peaks_find(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, uint64_t k,
                Buffer<Peak>& peaks, uint64_t* found);
bool peak_refine(const double* z, uint32_t width, uint32_t height, PlaneAxes axes, const double* window_x,
                 const double* window_y, Peak& peak);
void peaks_rank(Peak* peaks, uint64_t found);
