// Spectrum analysis and its outputs: the colour ramp, the radial bins and value ranges,
// the four spectrum pictures and the radial profile file.
//
// The spectrum planes are those of image_spectrum: width*height doubles each, row-major,
// zero frequency at row height/2, column width/2. A sample's power is re^2 + im^2 and its
// amplitude the square root of that. Bin b of the radial profile gathers the samples
// whose distance d from the centre (in samples) has 2d between b - 1 and b + 1, each
// sample shared linearly between its two nearest bins; bins lie half a sample apart.
//
//   ramp_color(x)                packed colour (red bits 16-23, green 8-15, blue 0-7) of
//                                x in [0, 1] on the ramp black-blue-cyan-green-yellow-
//                                red-white, six equal segments with a sine-shaped ease
//   value_range_fresh()          a range that every value will widen: minimum the largest
//                                double, maximum the smallest positive normal double
//   value_range_widen(r, v)      lowers the minimum to v / raises the maximum to v
//   value_range_scale(r, v)      (v - minimum) / (maximum - minimum); a range of zero
//                                width is taken as one of width 1, so no NaN or
//                                infinity comes out of a finite value
//   radial_bins_new(count)       three zeroed arrays of `count` values, or empty after the
//                                allocation message
//   radial_bin_count(w, h)       (sqrt(w^2 + h^2) * 2) truncated, the sum formed exactly
//   spectrum_magnitudes(re, im, count)
//                                replaces each sample's parts by its amplitude (in re)
//                                and its power (in im), so that the bins and the four
//                                pictures read them instead of working them out again
//   radial_accumulate(amp_plane, pow_plane, w, h, bins, amp, pow)
//                                spreads every sample's amplitude and power (planes as
//                                spectrum_magnitudes leaves them) over the bins and
//                                widens the ranges amp and pow with every sample beyond
//                                the centre 3 x 3 (bin > 2)
//   draw_gray(img, amp_plane, pow_plane, q, r)
//                                fills every pixel with the grey level of quantity q
//                                scaled by range r (levels outside 0..255 become 255)
//   draw_ramp(img, amp_plane, pow_plane, q, r)
//                                fills every pixel with the ramp colour of q scaled by r,
//                                clamped to [0, 1]
//   profile_write_header(file)   the three header lines; 0, or 1 when the write failed
//   profile_write_rows(f, b, h)  turns bins 1..h into means in place and writes one
//                                "%d,%e,%e" row per bin with weight, each column rescaled
//                                to 0..1 over the rows; 0, or 1 when a write failed
//   analyze_spectrum(image, as_bw, as_tg, ps_bw, ps_tg, csv)
//                                the whole analysis of a grey square picture into the five
//                                named files, which are replaced all together or not at
//                                all; the picture is used as the drawing canvas. Returns
//                                only on success: any failure has printed its message,
//                                removed what it wrote, and ended the process with status 1
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image.h"
#include "image/size.h"

enum Quantity { kAmplitude, kPower };

struct ValueRange {
    double minimum;
    double maximum;
};

struct RadialBins {
    uint64_t count;
    Buffer<double> weight;   // total share of samples credited to each bin
    Buffer<double> amp_sum;  // sum of share * amplitude; the mean after profile_write_rows
    Buffer<double> pow_sum;  // sum of share * power; the mean after profile_write_rows
};

uint32_t ramp_color(double x);

ValueRange value_range_fresh();
void value_range_widen(ValueRange& range, double value);
double value_range_scale(const ValueRange& range, double value);

uint64_t radial_bin_count(uint32_t width, uint32_t height);
bool radial_bins_new(RadialBins& bins, uint64_t count);
void spectrum_magnitudes(double* re, double* im, uint64_t count);
void radial_accumulate(const double* amplitude, const double* power, uint32_t width,
                       uint32_t height, RadialBins& bins, ValueRange& amp, ValueRange& pow);

void draw_gray(Image& image, const double* amplitude, const double* power, Quantity quantity,
               const ValueRange& range);
void draw_ramp(Image& image, const double* amplitude, const double* power, Quantity quantity,
               const ValueRange& range);

int profile_write_header(std::FILE* file);
int profile_write_rows(std::FILE* file, RadialBins& bins, uint64_t half);

void analyze_spectrum(Image& image, const std::string& as_bw_name, const std::string& as_tg_name,
                      const std::string& ps_bw_name, const std::string& ps_tg_name,
                      const std::string& csv_name);
