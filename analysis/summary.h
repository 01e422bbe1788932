// The summary of one measured picture: one header line naming the columns and one row,
// so that the summaries of many scans concatenate (without their header lines) into one
// table. Fields are added at the end of the record and of the columns, never between.
//
// Columns, in order:
//   picture          the input's name as given (quoted as CSV quotes a field when it
//                    holds a comma, a double quote or a line end)
//   side             N, samples along the side
//   pixel_size       L / N in metres with a side length, empty without one
//   rms              root mean square of the levelled heights (before any window), in
//                    the heights' unit
//   psd_slope, psd_slope_error, hurst, fit_from, fit_to, rows, psd_intercept
//                    the fit (fit.h): slope, its standard error, H = -slope / 2 - 1, the
//                    band as asked (cycles per side, or per metre with a length), the
//                    rows used, and the fitted psd at f = 1 in the band's unit (the line
//                    psd = psd_intercept * f^psd_slope); all empty without a fit
//   direction_deg, lay_deg, aspect
//                    the angular spectrum's dominant direction and lay, in degrees, and
//                    its aspect (angles.h); empty for a flat picture or a band without
//                    power
//   peak_period_px, peak_direction_deg
//                    the strongest peak's period in pixels and its direction (peaks.h);
//                    empty when there is no peak
// Numbers are written with "%.17g" (they read back as the same doubles), the decimal mark
// a point.
//
//   summary_write(file, summary)    the header line and the row; 0, or 1 when a write
//                                   failed
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "analysis/fit.h"

struct Summary {
    std::string picture;
    uint32_t side;
    double length;  // the side's length in metres, or 0 when not known
    double rms;
    bool fitted;
    PsdFit fit;
    double fit_from;
    double fit_to;
    // NaN where there is none, as for a flat picture; the field is then empty.
    double direction = std::numeric_limits<double>::quiet_NaN();
    double lay = std::numeric_limits<double>::quiet_NaN();
    double aspect = std::numeric_limits<double>::quiet_NaN();
    double peak_period_px = std::numeric_limits<double>::quiet_NaN();
    double peak_direction = std::numeric_limits<double>::quiet_NaN();
};

int summary_write(std::FILE* file, const Summary& summary);
