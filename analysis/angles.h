// The angular spectrum: how a centred power plane is shared out over directions, and the
// two numbers taken from it, the dominant direction and the texture's aspect.
//
// Directions, the one convention of every output: a direction is that of the wave
// vector (across the stripes), in degrees counter-clockwise from the picture's rightward
// axis (columns increasing), with up on the screen (rows decreasing) at 90 degrees,
// folded into [0, 180) because a real picture's spectrum is symmetric. The lay (along
// the stripes) is the direction plus 90, folded the same way. In the centred plane of
// side n (zero frequency at row and column n/2, rounded down), the sample at row y, column x has the
// frequency fx = x - n/2 along the columns and fy = n/2 - y upwards, in cycles per side,
// and its direction is atan2(fy, fx) folded.
//
// Sector s (0 to 179) is centred on s degrees. A sample at direction d adds the share
// 1 - (d - floor(d)) of its power and of its count to sector floor(d), the rest to the
// next sector (179 shares with 0), as the radial bins share a sample between rings; both
// halves of the plane are counted, so each sector's weight is a count of samples. The
// band takes the samples whose distance from the centre, in cycles per side, lies in
// [from, to]; the zero frequency is never in it.
//
//   angle_fold(deg)             deg folded into [0, 180)
//   angle_of(fx, fy)            the direction of the frequency (fx, fy), folded
//   angular_new(a)              zeroed sectors; false after the allocation message
//   angular_accumulate(power, n, from, to, a)
//                               adds every sample of the band to the sectors
//   angular_band_holds_a_sample(n, from, to)
//                               whether the band [from, to] takes any sample of a plane
//                               of side n (the zero frequency never counts)
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

#include "system/size.h"

constexpr uint32_t kSectors = 180;

struct AngularSpectrum {
    Buffer<double> power_sum;  // kSectors sums of share * power
    Buffer<double> weight;     // kSectors sums of shares: counts of samples
};

double angle_fold(double deg);
double angle_of(double fx, double fy);
bool angular_new(AngularSpectrum& a);
void angular_accumulate(const double* power, uint32_t side, double from, double to, AngularSpectrum& a);
bool angular_band_holds_a_sample(uint32_t side, double from, double to);
double angular_mean(const AngularSpectrum& a, uint32_t sector);
double angular_smoothed(const AngularSpectrum& a, uint32_t sector);
double angular_direction(const AngularSpectrum& a);
double angular_aspect(const AngularSpectrum& a);
