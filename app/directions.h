// varlox-view's directions and periods: the angular spectrum (NAME-angles.csv) and the
// strongest peaks (NAME-peaks.csv) of a measured spectrum, and the numbers the summary
// takes from them. The measurements and their conventions are those of
// analysis/angles.h and analysis/peaks.h; the band is --band F1:F2, in cycles per side,
// or per metre with --length (F * L cycles per side), by default 2 to side / 2.
//
//   directions_band(options, side, from, to)
//                               the band in cycles per side into *from, *to; 0, or 1
//                               after "Error: --band ... holds no frequency of this
//                               picture ..." when no sample of the plane lies in it
//   directions_write(z, window, power, side, options, psd_scale, outputs, found)
//                               writes both files into the set's open temporaries, from
//                               the levelled heights z (before the window; null for
//                               none), the window's factor and the centred power plane;
//                               psd_scale turns a mean power into the full profile's psd.
//                               0, or 1 after the failure's message; the summary's
//                               numbers go to *found (NaN where there is none). A flat
//                               picture (every height alike) has no direction, aspect
//                               or peak, its spectrum beyond the zero frequency being
//                               the transform's rounding
#pragma once

#include <cstdint>

#include "app/view.h"
#include "system/outputs.h"

// The summary's numbers: the dominant direction, the lay, the aspect (analysis/angles.h)
// and the strongest peak's period and direction; NaN when the band holds no power or no
// peak was found. `peaks` is the number of rows of the peaks file.
struct Directions {
    double direction;
    double lay;
    double aspect;
    double peak_period_px;
    double peak_direction;
    uint64_t peaks;
    double from;
    double to;
};

int directions_band(const ViewOptions& options, uint32_t side, double* from, double* to);
int directions_write(const double* z, const double* window, const double* power, uint32_t side,
                     const ViewOptions& options, double psd_scale, OutputSet& outputs,
                     Directions& found);
