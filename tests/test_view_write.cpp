// varlox-view's writer: the files of a measurement as they are read back. The numbers
// of a real measurement are checked against independent models in test_psd.cpp and
// test_angles.cpp; here the summary's row is built from chosen numbers, so that its
// columns, quoting and empty fields are checked exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/output_table.h"
#include "app/view.h"
#include "tests/test_util.h"

namespace {

// A measuring run's result for a 4 x 4 map, whose summary numbers are then set by hand.
ViewResult measured_result() {
    HeightMap map{4, buffer_new<double>(16), kHeightsPfm};
    for (int k = 0; k < 16; ++k) map.z[k] = (k * 7) % 5;
    MeasureOptions m{};
    m.z_scale = 1;
    m.measuring = true;
    m.window = Window{kWindowNone, 1};
    m.peaks = 3;
    m.threads = 1;
    ViewResult r;
    EXPECT_EQ(view_measure(map, m, r), 0);
    return r;
}

// The summary file view_write makes of `r`, run with `options` on the input `input`.
std::string summary_of(const ViewResult& r, const ViewOptions& options, const std::string& input) {
    testutil::TempDir dir;
    std::string names[kViewOutputCount];
    for (int i = 0; i < kViewOutputCount; ++i) names[i] = dir.path(std::string("s") + kViewOutputs[i].suffix);
    OutputSet set;
    output_table_add(set, kViewOutputs, kViewOutputCount, names);
    EXPECT_EQ(outputs_create(set), 0);
    EXPECT_EQ(view_write(r, options, input, set), 0);
    EXPECT_EQ(outputs_commit(set), 0);
    return testutil::read_text(names[kViewSummary]);
}

TEST(ViewWrite, SummaryIsOneNamedRowWithEmptyColumnsForWhatIsNotKnown) {
    const std::string header =
        "picture,side,pixel_size,rms,psd_slope,psd_slope_error,hurst,fit_from,fit_to,rows,psd_intercept,"
        "direction_deg,lay_deg,aspect,peak_period_px,peak_direction_deg\n";
    ViewResult plain = measured_result();
    plain.rms = 1.5;
    plain.direction = plain.lay = plain.aspect = std::nan("");
    plain.peak_count = 0;
    ViewOptions options{};
    options.measure.measuring = true;
    EXPECT_EQ(summary_of(plain, options, "scan.pgm"), header + "scan.pgm,4,,1.5,,,,,,,,,,,,\n");

    ViewResult full = measured_result();
    full.rms = 1.5;
    full.fitted = true;
    full.fit = PsdFit{12, -3.25, 0.5, 0.125, 0.625};
    full.direction = 150.25;
    full.lay = 60.25;
    full.aspect = 0.03125;
    ASSERT_GT(full.peak_count, 0u);
    full.peaks[0].frequency = 4 / 16.5;
    full.peaks[0].direction = 149.5;
    options.measure.length = 0.001;
    options.measure.fit = true;
    options.measure.fit_from = 4;
    options.measure.fit_to = 64;
    EXPECT_EQ(summary_of(full, options, "a,\"b\".pfm"),
              header + "\"a,\"\"b\"\".pfm\",4,0.00025000000000000001,1.5,-3.25,0.5,0.625,4,64,12,0.125,"
                       "150.25,60.25,0.03125,16.5,149.5\n");
}

}  // namespace
