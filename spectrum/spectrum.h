// The centred spectrum of a picture or of a grid of heights: the forward transform of
// spectrum/dft.h (its sign, its scale and its bits) with the zero frequency moved to the
// middle of the plane, at row height/2, column width/2. Frequency (u, v) of the plain
// transform, row u and column v, sits at ((u + height/2) mod height, (v + width/2) mod
// width); for an odd side the frequencies then run from -(side - 1)/2 to (side - 1)/2,
// for an even one from -side/2 to side/2 - 1.
//
// The planes are width*height doubles each, real and imaginary parts, row-major as in
// dft.h, owned by the caller. The samples are loaded already moved by half the sides, the
// transform runs, and the result is moved by half the sides again: the same bits as
// swap_quadrants, dft_2d_literal and swap_quadrants on the samples.
#pragma once

#include <cstdint>

#include "image/image.h"
#include "spectrum/dft.h"

// The cyclic shift of both planes by (height/2, width/2): element (y, x) moves to
// ((y + height/2) mod height, (x + width/2) mod width). Nothing happens for a side below 1.
void swap_quadrants(double* re, double* im, int32_t width, int32_t height);

// Fills the planes with the centred spectrum of the picture's grey levels, each pixel's
// level taken from its red byte. The transform takes the best path on `threads` threads
// (dft_2d_run), reporting through `progress` when it is not null. 0, or 1 after the
// transform's message.
int image_spectrum(const Image& image, double* re, double* im, const DftProgress* progress = nullptr,
                   int threads = 1);

// The same for a grid of heights, width*height doubles, row-major, row 0 the top. For the
// red bytes of a grey picture the planes are image_spectrum's, bit for bit.
int heights_spectrum(const double* z, uint32_t width, uint32_t height, double* re, double* im,
                     const DftProgress* progress = nullptr, int threads = 1);
