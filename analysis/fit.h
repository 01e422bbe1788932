// The power-law fit of a psd profile (psd.h): log10 psd against log10 f by least squares
// over the profile's rows in a band of frequencies, the first number people take from
// such a profile. For an isotropic self-affine surface psd ~ f^-2(1+H), so the Hurst
// exponent is H = -slope / 2 - 1 (and the fractal dimension 3 - H).
//
// A row is a bin with weight; its frequency is bin / 2 cycles per side, or that divided by
// the side's length L with a length (cycles per metre). A row takes part when from <= f
// <= to, f > 0 and psd > 0 (a logarithm needs both). The slope's standard error is the
// least-squares one, sqrt(sum of squared residuals / (rows - 2) / sum (x - mean x)^2) with
// x = log10 f; it assumes independent rows and so understates the error of rows whose
// spectra share samples.
//
//   psd_fit(bins, psd, length, from, to, fit)
//                                   the fit over the band; 0, or 1 after "Error: The fit
//                                   band F1 to F2 holds N rows with a psd above 0; a fit
//                                   needs 3 or more\n" (fit unchanged)
#pragma once

#include <cstdint>

#include "analysis/bins.h"
#include "analysis/psd.h"

struct PsdFit {
    uint64_t rows;       // rows used
    double slope;        // d log10 psd / d log10 f
    double slope_error;  // its standard error
    double intercept;    // the fitted psd at f = 1 (cycles per side, or per metre)
    double hurst;        // -slope / 2 - 1
};

int psd_fit(const RadialBins& bins, const Psd& psd, double length, double from, double to, PsdFit& fit);
