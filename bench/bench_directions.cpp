// The angles and peaks of varlox-view on square pictures of the sides of sides.h (run
// with VARLOX_BENCH_SIDES="512 2048" for the figures the manual gives):
//
//   Directions/angles/SIDE   the angular spectrum of a power plane, its dominant
//                            direction and its aspect
//   Directions/find/SIDE     the peaks of a power plane (the 10 strongest kept)
//   Directions/refine/SIDE   one peak of a grating with noise under a Hann window,
//                            measured between the grid's frequencies from its grid sample
//                            (the counter "passes" is the passes over the heights it took)
//   Measure/SIDE/ROWS/THREADS
//                            varlox-view's whole measurement (view_measure: level, Hann
//                            window, transform, psd, angles, one peak) of noise on SIDE
//                            columns by ROWS rows, ROWS being SIDE and SIDE / 2, on 1 and 2
//                            threads: a map half as high costs about 0.4 to 0.5 of the
//                            square (the transform M N (M + N), the rest M N)
//
// The planes are drawn here rather than transformed: the cost of these steps does not
// depend on where the power came from, and a transform of side 2048 takes far longer.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "analysis/angles.h"
#include "analysis/measure.h"
#include "analysis/peaks.h"
#include "bench/sides.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Exponential speckle: the power plane of noise.
std::vector<double> speckle(int64_t n) {
    std::mt19937 rng(5);
    std::vector<double> p(static_cast<std::size_t>(n * n));
    for (double& v : p) v = -std::log(rng() / 4294967296.0 + 1e-12);
    return p;
}

void angles(benchmark::State& state) {
    const int64_t n = state.range(0);
    const std::vector<double> p = speckle(n);
    for (auto _ : state) {
        AngularSpectrum a;
        angular_new(a);
        benchmark::DoNotOptimize(angular_accumulate(
            p.data(), static_cast<uint32_t>(n), static_cast<uint32_t>(n), PlaneAxes{1, 1}, 2, n / 2.0, a));
        benchmark::DoNotOptimize(angular_direction(a));
        benchmark::DoNotOptimize(angular_aspect(a));
    }
}

void find(benchmark::State& state) {
    const int64_t n = state.range(0);
    const std::vector<double> p = speckle(n);
    for (auto _ : state) {
        Buffer<Peak> peaks;
        uint64_t found = 0;
        peaks_find(p.data(), static_cast<uint32_t>(n), static_cast<uint32_t>(n), PlaneAxes{1, 1}, 10, peaks,
                   &found);
        benchmark::DoNotOptimize(found);
    }
}

void refine(benchmark::State& state) {
    const int64_t n = state.range(0);
    const auto side = static_cast<uint32_t>(n);
    // A grating of 37.3 px at 41.2 degrees, noise of the grating's size.
    std::mt19937 rng(3);
    const double fx = n / 37.3 * std::cos(41.2 * kPi / 180);
    const double fy = n / 37.3 * std::sin(41.2 * kPi / 180);
    std::vector<double> z(static_cast<std::size_t>(n * n));
    std::vector<double> w(side);
    for (uint32_t j = 0; j < side; ++j) w[j] = 0.5 - 0.5 * std::cos(2 * kPi * j / n);
    for (uint32_t r = 0; r < side; ++r)
        for (uint32_t c = 0; c < side; ++c)
            z[static_cast<std::size_t>(r) * side + c] =
                std::cos(2 * kPi * (fx * c - fy * r) / n) + (rng() / 4294967296.0 - 0.5);
    Peak start{};
    start.grid_fx = std::llround(fx);
    start.grid_fy = std::llround(fy);
    uint32_t passes = 0;
    for (auto _ : state) {
        Peak peak = start;
        peak_refine(z.data(), side, side, PlaneAxes{1, 1}, w.data(), w.data(), peak);
        passes = peak.steps;
        benchmark::DoNotOptimize(peak.frequency);
    }
    state.counters["passes"] = passes;
}

void measure(benchmark::State& state) {
    const auto width = static_cast<uint32_t>(state.range(0));
    const auto height = static_cast<uint32_t>(state.range(1));
    std::mt19937 rng(9);
    std::vector<double> z(uint64_t{width} * height);
    for (double& v : z) v = rng() / 4294967296.0;
    MeasureOptions m{};
    m.z_scale = 1;
    m.measuring = true;
    m.level = kLevelMean;
    m.window = Window{kWindowHann, 1};
    m.peaks = 1;
    m.threads = static_cast<int>(state.range(2));
    for (auto _ : state) {
        HeightMap map{};
        map.width = width;
        map.height = height;
        map.z = buffer_new<double>(z.size());
        std::copy(z.begin(), z.end(), map.z.get());
        ViewResult r;
        if (view_measure(map, m, r) != 0) state.SkipWithError("the measurement failed");
        benchmark::DoNotOptimize(r.rms);
    }
}

[[maybe_unused]] const bool registered = [] {
    const std::vector<int64_t> sides = bench_sides();
    const struct {
        const char* name;
        void (*run)(benchmark::State&);
    } steps[] = {{"Directions/angles", angles}, {"Directions/find", find}, {"Directions/refine", refine}};
    for (const auto& step : steps) {
        auto* b = benchmark::RegisterBenchmark(step.name, step.run);
        for (int64_t n : sides) b->Arg(n);
        b->Unit(benchmark::kMillisecond);
    }
    auto* b = benchmark::RegisterBenchmark("Measure", measure);
    for (int64_t n : sides) {
        for (const int64_t threads : {1, 2}) {
            b->Args({n, n, threads});
            b->Args({n, n / 2 > 0 ? n / 2 : 1, threads});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
    return true;
}();

}  // namespace
