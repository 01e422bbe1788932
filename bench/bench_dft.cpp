// The transform alone: every vector path this processor offers and the literal per-line
// transform, on picture-like square planes (grey levels in the real parts, zero imaginary
// parts, as the program transforms them). Each reports ns_per_term, the time per complex
// term: a plane of side N has 2 N^3 of them. Only the transform is timed, as processor
// time of the thread (a busy shared machine disturbs it much less than wall time);
// copying the input plane before each iteration is not. Where the processor's add
// latency is known (bench/clock.h), the clock is measured right after the case and the
// time is also given as cycles_per_term, and for the AVX2 path as share_of_limit, the
// limit of its arithmetic over the cycles it took. Threads/SIDE/T gives the speed-up of
// the transform on T threads over one, both timed in the same iterations.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench/clock.h"
#include "bench/sides.h"
#include "spectrum/dft.h"
#include "system/os.h"

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
        state,
        [path](double* re, double* im, int n) {
            return dft_2d_run(re, im, n, n, DftDirection::kForward, DftRun{path, 1, nullptr});
        },
        path == kDftAvx2);
}

double wall_seconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The transform on the best path on one thread and on `threads`, taking turns in every
// iteration, in wall time: speedup is the best one-thread time over the best time on
// `threads`, per_thread that over the thread count. The iteration time is the threaded one.
void bm_threads(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    const Plane input = picture_plane(n);
    Plane p = input;
    double best[2] = {1e300, 1e300};
    for (auto _ : state) {
        double taken = 0;
        for (int turn = 0; turn < 2; ++turn) {
            p.re = input.re;
            p.im = input.im;
            const double t0 = wall_seconds();
            const int status = dft_2d_run(p.re.data(), p.im.data(), n, n, DftDirection::kForward,
                                          DftRun{kDftBest, turn == 0 ? 1 : threads, nullptr});
            taken = wall_seconds() - t0;
            if (status != 0) {
                state.SkipWithError("transform failed");
                return;
            }
            benchmark::DoNotOptimize(p.re.data());
            if (taken < best[turn]) best[turn] = taken;
        }
        state.SetIterationTime(taken);
    }
    state.counters["speedup"] = best[0] / best[1];
    state.counters["per_thread"] = best[0] / best[1] / threads;
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
    // Threads/SIDE/T for 2 threads and the processors of the affinity mask.
    const int processors = os_processor_count();
    auto* t = benchmark::RegisterBenchmark("Threads", bm_threads);
    for (int64_t n : sides) {
        t->Args({n, 2});
        if (processors > 2) t->Args({n, processors});
    }
    t->UseManualTime()->Unit(benchmark::kMillisecond);
    auto* b = benchmark::RegisterBenchmark("Literal", bm_literal);
    for (int64_t n : sides) b->Arg(n);
    b->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::AddCustomContext("core", core_clock().family);
    return true;
}();

}  // namespace
