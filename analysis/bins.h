// Radial bins and value ranges: how a centred spectrum is summed into rings around its
// zero frequency, and the running minimum and maximum that scale the pictures.
//
// The spectrum planes are those of image_spectrum: width*height doubles each, row-major,
// zero frequency at row height/2, column width/2 (plane.h). A sample's power is re^2 + im^2 and its
// amplitude the square root of that. Bin b gathers the samples whose distance d from the
// centre (in samples) has 2d between b - 1 and b + 1, each sample shared linearly between
// its two nearest bins; bins lie half a sample apart.
//
//   value_range_fresh()          a range that every value will widen: minimum the largest
//                                double, maximum the smallest positive normal double
//   value_range_widen(r, v)      lowers the minimum to v / raises the maximum to v
//   value_range_scale(r, v)      (v - minimum) / (maximum - minimum); a range of zero
//                                width is taken as one of width 1, so no NaN or
//                                infinity comes out of a finite value
//   radial_share(dx, dy)         the bin of a sample dx, dy from the centre and its share
//                                of the next bin
//   radial_bin_count(w, h)       (sqrt(w^2 + h^2) * 2) truncated, the sum formed exactly
//   radial_bins_new(bins, count) three zeroed arrays of `count` values; false after the
//                                allocation message
//   spectrum_magnitudes(re, im, count)
//                                replaces each sample's parts by its amplitude (in re)
//                                and its power (in im), so that the bins and the pictures
//                                read them instead of working them out again
//   radial_means(bins, half, amp, pow)
//                                turns the sums of bins 1 to half (or the last bin, if
//                                fewer) that have weight into their means, in place, and
//                                sets amp and pow to the ranges of those means (fresh
//                                ranges widened by each); returns the last bin it took
//   radial_accumulate(amp_plane, pow_plane, w, h, bins, amp, pow, ax, ay)
//                                spreads every sample's amplitude and power (planes as
//                                spectrum_magnitudes leaves them) over the bins, each at
//                                its physical frequency (plane.h; ax = ay = 1 for the
//                                plain grid), and widens the ranges amp and pow with
//                                every sample outside the grid's centre 3 x 3
#pragma once

#include <cmath>
#include <cstdint>

#include "system/size.h"

struct ValueRange {
    double minimum;
    double maximum;
};

struct RadialBins {
    uint64_t count;
    Buffer<double> weight;   // total share of samples credited to each bin
    Buffer<double> amp_sum;  // sum of share * amplitude; the mean after radial_means
    Buffer<double> pow_sum;  // sum of share * power; the mean after radial_means
};

ValueRange value_range_fresh();
void value_range_widen(ValueRange& range, double value);

// Inline: the drawings call it once per pixel.
inline double value_range_scale(const ValueRange& range, double value) {
    double width = range.maximum - range.minimum;
    if (width == 0) {
        // All values alike: scale as if the range were 1 wide, so they map to 0.
        width = 1;
    }
    return (value - range.minimum) / width;
}

// Where a sample dx columns and dy rows from the centre falls: bin `bin` takes the share
// 1 - next of it, bin `bin` + 1 the share next. Inline: every pass over a plane calls it
// once per sample, and the passes that share samples between bins must agree exactly.
struct BinShare {
    uint64_t bin;
    double next;
};

inline BinShare radial_share(int64_t dx, int64_t dy) {
    const double p = 2 * std::sqrt(static_cast<double>(dx * dx + dy * dy));
    const auto b = static_cast<uint64_t>(p);
    return BinShare{b, p - static_cast<double>(b)};
}

// The same for a sample at the physical frequency (ax dx, ay dy) (plane.h): its distance
// in cycles per reference side. With ax = ay = 1 every product and sum is exact, so the
// share is radial_share(dx, dy)'s, bit for bit.
inline BinShare radial_share(int64_t dx, int64_t dy, double ax, double ay) {
    const double x = ax * static_cast<double>(dx);
    const double y = ay * static_cast<double>(dy);
    const double p = 2 * std::sqrt(x * x + y * y);
    const auto b = static_cast<uint64_t>(p);
    return BinShare{b, p - static_cast<double>(b)};
}

uint64_t radial_bin_count(uint32_t width, uint32_t height);
bool radial_bins_new(RadialBins& bins, uint64_t count);
void spectrum_magnitudes(double* re, double* im, uint64_t count);
uint64_t radial_means(RadialBins& bins, uint64_t half, ValueRange& amp, ValueRange& pow);
void radial_accumulate(const double* amplitude, const double* power, uint32_t width, uint32_t height,
                       RadialBins& bins, ValueRange& amp, ValueRange& pow, double ax = 1, double ay = 1);
