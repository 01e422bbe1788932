// The centred plane's geometry, in one place: every pass over a centred spectrum (the
// radial bins, the psd's spread, the angular spectrum, the peaks) walks it through
// plane_walk, so that all of them agree on where each sample lies.
//
// A centred plane of width x height samples, row-major, has its zero frequency at row
// height/2 and column width/2 (both rounded down). The sample at row y, column x lies
// fx = x - width/2 columns to the right of it and fy = height/2 - y rows above it: in
// cycles per side, fx along the columns and fy upwards (rows count downwards).
//
//   plane_walk(width, height, visit)
//                               calls visit(k, fx, fy) for every sample in row-major
//                               order, k being its index in the plane
#pragma once

#include <cstdint>

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
