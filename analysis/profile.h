// The radial profile files.
//
// varlox's profile: a three-line header (the second followed by an empty line), then one
// "%d,%e,%e" row per bin from 1 to half the side that has weight: the bin index, its
// mean amplitude and its mean power, each column rescaled to 0..1 over the rows written
// (a column of equal means reads 0).
//
// The full profile (varlox-view's): a line naming the columns, then one row per bin with
// weight, from bin 0 out to the corner's bin: the bin index, cycles per picture side
// (bin / 2), cycles per metre when the side's length is known (cycles per side / L),
// the mean amplitude, the mean power and the bin's weight. The means are sum / weight, as
// varlox computes them before rescaling; nothing is rescaled. Numbers are written with
// "%.17g", which reads back as the same double, and with a point as the decimal mark
// whatever the locale (the program never changes the C locale).
//
//   profile_write_header(file)   the three header lines; 0, or 1 when the write failed
//   profile_write_rows(f, b, h)  turns bins 1..h into means in place and writes one row
//                                per bin with weight; 0, or 1 when a write failed
//   profile_write_full(f, b, length, rows, last)
//                                the full profile of bins b (left unchanged); length 0
//                                leaves out the cycles per metre. The number of rows and
//                                the last bin written go to *rows and *last; 0, or 1 when
//                                a write failed
//   profile_write_psd(f, b, psd, side, length, rows, last)
//                                the full profile with three more columns at the end of
//                                each row (psd.h): cycles_per_pixel (bin / 2 / side), psd
//                                (the ring mean of the 2-D PSD) and psd_sd (its spread
//                                in the ring); the other columns exactly as
//                                profile_write_full writes them
#pragma once

#include <cstdint>
#include <cstdio>

#include "analysis/bins.h"
#include "analysis/psd.h"

int profile_write_header(std::FILE* file);
int profile_write_rows(std::FILE* file, RadialBins& bins, uint64_t half);
int profile_write_full(std::FILE* file, const RadialBins& bins, double length, uint64_t* rows,
                       uint64_t* last);
int profile_write_psd(std::FILE* file, const RadialBins& bins, const Psd& psd, uint32_t side,
                      double length, uint64_t* rows, uint64_t* last);
