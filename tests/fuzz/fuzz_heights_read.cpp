// libFuzzer target for the height-map reader (PGM, PFM, and the BMP it hands on). Each
// input is written to a real file and read back with heights_read. Required of every
// input: no crash and no sanitizer report, and either no map with exactly one message
// starting "Error: ", or no message and a map whose samples are the file's bytes: for a
// PGM or PFM, some place after the first bytes from which the samples, decoded in one of
// the layouts the formats allow, are the map's; for a BMP, the greyed picture's red bytes.
// The same input read from a pipe, whose size the reader cannot know, must give the same
// map or the same message, but for a header asking for more than a pipe may hold.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/bmp.h"
#include "image/heights.h"
#include "tests/fuzz/fuzz_harness.h"

namespace {

// Sample i (file order) of a layout starting at `at`: PGM of 1 or 2 bytes, PFM of 4 in
// either order. False when the file ends before it.
bool sample_at(const uint8_t* d, std::size_t size, std::size_t at, int layout, uint64_t i, double* out) {
    const uint64_t bytes = layout == 0 ? 1 : layout == 1 ? 2 : 4;
    const uint64_t start = at + i * bytes;
    if (start + bytes > size) return false;
    const uint8_t* p = d + start;
    if (layout == 0) {
        *out = p[0];
    } else if (layout == 1) {
        *out = uint32_t{p[0]} << 8 | p[1];
    } else {
        uint32_t u = 0;
        for (int k = 0; k < 4; ++k) u = u << 8 | (layout == 2 ? p[3 - k] : p[k]);
        float f = 0;
        std::memcpy(&f, &u, 4);
        *out = f;
    }
    return true;
}

// Reads the input from a pipe, opened by name as a shell's pipe is opened as /dev/stdin,
// and checks that it gives what the file gave. Inputs that do not fit the pipe's buffer
// are left out.
void check_pipe(const uint8_t* data, std::size_t size, int file_status, const HeightMap& file_map,
                const std::string& file_err) {
    int fds[2];
    if (size > 65536 || pipe(fds) != 0) return;
    fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const bool whole = size == 0 || write(fds[1], data, size) == static_cast<ssize_t>(size);
    close(fds[1]);
    if (!whole) {
        close(fds[0]);
        return;
    }
    const std::string path = "/dev/fd/" + std::to_string(fds[0]);
    fuzz_capture_begin();
    HeightMap map{};
    const int status = heights_read(path, map);
    std::string err = fuzz_capture_end();
    close(fds[0]);
    // The messages name the path they were given.
    for (std::size_t at = 0; (at = err.find(path, at)) != std::string::npos; at += fuzz_input_path().size()) {
        err.replace(at, path.size(), fuzz_input_path());
    }
    if (status != file_status) fuzz_fail("a pipe's verdict unlike the file's");
    if (status != 0) {
        // An input this small cannot hold a picture larger than a pipe may: the file's
        // verdict was that it is truncated.
        if (err.find("read from a pipe or FIFO") != std::string::npos) {
            if (file_err != "Error: " + fuzz_input_path() + " is truncated\n") {
                fuzz_fail("a pipe's bound on a whole picture");
            }
        } else if (err != file_err) {
            fuzz_fail("a pipe's message unlike the file's");
        }
        return;
    }
    const uint64_t n = uint64_t{map.width} * map.height;
    if (map.width != file_map.width || map.height != file_map.height || map.format != file_map.format ||
        std::memcmp(map.z.get(), file_map.z.get(), n * sizeof(double)) != 0) {
        fuzz_fail("a pipe's map unlike the file's");
    }
}

bool matches(const uint8_t* d, std::size_t size, std::size_t at, int layout, const HeightMap& map) {
    const uint64_t w = map.width;
    const uint64_t h = map.height;
    for (uint64_t i = 0; i < w * h; ++i) {
        // PFM rows are stored bottom first.
        const uint64_t r = i / w, c = i % w;
        const uint64_t k = layout >= 2 ? (h - 1 - r) * w + c : i;
        double v = 0;
        if (!sample_at(d, size, at, layout, i, &v) || std::memcmp(&v, &map.z[k], sizeof v) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_setup("fuzz_heights_read");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!fuzz_write_input(data, size)) return 0;
    fuzz_capture_begin();
    HeightMap map{};
    const int status = heights_read(fuzz_input_path(), map);
    ImagePtr image;
    if (status == 0 && map.format == kHeightsBmp) image = bmp_read(fuzz_input_path(), kBmpAnyShape);
    const std::string err = fuzz_capture_end();
    check_pipe(data, size, status, map, err);
    if (status != 0) {
        if (map.z) fuzz_fail("a refusal that filled the map");
        fuzz_check_refusal(err);
        return 0;
    }
    // A map comes without a message, but for the warnings of an instrument reader (an
    // x3p's stale checksum of its description, say).
    const bool instrument =
        map.format != kHeightsBmp && map.format != kHeightsPgm && map.format != kHeightsPfm;
    if (!err.empty() &&
        !(instrument && err.rfind("Warning: ", 0) == 0 && err.find("Error") == std::string::npos))
        fuzz_fail("a map came with a message");
    if (!map.z || map.width == 0 || map.height == 0) fuzz_fail("success without a map");
    const uint64_t n = uint64_t{map.width} * map.height;
    if (map.format == kHeightsBmp) {
        if (!image || image->width != map.width || image->height != map.height)
            fuzz_fail("a BMP map unlike the picture");
        image_to_gray(*image);
        for (uint64_t k = 0; k < n; ++k) {
            if (map.z[k] != image->pixels[k * 3 + 2]) fuzz_fail("a BMP map unlike the picture's grey");
        }
        return 0;
    }
    // The instrument formats have a fuzz target of their own.
    if (map.format != kHeightsPgm && map.format != kHeightsPfm) return 0;
    const bool pgm = map.format == kHeightsPgm;
    if (size < 2 || data[0] != 'P' || data[1] != (pgm ? '5' : 'f'))
        fuzz_fail("a format unlike the file's first bytes");
    for (uint64_t k = 0; k < n; ++k) {
        // A NaN is an invalid point of a PFM; nothing is infinite.
        if (std::isinf(map.z[k]) || (pgm && std::isnan(map.z[k]))) fuzz_fail("a non-finite sample");
        if (pgm && (map.z[k] < 0 || map.z[k] > 65535 || map.z[k] != std::floor(map.z[k])))
            fuzz_fail("a PGM level out of range");
    }
    // The header takes at most 4096 bytes and ends with one whitespace byte.
    for (std::size_t at = 3; at <= size && at <= 4097; ++at) {
        for (int layout = pgm ? 0 : 2; layout <= (pgm ? 1 : 3); ++layout) {
            if (matches(data, size, at, layout, map)) return 0;
        }
    }
    fuzz_fail("samples that are not the file's bytes");
    return 0;
}
