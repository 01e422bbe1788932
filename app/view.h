// varlox-view: the spectrum varlox measures, shown the way people read one: the amplitude
// on a logarithmic scale and the radial profile in absolute numbers, and with the
// measuring options the psd, its fit, the directions and the peaks, from the same
// reader, transform, bins, output set and interrupt handling as varlox. The program
// parses its options, reads the height map, creates its outputs, measures
// (analysis/measure.h), writes what it measured into the outputs, commits them and says
// what it wrote. Its outputs are the rows of kViewOutputs (output_table.h), named from the
// same base as varlox's.
//
//   view_main(argc, argv)       varlox-view; returns the exit status, 0 or 1. An interrupt
//                               ends it by that signal, with nothing changed
//   view_prepare(map, input, options, provenance)
//                               what a run does between reading the map of `input` and
//                               measuring it: refuses --channel for a file that is not a
//                               Gwyddion one and points without a valid height (without
//                               --fill mean), takes the scan's size and height unit from
//                               the options or else the map (saying where from in
//                               `provenance`), turns the bands into the measure's unit,
//                               and makes any map but a BMP's measured; 0, or 1 after
//                               the message
//   view_write(result, options, input, outputs)
//                               writes a measurement into the set's open temporaries, one
//                               file per output the set holds (the first kViewPlainCount,
//                               or all of them in a measuring run), in the set's order; 0,
//                               or 1 after the message of the output that failed. The
//                               profile's means are those of the result's bins (the
//                               result is not changed)
//   view_write_file(output, file, name, result, options, input)
//                               writes the row `output` of kViewOutputs into the open
//                               file `file`, named `name` in messages; 0, or 1 after the
//                               message
//   view_log_picture(result, options)
//                               NAME-as-log.bmp's picture; null after the allocation
//                               message
#pragma once

#include <cstdio>
#include <string>

#include "analysis/measure.h"
#include "system/outputs.h"

// Where the scan's size comes from on the command line: nowhere (the file's, if it has
// one), --length (the scan's width and height) or --pixel-size (a pixel's).
enum SizeGiven { kSizeNone, kSizeLength, kSizePixel };

// The unit a band of --fit or --band is given in: no suffix (cycles per side, or per
// metre with a size, as before the suffixes), "/side" (cycles per reference side), "/px"
// (cycles per pixel of the reference side) or "/m" (cycles per metre; needs a size).
enum FrequencyUnit { kUnitDefault, kUnitSide, kUnitPixel, kUnitMetre };

struct ViewOptions {
    // What is measured; its lengths are set once the map is read, and its bands, read in
    // the units below, are turned into cycles per side (or per metre with a size) then.
    MeasureOptions measure;
    FrequencyUnit fit_unit;
    FrequencyUnit band_unit;
    double decades;  // depth of the log scale below its top
    bool gray;       // grey levels instead of the colour ramp
    int channel;     // a Gwyddion file's channel, -1 for its first image
    SizeGiven size;  // the size given, in metres: x and y, y 0 when not given
    double size_x;
    double size_y;
    bool z_scale_given;       // --z-scale was given: the heights are in the user's unit
    std::string height_unit;  // the heights' unit as the run takes them, "" when not known
};

// Where the scan's size and its heights' unit came from, for the run's report.
struct ViewProvenance {
    const char* size;  // "the file", "--length", "--pixel-size", or null when none is known
    const char* unit_from;
};

int view_main(int argc, char** argv);
int view_prepare(const HeightMap& map, const std::string& input, ViewOptions& options,
                 ViewProvenance& provenance);
int view_write_file(int output, std::FILE* file, const std::string& name, const ViewResult& result,
                    const ViewOptions& options, const std::string& input);
ImagePtr view_log_picture(const ViewResult& result, const ViewOptions& options);
int view_write(const ViewResult& result, const ViewOptions& options, const std::string& input,
               OutputSet& outputs);
