// libFuzzer target for the instrument readers: an input starting "PK\3\4" goes to the x3p
// reader, "GWYP" to the Gwyddion reader (channel -1), anything else to the TIFF reader,
// each from the bytes in memory. Required of every input: no crash and no sanitizer
// report, and either status 1 with exactly one message starting "Error: " and the map as
// it was, or status 0 with no message (an x3p may add its one line on a stale main.xml
// checksum) and a map of 1 to 2^31 - 1 columns and rows, the format it came from, heights
// finite or NaN, and distances finite and not negative.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "image/formats.h"
#include "tests/fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_setup("fuzz_formats_read");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const bool x3p = size >= 4 && std::memcmp(data, "PK\3\4", 4) == 0;
    const bool gwy = size >= 4 && std::memcmp(data, "GWYP", 4) == 0;
    HeightMap map{};
    map.width = 1;
    map.height = 1;
    map.z = buffer_new<double>(1);
    map.z[0] = -7.25;
    map.format = kHeightsBmp;
    map.z_unit = "before";
    const std::string path = "in.dat";
    fuzz_capture_begin();
    const int status = x3p   ? x3p_parse(path, data, size, map)
                       : gwy ? gwy_parse(path, data, size, -1, map)
                             : tiff_parse(path, data, size, map);
    const std::string err = fuzz_capture_end();
    if (status != 0) {
        if (status != 1) fuzz_fail("a status other than 0 and 1");
        if (map.width != 1 || map.height != 1 || map.z[0] != -7.25 || map.format != kHeightsBmp ||
            map.z_unit != "before") {
            fuzz_fail("a refusal that changed the map");
        }
        fuzz_check_refusal(err);
        return 0;
    }
    if (!err.empty()) {
        const std::string warning =
            "Warning: " + path + " has a main.xml that does not match the MD5 checksum in ";
        if (!x3p || err.rfind(warning, 0) != 0 || err.find('\n') != err.size() - 1) {
            fuzz_fail("a map came with a message");
        }
    }
    const HeightFormat want = x3p ? kHeightsX3p : gwy ? kHeightsGwy : kHeightsTiff;
    if (map.format != want) fuzz_fail("a format unlike the input's first bytes");
    if (!map.z || map.width < 1 || map.height < 1 || map.width > 0x7fffffffu || map.height > 0x7fffffffu) {
        fuzz_fail("a map without heights or of a side out of range");
    }
    if (!std::isfinite(map.dx) || !std::isfinite(map.dy) || map.dx < 0 || map.dy < 0)
        fuzz_fail("a bad distance");
    const uint64_t n = uint64_t{map.width} * map.height;
    for (uint64_t k = 0; k < n; ++k) {
        if (std::isinf(map.z[k])) fuzz_fail("an infinite height");
    }
    return 0;
}
