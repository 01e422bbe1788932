// The picture sides the benchmarks are registered for: 256, 512 and 1024, or the sides
// listed (separated by spaces or commas) in the environment variable VARLOX_BENCH_SIDES.
//
//   bench_sides()   the sides, in the order given; the default when the list is unset,
//                   empty or holds anything but sides from 1 to 8192
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

inline std::vector<int64_t> bench_sides() {
    const std::vector<int64_t> fallback = {256, 512, 1024};
    const char* list = std::getenv("VARLOX_BENCH_SIDES");
    if (list == nullptr) return fallback;
    std::vector<int64_t> sides;
    for (const char* p = list; *p != '\0';) {
        if (*p == ' ' || *p == ',') {
            ++p;
            continue;
        }
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p || n < 1 || n > 8192) return fallback;
        sides.push_back(n);
        p = end;
    }
    return sides.empty() ? fallback : sides;
}
