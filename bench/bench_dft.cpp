// Times the shared-table transform against the literal per-line transform on square
// planes of side 256, 512 and 1024 (the literal one only up to `literal_max`, default
// 512, since it takes about a minute at 1024). Prints seconds, nanoseconds per complex
// term (a side-N plane has 2 N^3 terms) and the speed-up, for each vector path. Sides
// given after literal_max replace 256, 512 and 1024 (small ones for an emulator).
//
// Usage: bench_dft [literal_max [side ...]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "spectrum/dft.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Plane {
    std::vector<double> re, im;
};

// A picture-like plane: grey levels in the real parts, zero imaginary parts, as the
// program transforms it.
Plane picture_plane(int n) {
    std::mt19937 gen(42);
    Plane p{std::vector<double>(std::size_t(n) * n), std::vector<double>(std::size_t(n) * n, 0.0)};
    for (auto& v : p.re) v = static_cast<double>(gen() % 256);
    return p;
}

template <class F>
double seconds(F&& f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int literal_max = argc > 1 ? std::atoi(argv[1]) : 512;
    std::printf("%-6s %-9s %10s %12s %9s\n", "side", "path", "seconds", "ns/term", "speed-up");
    std::vector<int> sides = {256, 512, 1024};
    if (argc > 2) {
        sides.clear();
        for (int i = 2; i < argc; ++i) sides.push_back(std::atoi(argv[i]));
    }
    for (int n : sides) {
        if (n < 1) continue;
        const double terms = 2.0 * n * n * n;
        double literal = 0;
        if (n <= literal_max) {
            Plane p = picture_plane(n);
            literal = seconds([&] { dft_2d_literal(p.re.data(), p.im.data(), n, n, +1); });
            std::printf("%-6d %-9s %10.3f %12.3f %9s\n", n, "literal", literal, literal / terms * 1e9, "1");
        }
        for (int path = 0; path < kDftPathCount; ++path) {
            const auto dp = static_cast<DftPath>(path);
            if (!dft_path_supported(dp)) continue;
            // Best of three, to damp the noise of a shared machine.
            double best = 1e300;
            for (int rep = 0; rep < 3; ++rep) {
                Plane p = picture_plane(n);
                const double t = seconds([&] { dft_2d_on(dp, p.re.data(), p.im.data(), n, n, +1); });
                if (t < best) best = t;
            }
            char ratio[32] = "-";
            if (literal > 0) std::snprintf(ratio, sizeof ratio, "%.0f", literal / best);
            std::printf("%-6d %-9s %10.3f %12.3f %9s\n", n, dft_path_name(dp), best, best / terms * 1e9, ratio);
        }
        std::fflush(stdout);
    }
    return 0;
}
