// The instrument readers: the real files of tests/data/formats against the facts their
// SOURCES.md gives (measured there independently), files made here for every layout the
// readers take, and for every refusal one message, status 1 and the map unchanged,
// including truncated and hostile files (zip bombs, huge declared matrices, strips
// outside the file, counts beyond the file, deep nesting).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "image/formats.h"
#include "image/heights.h"
#include "tests/format_bytes.h"
#include "tests/test_util.h"

#if VARLOX_HAVE_X3P
#include <zip.h>
#endif
#if VARLOX_HAVE_TIFF
#include <tiffio.h>
#endif

namespace {

using testutil::Bytes;
using testutil::TempDir;
namespace fb = formatbytes;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string data_path(const std::string& name) {
    return std::string(VARLOX_SOURCE_DIR) + "/tests/data/formats/" + name;
}

// A map a refusal must leave exactly as it was.
HeightMap sentinel() {
    HeightMap m{};
    m.width = 1;
    m.height = 1;
    m.z = buffer_new<double>(1);
    m.z[0] = -7.25;
    m.format = kHeightsBmp;
    m.dx = 3;
    m.dy = 4;
    m.z_unit = "before";
    return m;
}

bool is_sentinel(const HeightMap& m) {
    return m.width == 1 && m.height == 1 && m.z && m.z[0] == -7.25 && m.format == kHeightsBmp && m.dx == 3 &&
           m.dy == 4 && m.z_unit == "before";
}

struct Parsed {
    int status;
    HeightMap map;
    std::string err;
};

const char* const kName = "in.dat";

#if VARLOX_HAVE_X3P
Parsed parse_x3p(const Bytes& b) {
    Parsed p{1, sentinel(), ""};
    testing::internal::CaptureStderr();
    p.status = x3p_parse(kName, b.data(), b.size(), p.map);
    p.err = testing::internal::GetCapturedStderr();
    return p;
}
#endif

Parsed parse_gwy(const Bytes& b, int channel = -1) {
    Parsed p{1, sentinel(), ""};
    testing::internal::CaptureStderr();
    p.status = gwy_parse(kName, b.data(), b.size(), channel, p.map);
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

#if VARLOX_HAVE_TIFF
Parsed parse_tiff(const Bytes& b) {
    Parsed p{1, sentinel(), ""};
    testing::internal::CaptureStderr();
    p.status = tiff_parse(kName, b.data(), b.size(), p.map);
    p.err = testing::internal::GetCapturedStderr();
    return p;
}
#endif

// A refusal: status 1, one line "Error: in.dat ..." holding `fragment`, the map unchanged.
void expect_refusal(const Parsed& p, const std::string& fragment, const std::string& what) {
    EXPECT_EQ(p.status, 1) << what;
    EXPECT_EQ(p.err.rfind(std::string("Error: ") + kName + " ", 0), 0u) << what << ": " << p.err;
    EXPECT_EQ(testutil::count_of(p.err, "\n"), 1u) << what << ": " << p.err;
    EXPECT_TRUE(testutil::ends_with(p.err, "\n")) << what;
    EXPECT_NE(p.err.find(fragment), std::string::npos) << what << ": " << p.err;
    EXPECT_TRUE(is_sentinel(p.map)) << what;
}

// The map's heights, row 0 first, equal `want` bit for bit (NaN where want is NaN).
void expect_heights(const HeightMap& m, uint32_t width, uint32_t height, const std::vector<double>& want,
                    const std::string& what) {
    ASSERT_EQ(m.width, width) << what;
    ASSERT_EQ(m.height, height) << what;
    ASSERT_EQ(want.size(), std::size_t(width) * height) << what;
    for (std::size_t k = 0; k < want.size(); ++k) {
        if (std::isnan(want[k])) {
            EXPECT_TRUE(std::isnan(m.z[k])) << what << " at " << k;
        } else {
            EXPECT_EQ(m.z[k], want[k]) << what << " at " << k;
        }
    }
}

struct Stats {
    uint64_t invalid;
    double mean;
    double rms;  // about the mean, divided by the number of valid points
};

Stats stats_of(const HeightMap& m) {
    const uint64_t n = uint64_t(m.width) * m.height;
    Stats s{0, 0, 0};
    double sum = 0;
    for (uint64_t k = 0; k < n; ++k) {
        if (std::isnan(m.z[k])) {
            ++s.invalid;
        } else {
            sum += m.z[k];
        }
    }
    s.mean = sum / double(n - s.invalid);
    double sq = 0;
    for (uint64_t k = 0; k < n; ++k) {
        if (!std::isnan(m.z[k])) sq += (m.z[k] - s.mean) * (m.z[k] - s.mean);
    }
    s.rms = std::sqrt(sq / double(n - s.invalid));
    return s;
}

bool close_to(double got, double want, double rel) {
    return std::fabs(got - want) <= rel * std::fabs(want) + 1e-300;
}

// ---------------------------------------------------------------------------------------
// The real files.

struct RealFile {
    const char* name;
    HeightFormat format;
    uint32_t width, height;
    double dx, dy;
    const char* unit;
    uint64_t invalid;
    double mean, rms;
    bool warns;  // its main.xml does not match md5checksum.hex
};

// From tests/data/formats/SOURCES.md.
const RealFile kRealFiles[] = {
    {"opengps_sample1_bin.x3p", kHeightsX3p, 4, 4, 0.016016, 0.016016, "m", 1, 0.291925832725, 0.610509154542,
     false},
    {"opengps_sample4_bin.x3p", kHeightsX3p, 4, 4, 0.016016, 0.016016, "m", 1, 0.292, 0.610537577331, false},
    {"opengps_sample1_inline.x3p", kHeightsX3p, 4, 4, 0.016016, 0.016016, "m", 1, 0.291925832725,
     0.610509154542, false},
    {"x3ptools_testing.x3p", kHeightsX3p, 30, 20, 0.0274999996026357, 0.0274999996026357, "m", 0,
     -0.00949898988254, 0.0121978574788, false},
    {"x3ptools_pyramid.x3p", kHeightsX3p, 5, 5, 1, 1, "m", 0, 3.6, 2.2627416998, false},
    {"x3ptools_csafe-logo.x3p", kHeightsX3p, 741, 419, 6.45000000000095e-07, 6.45e-07, "m", 0,
     4.20067095568e-07, 6.57529773152e-08, true},
    {"topostats_file_landscape.gwy", kHeightsGwy, 220, 170, 4.54545455e-09, 5.88235294e-09, "m", 0,
     5.131078589e-12, 4.635736862e-10, false},
    {"rasterio_float_raster_with_nodata.tif", kHeightsTiff, 13, 12, 0, 0, "", 58, 0.00765306122449,
     0.0430661811636, false},
    {"rasterio_float64.tif", kHeightsTiff, 3, 2, 0, 0, "", 0, 0.271666658421, 1.10727016033, false},
    {"rasterio_float_nan.tif", kHeightsTiff, 3, 2, 0, 0, "", 1, 0.169999995828, 1.18711414273, false},
};

TEST(FormatsRead, RealFilesGiveTheirMeasuredSizesScalesAndStatistics) {
    for (const RealFile& f : kRealFiles) {
        if (formats_missing(f.format) != nullptr) continue;
        HeightMap m{};
        testing::internal::CaptureStderr();
        const int status = heights_read(data_path(f.name), m);
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_EQ(status, 0) << f.name << ": " << err;
        if (f.warns) {
            EXPECT_EQ(err,
                      "Warning: " + data_path(f.name) +
                          " has a main.xml that does not match the MD5 checksum in md5checksum.hex; read all "
                          "the same\n");
        } else {
            EXPECT_EQ(err, "") << f.name;
        }
        EXPECT_EQ(m.format, f.format) << f.name;
        EXPECT_EQ(m.width, f.width) << f.name;
        EXPECT_EQ(m.height, f.height) << f.name;
        EXPECT_TRUE(close_to(m.dx, f.dx, 1e-8)) << f.name << " dx " << m.dx;
        EXPECT_TRUE(close_to(m.dy, f.dy, 1e-8)) << f.name << " dy " << m.dy;
        EXPECT_EQ(m.z_unit, f.unit) << f.name;
        const Stats s = stats_of(m);
        EXPECT_EQ(s.invalid, f.invalid) << f.name;
        EXPECT_TRUE(close_to(s.mean, f.mean, 1e-9)) << f.name << " mean " << s.mean;
        EXPECT_TRUE(close_to(s.rms, f.rms, 1e-9)) << f.name << " rms " << s.rms;
    }
}

// Single points of the real files where SOURCES.md lists them: the x3p's file index i (x
// fastest, y up) is at row SizeY - 1 - i / SizeX of the map.
TEST(FormatsRead, RealFilesPutTheirPointsWhereTheirAxesSay) {
    struct Point {
        const char* name;
        uint32_t row, col;
        double z;
    };
    const Point points[] = {
        {"opengps_sample1_bin.x3p", 0, 0, 0.675397146760858},      // file index 12
        {"opengps_sample1_bin.x3p", 3, 0, 0.486219120804151},      // file index 0
        {"opengps_sample1_bin.x3p", 2, 3, kNaN},                   // file index 7, invalid
        {"opengps_sample1_bin.x3p", 3, 2, -0.80836857168283},      // file index 2
        {"opengps_sample4_bin.x3p", 2, 3, kNaN},                   // raw 0 there, flagged invalid
        {"opengps_sample1_inline.x3p", 0, 3, -0.215696638464903},  // file index 15
        {"opengps_sample1_inline.x3p", 2, 3, kNaN},                // the empty Datum
        {"x3ptools_pyramid.x3p", 2, 2, 10},
        {"x3ptools_pyramid.x3p", 1, 2, 6},
        {"x3ptools_pyramid.x3p", 4, 0, 2},
    };
    for (const Point& p : points) {
        if (formats_missing(kHeightsX3p) != nullptr) return;
        HeightMap m{};
        testing::internal::CaptureStderr();
        ASSERT_EQ(heights_read(data_path(p.name), m), 0) << p.name;
        testing::internal::GetCapturedStderr();
        const double z = m.z[std::size_t(p.row) * m.width + p.col];
        if (std::isnan(p.z)) {
            EXPECT_TRUE(std::isnan(z)) << p.name << " row " << p.row << " col " << p.col;
        } else {
            EXPECT_EQ(z, p.z) << p.name << " row " << p.row << " col " << p.col;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Gwyddion files.

std::vector<double> counting(std::size_t n, double scale = 1) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = scale * double(i) - 1.5;
    return v;
}

TEST(FormatsGwy, TakesTheChannelAskedForOrTheLowestWithItsUnits) {
    const std::vector<double> a = counting(6), b = counting(12, 0.25);
    const Bytes file = fb::gwy_file({
        fb::gwy_string("/filename", "x.gwy"),
        fb::gwy_component_object("/7/data", fb::gwy_field(4, 3, 8e-6, 3e-6, "m", "V", b)),
        fb::gwy_string("/2/data/title", "not a channel"),
        fb::gwy_component_object("/2/data", fb::gwy_field(3, 2, 6, 1, "", "", a)),
        fb::gwy_component_object("/5/mask", fb::gwy_field(3, 2, 6, 1, "m", "", a)),
        fb::gwy_component_object("/9/data", fb::gwy_unit("m")),  // not a GwyDataField
    });
    struct Case {
        int channel;
        uint32_t w, h;
        const std::vector<double>* z;
        double dx, dy;
        const char* unit;
    };
    const Case cases[] = {{-1, 3, 2, &a, 0, 0, ""}, {2, 3, 2, &a, 0, 0, ""}, {7, 4, 3, &b, 2e-6, 1e-6, "V"}};
    for (const Case& c : cases) {
        const Parsed p = parse_gwy(file, c.channel);
        const std::string what = "channel " + std::to_string(c.channel);
        ASSERT_EQ(p.status, 0) << what << ": " << p.err;
        EXPECT_EQ(p.err, "");
        expect_heights(p.map, c.w, c.h, *c.z, what);
        EXPECT_EQ(p.map.format, kHeightsGwy);
        EXPECT_EQ(p.map.dx, c.dx) << what;
        EXPECT_EQ(p.map.dy, c.dy) << what;
        EXPECT_EQ(p.map.z_unit, c.unit) << what;
    }
    expect_refusal(parse_gwy(file, 5), "has no channel 5 (its channels are 7, 2)", "channel 5");
    expect_refusal(parse_gwy(file, 9), "has no channel 9 (its channels are 7, 2)", "channel 9");
    expect_refusal(parse_gwy(fb::gwy_file({fb::gwy_string("/filename", "x")})), "has no image channel",
                   "no channel");
}

TEST(FormatsGwy, RealFileNamesTheChannelItHas) {
    const Bytes file = testutil::read_file(data_path("topostats_file_landscape.gwy"));
    const Parsed p = parse_gwy(file, 3);
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.map.width, 220u);
    expect_refusal(parse_gwy(file, 0), "has no channel 0 (its channels are 3)", "channel 0");
}

TEST(FormatsGwy, NaNIsAnInvalidPointAndInfinityIsRefusedWithItsPlace) {
    const double inf = std::numeric_limits<double>::infinity();
    const Parsed nan = parse_gwy(fb::gwy_file(
        {fb::gwy_component_object("/0/data", fb::gwy_field(2, 2, 1, 1, "m", "m", {1, kNaN, 3, 4}))}));
    ASSERT_EQ(nan.status, 0) << nan.err;
    expect_heights(nan.map, 2, 2, {1, kNaN, 3, 4}, "NaN");
    expect_refusal(parse_gwy(fb::gwy_file({fb::gwy_component_object(
                       "/0/data", fb::gwy_field(2, 3, 1, 1, "m", "m", {1, 2, 3, 4, -inf, 6}))})),
                   "has a non-finite sample at row 2, column 0", "infinity");
}

TEST(FormatsGwy, RefusesMalformedFields) {
    const auto field = [](int32_t xres, int32_t yres, std::size_t n) {
        return fb::gwy_file(
            {fb::gwy_component_object("/0/data", fb::gwy_field(xres, yres, 1, 1, "m", "m", counting(n)))});
    };
    // A count in the array larger than the bytes that follow it.
    Bytes beyond = field(2, 2, 4);
    const Bytes data_name = {'d', 'a', 't', 'a', 0, 'D'};
    const auto at = std::search(beyond.begin(), beyond.end(), data_name.begin(), data_name.end());
    ASSERT_NE(at, beyond.end());
    const std::size_t count_at = std::size_t(at - beyond.begin()) + data_name.size();
    Bytes huge_count = beyond;
    testutil::put_le32(huge_count, count_at, 0x7fffffff);
    // A component of a type that does not exist.
    Bytes bad_type = beyond;
    bad_type[count_at - 1] = 'x';
    struct Case {
        const char* what;
        Bytes file;
        const char* fragment;
    };
    const Case cases[] = {
        {"fewer heights than xres * yres", field(3, 2, 5),
         "do not hold xres * yres heights (xres 3, yres 2, 5"},
        {"more heights", field(2, 2, 5), "do not hold xres * yres"},
        {"xres 0", field(0, 2, 0), "xres 0"},
        {"negative yres", field(2, -2, 4), "yres -2"},
        {"count beyond the file", huge_count, "is not a well-formed Gwyddion file"},
        {"unknown type", bad_type, "is not a well-formed Gwyddion file"},
        {"another magic", Bytes{'G', 'W', 'Y', 'O', 0, 0, 0, 0}, "is not a well-formed Gwyddion file"},
        {"a top object that is no container",
         [] {
             Bytes b = {'G', 'W', 'Y', 'P'};
             const Bytes o = fb::gwy_object("GwyDataField", {});
             b.insert(b.end(), o.begin(), o.end());
             return b;
         }(),
         "is not a well-formed Gwyddion file"},
    };
    for (const Case& c : cases) expect_refusal(parse_gwy(c.file), c.fragment, c.what);
}

TEST(FormatsGwy, EveryTruncationIsRefusedWithOneMessage) {
    const Bytes file = fb::gwy_file({
        fb::gwy_string("/0/data/title", "t"),
        fb::gwy_component_object("/0/data", fb::gwy_field(2, 2, 1, 1, "m", "m", {1, 2, 3, 4})),
    });
    ASSERT_EQ(parse_gwy(file).status, 0);
    for (std::size_t n = 0; n < file.size(); ++n) {
        const Bytes cut(file.begin(), file.begin() + n);
        const Parsed p = parse_gwy(cut);
        expect_refusal(p, "", "cut at " + std::to_string(n));
    }
}

TEST(FormatsGwy, DeepNestingIsSkippedByItsSize) {
    // 100000 objects each inside the previous one, beside the channel: the reader steps
    // over them whole, however deep, and reads the channel.
    // Level k (1 outermost... N) is "GwyContainer", its size 20 k, and a component "o" of
    // type 'o' holding level k - 1; level 0 is an empty container.
    const uint32_t levels = 100000;
    Bytes nest;
    for (uint32_t k = levels; k >= 1; --k) {
        fb::put_str(nest, "GwyContainer");
        fb::put_u32(nest, 20 * k);
        fb::put_str(nest, "o");
        nest.push_back('o');
    }
    fb::put_str(nest, "GwyContainer");
    fb::put_u32(nest, 0);
    const Bytes file = fb::gwy_file({
        fb::gwy_component_object("/deep", nest),
        fb::gwy_component_object("/0/data", fb::gwy_field(1, 2, 1, 1, "m", "m", {5, 6})),
    });
    const Parsed p = parse_gwy(file);
    ASSERT_EQ(p.status, 0) << p.err;
    expect_heights(p.map, 1, 2, {5, 6}, "beside the nest");
    // An inner size that runs past its parent is malformed.
    Bytes bad = file;
    testutil::put_le32(
        bad,
        4 + std::strlen("GwyContainer") + 1 + 4 + std::strlen("/deep") + 2 + std::strlen("GwyContainer") + 1,
        0x7ffffff0);
    expect_refusal(parse_gwy(bad), "is not a well-formed Gwyddion file", "size past the parent");
}

// ---------------------------------------------------------------------------------------
// x3p archives, written here with libzip.

#if VARLOX_HAVE_X3P

// One x3p archive: main.xml from the fields, the entries it links to, and extra entries.
struct X3pFields {
    std::string root = "p:ISO5436_2";
    std::string feature = "SUR";
    std::string cx = "I", cy = "I";
    std::string dx = "2.5e-06", dy = "1.5e-06";
    std::string z_type = "D";
    std::string z_scale;  // Increment and Offset elements of CZ, as XML
    std::string size_x = "3", size_y = "2", size_z = "1";
    Bytes data;
    std::string data_md5;  // MD5ChecksumPointData, none when empty
    Bytes valid;           // bindata/valid.bin, none when empty
    std::string valid_md5;
    std::string data_list;  // when not empty: a DataList of these Datum elements instead
    std::string folder;     // "name/" to put the files in a top folder
    std::string hash_file;  // md5checksum.hex, none when empty
    std::vector<std::pair<std::string, Bytes>> extra;
    bool link_data = true;  // whether the data.bin entry is written
};

std::string x3p_xml(const X3pFields& s) {
    std::string link = "<DataLink><PointDataLink>bindata/data.bin</PointDataLink>";
    if (!s.data_md5.empty()) link += "<MD5ChecksumPointData>" + s.data_md5 + "</MD5ChecksumPointData>";
    if (!s.valid.empty()) link += "<ValidPointsLink>bindata/valid.bin</ValidPointsLink>";
    if (!s.valid_md5.empty()) link += "<MD5ChecksumValidPoints>" + s.valid_md5 + "</MD5ChecksumValidPoints>";
    link += "</DataLink>";
    const std::string data = s.data_list.empty() ? link : "<DataList>" + s.data_list + "</DataList>";
    const std::string ns =
        s.root.find(':') != std::string::npos ? " xmlns:p=\"http://www.opengps.eu/2008/ISO5436_2\"" : "";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + s.root + ns +
           ">\n<Record1><Revision>ISO5436 - 2000</Revision><FeatureType>" + s.feature +
           "</FeatureType><Axes><CX><AxisType>" + s.cx + "</AxisType><DataType>D</DataType><Increment>" +
           s.dx + "</Increment><Offset>0</Offset></CX><CY><AxisType>" + s.cy +
           "</AxisType><DataType>D</DataType><Increment>" + s.dy +
           "</Increment><Offset>0</Offset></CY><CZ><AxisType>A</AxisType><DataType>" + s.z_type +
           "</DataType>" + s.z_scale +
           "</CZ></Axes></Record1>\n<Record2><Comment>made by a test</Comment></Record2>\n" +
           "<Record3><MatrixDimension><SizeX>" + s.size_x + "</SizeX><SizeY>" + s.size_y + "</SizeY><SizeZ>" +
           s.size_z + "</SizeZ></MatrixDimension>" + data + "</Record3>\n" +
           "<Record4><ChecksumFile>md5checksum.hex</ChecksumFile></Record4>\n</" + s.root + ">\n";
}

// A zip of the entries, each deflated unless `store`.
Bytes make_zip(const std::vector<std::pair<std::string, Bytes>>& entries, bool store = false) {
    TempDir dir;
    const std::string path = dir.path("made.zip");
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(za, nullptr);
    if (za == nullptr) return {};
    for (const auto& e : entries) {
        zip_source_t* src = zip_source_buffer(za, e.second.data(), e.second.size(), 0);
        const zip_int64_t index = zip_file_add(za, e.first.c_str(), src, ZIP_FL_ENC_UTF_8);
        EXPECT_GE(index, 0) << e.first;
        zip_set_file_compression(za, static_cast<zip_uint64_t>(index), store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 9);
    }
    EXPECT_EQ(zip_close(za), 0);
    return testutil::read_file(path);
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes make_x3p(const X3pFields& s) {
    std::vector<std::pair<std::string, Bytes>> entries = {{s.folder + "main.xml", text(x3p_xml(s))}};
    if (s.data_list.empty() && s.link_data) entries.push_back({s.folder + "bindata/data.bin", s.data});
    if (!s.valid.empty()) entries.push_back({s.folder + "bindata/valid.bin", s.valid});
    if (!s.hash_file.empty()) entries.push_back({s.folder + "md5checksum.hex", text(s.hash_file)});
    for (const auto& e : s.extra) entries.push_back(e);
    return make_zip(entries);
}

// Values little-endian as the z DataType stores them.
Bytes values_le(char type, const std::vector<double>& v) {
    Bytes b;
    for (const double d : v) {
        if (type == 'I') {
            fb::put_u16(b, static_cast<uint16_t>(static_cast<int16_t>(d)));
        } else if (type == 'L') {
            fb::put_u32(b, static_cast<uint32_t>(static_cast<int32_t>(d)));
        } else if (type == 'F') {
            const float f = static_cast<float>(d);
            uint32_t u = 0;
            std::memcpy(&u, &f, 4);
            fb::put_u32(b, u);
        } else {
            fb::put_f64(b, d);
        }
    }
    return b;
}

// A 3 x 2 archive of the type's values in file order (x fastest, y up).
X3pFields fields_of(char type, const std::vector<double>& values) {
    X3pFields s;
    s.z_type = std::string(1, type);
    s.data = values_le(type, values);
    return s;
}

TEST(FormatsX3p, ReadsEveryLayoutWithTheTopRowTheLargestY) {
    // File rows y = 0 {a b c} and y = 1 {d e f} are map rows 1 and 0.
    struct Case {
        const char* what;
        X3pFields fields;
        std::vector<double> want;  // the map, row 0 first
        const char* warning;       // what stderr must hold, "" for nothing
    };
    std::vector<Case> cases;
    cases.push_back(
        {"float64", fields_of('D', {0.5, -1, 2, 3.25, 4, -5e-9}), {3.25, 4, -5e-9, 0.5, -1, 2}, ""});
    {
        X3pFields s = fields_of('F', {0.5, -1, 2, 3.25, 4, 1e30});
        s.z_scale = "<Increment>1e-06</Increment><Offset>7</Offset>";  // not applied to floats
        cases.push_back({"float32, its scale not applied", s, {3.25, 4, double(1e30f), 0.5, -1, 2}, ""});
    }
    {
        X3pFields s = fields_of('I', {-32768, -1, 0, 1, 2, 32767});
        s.z_scale = "<Increment>0.5</Increment><Offset>10</Offset>";
        cases.push_back({"int16 scaled", s, {10.5, 11, 32767 * 0.5 + 10, -32768 * 0.5 + 10, 9.5, 10}, ""});
    }
    {
        X3pFields s = fields_of('L', {-2147483648.0, 2147483647.0, 0, 1, -1, 5});
        s.z_scale = "<Increment>2</Increment>";
        cases.push_back({"int32, Offset absent", s, {2, -2, 10, -4294967296.0, 4294967294.0, 0}, ""});
    }
    {
        X3pFields s = fields_of('L', {1, 2, 3, 4, 5, 6});
        cases.push_back({"int32, no scale", s, {4, 5, 6, 1, 2, 3}, ""});
    }
    {
        // Points 1 and 3 flagged invalid; a float NaN is invalid too.
        X3pFields s = fields_of('D', {1, 2, 3, 4, 5, kNaN});
        s.valid = {0x35};
        cases.push_back({"valid flags", s, {kNaN, 5, kNaN, 1, kNaN, 3}, ""});
    }
    {
        X3pFields s = fields_of('D', {1, 2, 3, 4, 5, 6});
        s.root = "ISO5436_2";
        s.folder = "scan/";
        s.hash_file = "0123456789abcdef0123456789abcdef *main.xml\n";
        s.extra = {{"__MACOSX/scan/._main.xml", text("resource fork")}, {"scan/.DS_Store", text("finder")}};
        cases.push_back(
            {"top folder, no prefix, stale checksum",
             s,
             {4, 5, 6, 1, 2, 3},
             "Warning: in.dat has a main.xml that does not match the MD5 checksum in md5checksum.hex; "
             "read all the same\n"});
    }
    {
        X3pFields s;
        s.data_list =
            "<Datum>1</Datum><Datum> 2 </Datum><Datum>3</Datum><Datum/><Datum>5e-3</Datum><Datum>6</Datum>";
        cases.push_back({"DataList", s, {kNaN, 5e-3, 6, 1, 2, 3}, ""});
    }
    {
        X3pFields s;
        s.z_type = "I";
        s.z_scale = "<Increment>0.25</Increment><Offset>-1</Offset>";
        s.data_list =
            "<Datum>4</Datum><Datum>8</Datum><Datum>0</Datum><Datum>1</Datum><Datum>2</Datum><Datum>3</"
            "Datum>";
        cases.push_back({"DataList of scaled integers", s, {-0.75, -0.5, -0.25, 0, 1, -1}, ""});
    }
    for (const Case& c : cases) {
        const Parsed p = parse_x3p(make_x3p(c.fields));
        ASSERT_EQ(p.status, 0) << c.what << ": " << p.err;
        EXPECT_EQ(p.err, c.warning) << c.what;
        expect_heights(p.map, 3, 2, c.want, c.what);
        EXPECT_EQ(p.map.format, kHeightsX3p);
        EXPECT_EQ(p.map.dx, 2.5e-06) << c.what;
        EXPECT_EQ(p.map.dy, 1.5e-06) << c.what;
        EXPECT_EQ(p.map.z_unit, "m") << c.what;
    }
}

TEST(FormatsX3p, RefusesWhatItCannotReadWithOneMessage) {
    const std::vector<double> six = {1, 2, 3, 4, 5, 6};
    struct Case {
        const char* what;
        std::function<void(X3pFields&)> change;
        const char* fragment;
    };
    const Case cases[] = {
        {"profile", [](X3pFields& s) { s.feature = "PRF"; },
         "is a profile (FeatureType PRF); only areal surfaces"},
        {"point cloud", [](X3pFields& s) { s.feature = "PCL"; }, "is a point cloud (FeatureType PCL)"},
        {"other feature", [](X3pFields& s) { s.feature = "XYZ"; }, "has the FeatureType 'XYZ'"},
        {"absolute x", [](X3pFields& s) { s.cx = "A"; }, "has a x axis that is not incremental"},
        {"absolute y", [](X3pFields& s) { s.cy = "A"; }, "has a y axis that is not incremental"},
        {"two layers", [](X3pFields& s) { s.size_z = "2"; }, "has SizeZ 2; only one layer"},
        {"unknown type", [](X3pFields& s) { s.z_type = "Q"; }, "has the z DataType 'Q'"},
        {"no size", [](X3pFields& s) { s.size_x = "three"; }, "without a MatrixDimension"},
        {"empty matrix", [](X3pFields& s) { s.size_y = "0"; }, "has a matrix of 3 x 0 points"},
        {"side too long", [](X3pFields& s) { s.size_x = "2147483648"; },
         "has a matrix of 2147483648 x 2 points"},
        {"data one value short", [](X3pFields& s) { s.data.resize(s.data.size() - 8); },
         "has an entry bindata/data.bin of 40 bytes, where its matrix needs 48"},
        {"10^9 x 10^9 points", [](X3pFields& s) { s.size_x = s.size_y = "1000000000"; },
         "where its matrix needs 8000000000000000000"},
        {"10^9 x 10^9 Datum",
         [](X3pFields& s) {
             s.size_x = s.size_y = "1000000000";
             s.data_list = "<Datum>1</Datum>";
         },
         "has 1 Datum elements, where its matrix needs 1000000000000000000"},
        {"Datum not a number",
         [](X3pFields& s) {
             s.data_list =
                 "<Datum>1</Datum><Datum>2</Datum><Datum>3</Datum><Datum>4 "
                 "5</Datum><Datum>5</Datum><Datum>6</Datum>";
         },
         "has a Datum that is not one number at point 3"},
        {"no data", [](X3pFields& s) { s.link_data = false; }, "has no entry bindata/data.bin"},
        {"data checksum", [](X3pFields& s) { s.data_md5 = "0123456789abcdef0123456789abcdef"; },
         "has point data that do not match their MD5 checksum"},
        {"valid checksum",
         [](X3pFields& s) {
             s.valid = {0x3f};
             s.valid_md5 = "0123456789abcdef0123456789abcdef";
         },
         "has valid-point flags that do not match their MD5 checksum"},
        {"valid flags too long", [](X3pFields& s) { s.valid = Bytes(10, 0xff); },
         "has an entry bindata/valid.bin of 10 bytes, outside the 1 to 9"},
        {"infinite height",
         [](X3pFields& s) {
             s.data = values_le('D', {1, std::numeric_limits<double>::infinity(), 3, 4, 5, 6});
         },
         "has a non-finite sample at row 1, column 1"},
        {"infinite scale",
         [](X3pFields& s) {
             s.z_type = "I";
             s.data = values_le('I', {1, 2, 3, 4, 5, 6});
             s.z_scale = "<Increment>1e308</Increment><Offset>1e308</Offset>";
         },
         "has a non-finite sample"},
        {"bad increment", [](X3pFields& s) { s.z_scale = "<Increment>big</Increment>"; },
         "without a finite Increment and Offset on its z axis"},
        {"other root", [](X3pFields& s) { s.root = "p:ISO5436"; }, "without its root element ISO5436_2"},
        {"stale main.xml checksum and no data",
         [](X3pFields& s) {
             s.hash_file = "0123456789abcdef0123456789abcdef";
             s.link_data = false;
         },
         "has no entry bindata/data.bin"},
        {"two top folders",
         [](X3pFields& s) {
             s.folder = "a/";
             s.extra = {{"b/other.txt", text("x")}};
         },
         "is a zip archive without main.xml, not an x3p archive"},
    };
    for (const Case& c : cases) {
        X3pFields s = fields_of('D', six);
        c.change(s);
        expect_refusal(parse_x3p(make_x3p(s)), c.fragment, c.what);
    }
    expect_refusal(parse_x3p(make_zip({{"main.xml", text("<ISO5436_2><Record1></ISO5436_2>")}})),
                   "has a main.xml that is not well-formed XML", "malformed XML");
    expect_refusal(parse_x3p(make_zip({{"readme.txt", text("hello")}})), "without main.xml", "no main.xml");
    expect_refusal(parse_x3p(text("PK\3\4 and nothing a zip needs")), "is not a zip archive libzip can read",
                   "not a zip");
}

// Rewrites the uncompressed size of entry `name` in its local header and in the central
// directory, as a hostile archive states it.
void patch_size(Bytes& zip, const std::string& name, uint32_t size) {
    int patched = 0;
    for (std::size_t i = 0; i + 46 < zip.size(); ++i) {
        const bool local = std::memcmp(&zip[i], "PK\3\4", 4) == 0;
        const bool central = std::memcmp(&zip[i], "PK\1\2", 4) == 0;
        if (!local && !central) continue;
        const std::size_t name_len = zip[i + (local ? 26 : 28)] | zip[i + (local ? 27 : 29)] << 8;
        const std::size_t name_at = i + (local ? 30 : 46);
        if (name_at + name_len > zip.size() || name_len != name.size() ||
            std::memcmp(&zip[name_at], name.data(), name_len) != 0) {
            continue;
        }
        testutil::put_le32(zip, i + (local ? 22 : 24), size);
        ++patched;
    }
    EXPECT_EQ(patched, 2) << name;
}

TEST(FormatsX3p, RefusesStatedSizesBeyondWhatTheEntriesCanHold) {
    // A data.bin that states the 10^9 bytes its 12500 x 10000 float64 matrix needs, with a
    // few compressed bytes behind it: refused before anything is inflated or allocated.
    X3pFields bomb = fields_of('D', std::vector<double>(16, 0.0));
    bomb.size_x = "12500";
    bomb.size_y = "10000";
    Bytes zip = make_x3p(bomb);
    patch_size(zip, "bindata/data.bin", 1000000000u);
    expect_refusal(parse_x3p(zip),
                   "has an entry bindata/data.bin that states 1000000000 bytes, more than its", "zip bomb");
    // A main.xml that states more than main.xml may take.
    Bytes big_xml = make_x3p(fields_of('D', {1, 2, 3, 4, 5, 6}));
    patch_size(big_xml, "main.xml", 0x7fffffffu);
    expect_refusal(parse_x3p(big_xml), "has an entry main.xml of 2147483647 bytes, outside the 1 to 67108864",
                   "large main.xml");
}

TEST(FormatsX3p, EveryTruncationIsRefusedWithOneMessage) {
    const Bytes files[] = {make_x3p(fields_of('D', {1, 2, 3, 4, 5, 6})),
                           testutil::read_file(data_path("opengps_sample1_bin.x3p"))};
    for (const Bytes& file : files) {
        ASSERT_EQ(parse_x3p(file).status, 0);
        for (std::size_t n = 0; n < file.size(); n += 5) {
            expect_refusal(parse_x3p(Bytes(file.begin(), file.begin() + n)), "",
                           "cut at " + std::to_string(n));
        }
    }
}

// A flipped byte in any compressed entry is found: by its CRC, its checksum or its XML.
TEST(FormatsX3p, CorruptedEntriesAreRefused) {
    const Bytes file = testutil::read_file(data_path("opengps_sample1_bin.x3p"));
    int refused = 0;
    for (std::size_t i = 0; i < file.size(); ++i) {
        Bytes bad = file;
        bad[i] ^= 0x5a;
        const Parsed p = parse_x3p(bad);
        if (p.status == 0) continue;  // a byte the reader does not use (a date, a comment)
        expect_refusal(p, "", "byte " + std::to_string(i));
        ++refused;
    }
    EXPECT_GT(refused, 0);
}

#endif  // VARLOX_HAVE_X3P

// ---------------------------------------------------------------------------------------
// TIFF files: baseline ones built byte by byte, and compressed, tiled and turned ones
// written with libtiff.

#if VARLOX_HAVE_TIFF

// Pixels of the given sample type, native byte order of a little-endian file.
Bytes samples(uint16_t bits, uint16_t format, const std::vector<double>& v) {
    Bytes b;
    for (const double d : v) {
        if (format == SAMPLEFORMAT_IEEEFP) {
            if (bits == 32) {
                const float f = static_cast<float>(d);
                uint32_t u = 0;
                std::memcpy(&u, &f, 4);
                fb::put_u32(b, u);
            } else {
                fb::put_f64(b, d);
            }
        } else if (bits == 8) {
            b.push_back(static_cast<uint8_t>(static_cast<int64_t>(d)));
        } else if (bits == 16) {
            fb::put_u16(b, static_cast<uint32_t>(static_cast<int64_t>(d)));
        } else {
            fb::put_u32(b, static_cast<uint32_t>(static_cast<int64_t>(d)));
        }
    }
    return b;
}

TEST(FormatsTiff, ReadsEverySampleTypeAsItStands) {
    struct Case {
        uint16_t bits, format;
        std::vector<double> values;
    };
    const Case cases[] = {
        {8, SAMPLEFORMAT_UINT, {0, 1, 127, 128, 200, 255}},
        {8, SAMPLEFORMAT_INT, {-128, -1, 0, 1, 64, 127}},
        {16, SAMPLEFORMAT_UINT, {0, 1, 255, 256, 40000, 65535}},
        {16, SAMPLEFORMAT_INT, {-32768, -1, 0, 300, 1000, 32767}},
        {32, SAMPLEFORMAT_UINT, {0, 1, 65536, 3000000000.0, 7, 4294967295.0}},
        {32, SAMPLEFORMAT_INT, {-2147483648.0, -1, 0, 1, 100000, 2147483647.0}},
        {32, SAMPLEFORMAT_IEEEFP, {0.5, -1.25, kNaN, 1e-30, 3e38, -7}},
        {64, SAMPLEFORMAT_IEEEFP, {0.1, -1e300, kNaN, 5e-324, 1, -7}},
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.bits) + "-bit format " + std::to_string(c.format);
        const Parsed p = parse_tiff(
            fb::tiff_file(fb::tiff_grey(3, 2, c.bits, c.format), samples(c.bits, c.format, c.values)));
        ASSERT_EQ(p.status, 0) << what << ": " << p.err;
        EXPECT_EQ(p.err, "") << what;
        std::vector<double> want = c.values;
        if (c.bits == 32 && c.format == SAMPLEFORMAT_IEEEFP) {
            for (double& d : want) d = static_cast<float>(d);
        }
        expect_heights(p.map, 3, 2, want, what);
        EXPECT_EQ(p.map.format, kHeightsTiff);
        EXPECT_EQ(p.map.dx, 0);
        EXPECT_EQ(p.map.dy, 0);
        EXPECT_EQ(p.map.z_unit, "");
    }
}

// Writes a one-sample float32 image with libtiff: stored rows top first, values 0 to n-1.
struct Written {
    uint32_t width, height;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint32_t tile = 0;  // tile side (a multiple of 16), 0 for strips
    uint32_t rows_per_strip = 1;
};

Bytes write_tiff(const Written& w) {
    TempDir dir;
    const std::string path = dir.path("made.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(t, nullptr);
    if (t == nullptr) return {};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, w.height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, w.compression);
    TIFFSetField(t, TIFFTAG_ORIENTATION, w.orientation);
    std::vector<float> all(std::size_t(w.width) * w.height);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<float>(i);
    if (w.tile > 0) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, w.tile);
        TIFFSetField(t, TIFFTAG_TILELENGTH, w.tile);
        std::vector<float> tile(std::size_t(w.tile) * w.tile, -1.0f);
        for (uint32_t y = 0; y < w.height; y += w.tile) {
            for (uint32_t x = 0; x < w.width; x += w.tile) {
                for (uint32_t r = 0; r < w.tile; ++r)
                    for (uint32_t c = 0; c < w.tile; ++c)
                        tile[r * w.tile + c] =
                            y + r < w.height && x + c < w.width ? all[(y + r) * w.width + x + c] : -1;
                EXPECT_GE(TIFFWriteTile(t, tile.data(), x, y, 0, 0), 0);
            }
        }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, w.rows_per_strip);
        for (uint32_t y = 0; y < w.height; ++y)
            EXPECT_EQ(TIFFWriteScanline(t, &all[std::size_t(y) * w.width], y, 0), 1);
    }
    TIFFClose(t);
    return testutil::read_file(path);
}

TEST(FormatsTiff, ReadsStripsTilesAndCompressedImages) {
    const Written cases[] = {
        {37, 21, COMPRESSION_NONE, ORIENTATION_TOPLEFT, 0, 4},
        {37, 21, COMPRESSION_ADOBE_DEFLATE, ORIENTATION_TOPLEFT, 0, 5},
        {37, 21, COMPRESSION_LZW, ORIENTATION_TOPLEFT, 0, 21},
        {37, 21, COMPRESSION_PACKBITS, ORIENTATION_TOPLEFT, 0, 1},
        {37, 21, COMPRESSION_NONE, ORIENTATION_TOPLEFT, 16},
        {37, 21, COMPRESSION_ADOBE_DEFLATE, ORIENTATION_TOPLEFT, 32},
        {5, 3, COMPRESSION_NONE, ORIENTATION_TOPLEFT, 16},
    };
    for (const Written& w : cases) {
        const std::string what = "compression " + std::to_string(w.compression) + " tile " +
                                 std::to_string(w.tile) + " rows " + std::to_string(w.rows_per_strip);
        const Parsed p = parse_tiff(write_tiff(w));
        ASSERT_EQ(p.status, 0) << what << ": " << p.err;
        EXPECT_EQ(p.err, "") << what;
        std::vector<double> want(std::size_t(w.width) * w.height);
        for (std::size_t i = 0; i < want.size(); ++i) want[i] = double(i);
        expect_heights(p.map, w.width, w.height, want, what);
    }
}

TEST(FormatsTiff, OrientationPlacesTheRowsAndColumns) {
    // Stored rows {0 1 2} and {3 4 5}, placed as each Orientation says.
    struct Case {
        uint16_t orientation;
        uint32_t width, height;
        std::vector<double> want;
    };
    const Case cases[] = {
        {1, 3, 2, {0, 1, 2, 3, 4, 5}}, {2, 3, 2, {2, 1, 0, 5, 4, 3}}, {3, 3, 2, {5, 4, 3, 2, 1, 0}},
        {4, 3, 2, {3, 4, 5, 0, 1, 2}}, {5, 2, 3, {0, 3, 1, 4, 2, 5}}, {6, 2, 3, {3, 0, 4, 1, 5, 2}},
        {7, 2, 3, {5, 2, 4, 1, 3, 0}}, {8, 2, 3, {2, 5, 1, 4, 0, 3}},
    };
    for (const Case& c : cases) {
        std::vector<fb::TiffEntry> e = fb::tiff_grey(3, 2, 8, SAMPLEFORMAT_UINT);
        e.push_back({274, 3, c.orientation});
        const Parsed p = parse_tiff(fb::tiff_file(e, {0, 1, 2, 3, 4, 5}));
        ASSERT_EQ(p.status, 0) << c.orientation << ": " << p.err;
        expect_heights(p.map, c.width, c.height, c.want, "orientation " + std::to_string(c.orientation));
    }
    // libtiff drops an Orientation outside 1 to 8 from the directory: the default, 1.
    std::vector<fb::TiffEntry> bad = fb::tiff_grey(3, 2, 8, SAMPLEFORMAT_UINT);
    bad.push_back({274, 3, 9});
    const Parsed nine = parse_tiff(fb::tiff_file(bad, {0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(nine.status, 0) << nine.err;
    EXPECT_EQ(nine.err, "");
    expect_heights(nine.map, 3, 2, {0, 1, 2, 3, 4, 5}, "orientation 9");
    // Written by libtiff: 4 x 3 stored, turned to 3 x 4.
    const Parsed turned = parse_tiff(write_tiff({4, 3, COMPRESSION_NONE, ORIENTATION_RIGHTTOP, 0, 3}));
    ASSERT_EQ(turned.status, 0) << turned.err;
    expect_heights(turned.map, 3, 4, {8, 4, 0, 9, 5, 1, 10, 6, 2, 11, 7, 3}, "libtiff's orientation 6");
}

TEST(FormatsTiff, RefusesWhatItCannotReadWithOneMessage) {
    using E = std::vector<fb::TiffEntry>;
    const auto with = [](E e, uint16_t tag, uint32_t value) {
        for (fb::TiffEntry& x : e) {
            if (x.tag == tag) {
                x.value = value;
                return e;
            }
        }
        e.push_back(
            {tag,
             tag == 256 || tag == 257 || tag == 273 || tag == 279 || tag >= 322 ? uint16_t(4) : uint16_t(3),
             value});
        return e;
    };
    const E grey = fb::tiff_grey(3, 2, 8, SAMPLEFORMAT_UINT);
    const Bytes px = {0, 1, 2, 3, 4, 5};
    const Bytes floats =
        samples(32, SAMPLEFORMAT_IEEEFP, {1, 2, 3, 4, 5, -std::numeric_limits<double>::infinity()});
    struct Case {
        const char* what;
        Bytes file;
        const char* fragment;
    };
    const Case cases[] = {
        {"three samples", fb::tiff_file(with(with(grey, 277, 3), 262, 2), Bytes(18, 1)),
         "has 3 samples a pixel; only one-channel"},
        {"palette",
         fb::tiff_file(
             [&] {
                 E e = with(grey, 262, 3);
                 e.push_back({320, 3, fb::kExtraOffset, 768});
                 return e;
             }(),
             px, Bytes(1536, 0x80)),
         "is a palette (colour-mapped) TIFF"},
        {"photometric mask", fb::tiff_file(with(grey, 262, 4), px), "has the PhotometricInterpretation 4"},
        {"4-bit", fb::tiff_file(with(grey, 258, 4), px), "has 4-bit samples of SampleFormat 1"},
        {"16-bit float", fb::tiff_file(with(with(grey, 258, 16), 339, 3), Bytes(12, 0)),
         "has 16-bit samples of SampleFormat 3"},
        {"infinity", fb::tiff_file(fb::tiff_grey(3, 2, 32, SAMPLEFORMAT_IEEEFP), floats),
         "has a non-finite sample at row 1, column 2"},
        {"strip outside the file", fb::tiff_file(with(grey, 273, 100000), px),
         "is not a TIFF libtiff can read"},
        {"strip running past the end",
         fb::tiff_file(with(grey, 273, static_cast<uint32_t>(fb::tiff_file(grey, px).size() - 3)), px),
         "is not a TIFF libtiff can read"},
        {"huge uncompressed", fb::tiff_file(with(with(grey, 256, 100000), 257, 100000), px),
         "states a 100000 x 100000 image, more than its"},
        {"huge deflated", fb::tiff_file(with(with(with(grey, 256, 60000), 257, 60000), 259, 8), px),
         "states a 60000 x 60000 image, more than its"},
        {"huge tiles", fb::tiff_file(with(with(with(grey, 322, 65536), 323, 65536), 324, 150), px),
         "has tiles of 65536 x 65536 pixels, more than its"},
        {"zero width", fb::tiff_file(with(grey, 256, 0), px), "is not a TIFF libtiff can read"},
        {"unknown compression", fb::tiff_file(with(grey, 259, 12345), px), "Compression 12345"},
        {"no directory", Bytes{'I', 'I', 42, 0, 0xff, 0xff, 0, 0}, "is not a TIFF libtiff can read"},
    };
    for (const Case& c : cases) expect_refusal(parse_tiff(c.file), c.fragment, c.what);
}

TEST(FormatsTiff, EveryTruncationIsRefusedWithOneMessage) {
    const Bytes files[] = {write_tiff({9, 7, COMPRESSION_ADOBE_DEFLATE, ORIENTATION_TOPLEFT, 0, 3}),
                           testutil::read_file(data_path("rasterio_float_nan.tif"))};
    for (const Bytes& file : files) {
        ASSERT_EQ(parse_tiff(file).status, 0);
        for (std::size_t n = 0; n < file.size(); ++n) {
            const Parsed p = parse_tiff(Bytes(file.begin(), file.begin() + n));
            // A cut in the trailing tags libtiff does not need may still read.
            if (p.status == 0) continue;
            expect_refusal(p, "", "cut at " + std::to_string(n));
        }
        expect_refusal(parse_tiff(Bytes(file.begin(), file.begin() + file.size() / 2)), "", "half");
    }
}

#endif  // VARLOX_HAVE_TIFF

}  // namespace
