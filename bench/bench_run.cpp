// A whole run and its stages on square pictures of side 256, 512 and 1024 (or the sides
// of VARLOX_BENCH_SIDES, see sides.h).
//
//   Whole/SIDE            the program from the input file to its five outputs, in process
//                         (its messages go to /dev/null while it runs)
//   Stage/read/SIDE       reading the BMP file and turning it grey
//   Stage/spectrum/SIDE   the centred spectrum: angle table, transform, quadrant shift
//   Stage/magnitudes/SIDE amplitude and power of every sample
//   Stage/bins/SIDE       the radial bins and the value ranges
//   Stage/draw/SIDE       the four pictures drawn (two grey, two ramp)
//   Stage/write/SIDE      the four pictures and the profile written
//
// The stages add up to about a whole run; Whole/512 against Literal/512 (bench_dft.cpp)
// is the speed-up of the program over the literal per-line transform alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/bins.h"
#include "analysis/draw.h"
#include "app/driver.h"
#include "app/profile.h"
#include "bench/sides.h"
#include "image/bmp.h"
#include "spectrum/spectrum.h"

namespace {

// A scratch directory holding one input picture of side n, removed afterwards.
struct Workspace {
    std::filesystem::path dir;
    std::string input;
};

bool workspace_new(Workspace& w, uint32_t n) {
    char pattern[] = "/tmp/varlox-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return false;
    w.dir = pattern;
    w.input = (w.dir / "in.bmp").string();
    ImagePtr image = image_new(n, n);
    if (!image) return false;
    uint32_t x = 12345;  // a deterministic, unstructured grey picture
    for (uint64_t i = 0; i < uint64_t{n} * n; ++i) {
        x = x * 1103515245u + 12345u;
        const auto g = static_cast<uint8_t>(x >> 24);
        for (int ch = 0; ch < 3; ++ch) image->pixels[i * 3 + ch] = g;
    }
    return bmp_write(w.input, *image) == 0;
}

void workspace_free(Workspace& w) {
    std::error_code ec;
    std::filesystem::remove_all(w.dir, ec);
}

// The picture as the analysis sees it, and its planes.
struct Run {
    ImagePtr image;
    Buffer<double> re, im;
    RadialBins bins;
    ValueRange amp, pow;
};

enum Stage { kRead, kSpectrum, kMagnitudes, kBins, kDraw, kWrite, kStageCount };

// Brings `run` to the state just before `stage`; false on any failure.
bool prepare(Run& run, const Workspace& w, Stage stage) {
    run.image = bmp_read(w.input);
    if (!run.image) return false;
    image_to_gray(*run.image);
    const uint64_t count = uint64_t{run.image->width} * run.image->height;
    run.re = buffer_new<double>(count);
    run.im = buffer_new<double>(count);
    if (!run.re || !run.im) return false;
    if (stage > kSpectrum && image_spectrum(*run.image, run.re.get(), run.im.get()) != 0) return false;
    if (stage > kMagnitudes) spectrum_magnitudes(run.re.get(), run.im.get(), count);
    run.amp = value_range_fresh();
    run.pow = value_range_fresh();
    if (!radial_bins_new(run.bins, radial_bin_count(run.image->width, run.image->height))) return false;
    if (stage > kBins) {
        radial_accumulate(run.re.get(), run.im.get(), run.image->width, run.image->height, run.bins, run.amp,
                          run.pow);
    }
    return true;
}

void draw_all(Run& run, const Workspace* w) {
    Image& image = *run.image;
    const OutputNames names = output_names_build("in.bmp");
    for (int i = 0; i < 4; ++i) {
        const Quantity q = i < 2 ? kAmplitude : kPower;
        const ValueRange& r = i < 2 ? run.amp : run.pow;
        if (i % 2 == 0) {
            draw_gray(image, run.re.get(), run.im.get(), q, r);
        } else {
            draw_ramp(image, run.re.get(), run.im.get(), q, r);
        }
        if (w != nullptr) bmp_write((w->dir / names[i]).string(), image);
    }
}

void bm_stage(benchmark::State& state, Stage stage) {
    const auto n = static_cast<uint32_t>(state.range(0));
    Workspace w;
    Run run;
    if (!workspace_new(w, n) || !prepare(run, w, stage)) {
        state.SkipWithError("set-up failed");
        for (auto _ : state) {
        }
        workspace_free(w);
        return;
    }
    const uint64_t count = uint64_t{n} * n;
    const std::string csv = (w.dir / output_names_build("in.bmp")[kProfile]).string();
    std::vector<double> spectrum_re, spectrum_im;
    if (stage == kMagnitudes) {
        image_spectrum(*run.image, run.re.get(), run.im.get());
        spectrum_re.assign(run.re.get(), run.re.get() + count);
        spectrum_im.assign(run.im.get(), run.im.get() + count);
    }
    for (auto _ : state) {
        switch (stage) {
            case kRead: {
                ImagePtr image = bmp_read(w.input);
                if (image) image_to_gray(*image);
                benchmark::DoNotOptimize(image.get());
                break;
            }
            case kSpectrum: image_spectrum(*run.image, run.re.get(), run.im.get()); break;
            case kMagnitudes:
                // Squares of squares would overflow after a few iterations: each starts
                // from a copy of the same spectrum, made untimed.
                state.PauseTiming();
                std::memcpy(run.re.get(), spectrum_re.data(), count * sizeof(double));
                std::memcpy(run.im.get(), spectrum_im.data(), count * sizeof(double));
                state.ResumeTiming();
                spectrum_magnitudes(run.re.get(), run.im.get(), count);
                break;
            case kBins:
                radial_accumulate(run.re.get(), run.im.get(), n, n, run.bins, run.amp, run.pow);
                break;
            case kDraw: draw_all(run, nullptr); break;
            default: {
                // Only the writing is timed: the pictures are drawn before each write.
                for (int i = 0; i < 4; ++i) {
                    state.PauseTiming();
                    draw_gray(*run.image, run.re.get(), run.im.get(), kAmplitude, run.amp);
                    state.ResumeTiming();
                    bmp_write((w.dir / "out.bmp").string(), *run.image);
                }
                std::FILE* f = std::fopen(csv.c_str(), "w");
                if (f != nullptr) {
                    profile_write_header(f);
                    profile_write_rows(f, run.bins, n / 2);
                    std::fclose(f);
                }
                break;
            }
        }
        benchmark::ClobberMemory();
    }
    workspace_free(w);
}

void bm_whole(benchmark::State& state) {
    const auto n = static_cast<uint32_t>(state.range(0));
    Workspace w;
    if (!workspace_new(w, n)) {
        state.SkipWithError("set-up failed");
        for (auto _ : state) {
        }
        return;
    }
    std::fflush(stderr);
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::string input = w.input;
    char* argv[] = {const_cast<char*>("varlox"), input.data(), nullptr};
    int status = 0;
    for (auto _ : state) {
        status |= varlox_main(2, argv);
    }
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(null);
    if (status != 0) state.SkipWithError("a run failed");
    workspace_free(w);
}

[[maybe_unused]] const bool registered = [] {
    const std::vector<int64_t> sides = bench_sides();
    const char* const names[kStageCount] = {"read", "spectrum", "magnitudes", "bins", "draw", "write"};
    for (int s = 0; s < kStageCount; ++s) {
        auto* b = benchmark::RegisterBenchmark((std::string("Stage/") + names[s]).c_str(), bm_stage,
                                               static_cast<Stage>(s));
        for (int64_t n : sides) b->Arg(n);
        b->Unit(benchmark::kMillisecond);
    }
    auto* b = benchmark::RegisterBenchmark("Whole", bm_whole);
    for (int64_t n : sides) b->Arg(n);
    b->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace
