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
//                        an ISO 5436-2 x3p archive (a zip, its files at its root or in
//                        one top folder; __MACOSX/ and .DS_Store entries are ignored):
//                        main.xml (root ISO5436_2, with or without a namespace prefix)
//                        describes an area (FeatureType SUR; a profile PRF or a point
//                        cloud PCL is refused by name) with incremental x and y axes
//                        (AxisType I) and one layer (SizeZ 1); the heights are in the
//                        PointDataLink entry (bindata/data.bin), exactly SizeX * SizeY
//                        values little-endian, x fastest, as 16 or 32-bit integers (I, L:
//                        each times the z axis's Increment, plus its Offset) or 32 or
//                        64-bit floats (F, D: as they stand, the z Increment and Offset
//                        not applied), or in a DataList of one Datum a point. The
//                        ValidPointsLink entry (bindata/valid.bin), when there, has one
//                        bit a point, least significant first, 0 for an invalid (NaN)
//                        point. The y axis points up the picture: the file's last row
//                        (the largest y) is the map's top row. dx and dy are CX's and
//                        CY's Increments (0 when absent), z_unit "m". An MD5 of the
//                        point data or valid flags that does not match is an error; a
//                        main.xml that does not match the checksum file Record4 names
//                        gets one line "Warning: PATH has a main.xml that does not match
//                        ..." and is read (writers edit main.xml without updating it).
//                        main.xml may take 64 MiB; every entry's stated size is checked
//                        against what the matrix needs, and against 1100 times its
//                        compressed size, before it is inflated.
//   gwy_parse(path, bytes, size, channel, map)
//                        a Gwyddion file ("GWYP"): the image channel /K/data (a
//                        GwyDataField), K = channel, or the one with the lowest K when
//                        channel is -1 ("Error: PATH has no image channel", "Error: PATH
//                        has no channel K (its channels are 0, 3)"); rows top first as
//                        stored. dx and dy are xreal / xres and yreal / yres when
//                        si_unit_xy is "m", else 0; z_unit is si_unit_z's unit string
//                        ("" when none). NaN heights are invalid points.
//   tiff_parse(path, bytes, size, map)
//                        the first image of a TIFF: one sample per pixel (grey; palette
//                        and colour images are refused) of 8, 16 or 32-bit unsigned or
//                        signed integers or 32 or 64-bit floats, in strips or tiles, with
//                        any compression libtiff decodes; the values as they stand, NaN
//                        and GDAL's no-data value (tag 42113) invalid. The Orientation tag
//                        places the rows and columns (5 to 8 turn the image). dx and dy
//                        are 0 and z_unit "": XResolution is a printing resolution, not
//                        a scan's spacing. The decoded pixels may take at most the file's
//                        size when uncompressed, 1100 times it when compressed.
//   In all three, an infinite height is refused ("Error: PATH has a non-finite sample at
//   row R, column C", counted in the map).
//   formats_missing(format)
//                        null when this build has the format's reader, else the
//                        libraries it was built without ("libzip, pugixml and OpenSSL's
//                        libcrypto", "libtiff 4.5 or later")
#pragma once

#include <cstdint>
#include <string>

#include "image/heights.h"

int x3p_parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map);
int gwy_parse(const std::string& path, const uint8_t* bytes, uint64_t size, int channel, HeightMap& map);
int tiff_parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map);
const char* formats_missing(HeightFormat format);
