#include "image/bmp.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>

#include "system/report.h"

namespace {

constexpr uint64_t kHeaderSize = 54;

uint32_t get_le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

int32_t get_le32_signed(const uint8_t* p) {
    // Two's-complement reinterpretation without implementation-defined conversion.
    const uint32_t u = get_le32(p);
    int32_t v = 0;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

void put_le16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(uint8_t* p, uint32_t v) {
    put_le16(p, v);
    put_le16(p + 2, v >> 16);
}

// Reads up to `count` bytes; returns how many arrived. Sets *failed on an I/O error.
uint64_t read_some(std::istream& in, uint8_t* dst, uint64_t count, bool* failed) {
    in.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(count));
    if (in.bad()) {
        *failed = true;
    }
    const auto got = static_cast<uint64_t>(in.gcount());
    in.clear(in.rdstate() & ~(std::ios::failbit | std::ios::eofbit));
    return got;
}

// Size of the open file in bytes, or -1 when it cannot be told (a pipe, say).
int64_t stream_size(std::istream& in) {
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.clear();
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

void report_read(const std::string& path) {
    report("Error: Could not read %s", path.c_str());
}
void report_truncated(const std::string& path) {
    report("Error: %s is truncated\n", path.c_str());
}

}  // namespace

uint64_t bmp_stride(uint32_t width) {
    return uint64_t{width} * 3 + width % 4;
}

ImagePtr bmp_read(const std::string& path, BmpShape shape) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        report_read(path);
        return ImagePtr();
    }
    return bmp_read_stream(in, path, shape);
}

ImagePtr bmp_read_stream(std::istream& in, const std::string& path, BmpShape shape) {
    // Header bytes a short file does not have count as zero.
    uint8_t header[kHeaderSize] = {};
    bool failed = false;
    read_some(in, header, kHeaderSize, &failed);
    if (failed) {
        report_read(path);
        return ImagePtr();
    }
    if (header[0] != 'B' || header[1] != 'M') {
        report("Error: %s is not a bitmap image", path.c_str());
        return ImagePtr();
    }
    // An OS/2 bitmap's 12-byte header holds 16-bit sides where the 40-byte one has 32-bit
    // ones: read as this form, any such picture would seem not square.
    if (get_le32(header + 14) == 12) {
        report(
            "Error: %s is an OS/2 bitmap (12-byte header); only 24bit color Windows "
            "bitmaps are read",
            path.c_str());
        return ImagePtr();
    }
    // Width and height are compared as raw signed values, so a top-down file (negative
    // height) is not square.
    const int32_t width = get_le32_signed(header + 18);
    const int32_t height = get_le32_signed(header + 22);
    const uint32_t depth = get_le32(header + 28);
    if (shape == kBmpSquare && width != height) {
        report("Error: %s is not a square image", path.c_str());
        return ImagePtr();
    }
    if (depth != 24) {
        report("Error: %s is not a 24bit color image", path.c_str());
        return ImagePtr();
    }

    // A side of zero asks for an empty row buffer and a negative one for a row length that
    // cannot be represented: both are allocation failures.
    if (width <= 0 || height <= 0) {
        report_alloc_failure();
        return ImagePtr();
    }
    const auto columns = static_cast<uint32_t>(width);
    const auto rows = static_cast<uint32_t>(height);
    const uint64_t stride = bmp_stride(columns);
    const uint64_t row_bytes = uint64_t{columns} * 3;
    // The rows must all be in the file (the last row's fill bytes may be missing) before
    // any memory is spent on them: a short file claiming a huge side is refused at once.
    uint64_t offset = get_le32(header + 10);
    if (offset < kHeaderSize) {
        offset = kHeaderSize;
    }
    uint64_t needed = 0;
    if (!size_mul(rows - 1, stride, &needed) || !size_add(needed, offset, &needed) ||
        !size_add(needed, row_bytes, &needed)) {
        report_truncated(path);
        return ImagePtr();
    }
    const int64_t file_size = stream_size(in);
    if (file_size >= 0 && static_cast<uint64_t>(file_size) < needed) {
        report_truncated(path);
        return ImagePtr();
    }

    Buffer<uint8_t> row = buffer_new<uint8_t>(stride);
    if (!row) {
        return ImagePtr();
    }
    ImagePtr image = image_new(columns, rows);
    if (!image) {
        return ImagePtr();
    }
    in.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    if (!in) {
        report_read(path);
        return ImagePtr();
    }
    for (uint64_t i = 0; i < rows; ++i) {
        const uint64_t got = read_some(in, row.get(), stride, &failed);
        if (failed) {
            report_read(path);
            return ImagePtr();
        }
        if (got < row_bytes) {
            report_truncated(path);
            return ImagePtr();
        }
        uint8_t* dst = image->pixels.get() + (rows - 1 - i) * row_bytes;
        std::memcpy(dst, row.get(), static_cast<std::size_t>(row_bytes));
    }
    return image;
}

namespace {

// Sizes of the picture's pixel data and whole file, or false when the header cannot hold
// them: the file size in 32 bits, width and height as signed 32-bit values.
bool bmp_sizes(const Image& image, uint64_t* data_size, uint64_t* file_size) {
    return size_mul(image.height, bmp_stride(image.width), data_size) &&
           size_add(*data_size, kHeaderSize, file_size) &&
           *file_size <= std::numeric_limits<uint32_t>::max() &&
           image.width <= uint32_t{std::numeric_limits<int32_t>::max()} &&
           image.height <= uint32_t{std::numeric_limits<int32_t>::max()};
}

bool put(std::FILE* file, const uint8_t* bytes, uint64_t count) {
    return std::fwrite(bytes, 1, static_cast<std::size_t>(count), file) == count;
}

}  // namespace

int bmp_write_file(std::FILE* file, const std::string& name, const Image& image) {
    const uint64_t stride = bmp_stride(image.width);
    const uint64_t row_bytes = uint64_t{image.width} * 3;
    uint64_t data_size = 0;
    uint64_t file_size = 0;
    if (!bmp_sizes(image, &data_size, &file_size)) {
        report_write_failure(name);
        return 1;
    }
    uint8_t header[kHeaderSize] = {};
    header[0] = 'B';
    header[1] = 'M';
    put_le32(header + 2, static_cast<uint32_t>(file_size));
    put_le32(header + 6, 0);
    put_le32(header + 10, kHeaderSize);
    put_le32(header + 14, 40);
    put_le32(header + 18, image.width);
    put_le32(header + 22, image.height);
    put_le16(header + 26, 1);
    put_le16(header + 28, 24);
    put_le32(header + 30, 0);
    put_le32(header + 34, static_cast<uint32_t>(data_size));
    put_le32(header + 38, 1);
    put_le32(header + 42, 1);
    put_le32(header + 46, 0);
    put_le32(header + 50, 0);
    if (!put(file, header, kHeaderSize)) {
        report_write_failure(name);
        return 1;
    }

    Buffer<uint8_t> row = buffer_new<uint8_t>(stride);
    if (!row) {
        // What was written so far reaches the file: the header alone.
        std::fflush(file);
        return 1;
    }
    std::memset(row.get(), 0, static_cast<std::size_t>(stride));
    for (uint64_t i = 0; i < image.height; ++i) {
        const uint8_t* src = image.pixels.get() + (image.height - 1 - i) * row_bytes;
        std::memcpy(row.get(), src, static_cast<std::size_t>(row_bytes));
        if (!put(file, row.get(), stride)) {
            report_write_failure(name);
            return 1;
        }
    }
    // A full disk or a file-size limit often shows only when the buffer is flushed.
    if (std::fflush(file) != 0 || std::ferror(file) != 0) {
        report_write_failure(name);
        return 1;
    }
    return 0;
}

int bmp_write(const std::string& path, const Image& image) {
    uint64_t data_size = 0;
    uint64_t file_size = 0;
    if (!bmp_sizes(image, &data_size, &file_size)) {
        report_write_failure(path);
        return 1;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        report_write_failure(path);
        return 1;
    }
    int status = bmp_write_file(file, path, image);
    if (std::fclose(file) != 0 && status == 0) {
        report_write_failure(path);
        status = 1;
    }
    return status;
}
