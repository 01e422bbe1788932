// What each program writes: one table per program, one row per output file. A row gives
// the suffix that follows the base of the input's name, the place of the file in the
// program's output set (the order in which its temporary is created and renamed), whether
// it is text, and what it holds. Every C++ user of an output's name or suffix reads it
// here; the companion scripts and the README's recipes keep their own copies, which a
// test compares with these tables.
//
// varlox's rows are in the order of OutputNames (amplitude grey, amplitude colour, power
// grey, power colour, profile); the profile is created first, as it is the one file that
// is open for the whole run.
//
//   output_table_add(set, rows, count, names)
//                               adds the outputs names[0..count) to the set, each at the
//                               place its row gives; their numbers in the set are then
//                               rows[i].order. Every suffix of both tables becomes known
//                               to the set: the names a journal in the folder may list
#pragma once

#include <string>

#include "system/outputs.h"

struct OutputRow {
    const char* suffix;  // appended to the base of the input's name
    int order;           // place in the output set: created and renamed in this order
    bool text;           // written in text mode
    const char* holds;   // what the file holds, for messages and the manual
};

enum OutputName { kAmpGray, kAmpRamp, kPowGray, kPowRamp, kProfile, kOutputCount };

constexpr OutputRow kVarloxOutputs[kOutputCount] = {
    {"-as-bw.bmp", 1, false, "amplitude spectrum, grey"},
    {"-as-tg.bmp", 2, false, "amplitude spectrum, colour ramp"},
    {"-ps-bw.bmp", 3, false, "power spectrum, grey"},
    {"-ps-tg.bmp", 4, false, "power spectrum, colour ramp"},
    {".csv", 0, true, "radial profile, rescaled"},
};

// varlox-view's plain run (a BMP, none of the measuring options) writes the first
// kViewPlainCount rows, as it always has; a measuring run writes every row.
enum ViewOutputName { kViewLog, kViewFull, kViewSummary, kViewAngles, kViewPeaks, kViewOutputCount };
constexpr int kViewPlainCount = 2;

constexpr OutputRow kViewOutputs[kViewOutputCount] = {
    {"-as-log.bmp", 1, false, "the amplitude spectrum on a log scale (colour ramp, or grey)"},
    {"-full.csv", 0, true, "the radial profile in absolute numbers, bin 0 to the corner (with the psd when measuring)"},
    {"-summary.csv", 2, true, "when measuring: one row of rms, psd slope and Hurst exponent, direction, aspect, period"},
    {"-angles.csv", 3, true, "when measuring: the angular spectrum, mean power in one-degree sectors"},
    {"-peaks.csv", 4, true, "when measuring: the strongest peaks, periods and directions between the grid's"},
};

// Each table's places are 0..count-1, each once, and fit an output set.
constexpr bool output_table_valid(const OutputRow* rows, int count) {
    if (count > kOutputsMax) return false;
    for (int i = 0; i < count; ++i) {
        int seen = 0;
        for (int j = 0; j < count; ++j) seen += rows[j].order == i ? 1 : 0;
        if (seen != 1) return false;
    }
    return true;
}
static_assert(output_table_valid(kVarloxOutputs, kOutputCount), "varlox's output places");
static_assert(output_table_valid(kViewOutputs, kViewOutputCount), "varlox-view's output places");
static_assert(output_table_valid(kViewOutputs, kViewPlainCount), "a plain run's output places");
static_assert(kOutputCount + kViewOutputCount <= kOutputsKnownMax, "every suffix known to an output set");

void output_table_add(OutputSet& set, const OutputRow* rows, int count, const std::string* names);
