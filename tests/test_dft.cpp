#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "spectrum/dft.h"
#include "spectrum/spectrum.h"

namespace {

struct Plane {
    std::vector<double> re, im;
};

// Random plane with values of mixed sign and magnitude; real_only leaves every
// imaginary part at +0 (the first pass over a picture).
Plane random_plane(int w, int h, bool real_only, uint32_t seed) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> dist(-300.0, 300.0);
    Plane p{std::vector<double>(std::size_t(w) * h), std::vector<double>(std::size_t(w) * h, 0.0)};
    for (auto& v : p.re) v = dist(gen);
    if (!real_only) {
        for (auto& v : p.im) v = dist(gen);
    }
    return p;
}

DftDirection direction_of(int dir) {
    return dir == +1 ? DftDirection::kForward : DftDirection::kInverse;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b, std::size_t* at) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) {
            *at = i;
            return false;
        }
    }
    return true;
}

TEST(Dft1d, WorkedLines) {
    struct Case {
        std::vector<double> re, im, want_re, want_im;
    };
    const Case cases[] = {
        {{7.5}, {-2.0}, {7.5}, {-2.0}},                            // n = 1: unchanged
        {{1, 1, 1, 1}, {0, 0, 0, 0}, {4, 0, 0, 0}, {0, 0, 0, 0}},  // constant: zero frequency only
        {{1, 0, 0, 0}, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}},  // impulse: flat
        // e^(2 pi i j / 4) lands entirely in bin 1 of a forward transform.
        {{1, 0, -1, 0}, {0, 1, 0, -1}, {0, 4, 0, 0}, {0, 0, 0, 0}},
        // A cosine of frequency 1 gives two bins of half the length each.
        {{1, 0, -1, 0}, {0, 0, 0, 0}, {0, 2, 0, 2}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::vector<double> re = c.re, im = c.im;
        ASSERT_EQ(dft_1d(re.data(), im.data(), static_cast<int32_t>(re.size()), +1), 0);
        for (std::size_t k = 0; k < re.size(); ++k) {
            EXPECT_NEAR(re[k], c.want_re[k], 1e-14) << "n=" << re.size() << " k=" << k;
            EXPECT_NEAR(im[k], c.want_im[k], 1e-14) << "n=" << re.size() << " k=" << k;
        }
    }
}

TEST(Dft1d, InverseUndoesForwardForEveryLengthUpTo17) {
    for (int n = 1; n <= 17; ++n) {
        Plane p = random_plane(n, 1, false, 100 + n);
        Plane q = p;
        ASSERT_EQ(dft_1d(q.re.data(), q.im.data(), n, +1), 0);
        ASSERT_EQ(dft_1d(q.re.data(), q.im.data(), n, -1), 0);
        for (int j = 0; j < n; ++j) {
            EXPECT_NEAR(q.re[j], p.re[j], 1e-10) << "n=" << n;
            EXPECT_NEAR(q.im[j], p.im[j], 1e-10) << "n=" << n;
        }
    }
}

TEST(Dft1d, MatchesTheDefinitionForPrimeLength) {
    const int n = 13;
    Plane p = random_plane(n, 1, false, 7);
    Plane q = p;
    ASSERT_EQ(dft_1d(q.re.data(), q.im.data(), n, +1), 0);
    for (int k = 0; k < n; ++k) {
        long double sr = 0, si = 0;
        for (int j = 0; j < n; ++j) {
            const long double a = -2.0L * 3.14159265358979323846264L * k * j / n;
            sr += p.re[j] * std::cos(a) - p.im[j] * std::sin(a);
            si += p.re[j] * std::sin(a) + p.im[j] * std::cos(a);
        }
        EXPECT_NEAR(q.re[k], static_cast<double>(sr), 1e-9) << k;
        EXPECT_NEAR(q.im[k], static_cast<double>(si), 1e-9) << k;
    }
}

// A plane the fast transform is checked on, in the directions given.
struct Input {
    std::string what;
    int w, h;
    Plane plane;
    std::vector<int> dirs;
};

std::vector<Input> literal_cases() {
    std::vector<Input> cases;
    const int shapes[][2] = {{1, 1}, {2, 2},   {3, 3},   {4, 4},   {5, 5},   {7, 7},
                             {8, 8}, {16, 16}, {17, 17}, {31, 31}, {64, 64}, {100, 100},
                             {5, 3}, {3, 5},   {64, 16}, {16, 64}, {1, 9},   {33, 2}};
    for (const auto& s : shapes) {
        for (bool real_only : {true, false}) {
            cases.push_back(
                {std::to_string(s[0]) + "x" + std::to_string(s[1]) + (real_only ? " real" : " complex"),
                 s[0],
                 s[1],
                 random_plane(s[0], s[1], real_only, s[0] * 131 + s[1]),
                 {+1, -1}});
        }
    }
    // Skipping the products with zero imaginary parts must keep signed zeros: zeros of
    // both signs in the real parts, and exact zero imaginary parts of both signs.
    const int n = 12;
    Plane zeros{std::vector<double>(n * n), std::vector<double>(n * n)};
    for (int i = 0; i < n * n; ++i) {
        zeros.re[i] = (i % 3 == 0) ? 0.0 : (i % 3 == 1 ? -0.0 : (i % 7) - 3.0);
        zeros.im[i] = (i % 2 == 0) ? 0.0 : -0.0;
    }
    cases.push_back({"signed zeros", n, n, zeros, {+1, -1}});
    // A group of lines is transformed without its imaginary parts only when every one of
    // them is zero: a single nonzero one, in any line of a group (first, last or a partial
    // last group) and at any element, must be taken into account.
    const int w = 21, h = 37;
    const int spots[][2] = {{0, 0}, {3, 20}, {7, 0}, {31, 10}, {32, 5}, {36, 20}, {18, 11}};
    for (const auto& spot : spots) {
        Plane p = random_plane(w, h, true, 5);
        p.im[std::size_t(spot[0]) * w + spot[1]] = 0.25;
        cases.push_back(
            {"one imaginary part at (" + std::to_string(spot[0]) + "," + std::to_string(spot[1]) + ")",
             w,
             h,
             p,
             {+1}});
    }
    return cases;
}

TEST(Dft2d, BitIdenticalToLiteralOnEveryPath) {
    // Every path the processor runs through dft_2d_run, and kDftPathCount for dft_2d,
    // which takes the best one.
    std::vector<int> paths;
    for (int p = 0; p < kDftPathCount; ++p) {
        if (dft_path_supported(static_cast<DftPath>(p))) paths.push_back(p);
    }
    paths.push_back(kDftPathCount);
    for (const Input& c : literal_cases()) {
        for (int dir : c.dirs) {
            Plane want = c.plane;
            ASSERT_EQ(dft_2d_literal(want.re.data(), want.im.data(), c.w, c.h, dir), 0);
            for (int p : paths) {
                const auto path = static_cast<DftPath>(p);
                Plane got = c.plane;
                const int status = p == kDftPathCount
                                       ? dft_2d(got.re.data(), got.im.data(), c.w, c.h, dir)
                                       : dft_2d_run(got.re.data(), got.im.data(), c.w, c.h, direction_of(dir),
                                                    DftRun{path, 1, nullptr});
                ASSERT_EQ(status, 0);
                const std::string where = std::string(p == kDftPathCount ? "dft_2d" : dft_path_name(path)) +
                                          " " + c.what + " dir " + std::to_string(dir);
                std::size_t at = 0;
                EXPECT_TRUE(same_bits(got.re, want.re, &at))
                    << where << " re[" << at << "] " << got.re[at] << " vs " << want.re[at];
                EXPECT_TRUE(same_bits(got.im, want.im, &at)) << where << " im[" << at << "]";
            }
        }
    }
}

TEST(Dft2d, EveryThreadCountGivesTheSameBitsAndOneProgress) {
    // Sides of several batches of 64 lines, odd and even, square and not, real and
    // complex; thread counts that divide the batches evenly and not, and more threads
    // than batches.
    const int shapes[][2] = {{200, 200}, {129, 129}, {70, 300}, {300, 7}};
    struct Seen {
        std::vector<double> done;
        std::thread::id caller;
        bool other_thread;
    };
    const DftProgress progress{[](void* c, double done) {
                                   auto* seen = static_cast<Seen*>(c);
                                   seen->done.push_back(done);
                                   seen->other_thread |= std::this_thread::get_id() != seen->caller;
                               },
                               nullptr};
    for (int p = 0; p < kDftPathCount; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (!dft_path_supported(path)) continue;
        for (const auto& s : shapes) {
            for (bool real_only : {true, false}) {
                const Plane in = random_plane(s[0], s[1], real_only, s[0] + s[1]);
                Plane want = in;
                ASSERT_EQ(dft_2d_run(want.re.data(), want.im.data(), s[0], s[1], DftDirection::kForward,
                                     DftRun{path, 1, nullptr}),
                          0);
                for (int threads : {1, 2, 3, 7}) {
                    Plane got = in;
                    Seen seen{{}, std::this_thread::get_id(), false};
                    DftProgress reporting = progress;
                    reporting.context = &seen;
                    ASSERT_EQ(dft_2d_run(got.re.data(), got.im.data(), s[0], s[1], DftDirection::kForward,
                                         DftRun{path, threads, &reporting}),
                              0);
                    const std::string where = std::string(dft_path_name(path)) + " " + std::to_string(s[0]) +
                                              "x" + std::to_string(s[1]) +
                                              (real_only ? " real" : " complex") + " threads " +
                                              std::to_string(threads);
                    std::size_t at = 0;
                    EXPECT_TRUE(same_bits(got.re, want.re, &at)) << where << " re[" << at << "]";
                    EXPECT_TRUE(same_bits(got.im, want.im, &at)) << where << " im[" << at << "]";
                    EXPECT_FALSE(seen.other_thread) << where;
                    ASSERT_FALSE(seen.done.empty()) << where;
                    EXPECT_TRUE(std::is_sorted(seen.done.begin(), seen.done.end())) << where;
                    EXPECT_EQ(seen.done.back(), 1.0) << where;
                }
            }
        }
    }
}

TEST(DftPath, BaselinePathsAreSupportedAndTheWidestIsPreferred) {
    // Doubles per vector of each path: the one dft_2d takes must have the widest vectors
    // this processor runs.
    const int width[kDftPathCount] = {1, 2, 4, 8, 2};
    int widest = 0;
    for (int p = 0; p < kDftPathCount; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (dft_path_baseline(path)) {
            EXPECT_TRUE(dft_path_supported(path)) << dft_path_name(path);
        }
        if (dft_path_supported(path) && width[p] > widest) widest = width[p];
    }
    EXPECT_TRUE(dft_path_baseline(kDftPortable));
    EXPECT_TRUE(dft_path_supported(dft_path_best()));
    EXPECT_EQ(width[dft_path_best()], widest) << dft_path_name(dft_path_best());
}

TEST(Dft2d, RoundTripReturnsThePlane) {
    const Plane in = random_plane(9, 6, false, 11);
    Plane q = in;
    ASSERT_EQ(dft_2d(q.re.data(), q.im.data(), 9, 6, +1), 0);
    ASSERT_EQ(dft_2d(q.re.data(), q.im.data(), 9, 6, -1), 0);
    for (std::size_t i = 0; i < in.re.size(); ++i) {
        EXPECT_NEAR(q.re[i], in.re[i], 1e-10);
        EXPECT_NEAR(q.im[i], in.im[i], 1e-10);
    }
}

TEST(Dft, RefusesTheCallersErrorsWithTheirMessageAndTouchesNothing) {
    using Call = std::function<int(double*, double*)>;
    struct Case {
        std::string what;
        Call call;
        std::string message;
    };
    const std::string length = "Error: A transform needs a length of 1 or more, not ";
    const std::string direction = "Error: A transform's direction is +1 or -1, not ";
    std::vector<Case> cases = {
        {"dft_1d n 0", [](double* re, double* im) { return dft_1d(re, im, 0, +1); }, length + "0\n"},
        {"dft_1d n -3", [](double* re, double* im) { return dft_1d(re, im, -3, -1); }, length + "-3\n"},
        {"dft_1d dir 0", [](double* re, double* im) { return dft_1d(re, im, 4, 0); }, direction + "0\n"},
        {"dft_2d_literal width 0", [](double* re, double* im) { return dft_2d_literal(re, im, 0, 2, +1); },
         length + "0\n"},
        {"dft_2d_literal height -1", [](double* re, double* im) { return dft_2d_literal(re, im, 2, -1, -1); },
         length + "-1\n"},
        {"dft_2d_literal dir 2", [](double* re, double* im) { return dft_2d_literal(re, im, 2, 2, 2); },
         direction + "2\n"},
        {"dft_2d width 0", [](double* re, double* im) { return dft_2d(re, im, 0, 4, +1); }, length + "0\n"},
        {"dft_2d height 0", [](double* re, double* im) { return dft_2d(re, im, 4, 0, -1); }, length + "0\n"},
        {"dft_2d dir -2", [](double* re, double* im) { return dft_2d(re, im, 2, 2, -2); },
         direction + "-2\n"},
        {"dft_2d_run width -7 on 2 threads",
         [](double* re, double* im) {
             return dft_2d_run(re, im, -7, 2, DftDirection::kForward, DftRun{kDftBest, 2, nullptr});
         },
         length + "-7\n"},
        {"dft_2d_run height 0",
         [](double* re, double* im) { return dft_2d_run(re, im, 3, 0, DftDirection::kInverse, DftRun{}); },
         length + "0\n"},
        {"heights_spectrum width 0",
         [](double* re, double* im) { return heights_spectrum(re, 0, 3, re, im); }, length + "0\n"},
    };
    // Every path this processor lacks (there is one on every architecture), and a value
    // that names no path.
    for (int p = 0; p <= kDftPathCount + 1; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (p == kDftBest || dft_path_supported(path)) continue;
        cases.push_back(
            {std::string("dft_2d_run on ") + dft_path_name(path),
             [path](double* re, double* im) {
                 return dft_2d_run(re, im, 2, 2, DftDirection::kForward, DftRun{path, 1, nullptr});
             },
             std::string("Error: This processor cannot run the transform's ") + dft_path_name(path) +
                 " path\n"});
    }
    for (const Case& c : cases) {
        const Plane before = random_plane(4, 4, false, 3);
        Plane p = before;
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.call(p.re.data(), p.im.data()), 1) << c.what;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message) << c.what;
        std::size_t at = 0;
        EXPECT_TRUE(same_bits(p.re, before.re, &at)) << c.what << " re[" << at << "]";
        EXPECT_TRUE(same_bits(p.im, before.im, &at)) << c.what << " im[" << at << "]";
    }
}

}  // namespace
