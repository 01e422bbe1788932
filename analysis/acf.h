// The autocorrelation of a height map and the field parameters drawn from it and from the
// heights themselves (the ISO 25178-2 names): Sal, Str and the direction of the fastest
// decay from the autocorrelation; Sq, Sa, Ssk, Sku, Sp, Sv, Sz from the heights; Sdq and
// Sdr from their gradient; Stdi from the angular spectrum (angles.h). The module opens no
// file and reads no option text.
//
// Heights. The map's heights are taken as given (levelled, before any window), less their
// mean (exactly 0 for equal heights): every parameter here is about the mean plane of
// what was levelled. With d the
// heights less their mean, n = width * height:
//   Sq = sqrt(sum d^2 / n)   Sa = sum |d| / n   Ssk = sum d^3 / (n Sq^3)
//   Sku = sum d^4 / (n Sq^4)   Sp = max d   Sv = -min d (a depth, 0 or more)   Sz = Sp + Sv
// Sq, Sa, Sp, Sv and Sz are in the heights' unit; Ssk and Sku have none (NaN when Sq = 0).
//
// Gradient. Along each axis a central difference in the interior, (z[i+1] - z[i-1]) /
// (2 step), and a one-sided one at the first and last sample, (z[1] - z[0]) / step; 0
// along an axis of one sample. Steps are the pixel's width dx and height dy (metres, or 1
// when the pixel is the unit). Sdq = sqrt(sum (gx^2 + gy^2) / n) and Sdr = sum
// (sqrt(1 + gx^2 + gy^2) - 1) / n, a ratio (100 Sdr is the percentage often quoted): both
// read as slopes only when the heights are in the lengths' unit.
//
// Autocorrelation. The linear (not circular) autocorrelation of d at lag (tx, ty) columns
// and rows, tx from -(width - 1) to width - 1 and ty likewise,
//   R(tx, ty) = sum d(x, y) d(x + tx, y + ty) / ((width - |tx|) (height - |ty|)),
// over the pairs that lie in the map: each lag is divided by its own count of pairs (the
// unbiased estimate, which grows noisy at long lags where few pairs remain). It is
// computed exactly through the transform of the heights padded with zeros to 2 width x
// 2 height (the power, then the inverse transform). The direct transform of that plane
// would cost 8 times the map's own, each way: 16 of the map's transforms (at side 512 a
// padded plane of 1024, at 2048 one of 4096). Instead the padded plane's transform is
// taken as four transforms of the map's size, of the heights shifted by half a
// frequency step along none, either or both axes (their frequencies interleave to make
// the padded plane's), and its inverse likewise: 8 of the map's transforms, and 32 bytes
// per pixel of the map for the plane and the transform's table. The normalised ACF is
// A = R / R(0, 0), 1 at the origin; a map of equal heights has none (NaN throughout).
//
// The lag window. Only lags |tx| <= width / 2 and |ty| <= height / 2 (rounded down) are
// kept and searched, where at least a quarter of the pairs remain. A lag's physical
// position is (tx dx, -ty dy): directions, as everywhere in the program, in degrees
// counter-clockwise from the rightward axis with up at 90, folded into [0, 180) as the
// ACF is symmetric (A(t) = A(-t)).
//
// Sal and Str for a threshold s (0 < s < 1): along the ray from the origin in each
// direction, A (bilinear between lags) is followed in steps of a quarter of the finer
// pixel side until it first falls to s or below; the crossing is interpolated linearly
// between the last two steps. Only the region reached from the origin without falling
// to s counts: a lobe further out that rises above s again does not. A ray that reaches
// the lag window's edge still above s is capped there. Sal is the shortest crossing over
// the rays of every quarter degree, refined by a parabola through its neighbours. The
// direction of the fastest decay is the short axis of the ellipse fitted by least squares
// to the crossings (those of the capped rays left out), which averages the error of the
// bilinear contour between lags; without such an ellipse, the shortest crossing's
// direction. Str = Sal over the longest crossing (or cap)
// refined the same way, flagged as capped when the longest ray ended at the window's edge
// (a grating has no slowest decay within any window: its Str is then an upper bound).
// Sal is NaN when no ray crosses s, Str too.
//
// Decay. The radial decay is the mean of A over rings of lag distance of the finer pixel
// side's width, ring i holding the lags of the window at distance [i - 1/2, i + 1/2)
// steps; the directional decay is the crossing (or cap) of the ray at every whole degree.
//
//   acf_measure(z, width, height, dx, dy, threshold, threads, acf)
//                               every number of AcfResult from the heights z (row-major,
//                               row 0 the top, left unchanged), the transform on
//                               `threads` threads; 0, or 1 after the allocation message,
//                               or "Error: The autocorrelation takes a map of at most
//                               1073741823 columns and rows\n" (acf then as before)
//   acf_stdi(angles)            Stdi: the angular spectrum's mean over its sectors, over
//                               its largest sector mean; NaN when no sector has power
#pragma once

#include <cstdint>

#include "analysis/angles.h"
#include "system/size.h"

constexpr uint32_t kAcfDirections = 180;  // the directional decay, one a degree

struct AcfResult {
    // The normalised ACF over the lag window, (2 lags_x + 1) x (2 lags_y + 1) values,
    // row-major: lag (tx, ty) at row lags_y + ty, column lags_x + tx.
    Buffer<double> plane;
    uint32_t lags_x;
    uint32_t lags_y;
    double dx;  // the lag steps: the pixel's width and height, metres or 1
    double dy;
    double threshold;
    // Radial decay: rings of width ring_step, the mean of A and the count of lags.
    Buffer<double> ring_mean;
    Buffer<uint64_t> ring_count;
    uint64_t rings;
    double ring_step;
    // Directional decay: the crossing distance at each whole degree, and whether it is a cap.
    double crossing[kAcfDirections];
    bool capped[kAcfDirections];
    double sal;            // in dx's unit
    double sal_direction;  // degrees, the fastest decay
    double str;
    bool str_capped;
    double sq, sa, ssk, sku, sp, sv, sz;  // the heights' unit, Ssk and Sku none
    double sdq, sdr;
};

int acf_measure(const double* z, uint32_t width, uint32_t height, double dx, double dy, double threshold,
                int threads, AcfResult& acf);
double acf_stdi(const AngularSpectrum& angles);
