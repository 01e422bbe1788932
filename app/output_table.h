// What each program writes: one table per program, one row per output file, in the order
// in which the files are created, written and renamed (their numbers in the output set).
// A row gives the suffix that follows the base of the input's name, whether the file is
// text, and what it holds. The programs, the benchmark and the tests read the suffixes
// here (but for the tests that pin varlox's documented names as the interface they
// are); the companion scripts and the README's recipes keep their own copies, which a
// test compares with these tables.
//
// varlox's rows are in the order of OutputNames: amplitude grey, amplitude colour, power
// grey, power colour, profile.
//
//   output_table_add(set, rows, count, names)
//                               adds the outputs names[0..count) to the set, in the
//                               table's order, so that row i is output i of the set.
//                               Every suffix of both tables becomes known to the set: the
//                               names a journal in the folder may list
#pragma once

#include <string>

#include "system/outputs.h"

struct OutputRow {
    const char* suffix;  // appended to the base of the input's name
    bool text;           // written in text mode
    const char* holds;   // what the file holds, for messages and the manual
};

enum OutputName { kAmpGray, kAmpRamp, kPowGray, kPowRamp, kProfile, kOutputCount };

constexpr OutputRow kVarloxOutputs[kOutputCount] = {
    {"-as-bw.bmp", false, "amplitude spectrum, grey"},
    {"-as-tg.bmp", false, "amplitude spectrum, colour ramp"},
    {"-ps-bw.bmp", false, "power spectrum, grey"},
    {"-ps-tg.bmp", false, "power spectrum, colour ramp"},
    {".csv", true, "radial profile, rescaled"},
};

// varlox-view's plain run (a BMP, none of the measuring options) writes the first
// kViewPlainCount rows; a measuring run the first kViewMeasuringCount; one with --acf
// every row.
enum ViewOutputName {
    kViewLog,
    kViewFull,
    kViewSummary,
    kViewAngles,
    kViewPeaks,
    kViewAcfPicture,
    kViewAcfDecay,
    kViewOutputCount
};
constexpr int kViewPlainCount = 2;
constexpr int kViewMeasuringCount = 5;

constexpr OutputRow kViewOutputs[kViewOutputCount] = {
    {"-as-log.bmp", false, "the amplitude spectrum on a log scale (colour ramp, or grey)"},
    {"-full.csv", true,
     "the radial profile in absolute numbers, bin 0 to the corner (with the psd when measuring)"},
    {"-summary.csv", true,
     "when measuring: one row of rms, psd slope and Hurst exponent, direction, aspect, period"},
    {"-angles.csv", true, "when measuring: the angular spectrum, mean power in one-degree sectors"},
    {"-peaks.csv", true, "when measuring: the strongest peaks, periods and directions between the grid's"},
    {"-acf.bmp", false, "with --acf: the autocorrelation over half the lags, linear from -1 to 1"},
    {"-acf.csv", true,
     "with --acf: the autocorrelation's mean per ring of lag distance, and its crossing per degree"},
};

static_assert(kOutputCount <= kOutputsMax && kViewOutputCount <= kOutputsMax,
              "each table fits an output set");
static_assert(kOutputCount + kViewOutputCount <= kOutputsKnownMax, "every suffix known to an output set");

void output_table_add(OutputSet& set, const OutputRow* rows, int count, const std::string* names);
