// varlox's radial profile file: a three-line header (the second followed by an empty
// line), then one "%d,%e,%e" row per bin from 1 to half the side that has weight: the bin
// index, its mean amplitude and its mean power, each column rescaled to 0..1 over the
// rows written (a column of equal means reads 0). The format is fixed: scripts read it.
//
//   profile_write_header(file)   the three header lines; 0, or 1 when the write failed
//   profile_write_rows(f, b, h)  turns bins 1..h into means in place (radial_means) and
//                                writes one row per bin with weight; 0, or 1 when a
//                                write failed
#pragma once

#include <cstdint>
#include <cstdio>

#include "analysis/bins.h"

int profile_write_header(std::FILE* file);
int profile_write_rows(std::FILE* file, RadialBins& bins, uint64_t half);
