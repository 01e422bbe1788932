// varlox-view's measurement of a height map, as one call: it scales, levels and windows
// the heights, transforms and bins them, and measures everything a run reports (the
// log scale's top, and in a measuring run the psd and its fit, the angular spectrum
// with its direction and aspect, and the peaks, and when asked the autocorrelation and
// the field parameters of acf.h), returning it all in a ViewResult. It
// opens no file and reads no option text: the program parses its options into a
// MeasureOptions and turns the result into files (app/view.h).
//
// The map may be a rectangle, and its pixels need not be square: rings, directions and
// peaks are taken at each sample's physical frequency (plane.h). Units: frequencies are in
// cycles per reference side (the scan's shorter side in length; the side of a square), or
// per metre where the scan's size is known (F cycles per metre is F * L cycles per side, L
// the reference side's length); the psd is defined in psd.h, directions and peaks in
// angles.h and peaks.h. Points without a valid height (NaN) are refused, or filled with
// the mean of the valid heights before anything else.
//
//   view_measure(map, options, result)
//                               the measurement of `map`, whose heights it scales,
//                               levels and windows in place; 0, or 1 after the message
//                               of what failed: "Error: --band F1:F2 holds no frequency
//                               of this picture ..." (before anything else), "Error: The
//                               height map has no valid point\n", "Error: The height map
//                               has N points without a valid height\n" (the caller names
//                               them first; without options.fill), heights beyond 1e100,
//                               a window on fewer than 2 columns or rows, "Error: --fit
//                               F1:F2 holds N rows with a psd above 0; a fit needs 3 or
//                               more: the profile's rows lie from A to B cycles per
//                               ...\n", the autocorrelation's refusal (acf.h), or the
//                               allocation message. Bands in messages are in the units
//                               options.fit_shown and band_shown name
#pragma once

#include <cstdint>

#include "analysis/acf.h"
#include "analysis/analysis.h"
#include "analysis/angles.h"
#include "analysis/fit.h"
#include "analysis/level.h"
#include "analysis/peaks.h"
#include "analysis/psd.h"
#include "analysis/window.h"
#include "image/heights.h"

// How a message shows a frequency of the measure's unit (cycles per reference side, or
// per metre with a size): times `factor`, in `unit` ("cycles per pixel"), the band
// written with `suffix` ("/px", or "" for none). A factor of 0 shows it as it is.
struct FrequencyShown {
    double factor;
    const char* unit;
    const char* suffix;
};

struct MeasureOptions {
    double z_scale;   // heights = the map's values times this
    double length_x;  // the scan's width in metres, or 0 when its size is not known
    double length_y;  // its height in metres, or 0 with length_x
    bool fill;        // points without a valid height take the mean of the valid ones
    bool measuring;   // a measuring run: the psd, fit, angles and peaks are measured
    LevelKind level;  // what is removed before the window
    Window window;    // the taper, kWindowNone for none
    bool fit;         // a fit over fit_from..fit_to
    double fit_from;  // cycles per reference side, or per metre with a size
    double fit_to;
    bool band;         // the angular spectrum over band_from..band_to, else 2 to side / 2
    double band_from;  // cycles per reference side, or per metre with a size
    double band_to;
    FrequencyShown fit_shown;   // the unit the fit's band was given in, for messages
    FrequencyShown band_shown;  // the same for the angular band
    uint64_t peaks;             // how many peaks to find, 1 or more
    double min_prominence;      // the least prominence of a listed peak (peaks.h)
    int threads;                // threads of the transform, 1 or more
    bool acf;                   // in a measuring run: the autocorrelation and the field parameters (acf.h)
    double acf_threshold;       // Sal's threshold s, 0 < s < 1
};

// Where the log scale's top comes from: the largest amplitude outside the centre 3 x 3;
// when no sample there is above 0, the largest of all; when none at all is, 1.
enum ViewTop { kTopOutsideCentre, kTopOfAll, kTopNone };

struct ViewResult {
    ScanGrid grid;              // columns, rows, lengths (metres, or pixels), axes
    uint32_t side;              // the reference side in pixels: the width's or the height's
    double side_length;         // its length in metres, 0 when the size is not known
    uint64_t filled;            // points without a valid height, filled with the mean
    int threads;                // the threads the transform ran on
    double rms;                 // of the levelled heights, before the window
    double window_mean_square;  // mean(w^2), 1 without a window
    Spectrum spectrum;          // amplitudes and powers of the centred plane, bins, ranges
    ViewTop top_kind;
    double top;  // the log scale's top
    // The rest only in a measuring run.
    bool measured;
    Psd psd;
    double psd_scale;  // from |F|^2 to the psd (psd.h)
    bool fitted;
    PsdFit fit;
    double band_from;  // the angular band, cycles per reference side
    double band_to;
    AngularSpectrum angles;
    double direction;  // NaN for a flat picture or a band without power
    double lay;
    double aspect;
    Buffer<Peak> peaks;  // the strongest first
    uint64_t peak_count;
    double min_prominence;  // the least prominence of a listed peak
    // The rest only with options.acf in a measuring run: the autocorrelation and the field
    // parameters of the levelled heights (before the window), and the texture's direction
    // Std (which is `direction`) with its strength Stdi (acf_stdi of the angles).
    bool acf_measured;
    AcfResult acf;
    double stdi;
};

int view_measure(HeightMap& map, const MeasureOptions& options, ViewResult& result);
