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
// A measuring run searches (peaks_search) beyond the k strongest grid peaks, since a
// component between the grid's samples shows lower there: at worst, half a bin from a
// sample along both axes, it keeps L = Lx Ly of its power, Lx = |sum w e^(-i pi u / M)|^2
// / (sum w)^2 over a row's window factors w and centred columns u (about 0.405 without a
// window, 0.72 for Hann), Ly likewise. Climbs start from the grid peaks and from the 64
// strongest samples outside the centre 3 x 3 (one of each pair), which need not be grid
// peaks: next to the zero frequency's slope the samples around a maximum between them
// are lower than their neighbours nearer the centre. They are taken strongest first, and
// the search ends when k peaks are kept and the next sample's power is below L times the
// k-th strongest refined power (no weaker sample can then hide a stronger maximum), when
// it is below L times the least prominence times the least background of any ring (no
// weaker sample can give a listed peak), or when k + 6 climbs have been made. A sample is
// skipped when its power over L is below the least prominence times the least background
// of the rings within a cycle of it, or when an earlier climb passed through it or ended
// there. A climb stopped on the edge of its bin goes on within a bin of the sample
// nearest to where it stopped, up to 3 times, and takes at most 24 passes; one that enters
// the centre's cells (within 1.5 bins of the zero frequency along both axes) ends there.
// A climb that is stopped by its limits, ends on the edge of its bin, where |F|^2 does not curve as at a
// maximum, or in the centre's cells found no peak (it is the slope around the zero frequency); two ending
// within 0.05 bin of each other along both axes found one.
//
// Background and prominence. The background B at a peak is the median power of the
// grid samples whose physical frequency lies within one cycle per reference side of the
// peak's, leaving out the centre 3 x 3 and the 7 x 7 around the peak's nearest sample and
// around its mirror, divided by ln 2: the mean of the power there if it is noise (noise's
// power at a frequency is exponentially distributed, with median ln 2 times its mean).
// Where that leaves fewer than 64 samples (next to the centre) the ring is widened, to 2,
// 4, ... cycles either side, until it holds them or the whole plane.
// The prominence is the peak's refined power |F|^2 over B.
//
// Standard errors. Noise n of power B (E|n|^2 = B at every frequency) added to F moves
// the maximum of |F + n|^2 by delta = -H^-1 g, H the Hessian of |F|^2 at the maximum (in
// bins, as the refinement measures it) and g = 2 Re(conj(F) grad n) the noise's gradient
// there (the term conj(n) grad F vanishes at the maximum of a symmetric peak). With
// P = |F|^2, a = 2 pi / M, b = 2 pi / N, and the window's moments
// qx1 = sum(u wx^2) / sum(wx^2), qx2 = sum(u^2 wx^2) / sum(wx^2) (qy1, qy2 along the
// columns, v the centred rows),
//     cov(g) = 2 P B [[a^2 qx2, a b qx1 qy1], [a b qx1 qy1, b^2 qy2]],
//     cov(delta) = H^-1 cov(g) H^-1,
// which for a lone component without a window gives sqrt(B / 2P) sqrt(12) / (2 pi), about
// 0.55 sqrt(B / 2P) of a bin along each axis. The frequency's and the direction's
// standard errors follow to first order through (x, y) = (ax fx, ay fy):
//     var f = (x^2 var x + y^2 var y + 2 x y cov(x, y)) / f^2,
//     var theta = (y^2 var x + x^2 var y - 2 x y cov(x, y)) / f^4 (radians),
// and the period's error is S err(f) / f^2 (S the reference side in pixels).
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
//   peaks_search(power, z, width, height, axes, window_x, window_y, k, min_prominence,
//                peaks, found)
//                                the k strongest maxima of |F|^2 of prominence
//                                min_prominence or more, found as above, refined, with
//                                background, prominence and standard errors, strongest
//                                first, into `peaks` (allocated here; *found of them, up
//                                to k); false after the allocation message
#pragma once

#include <cstdint>

#include "analysis/plane.h"
#include "system/size.h"

// The least prominence of a listed peak unless another is asked for. White noise's
// strongest maximum between the grid's samples has a prominence of about 13 at a side of
// 256 (14.7 or less in 90 of 100 draws, at most 17.5), growing as the logarithm of the
// number of samples (about 19 at 2048): at 25, noise lists no peak at the sides measured.
constexpr double kPeakMinProminence = 25;

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
    // Set by peaks_search only (0 otherwise):
    double background;       // B, the background power at the peak (as |F|^2)
    double prominence;       // amplitude^2 / B
    double frequency_error;  // standard error of `frequency`, cycles per reference side
    double direction_error;  // standard error of `direction`, degrees
};

bool peaks_find(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, uint64_t k,
                Buffer<Peak>& peaks, uint64_t* found);
bool peak_refine(const double* z, uint32_t width, uint32_t height, PlaneAxes axes, const double* window_x,
                 const double* window_y, Peak& peak);
void peaks_rank(Peak* peaks, uint64_t found);
bool peaks_search(const double* power, const double* z, uint32_t width, uint32_t height, PlaneAxes axes,
                  const double* window_x, const double* window_y, uint64_t k, double min_prominence,
                  Buffer<Peak>& peaks, uint64_t* found);
