// varlox's profile file: which bins become rows, and each column rescaled to 0..1 over
// the rows written, worked by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analysis/bins.h"
#include "app/profile.h"

namespace {

// What profile_write_rows writes for the given bins (weights and sums) and half side.
std::string profile_rows(RadialBins& bins, uint64_t half) {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    EXPECT_EQ(profile_write_rows(file, bins, half), 0);
    std::rewind(file);
    std::string text;
    for (int ch; (ch = std::fgetc(file)) != EOF;) text += static_cast<char>(ch);
    std::fclose(file);
    return text;
}

TEST(Profile, RowsAreBinsWithWeightUpToHalfEachColumnRescaled) {
    struct Bin {
        double weight, amp_sum, pow_sum;
    };
    struct Case {
        const char* what;
        std::vector<Bin> bins;
        uint64_t half;
        std::string rows;
    };
    const Case cases[] = {
        // Means (2, 4), (6, 36), (4, 16): amplitude over [2, 6], power over [4, 36]. Bin 0
        // is never written, bin 1 has no weight, bin 5 lies beyond half.
        {"three rows",
         {{1, 9, 81}, {0, 0, 0}, {2, 4, 8}, {1, 6, 36}, {4, 16, 64}, {3, 300, 3000}},
         4,
         "2,0.000000e+00,0.000000e+00\n3,1.000000e+00,1.000000e+00\n4,5.000000e-01,3.750000e-01\n"},
        // A bin without weight between two rows is left out, not written as zero.
        {"gap",
         {{1, 1, 1}, {0, 0, 0}, {1, 1, 1}, {0, 0, 0}, {2, 6, 18}},
         4,
         "2,0.000000e+00,0.000000e+00\n4,1.000000e+00,1.000000e+00\n"},
        // Equal amplitude means: that column reads 0, the power column still spans 0 to 1.
        {"equal means",
         {{1, 0, 0}, {0, 0, 0}, {1, 3, 5}, {2, 6, 30}},
         3,
         "2,0.000000e+00,0.000000e+00\n3,0.000000e+00,1.000000e+00\n"},
        // A half beyond the last bin stops at the last bin.
        {"half past the bins",
         {{1, 0, 0}, {0, 0, 0}, {1, 1, 2}, {1, 3, 4}},
         10,
         "2,0.000000e+00,0.000000e+00\n3,1.000000e+00,1.000000e+00\n"},
        {"no rows below bin 2", {{1, 5, 5}, {0, 0, 0}, {1, 1, 1}}, 1, ""},
    };
    for (const Case& c : cases) {
        RadialBins bins{};
        ASSERT_TRUE(radial_bins_new(bins, c.bins.size()));
        for (std::size_t b = 0; b < c.bins.size(); ++b) {
            bins.weight[b] = c.bins[b].weight;
            bins.amp_sum[b] = c.bins[b].amp_sum;
            bins.pow_sum[b] = c.bins[b].pow_sum;
        }
        EXPECT_EQ(profile_rows(bins, c.half), c.rows) << c.what;
        // The sums of the bins written have become their means; bin 0 is left alone.
        for (std::size_t b = 1; b < c.bins.size() && b <= c.half; ++b) {
            if (c.bins[b].weight == 0) continue;
            EXPECT_EQ(bins.amp_sum[b], c.bins[b].amp_sum / c.bins[b].weight) << c.what << " bin " << b;
            EXPECT_EQ(bins.pow_sum[b], c.bins[b].pow_sum / c.bins[b].weight) << c.what << " bin " << b;
        }
        EXPECT_EQ(bins.amp_sum[0], c.bins[0].amp_sum) << c.what;
    }
}

}  // namespace
