// The power-law fit of a psd profile (psd.h): log10 psd against log10 f by least squares
// over the profile's rows in a band of frequencies, the first number people take from
// such a profile. For an isotropic self-affine surface psd ~ f^-2(1+H), so the Hurst
// exponent is H = -slope / 2 - 1 (and the fractal dimension 3 - H); it describes such a
// surface only for 0 < H < 1, and the fit states it only there.
//
// A row is a bin with weight; its frequency is bin / 2 cycles per side, or that divided by
// the side's length L with a length (cycles per metre). A row takes part when from <= f
// <= to (both ends within a relative 1e-12, the rounding of a band converted from another
// unit), f > 0 and psd > 0 (a logarithm needs both). The slope is the ordinary
// least-squares one, slope = sum a_b y_b with y = log10 psd, x = log10 f and
// a_b = (x_b - mean x) / sum (x - mean x)^2.
//
// Its standard error comes from a model of each ring's scatter, not from the residuals,
// which understate it (rows share samples, and a ring of few samples scatters far more
// than its neighbours show). The model: a Gaussian random surface whose psd is smooth over
// a few samples, so that each spectral sample's power is its psd times an exponential
// variable (chi-square of 2 degrees of freedom over 2), a sample and its mirror image
// being one variable. Under a window of line factors w, the transforms of two samples d
// columns and e rows apart correlate by rho(d, e) = rho_x(d) rho_y(e), rho_x(d) =
// sum w(i)^2 cos(2 pi d i / M) / sum w(i)^2 along the width (rho_y along the height), and
// their powers by rho^2 (1 without a window at d = e = 0, 0 elsewhere; a Hann window
// correlates up to 2 samples each way, rho = -2/3 at 1, 1/6 at 2). A ring mean being
// sum s_b(k) P(k) / W_b over the samples k with their shares s_b(k) (bins.h), rings b
// and c covary, relative to their means, by
//   R_bc = 2 sum_k sum_k' s_b(k) s_c(k') rho(k - k')^2 / (W_b W_c)
// (the 2 for the mirror images), which rings share through the linear sharing between
// neighbouring bins and through the window. A ring then holds m_b = 1 / R_bb independent
// modes (0.66 to 0.72 of its weight without a window, 0.40 to 0.44 under Hann), and its log10
// mean is taken as that of a mean of m_b exponentials: variance trigamma(m_b) / ln(10)^2
// (1 / m_b for many modes, more for few), correlated with its neighbours by
// R_bc / sqrt(R_bb R_cc). The slope's variance is sum_b sum_c a_b a_c cov(y_b, y_c). The
// error is that of the scatter alone: a profile that bends within the band (a crossover,
// a noise floor, a window's leakage at its lowest rows) is no single slope, which the
// error does not show. Levelling, and the psd's change across a window's few samples,
// are left out.
//
//   psd_fit(bins, psd, grid, window, length, from, to, fit)
//                                   the fit over the band, for the profile of `grid`'s
//                                   spectrum under `window`; 0, or 1 after "Error: The
//                                   fit band F1 to F2 holds N rows with a psd above 0; a
//                                   fit needs 3 or more\n" or the allocation message
//                                   (fit unchanged)
//   psd_fit_rows(bins, psd, length, from, to)
//                                   the number of rows psd_fit would use for that band
#pragma once

#include <cstdint>

#include "analysis/bins.h"
#include "analysis/psd.h"
#include "analysis/window.h"

struct PsdFit {
    uint64_t rows;       // rows used
    double slope;        // d log10 psd / d log10 f
    double slope_error;  // its standard error, from the model above
    double intercept;    // the fitted psd at f = 1 (cycles per side, or per metre)
    double hurst;        // -slope / 2 - 1
    bool hurst_valid;    // 0 < hurst < 1: the slope is that of a self-affine surface
};

int psd_fit(const RadialBins& bins, const Psd& psd, const ScanGrid& grid, const Window& window, double length,
            double from, double to, PsdFit& fit);
uint64_t psd_fit_rows(const RadialBins& bins, const Psd& psd, double length, double from, double to);
