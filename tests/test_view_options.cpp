// varlox-view's option table: every value is read by the same rules (the whole value, no
// blanks around it), lands in the field it names, and makes the run a measuring one
// exactly when it is a measuring option. What the program prints for a refusal is
// checked in test_view.cpp; this reads the parsed options themselves.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/view_options.h"
#include "tests/test_util.h"

namespace {

// view_parse on varlox-view's arguments `args` then "in.pgm"; its status, the options,
// and what it printed.
struct Parsed {
    int status;
    ViewOptions options;
    std::string err;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "varlox-view");
    args.push_back("in.pgm");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    Parsed p{};
    std::string input;
    testing::internal::CaptureStderr();
    p.status = view_parse(static_cast<int>(argv.size()), argv.data(), p.options, input);
    p.err = testing::internal::GetCapturedStderr();
    if (p.status == 0) {
        EXPECT_EQ(input, "in.pgm");
    }
    return p;
}

TEST(ViewOptions, ValuesLandInTheirFieldsAndMeasuringOnlyWhereMeant) {
    struct Case {
        std::vector<std::string> args;
        bool measuring;
        std::function<bool(const ViewOptions&)> holds;
    };
    const Case cases[] = {
        {{},
         false,
         [](const ViewOptions& o) {
             return o.decades == 5 && o.measure.z_scale == 1 && o.measure.peaks == 10;
         }},
        {{"--decades", "2.5"}, false, [](const ViewOptions& o) { return o.decades == 2.5; }},
        {{"--decades=1e-1"}, false, [](const ViewOptions& o) { return o.decades == 0.1; }},
        {{"--gray"}, false, [](const ViewOptions& o) { return o.gray; }},
        {{"--length", "0.002"},
         false,
         [](const ViewOptions& o) { return o.size == kSizeLength && o.size_x == 0.002 && o.size_y == 0; }},
        {{"--length=3e-3,2e-3"},
         false,
         [](const ViewOptions& o) { return o.size == kSizeLength && o.size_x == 3e-3 && o.size_y == 2e-3; }},
        {{"--pixel-size", "1e-6,1.5e-6"},
         false,
         [](const ViewOptions& o) { return o.size == kSizePixel && o.size_x == 1e-6 && o.size_y == 1.5e-6; }},
        {{"--channel", "0"}, false, [](const ViewOptions& o) { return o.channel == 0; }},
        {{"--fill", "mean"}, true, [](const ViewOptions& o) { return o.measure.fill; }},
        {{}, false, [](const ViewOptions& o) { return o.channel == -1 && o.size == kSizeNone; }},
        {{"--threads", "4096"}, false, [](const ViewOptions& o) { return o.measure.threads == 4096; }},
        {{"--z-scale", "1e-9"}, true, [](const ViewOptions& o) { return o.measure.z_scale == 1e-9; }},
        {{"--level", "plane"}, true, [](const ViewOptions& o) { return o.measure.level == kLevelPlane; }},
        {{"--level=none"}, true, [](const ViewOptions& o) { return o.measure.level == kLevelNone; }},
        {{"--window", "hann"},
         true,
         [](const ViewOptions& o) {
             return o.measure.window.kind == kWindowHann && o.measure.window.fraction == 1;
         }},
        {{"--window", "tukey"},
         true,
         [](const ViewOptions& o) {
             return o.measure.window.kind == kWindowTukey && o.measure.window.fraction == 0.5;
         }},
        {{"--window=tukey:0.25"},
         true,
         [](const ViewOptions& o) { return o.measure.window.fraction == 0.25; }},
        {{"--window=tukey:1"}, true, [](const ViewOptions& o) { return o.measure.window.fraction == 1; }},
        {{"--fit", "0.5:1e3"},
         true,
         [](const ViewOptions& o) {
             return o.measure.fit && o.measure.fit_from == 0.5 && o.measure.fit_to == 1000;
         }},
        {{"--band", "0:0"},
         true,
         [](const ViewOptions& o) {
             return o.measure.band && o.measure.band_from == 0 && o.measure.band_to == 0;
         }},
        {{"--band=3:4"},
         true,
         [](const ViewOptions& o) { return o.measure.band_from == 3 && o.measure.band_to == 4; }},
        {{"--peaks", "9007199254740992"},
         true,
         [](const ViewOptions& o) { return o.measure.peaks == (1ull << 53); }},
        {{"--level", "mean", "--decades", "3"},
         true,
         [](const ViewOptions& o) { return o.measure.level == kLevelMean && o.decades == 3; }},
        {{}, false, [](const ViewOptions& o) { return !o.measure.acf && o.measure.acf_threshold == 0.2; }},
        {{"--acf"},
         true,
         [](const ViewOptions& o) { return o.measure.acf && o.measure.acf_threshold == 0.2; }},
        {{"--acf-threshold", "0.5"},
         true,
         [](const ViewOptions& o) { return o.measure.acf && o.measure.acf_threshold == 0.5; }},
        {{"--acf-threshold=1e-3", "--acf"},
         true,
         [](const ViewOptions& o) { return o.measure.acf && o.measure.acf_threshold == 1e-3; }},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += a + " ";
        const Parsed p = parse(c.args);
        ASSERT_EQ(p.status, 0) << label << p.err;
        EXPECT_EQ(p.err, "") << label;
        EXPECT_EQ(p.options.measure.measuring, c.measuring) << label;
        EXPECT_TRUE(c.holds(p.options)) << label;
    }
}

TEST(ViewOptions, RefusedValuesAndOptionsGiveOneMessage) {
    // Each option refuses what is not its value, by the same rules: blanks before or
    // after a number, trailing text, non-finite numbers, and out-of-range values, each
    // with "Error: OPTION takes ..., not 'VALUE'". A misspelled option, or one given a
    // value it does not take, gets the usage.
    struct Case {
        std::vector<std::string> args;
        bool usage;
    };
    const Case cases[] = {
        {{"--decades", " 3"}, false},
        {{"--decades", "3 "}, false},
        {{"--decades", "0"}, false},
        {{"--decades", "nan"}, false},
        {{"--length", "\t1"}, false},
        {{"--length", "-1"}, false},
        {{"--length", "1e999"}, false},
        {{"--z-scale", "1x"}, false},
        {{"--threads", " 2"}, false},
        {{"--threads", "2.0"}, false},
        {{"--threads", "0"}, false},
        {{"--threads", "4097"}, false},
        {{"--peaks", "0"}, false},
        {{"--peaks", "+3"}, false},
        {{"--peaks", "9007199254740993"}, false},
        {{"--window", "tukey: 0.5"}, false},
        {{"--window", "tukey:0.5 "}, false},
        {{"--window", "tukey:0"}, false},
        {{"--window", "tukey:1.5"}, false},
        {{"--window", "Hann"}, false},
        {{"--window", "hann:0.5"}, false},
        {{"--window", "tukey:"}, false},
        {{"--level", " mean"}, false},
        {{"--level", "planes"}, false},
        {{"--fit", " 4:64"}, false},
        {{"--fit", "4: 64"}, false},
        {{"--fit", "4:4"}, false},
        {{"--fit", "64:4"}, false},
        {{"--fit", "-1:4"}, false},
        {{"--fit", "4:inf"}, false},
        {{"--fit", "4-64"}, false},
        {{"--fit", "4:64:"}, false},
        {{"--band", "5:2"}, false},
        {{"--band", ":2"}, false},
        {{"--band", "2:"}, false},
        {{"--band", "1:2 "}, false},
        {{"--acf-threshold", "0"}, false},
        {{"--acf-threshold", "1"}, false},
        {{"--acf-threshold", "-0.2"}, false},
        {{"--acf-threshold", "0.2x"}, false},
        {{"--acf=yes"}, true},
        {{"--acfx"}, true},
        {{"--gray=yes"}, true},
        {{"--decadesx", "3"}, true},
        {{"--bogus"}, true},
        {{"-x"}, true},
    };
    for (const Case& c : cases) {
        std::string label;
        for (const std::string& a : c.args) label += "'" + a + "' ";
        const Parsed p = parse(c.args);
        EXPECT_EQ(p.status, 1) << label;
        if (c.usage) {
            EXPECT_EQ(p.err.compare(0, 7, "Usage: "), 0) << label << ": " << p.err;
            continue;
        }
        EXPECT_EQ(p.err.compare(0, 14 + c.args[0].size(), "Error: " + c.args[0] + " takes "), 0)
            << label << ": " << p.err;
        EXPECT_TRUE(testutil::ends_with(p.err, ", not '" + c.args[1] + "'\n")) << label << ": " << p.err;
    }
}

}  // namespace
