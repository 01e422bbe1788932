#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "spectrum/dft.h"

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
        {{7.5}, {-2.0}, {7.5}, {-2.0}},                       // n = 1: unchanged
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

TEST(Dft1d, RefusesEmptyLine) {
    double re = 1, im = 2;
    testing::internal::CaptureStderr();
    EXPECT_EQ(dft_1d(&re, &im, 0, +1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Memory allocation error\n");
    EXPECT_EQ(re, 1);
    EXPECT_EQ(im, 2);
}

struct Shape {
    int w, h;
};

const Shape kShapes[] = {{1, 1},   {2, 2},   {3, 3},  {4, 4},   {5, 5},  {7, 7},
                         {8, 8},   {16, 16}, {17, 17}, {31, 31}, {64, 64}, {100, 100},
                         {5, 3},   {3, 5},   {64, 16}, {16, 64}, {1, 9},  {33, 2}};

TEST(Dft2d, BitIdenticalToLiteralOnEveryPathShapeAndDirection) {
    int checked_paths = 0;
    for (int p = 0; p < kDftPathCount; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (!dft_path_supported(path)) continue;
        ++checked_paths;
        for (const Shape& s : kShapes) {
            for (int dir : {+1, -1}) {
                for (bool real_only : {true, false}) {
                    const Plane in = random_plane(s.w, s.h, real_only, s.w * 131 + s.h);
                    Plane want = in;
                    Plane got = in;
                    ASSERT_EQ(dft_2d_literal(want.re.data(), want.im.data(), s.w, s.h, dir), 0);
                    ASSERT_EQ(dft_2d_on(path, got.re.data(), got.im.data(), s.w, s.h, dir), 0);
                    std::size_t at = 0;
                    EXPECT_TRUE(same_bits(got.re, want.re, &at))
                        << dft_path_name(path) << " " << s.w << "x" << s.h << " dir " << dir
                        << (real_only ? " real" : " complex") << " re[" << at << "] "
                        << got.re[at] << " vs " << want.re[at];
                    EXPECT_TRUE(same_bits(got.im, want.im, &at))
                        << dft_path_name(path) << " " << s.w << "x" << s.h << " dir " << dir
                        << (real_only ? " real" : " complex") << " im[" << at << "]";
                }
            }
        }
    }
    // The paths every processor of the architecture has were among those checked.
    int baseline_paths = 0;
    for (int p = 0; p < kDftPathCount; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (!dft_path_baseline(path)) continue;
        ++baseline_paths;
        EXPECT_TRUE(dft_path_supported(path)) << dft_path_name(path);
    }
    EXPECT_TRUE(dft_path_baseline(kDftPortable));
    EXPECT_GE(checked_paths, baseline_paths);
}

TEST(Dft2d, SkippingZeroImaginaryTermsKeepsSignedZeros) {
    // Inputs that make many products exactly zero or negative zero: zeros of both signs
    // in the real parts, and exact zero imaginary parts of both signs.
    const int n = 12;
    Plane in{std::vector<double>(n * n), std::vector<double>(n * n)};
    for (int i = 0; i < n * n; ++i) {
        in.re[i] = (i % 3 == 0) ? 0.0 : (i % 3 == 1 ? -0.0 : (i % 7) - 3.0);
        in.im[i] = (i % 2 == 0) ? 0.0 : -0.0;
    }
    for (int p = 0; p < kDftPathCount; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (!dft_path_supported(path)) continue;
        for (int dir : {+1, -1}) {
            Plane want = in, got = in;
            ASSERT_EQ(dft_2d_literal(want.re.data(), want.im.data(), n, n, dir), 0);
            ASSERT_EQ(dft_2d_on(path, got.re.data(), got.im.data(), n, n, dir), 0);
            std::size_t at = 0;
            EXPECT_TRUE(same_bits(got.re, want.re, &at)) << dft_path_name(path) << " re " << at;
            EXPECT_TRUE(same_bits(got.im, want.im, &at)) << dft_path_name(path) << " im " << at;
        }
    }
}

TEST(Dft2d, OneNonzeroImaginaryPartMakesItsGroupComplex) {
    // A group of lines is transformed without its imaginary parts only when every one of
    // them is zero. A single nonzero imaginary part, in any line of a group (first, last
    // or a partial last group) and at any element, must be taken into account.
    const int w = 21, h = 37;
    const int spots[][2] = {{0, 0}, {3, 20}, {7, 0}, {31, 10}, {32, 5}, {36, 20}, {18, 11}};
    for (int p = 0; p < kDftPathCount; ++p) {
        const auto path = static_cast<DftPath>(p);
        if (!dft_path_supported(path)) continue;
        for (const auto& spot : spots) {
            Plane in = random_plane(w, h, true, 5);
            in.im[std::size_t(spot[0]) * w + spot[1]] = 0.25;
            Plane want = in, got = in;
            ASSERT_EQ(dft_2d_literal(want.re.data(), want.im.data(), w, h, +1), 0);
            ASSERT_EQ(dft_2d_on(path, got.re.data(), got.im.data(), w, h, +1), 0);
            std::size_t at = 0;
            EXPECT_TRUE(same_bits(got.re, want.re, &at))
                << dft_path_name(path) << " spot (" << spot[0] << "," << spot[1] << ") re[" << at << "]";
            EXPECT_TRUE(same_bits(got.im, want.im, &at))
                << dft_path_name(path) << " spot (" << spot[0] << "," << spot[1] << ") im[" << at << "]";
        }
    }
}

TEST(Dft2d, DefaultPathMatchesLiteral) {
    const Plane in = random_plane(20, 20, false, 3);
    Plane want = in, got = in;
    ASSERT_EQ(dft_2d_literal(want.re.data(), want.im.data(), 20, 20, +1), 0);
    ASSERT_EQ(dft_2d(got.re.data(), got.im.data(), 20, 20, +1), 0);
    std::size_t at = 0;
    EXPECT_TRUE(same_bits(got.re, want.re, &at));
    EXPECT_TRUE(same_bits(got.im, want.im, &at));
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

TEST(Dft2d, RefusesEmptyPlaneAndUnsupportedPath) {
    double re = 0, im = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(dft_2d(&re, &im, 0, 4, +1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Memory allocation error\n");
    EXPECT_EQ(dft_2d_on(static_cast<DftPath>(kDftPathCount), &re, &im, 1, 1, +1), 1);
}

}  // namespace
