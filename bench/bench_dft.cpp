// The transform alone: every vector path this processor offers and the literal per-line
// transform, on picture-like square planes (grey levels in the real parts, zero imaginary
// parts, as the program transforms them). Each reports ns_per_term, the time per complex
// term: a plane of side N has 2 N^3 of them. Only the transform is timed, as processor
// time of the thread (a busy shared machine disturbs it much less than wall time);
// copying the input plane before each iteration is not. Where the processor's add
// latency is known (bench/clock.h), the clock is measured right after the case and the
// time is also given as cycles_per_term, and for the AVX2 path as share_of_limit, the
// limit of its arithmetic over the cycles it took.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench/clock.h"
#include "bench/sides.h"
#include "spectrum/dft.h"

namespace {

struct Plane {
    std::vector<double> re, im;
};

Plane picture_plane(int n) {
    std::mt19937 gen(42);
    Plane p{std::vector<double>(std::size_t(n) * n), std::vector<double>(std::size_t(n) * n, 0.0)};
    for (auto& v : p.re) v = static_cast<double>(gen() % 256);
    return p;
}

double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Times `transform` on a fresh copy of the plane in every iteration.
template <class F>
void time_transform(benchmark::State& state, F transform, bool limit_applies = false) {
    const int n = static_cast<int>(state.range(0));
    const Plane input = picture_plane(n);
    Plane p = input;
    double total = 0;
    for (auto _ : state) {
        p.re = input.re;
        p.im = input.im;
        const double t0 = thread_seconds();
        const int status = transform(p.re.data(), p.im.data(), n);
        const double s = thread_seconds() - t0;
        if (status != 0) {
            state.SkipWithError("transform failed");
            break;
        }
        benchmark::DoNotOptimize(p.re.data());
        state.SetIterationTime(s);
        total += s;
    }
    const double terms = 2.0 * n * n * n;
    const double ns_per_term = total * 1e9 / (terms * static_cast<double>(state.iterations()));
    state.counters["ns_per_term"] = ns_per_term;
    const CoreClock clock = core_clock();
    if (clock.ghz > 0) {
        state.counters["GHz"] = clock.ghz;
        state.counters["cycles_per_term"] = ns_per_term * clock.ghz;
        if (limit_applies && clock.avx2_limit > 0) {
            state.counters["share_of_limit"] = clock.avx2_limit / (ns_per_term * clock.ghz);
        }
    }
}

void bm_transform(benchmark::State& state, DftPath path) {
    if (!dft_path_supported(path)) {
        state.SkipWithError("path not supported by this processor");
        for (auto _ : state) {
        }
        return;
    }
    time_transform(
        state, [path](double* re, double* im, int n) { return dft_2d_on(path, re, im, n, n, +1); },
        path == kDftAvx2);
}

void bm_literal(benchmark::State& state) {
    time_transform(state, [](double* re, double* im, int n) { return dft_2d_literal(re, im, n, n, +1); });
}

// Registered at start-up as Transform/PATH/SIDE for the paths this processor runs, and
// Literal/SIDE. The literal transform takes seconds at 512 and about a minute at 1024:
// one iteration each is enough for a reference.
[[maybe_unused]] const bool registered = [] {
    const std::vector<int64_t> sides = bench_sides();
    for (int p = 0; p < kDftPathCount; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (!dft_path_supported(path)) continue;
        auto* b = benchmark::RegisterBenchmark((std::string("Transform/") + dft_path_name(path)).c_str(),
                                               bm_transform, path);
        for (int64_t n : sides) b->Arg(n);
        b->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    auto* b = benchmark::RegisterBenchmark("Literal", bm_literal);
    for (int64_t n : sides) b->Arg(n);
    b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::AddCustomContext("core", core_clock().family);
    return true;
}();

}  // namespace
