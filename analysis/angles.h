// The angular spectrum: how a centred power plane is shared out over directions, and the
// two numbers taken from it, the dominant direction and the texture's aspect.
//
// Directions, the one convention of every output: a direction is that of the wave
// vector (across the stripes), in degrees counter-clockwise from the picture's rightward
// axis (columns increasing), with up on the screen (rows decreasing) at 90 degrees,
// folded into [0, 180) because a real picture's spectrum is symmetric. The lay (along
// the stripes) is the direction plus 90, folded the same way. In the centred plane of
// width w and height h (zero frequency at row h/2 and column w/2, rounded down), the
// sample at row y, column x lies fx = x - w/2 columns and fy = h/2 - y rows from it, at
// the physical frequency (ax fx, ay fy) in cycles per reference side (plane.h), and its
// direction is atan2(ay fy, ax fx) folded: on a rectangle or with pixels that are not
// square, the direction in the scan itself, not on its grid of samples.
//
// Sector s (0 to 179) is centred on s degrees and spans [s - 0.5, s + 0.5). The band,
// the physical frequencies from `from` to `to` cycles per reference side (the zero
// frequency never counts), is sampled on rings, evenly in angle: a ring of a power-law
// spectrum holds far more power at its low end, so a sector must take the same share of
// every ring. Counting each grid sample once in its sector does not: near the centre a
// ring holds fewer samples than there are sectors, all on rational directions (0, 45, 90
// degrees, atan(1/2) ...), and those sectors then take the steep low-frequency power.
//   The rings lie evenly across the band, at most one step apart, ring i at from + (i +
// 0.5) d for a spacing d, each standing for an annulus d wide (one step wide for a band of
// one radius); the step is the finer axis's grid step, min(ax, ay) cycles per side. A ring
// of radius r takes 360 q samples over the whole turn, q = ceil(r (pi / 180) / step) per
// degree, at ((j + 0.5) / q - 0.5) degrees, so that each sector holds q of them, placed
// evenly about its centre, and both halves of the plane are counted. A sample at angle t
// reads the power at the grid position (r cos t / ax, r sin t / ay) (columns rightwards,
// rows upwards), bilinear between its four grid samples; the plane is taken as periodic
// (a frequency a whole width away is the same frequency, which is exact for a discrete
// transform) and the zero frequency is left out of the four. A position beyond the plane
// (a band past its inscribed ellipse) is no sample. Interpolating rather than weighting
// each grid sample by the arc it stands for keeps a sector's share exact on rectangles
// and unequal pixels, where the grid's rings are ellipses. A band far past the plane on
// very unequal pixels would need far more samples than the plane has: the step then grows
// until the band takes at most about 8 samples per grid sample and 2 rings per column or
// row of the longer side (the sampling stays even, only coarser).
//   Each sample stands for r dt d / (ax ay) grid samples of area (dt its angular
// spacing in radians): a sector's weight is the band's area in it, in grid samples, and
// its mean power the area-weighted mean of its samples, as the grid's mean over the
// sector would be with every ring shared evenly. The weights sum to
// pi (to^2 - from^2) / (ax ay) for a band within the plane, every sector one 180th.
//   Direction and aspect come from the whitened spectrum: each ring's samples are divided
// by that ring's level, so that every ring of the band weighs by its area alone, not by
// its power (in a power-law spectrum the lowest rings would otherwise decide). The level
// is the ring means' trend, not the ring's own mean: a straight line fitted by least
// squares to log(ring mean) against log(radius) over the rings from half the ring's
// radius to twice it (at least 8 rings on each side where the band has them), taken at
// the ring's radius. It follows a power law exactly, to the band's edges, while a ring
// that stands out from its neighbours (a grating's) stays loud: divided by its own mean
// it would weigh no more than a ring of noise or of leakage, and a grating under noise
// of a tenth of its amplitude then misses its direction by up to 1.5 degrees. A sector's
// relative power is its area-weighted mean whitened power, scaled so that the sectors'
// relative powers average 1.
//
//   angle_fold(deg)             deg folded into [0, 180)
//   angle_of(fx, fy)            the direction of the frequency (fx, fy), folded
//   angular_new(a)              zeroed sectors; false after the allocation message
//   angular_accumulate(power, w, h, axes, from, to, a)
//                               fills the zeroed sectors `a` from the band's rings (once
//                               per plane: the whitening is the band's); nothing for a
//                               band that ends before it starts. False after the
//                               allocation message, `a` then partly filled
//   angular_band_holds_a_sample(w, h, axes, from, to)
//                               whether the band [from, to] takes any grid sample of the
//                               plane (the zero frequency never counts)
//   angular_mean(a, s)          sector s's mean power, power sum over weight; NaN for a
//                               sector without samples
//   angular_relative(a, s)      sector s's relative power, relative sum over weight
//                               (averaging 1 over the sectors); NaN without samples
//   angular_smoothed(a, s)      the relative power of the 21 sectors s - 10 to s + 10
//                               taken together (their relative sum over their weight);
//                               NaN when none has a sample
//   angular_direction(a)        the dominant direction: from the sector whose smoothed
//                               relative power is the largest, the mean direction of the
//                               sectors within 10.5 degrees of it weighted by their
//                               relative powers, the window moved to that mean until it
//                               stays; between sectors, folded. NaN when the band holds
//                               no power
//   angular_aspect(a)           the smallest smoothed relative power over the largest:
//                               near 1 for an isotropic texture, near 0 for a single lay;
//                               NaN when the band holds no power
#pragma once

#include <cstdint>

#include "analysis/plane.h"
#include "system/size.h"

constexpr uint32_t kSectors = 180;

struct AngularSpectrum {
    Buffer<double> power_sum;     // kSectors sums of area * power
    Buffer<double> weight;        // kSectors sums of area: grid samples of the band
    Buffer<double> relative_sum;  // kSectors sums of area * power / level, scaled
};

double angle_fold(double deg);
double angle_of(double fx, double fy);
bool angular_new(AngularSpectrum& a);
bool angular_accumulate(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, double from,
                        double to, AngularSpectrum& a);
bool angular_band_holds_a_sample(uint32_t width, uint32_t height, PlaneAxes axes, double from, double to);
double angular_mean(const AngularSpectrum& a, uint32_t sector);
double angular_relative(const AngularSpectrum& a, uint32_t sector);
double angular_smoothed(const AngularSpectrum& a, uint32_t sector);
double angular_direction(const AngularSpectrum& a);
double angular_aspect(const AngularSpectrum& a);
