// libFuzzer target for the BMP reader. Each input is written to a real file and read
// back with bmp_read. Required of every input: no crash and no sanitizer report, and
// either no image with exactly one message starting "Error: ", or no message and an
// image whose every pixel equals the file's bytes where the header says they are.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/bmp.h"
#include "tests/fuzz/fuzz_harness.h"

namespace {

uint32_t le32(const uint8_t* d, std::size_t size, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | (at + i < size ? d[at + i] : 0);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_setup("fuzz_bmp_read");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!fuzz_write_input(data, size)) return 0;
    fuzz_capture_begin();
    ImagePtr image = bmp_read(fuzz_input_path());
    const std::string err = fuzz_capture_end();
    if (!image) {
        fuzz_check_refusal(err);
        return 0;
    }
    if (!err.empty()) fuzz_fail("an image came with a message");
    // Check the picture against the bytes independently of the reader.
    const uint32_t side = le32(data, size, 18);
    if (image->width != side || image->height != side || le32(data, size, 22) != side) {
        fuzz_fail("wrong dimensions");
    }
    uint64_t offset = le32(data, size, 10);
    if (offset < 54) offset = 54;
    const uint64_t row = uint64_t{side} * 3;
    const uint64_t stride = (row + 3) / 4 * 4;
    for (uint64_t i = 0; i < side; ++i) {
        const uint64_t at = offset + i * stride;
        if (at + row > size) fuzz_fail("image from a file without its rows");
        if (std::memcmp(image->pixels.get() + (side - 1 - i) * row, data + at, row) != 0) {
            fuzz_fail("pixels differ from the file");
        }
    }
    return 0;
}
