// Checked sizes and the one allocation point: products and sums that would leave 64 bits
// are refused, and every allocation of a whole run, failing in turn, ends the run with the
// allocation message alone and the folder as it was.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "system/size.h"
#include "tests/test_util.h"

namespace {

using testutil::TempDir;

TEST(SizeArithmetic, DetectsOverflowAtTheEdge) {
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    uint64_t out = 7;
    EXPECT_TRUE(size_mul(max / 3, 3, &out));
    EXPECT_EQ(out, max / 3 * 3);
    out = 7;
    EXPECT_FALSE(size_mul(max / 3 + 1, 3, &out));
    EXPECT_EQ(out, 7u);
    EXPECT_TRUE(size_mul(0, max, &out));
    EXPECT_EQ(out, 0u);
    EXPECT_TRUE(size_add(max - 1, 1, &out));
    EXPECT_FALSE(size_add(max, 1, &out));
}

TEST(AllocationFailure, EveryAllocationOfARunFailsCleanly) {
    struct Case {
        const char* exe;
        std::vector<std::string> args;
        int side;
        int least;  // allocation points the run has at least
    };
    const Case cases[] = {
        // Reader (row buffer, record, pixels: 3), two planes, three bin arrays, four
        // transform scratch arrays and one shared angle table, and a row buffer for each
        // picture (4).
        {FAULTS_EXE, {"in.bmp"}, 6, 17},
        // varlox-view on three threads (three batches of lines): each thread's four
        // scratch arrays, and one picture.
        {VIEW_FAULTS_EXE, {"--threads", "3", "in.bmp"}, 130, 22},
    };
    for (const Case& c : cases) {
        TempDir dir;
        testutil::write_file(
            dir.path("in.bmp"),
            testutil::make_bmp({c.side, c.side}, testutil::pattern_pixels(c.side, c.side, 5)));
        const std::string count_file = dir.path("count");
        const auto base =
            testutil::run_program(c.exe, c.args, dir.root.string(), {"VARLOX_ALLOC_COUNT=" + count_file});
        ASSERT_EQ(base.status, 0) << base.err;
        const int total = std::stoi(testutil::read_text(count_file));
        EXPECT_GE(total, c.least) << c.exe;
        RecordProperty("allocation_points", total);
        const auto before = testutil::snapshot(dir.root);
        for (int n = 1; n <= total; ++n) {
            const auto r = testutil::run_program(c.exe, c.args, dir.root.string(),
                                                 {"VARLOX_FAIL_ALLOC=" + std::to_string(n)});
            const std::string label = std::string(c.exe) + " allocation " + std::to_string(n);
            EXPECT_EQ(r.status, 1) << label;
            const std::string msg = "Error: Memory allocation error\n";
            ASSERT_GE(r.err.size(), msg.size()) << label;
            EXPECT_EQ(r.err.substr(r.err.size() - msg.size()), msg) << label;
            EXPECT_EQ(testutil::count_of(r.err, "Error: "), 1u) << label << ": " << r.err;
            EXPECT_EQ(r.err.find("successfully"), std::string::npos) << label;
            // The first run's outputs are kept as they were, and no temporary is left.
            EXPECT_TRUE(testutil::snapshot(dir.root) == before) << label;
        }
    }
}

}  // namespace
