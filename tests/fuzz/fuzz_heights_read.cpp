// libFuzzer target for the height-map reader (PGM, PFM, and the BMP it hands on). Each
// input is written to a real file and read back with heights_read. Required of every
// input: no crash and no sanitizer report, and either no map with exactly one message
// starting "Error: ", or no message and a map whose samples are the file's bytes: for a
// PGM or PFM, some place after the first bytes from which the samples, decoded in one of
// the layouts the formats allow, are the map's; for a BMP, the greyed picture's red bytes.
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

namespace {

std::string g_input;   // the file each input is written to
int g_err_fd = -1;     // standard error goes into this file while the reader runs
int g_saved_fd = -1;   // the real standard error, where libFuzzer reports

void fail(const char* what) {
    const char prefix[] = "fuzz_heights_read: ";
    (void)!write(g_saved_fd, prefix, sizeof prefix - 1);
    (void)!write(g_saved_fd, what, std::strlen(what));
    (void)!write(g_saved_fd, "\n", 1);
    std::abort();
}

std::string captured() {
    std::fflush(stderr);
    std::string text;
    char buf[4096];
    lseek(g_err_fd, 0, SEEK_SET);
    ssize_t got = 0;
    while ((got = read(g_err_fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(got));
    return text;
}

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

bool matches(const uint8_t* d, std::size_t size, std::size_t at, int layout, const HeightMap& map) {
    const uint64_t n = map.side;
    for (uint64_t i = 0; i < n * n; ++i) {
        // PFM rows are stored bottom first.
        const uint64_t r = i / n, c = i % n;
        const uint64_t k = layout >= 2 ? (n - 1 - r) * n + c : i;
        double v = 0;
        if (!sample_at(d, size, at, layout, i, &v) || std::memcmp(&v, &map.z[k], sizeof v) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_input = "/tmp/varlox-fuzz-heights-" + std::to_string(getpid()) + ".in";
    const std::string err = "/tmp/varlox-fuzz-heights-" + std::to_string(getpid()) + ".err";
    g_err_fd = open(err.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    g_saved_fd = dup(2);
    if (g_err_fd < 0 || g_saved_fd < 0) std::abort();
    unlink(err.c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(g_input.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    if (ftruncate(g_err_fd, 0) != 0) std::abort();
    lseek(g_err_fd, 0, SEEK_SET);

    std::fflush(stderr);
    dup2(g_err_fd, 2);
    HeightMap map{};
    const int status = heights_read(g_input, map);
    ImagePtr image;
    if (status == 0 && map.format == kHeightsBmp) image = bmp_read(g_input);
    const std::string err = captured();
    dup2(g_saved_fd, 2);
    if (status != 0) {
        if (map.z) fail("a refusal that filled the map");
        if (err.rfind("Error: ", 0) != 0) fail("refusal without an Error: message");
        if (err.find("Error: ", 1) != std::string::npos) fail("more than one message");
        return 0;
    }
    if (!err.empty()) fail("a map came with a message");
    if (!map.z || map.side == 0) fail("success without a map");
    const uint64_t n = map.side;
    if (map.format == kHeightsBmp) {
        if (!image || image->width != n || image->height != n) fail("a BMP map unlike the picture");
        image_to_gray(*image);
        for (uint64_t k = 0; k < n * n; ++k) {
            if (map.z[k] != image->pixels[k * 3 + 2]) fail("a BMP map unlike the picture's grey");
        }
        return 0;
    }
    const bool pgm = map.format == kHeightsPgm;
    if (size < 2 || data[0] != 'P' || data[1] != (pgm ? '5' : 'f')) fail("a format unlike the file's first bytes");
    for (uint64_t k = 0; k < n * n; ++k) {
        if (!std::isfinite(map.z[k])) fail("a non-finite height");
        if (pgm && (map.z[k] < 0 || map.z[k] > 65535 || map.z[k] != std::floor(map.z[k]))) fail("a PGM level out of range");
    }
    // The header takes at most 4096 bytes and ends with one whitespace byte.
    for (std::size_t at = 3; at <= size && at <= 4097; ++at) {
        for (int layout = pgm ? 0 : 2; layout <= (pgm ? 1 : 3); ++layout) {
            if (matches(data, size, at, layout, map)) return 0;
        }
    }
    fail("samples that are not the file's bytes");
    return 0;
}
