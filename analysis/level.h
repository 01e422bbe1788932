// Levelling of a height map before its spectrum: the part of the heights that is not
// roughness (their mean, or the tilt of the whole scan) is removed in double precision.
// A map is width * height heights, row-major, row 0 the top (image/heights.h).
//
// The plane is the least-squares plane a + b x + c y over the sample positions, fitted
// and removed exactly: with x and y measured from the grid's centre the three terms are
// orthogonal, so a is the mean, b = sum(x z) / sum(x^2) and c = sum(y z) / sum(y^2). x and
// y count columns and rows: the least-squares plane is the same whatever the pixels'
// sizes, as a plane stays a plane when either axis is stretched.
//
//   level_apply(z, width, height, kind)
//                                removes nothing, the mean, or the plane, in place
//   heights_rms(z, width, height)
//                                the root mean square of the heights,
//                                sqrt(sum z^2 / (width height)), in the heights' unit
#pragma once

#include <cstdint>

enum LevelKind { kLevelNone, kLevelMean, kLevelPlane };

void level_apply(double* z, uint32_t width, uint32_t height, LevelKind kind);
double heights_rms(const double* z, uint32_t width, uint32_t height);
