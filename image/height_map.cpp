// The height map's own operations, which need no reader: a map from a picture, scaling,
// and the points without a valid height. heights.h describes them.
#include <cmath>
#include <cstdio>

#include "image/heights.h"
#include "system/report.h"

int heights_from_image(const Image& image, HeightMap& map) {
    uint64_t count = 0;
    if (!size_mul(image.width, image.height, &count)) {
        report_alloc_failure();
        return 1;
    }
    Buffer<double> z = buffer_new<double>(count);
    if (!z) return 1;
    const uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k) z[k] = p[k * 3 + 2];
    HeightMap made{};
    made.width = image.width;
    made.height = image.height;
    made.z = std::move(z);
    made.format = kHeightsBmp;
    map = std::move(made);
    return 0;
}

int heights_scale(HeightMap& map, double factor) {
    // Heights up to 1e100 keep |F|^2 <= (N^2 * 1e100)^2 finite for every side the
    // transform takes (N < 2^31).
    constexpr double kLimit = 1e100;
    const uint64_t count = uint64_t{map.width} * map.height;
    bool beyond = false;
    for (uint64_t k = 0; k < count; ++k) {
        if (factor != 1) map.z[k] *= factor;
        if (std::fabs(map.z[k]) > kLimit) beyond = true;
    }
    if (beyond) {
        report("Error: Heights times %g exceed 1e100 in magnitude\n", factor);
        return 1;
    }
    return 0;
}

uint64_t heights_invalid(const HeightMap& map, uint64_t* first) {
    const uint64_t count = uint64_t{map.width} * map.height;
    uint64_t invalid = 0;
    *first = 0;
    for (uint64_t k = count; k-- > 0;) {
        if (std::isnan(map.z[k])) {
            ++invalid;
            *first = k;
        }
    }
    return invalid;
}

void heights_fill(HeightMap& map, double value) {
    const uint64_t count = uint64_t{map.width} * map.height;
    for (uint64_t k = 0; k < count; ++k) {
        if (std::isnan(map.z[k])) map.z[k] = value;
    }
}
