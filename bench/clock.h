// The processor's clock, measured in the same run as the benchmarks, so that times can be
// given in cycles on a machine whose clock varies (turbo, power states, a shared VM).
//
// A chain of dependent double additions runs at one addition per add latency: 3 cycles
// on AMD Zen 2, 3 and 4, 4 cycles on Intel cores since Skylake. The chain's additions
// per second of thread time, times that latency, is the clock. Only processors whose
// latency is known here get a clock; the others get none, rather than a guess.
//
// The limit of the AVX2 path (cycles per nominal term) follows from the arithmetic and
// the pipes (docs/DEVELOPING.md derives it): a row of a real picture takes 2
// multiplications and 2 additions per term, a column 4 and 4; with two 256-bit multiply
// and two 256-bit add pipes (Zen 2 to 4), rows need 0.25 cycles per term and columns 0.5,
// 0.375 per nominal term (a plane has 2 N^3 of them, half in rows, half in columns).
//
//   core_clock()   the clock in GHz measured now (0 when the add latency of this
//                  processor is not known), the family's name, and the AVX2 limit (0 when
//                  not known); a quarter of a second of work
#pragma once

#include <time.h>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#endif

struct CoreClock {
    double ghz;
    const char* family;
    double avx2_limit;  // cycles per nominal term
};

namespace clock_detail {

inline double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Dependent additions per second of thread time, the best of a few tries.
inline double additions_per_second() {
    double best = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        constexpr long kAdds = 50'000'000;
        volatile double seed = 1e-9;
        double x = 0;
        const double y = seed;
        const double t0 = thread_seconds();
        for (long i = 0; i < kAdds; ++i) {
            x = x + y;  // each addition waits for the one before
        }
        const double s = thread_seconds() - t0;
        volatile double sink = x;
        (void)sink;
        if (s > 0 && kAdds / s > best) best = kAdds / s;
    }
    return best;
}

// The family, its add latency in cycles and its AVX2 limit; latency 0 when unknown.
struct Family {
    const char* name;
    int latency;
    double avx2_limit;
};

inline Family family() {
#if defined(__x86_64__) && defined(__GNUC__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return {"unknown", 0, 0};
    const bool amd = b == 0x68747541 && d == 0x69746e65 && c == 0x444d4163;    // AuthenticAMD
    const bool intel = b == 0x756e6547 && d == 0x49656e69 && c == 0x6c65746e;  // GenuineIntel
    __get_cpuid(1, &a, &b, &c, &d);
    const unsigned base = (a >> 8) & 15;
    const unsigned fam = base == 15 ? base + ((a >> 20) & 255) : base;
    const unsigned model = ((a >> 4) & 15) | (base == 15 || base == 6 ? ((a >> 16) & 15) << 4 : 0);
    if (amd && fam == 0x17 && model >= 0x30) return {"AMD Zen 2", 3, 0.375};
    if (amd && fam == 0x19)
        return {(model >= 0x10 && model <= 0x1f) || model >= 0x60 ? "AMD Zen 4" : "AMD Zen 3", 3, 0.375};
    // Skylake and later cores add doubles in 4 cycles; their limit is not derived here.
    if (intel && fam == 6 && model >= 0x4e) return {"Intel (Skylake or later)", 4, 0};
#endif
    return {"unknown", 0, 0};
}

}  // namespace clock_detail

inline CoreClock core_clock() {
    const clock_detail::Family f = clock_detail::family();
    const double ghz = f.latency > 0 ? clock_detail::additions_per_second() * f.latency * 1e-9 : 0;
    return CoreClock{ghz, f.name, f.avx2_limit};
}
