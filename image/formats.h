// Readers of instrument files, each from the file's bytes held whole in memory (a file or
// a pipe alike: heights_read in heights.h reads them and picks the reader by the first
// bytes). Each fills a HeightMap: its heights, top row first, with NaN at a point without
// a valid height, and what the file says of its scale (the distances between columns and
// between rows in metres, the unit of the heights). Each returns 0, or 1 after one
// message "Error: PATH ...\n" saying what is wrong, map unchanged; none reads or writes
// outside the bytes it is given, and none allocates more than those bytes could fill
// (for an archive, more than its stated sizes, checked against what its compression can
// hold).
//
//   x3p_parse(path, bytes, size, map)
//                        an ISO 5436-2 x3p archive (a zip): main.xml describes an
//                        area (SUR) with incremental x and y axes, and the heights in
//                        bindata/data.bin as 16 or 32-bit integers (I, L) or 32 or
//                        64-bit floats (F, D), little-endian, each times the z axis's
//                        increment and plus its offset; bindata/valid.bin, when there,
//                        marks the valid points. The checksums are checked. Heights are
//                        in metres.
//   gwy_parse(path, bytes, size, channel, map)
//                        a Gwyddion file ("GWYP"): the image channel /K/data, K =
//                        channel, or the one with the lowest K when channel is -1; its
//                        xreal and yreal over xres and yres give the distances, its
//                        units those of x, y and z
//   tiff_parse(path, bytes, size, map)
//                        the first image of a TIFF: one sample per pixel of 8, 16 or 32-bit
//                        integers or 32 or 64-bit floats, in strips or tiles, with any
//                        compression libtiff reads; the values as they stand
//   formats_missing(format)
//                        null when this build has the format's reader, else the
//                        libraries it was built without ("libzip and pugixml")
#pragma once

#include <cstdint>
#include <string>

#include "image/heights.h"

int x3p_parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map);
int gwy_parse(const std::string& path, const uint8_t* bytes, uint64_t size, int channel, HeightMap& map);
int tiff_parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map);
const char* formats_missing(HeightFormat format);
