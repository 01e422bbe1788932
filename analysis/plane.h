// The centred plane's geometry, in one place: every pass over a centred spectrum (the
// radial bins, the psd's spread, the angular spectrum, the peaks) walks it through
// plane_walk, so that all of them agree on where each sample lies.
//
// A centred plane of width x height samples, row-major, has its zero frequency at row
// height/2 and column width/2 (both rounded down). The sample at row y, column x lies
// fx = x - width/2 columns to the right of it and fy = height/2 - y rows above it: in
// cycles per side, fx along the columns and fy upwards (rows count downwards).
//
// A scan of M columns and N rows whose pixels are dx by dy has the frequency steps
// 1 / (M dx) along the columns and 1 / (N dy) upwards: on a rectangle, or with pixels that
// are not square, the two differ. Every measurement that depends on a sample's distance
// from the zero frequency or on its direction (the rings, the psd, the angular spectrum,
// the peaks) takes the sample at its physical frequency (ax fx, ay fy), in cycles per
// the scan's shorter side in length, the reference side: ax and ay are that side's length
// over the width's and over the height's, so one of them is 1 and the other at most 1.
// A square of square pixels has both 1, and every such product is then exact: the
// numbers of a square picture are those of the plain grid, bit for bit.
//
//   plane_walk(width, height, visit)
//                               calls visit(k, fx, fy) for every sample in row-major
//                               order, k being its index in the plane
//   plane_axes(length_x, length_y)
//                               the axes of a scan width by height long (in metres, or in
//                               pixels when no size is known)
#pragma once

#include <cstdint>

// The factors from grid steps to cycles per reference side, along the columns and rows.
struct PlaneAxes {
    double ax;
    double ay;
};

inline PlaneAxes plane_axes(double length_x, double length_y) {
    return length_x <= length_y ? PlaneAxes{1, length_x / length_y} : PlaneAxes{length_y / length_x, 1};
}

template <class Visit>
inline void plane_walk(uint32_t width, uint32_t height, Visit&& visit) {
    const int64_t cx = width / 2;
    const int64_t cy = height / 2;
    uint64_t k = 0;
    for (int64_t y = 0; y < height; ++y) {
        const int64_t fy = cy - y;
        for (int64_t x = 0; x < width; ++x, ++k) {
            visit(k, x - cx, fy);
        }
    }
}
