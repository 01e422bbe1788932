// varlox-view: the spectrum varlox measures, shown the way people read one: the amplitude
// on a logarithmic scale and the radial profile in absolute numbers, from the same reader,
// transform, bins, output set and interrupt handling as varlox. Its outputs are the rows
// of kViewOutputs (output_table.h), named from the same base as varlox's.
//
//   view_parse(argc, argv, options, input)
//                               varlox-view's arguments: 0 and the options and input; 1
//                               after the usage line or a message; 2 after the help, which
//                               was asked for (the program then ends with status 0)
//   view_main(argc, argv)       varlox-view; returns the exit status, 0 or 1. An interrupt
//                               ends it by that signal, with nothing changed
#pragma once

#include <cstdint>
#include <string>

#include "analysis/level.h"
#include "analysis/summary.h"
#include "analysis/window.h"

struct ViewOptions {
    double decades;  // depth of the log scale below its top
    bool gray;       // grey levels instead of the colour ramp
    double length;   // the side's length in metres, or 0 when not known
    // The measurement's options; giving any of them (or a PGM or PFM input) makes the run
    // a measuring one, whose profile gains the psd columns and which writes the summary,
    // the angles and the peaks.
    bool measure;      // one of them was given
    double z_scale;    // heights = grey levels (or PFM values) times this
    LevelKind level;   // what is removed before the window
    Window window;     // the taper, kWindowNone for none
    bool fit;          // --fit was given: the band is fit_from to fit_to
    double fit_from;   // cycles per side, or per metre with a length
    double fit_to;
    bool band;         // --band given: the angular spectrum's band is band_from..band_to
    double band_from;  //   in cycles per side, or per metre with a length
    double band_to;
    uint64_t peaks;    // how many peaks to find, 1 or more
    int threads;     // threads of the transform: 1 or more
};

// Where the log scale's top comes from: the largest amplitude outside the centre 3 x 3;
// when no sample there is above 0, the largest of all; when none at all is, 1.
enum ViewTop { kTopOutsideCentre, kTopOfAll, kTopNone };

// What a run wrote: the top and bottom of the log scale, the profile's rows, what the
// summary holds, and the threads the transform ran on.
struct ViewReport {
    ViewTop top_kind;
    double top;
    double bottom;
    uint64_t rows;
    uint64_t last_bin;
    bool measured;  // the psd columns and the summary were written
    double window_mean_square;  // mean(w^2), 1 without a window
    Summary summary;
    int threads;
};

int view_parse(int argc, char** argv, ViewOptions& options, std::string& input);
int view_main(int argc, char** argv);
