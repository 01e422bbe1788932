// The spectrum pictures, drawn onto the input Image, which serves as the canvas: every
// pixel is overwritten, so the picture keeps the input's size and rows. Pixel k (row-major,
// top-down) shows spectrum sample k. The planes are those spectrum_magnitudes leaves:
// amplitudes in one, powers in the other.
//
//   draw_gray(img, amp_plane, pow_plane, q, r)
//                   fills every pixel with the grey level of quantity q scaled by range r
//                   to 0..255, truncated; levels outside (-1, 256) become 255 (white)
//   draw_ramp(img, amp_plane, pow_plane, q, r)
//                   fills every pixel with the ramp colour of q scaled by r, clamped to
//                   [0, 1]
//   draw_log(img, amp_plane, top, decades, ramp)
//                   fills every pixel with its amplitude a on a log scale from `decades`
//                   decades below `top` up to `top`: t = 1 + log10(a / top) / decades,
//                   clamped to [0, 1], so that everything at or below the bottom shows
//                   as the bottom colour and everything above the top as the top one;
//                   the ramp colour of t, or the grey level t * 255 truncated
//   draw_signed(img, values, ramp)
//                   fills every pixel with its value v (a correlation) on a linear scale
//                   from -1 to 1: t = (v + 1) / 2, clamped to [0, 1] (NaN at 0); the ramp
//                   colour of t, or the grey level t * 255 truncated
#pragma once

#include "analysis/bins.h"
#include "image/image.h"

enum Quantity { kAmplitude, kPower };

void draw_gray(Image& image, const double* amplitude, const double* power, Quantity quantity,
               const ValueRange& range);
void draw_ramp(Image& image, const double* amplitude, const double* power, Quantity quantity,
               const ValueRange& range);
void draw_log(Image& image, const double* amplitude, double top, double decades, bool ramp);
void draw_signed(Image& image, const double* values, bool ramp);
