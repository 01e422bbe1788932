// Height maps: a grid of heights in double precision, `width` columns by `height` rows,
// the input of varlox-view's measurement, with what its file says of its scale: the
// distance from one column or row to the next and the unit of the heights. A map comes
// from a 24-bit BMP (grey exactly as varlox makes it: the red byte of the greyed
// picture), a grey PGM or PFM, an x3p archive, a Gwyddion file or a one-channel TIFF; the
// reader tells them apart by their first bytes, not by the file's name.
//
// Layout of `z`: width * height heights, rows from the top of the picture down (row 0 is
// the top row), each row from left to right: sample (row r, column c) at index
// r * width + c. Positions in messages use the same convention, counted from 0. A point
// without a valid height (masked in an x3p, NaN in a PFM, Gwyddion or TIFF file) is NaN.
//
// Formats read besides the BMP (bmp.h):
//   PGM  "P5", width, height and maxval as decimal numbers, each of them after whitespace
//        (a '#' starts a comment to the end of its line, which counts as whitespace), one
//        whitespace byte, then the rows top first; maxval 1 to 255 gives one byte a
//        sample, 256 to 65535 two bytes, most significant first. A sample is its grey
//        level as it stands (not divided by maxval); one above maxval is refused. Bytes
//        after the picture are ignored.
//   PFM  "Pf", width, height and scale, each after whitespace (comments allowed before
//        the width and height only), one whitespace byte, then 32-bit IEEE floats, the
//        rows bottom first; a negative scale means little-endian, a positive one
//        big-endian. Only the scale's sign is used: the values are taken as they stand. A
//        NaN is an invalid point; an infinite value is refused with its position.
//   x3p, Gwyddion and TIFF: image/formats.h.
// Their headers may take at most 4096 bytes before the whitespace byte that ends them.
// The other netpbm formats (P1 to P4, P6, P7 and the colour PFM "PF") are refused by name.
//
// A file whose size cannot be known in advance (a pipe, a FIFO) is read once, into
// memory, and from there as a file of the same bytes: a PGM or PFM up to its last sample,
// a BMP or an instrument file to the end of the stream, at most kHeightsPipeMax bytes.
//
//   heights_read(path, map)      reads any of the formats above into map (replacing what
//                                it held); 0, or 1 after one message, map unchanged. A
//                                file that cannot be opened or starts with none of the
//                                magics above goes to bmp_read, with its messages; the
//                                others' are "Error: Could not read PATH\n", "Error: PATH
//                                is a plain-text PGM (P2); only binary PGM (P5), grey PFM
//                                (Pf), x3p, Gwyddion, TIFF and 24-bit BMP are read\n" (or
//                                another netpbm format), "Error: PATH has a malformed PGM
//                                header\n" (or PFM), "Error: PATH has a maxval outside 1
//                                to 65535\n", "Error: PATH is truncated\n", "Error: PATH
//                                has a sample above its maxval at row R, column C\n",
//                                "Error: PATH has a non-finite sample at row R, column
//                                C\n", a format reader's message (formats.h), or the
//                                allocation message; from a pipe or FIFO also "Error:
//                                PATH has a header that asks for N bytes, more than the B
//                                read from a pipe or FIFO\n" (a PGM or PFM) and "Error:
//                                PATH holds more than the B bytes read from a pipe or
//                                FIFO\n" (any other), B being pipe_max
//   heights_read(path, map, pipe_max, channel)
//                                the same with another bound on a pipe (for tests), and
//                                the channel of a Gwyddion file (-1: its first image)
//   heights_from_image(image, map)
//                                a map of a grey picture's red bytes; 0, or 1 after the
//                                allocation message
//   heights_scale(map, factor)   multiplies every height by factor (1 changes nothing); 0,
//                                or 1 after "Error: Heights times F exceed 1e100 in
//                                magnitude\n" (map left scaled): beyond that the squared
//                                sums of a spectrum could overflow a double. NaN points
//                                stay NaN and are not counted as beyond.
//   heights_invalid(map, first)  the number of NaN points; *first is the index of the
//                                first of them (0 when there is none)
//   heights_fill(map, value)     puts value at every NaN point
#pragma once

#include <cstdint>
#include <string>

#include "image/image.h"
#include "system/size.h"

enum HeightFormat { kHeightsBmp, kHeightsPgm, kHeightsPfm, kHeightsX3p, kHeightsGwy, kHeightsTiff };

// The most bytes read from a pipe or FIFO: the largest file of a picture whose spectrum
// can be written. That picture is a 24-bit BMP, whose 32-bit file size holds a side of at
// most 37837; a PFM of that side takes 4 bytes a sample after a header of at most 4096
// bytes and its whitespace byte: 4097 + 4 * 37837^2 = 5726558373 bytes (5.3 GiB).
constexpr uint64_t kHeightsPipeMax = 4097 + 4 * uint64_t{37837} * 37837;

struct HeightMap {
    uint32_t width;   // columns
    uint32_t height;  // rows
    Buffer<double> z;
    HeightFormat format;  // the file it came from
    // What the file says of its scale: 0, 0 and "" where it says nothing.
    double dx;           // metres from one column to the next
    double dy;           // metres from one row to the next
    std::string z_unit;  // the unit of the heights as they stand ("m" for metres)
};

int heights_read(const std::string& path, HeightMap& map, uint64_t pipe_max = kHeightsPipeMax,
                 int channel = -1);
int heights_from_image(const Image& image, HeightMap& map);
int heights_scale(HeightMap& map, double factor);
uint64_t heights_invalid(const HeightMap& map, uint64_t* first);
void heights_fill(HeightMap& map, double value);
