// libFuzzer target for the BMP reader. Each input is written to a real file and read
// back with bmp_read. Required of every input: no crash and no sanitizer report, and
// either no image with exactly one message starting "Error: ", or no message and an
// image whose every pixel equals the file's bytes where the header says they are.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/bmp.h"

namespace {

std::string g_input;   // the file each input is written to
int g_err_fd = -1;     // standard error goes into this file while the reader runs
int g_saved_fd = -1;   // the real standard error, where libFuzzer reports

void fail(const char* what) {
    const char prefix[] = "fuzz_bmp_read: ";
    (void)!write(g_saved_fd, prefix, sizeof prefix - 1);
    (void)!write(g_saved_fd, what, std::strlen(what));
    (void)!write(g_saved_fd, "\n", 1);
    std::abort();
}

uint32_t le32(const uint8_t* d, std::size_t size, std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | (at + i < size ? d[at + i] : 0);
    return v;
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_input = "/tmp/varlox-fuzz-" + std::to_string(getpid()) + ".bmp";
    const std::string err = "/tmp/varlox-fuzz-" + std::to_string(getpid()) + ".err";
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
    ImagePtr image = bmp_read(g_input);
    const std::string err = captured();
    dup2(g_saved_fd, 2);
    if (!image) {
        if (err.rfind("Error: ", 0) != 0) fail("refusal without an Error: message");
        if (err.find("Error: ", 1) != std::string::npos) fail("more than one message");
        return 0;
    }
    if (!err.empty()) fail("an image came with a message");
    // Check the picture against the bytes independently of the reader.
    const uint32_t side = le32(data, size, 18);
    if (image->width != side || image->height != side || le32(data, size, 22) != side) {
        fail("wrong dimensions");
    }
    uint64_t offset = le32(data, size, 10);
    if (offset < 54) offset = 54;
    const uint64_t row = uint64_t{side} * 3;
    const uint64_t stride = (row + 3) / 4 * 4;
    for (uint64_t i = 0; i < side; ++i) {
        const uint64_t at = offset + i * stride;
        if (at + row > size) fail("image from a file without its rows");
        if (std::memcmp(image->pixels.get() + (side - 1 - i) * row, data + at, row) != 0) {
            fail("pixels differ from the file");
        }
    }
    return 0;
}
