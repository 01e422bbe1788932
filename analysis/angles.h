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
// Sector s (0 to 179) is centred on s degrees. A sample at direction d adds the share
// 1 - (d - floor(d)) of its power and of its count to sector floor(d), the rest to the
// next sector (179 shares with 0), as the radial bins share a sample between rings; both
// halves of the plane are counted, so each sector's weight is a count of samples. The
// band takes the samples whose physical distance from the centre, in cycles per
// reference side, lies in [from, to]; the zero frequency is never in it.
//
//   angle_fold(deg)             deg folded into [0, 180)
//   angle_of(fx, fy)            the direction of the frequency (fx, fy), folded
//   angular_new(a)              zeroed sectors; false after the allocation message
//   angular_accumulate(power, w, h, axes, from, to, a)
//                               adds every sample of the band to the sectors
//   angular_band_holds_a_sample(w, h, axes, from, to)
//                               whether the band [from, to] takes any sample of the
//                               plane (the zero frequency never counts)
//   angular_mean(a, s)          sector s's mean power, power sum over weight; NaN for a
//                               sector without samples
//   angular_smoothed(a, s)      the mean power of the 21 sectors s - 10 to s + 10 taken
//                               together (their power over their weight); NaN when none
//                               has a sample
//   angular_direction(a)        the dominant direction: from the sector whose smoothed
//                               mean is the largest, the power-weighted mean direction
//                               of the sectors' means within 10.5 degrees of it, the
//                               window moved to that mean until it stays; between
//                               sectors, folded. NaN when the band holds no power
//   angular_aspect(a)           the smallest smoothed mean over the largest: near 1 for
//                               an isotropic texture, near 0 for a single lay; NaN when
//                               the band holds no power
#pragma once

#include <cstdint>

#include "analysis/plane.h"
#include "system/size.h"

constexpr uint32_t kSectors = 180;

struct AngularSpectrum {
    Buffer<double> power_sum;  // kSectors sums of share * power
    Buffer<double> weight;     // kSectors sums of shares: counts of samples
};

double angle_fold(double deg);
double angle_of(double fx, double fy);
bool angular_new(AngularSpectrum& a);
void angular_accumulate(const double* power, uint32_t width, uint32_t height, PlaneAxes axes, double from,
                        double to, AngularSpectrum& a);
bool angular_band_holds_a_sample(uint32_t width, uint32_t height, PlaneAxes axes, double from, double to);
double angular_mean(const AngularSpectrum& a, uint32_t sector);
double angular_smoothed(const AngularSpectrum& a, uint32_t sector);
double angular_direction(const AngularSpectrum& a);
double angular_aspect(const AngularSpectrum& a);
