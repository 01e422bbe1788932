// Windows: the taper that makes a scan's edges meet before its spectrum is taken, so
// that the jump between opposite edges does not leak power along the spectrum's axes.
// Applied in double precision to the levelled heights (level.h), nothing rounded.
//
// The window is separable, w(r, c) = w1(r) w1(c), each factor over its own line (the
// height's rows, the width's columns), and periodic (DFT-even) over a line of n samples: with p = i / n, the
// Tukey taper of fraction A (0 < A <= 1) is
//   0.5 - 0.5 cos(2 pi p / A)        for p < A / 2
//   0.5 - 0.5 cos(2 pi (1 - p) / A)  for p > 1 - A / 2
//   1                                 between,
// and Hann is Tukey with A = 1, sin^2(pi i / n) (the taper varlox-prepare applies).
//
// A window removes power: the mean square of w z is about mean(w^2) times that of z.
// The density is divided by mean(w^2) = mean(w1(r)^2) mean(w1(c)^2), which restores the level of a
// broad spectrum (white noise has the same density with and without a window). It does
// not undo the smoothing: each sample of the windowed spectrum is the true one convolved
// with the window's own spectrum, a few samples wide, so the lowest frequencies and any
// narrow peak are spread, and a steep spectrum still leaks into its neighbours through
// the window's side lobes (far less than without a window).
//
//   window_weight(window, i, n)  w1(i) of a line of n samples; 1 without a window
//   window_apply(z, width, height, window, mean_square)
//                                multiplies the heights by the window in place and puts
//                                mean(w^2) in *mean_square (1 without a window, z
//                                unchanged); 0, or 1 after the allocation message or
//                                "Error: A window needs a picture of 2 or more columns
//                                and rows\n" (z unchanged)
#pragma once

#include <cstdint>

enum WindowKind { kWindowNone, kWindowHann, kWindowTukey };

struct Window {
    WindowKind kind;
    double fraction;  // Tukey's A; 1 for Hann
};

double window_weight(const Window& window, uint64_t i, uint64_t n);
int window_apply(double* z, uint32_t width, uint32_t height, const Window& window, double* mean_square);
