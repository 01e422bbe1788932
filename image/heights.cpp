#include "image/heights.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "image/bmp.h"

namespace {

// The most bytes a PGM or PFM header may take, comments included; one whitespace byte
// follows it.
constexpr uint64_t kHeaderMax = 4096;

// The largest side accepted: the transform indexes lines with 32-bit signed integers.
constexpr uint64_t kSideMax = 0x7fffffff;

bool is_space(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// A cursor over the header bytes read so far.
struct Header {
    const uint8_t* bytes;
    uint64_t size;
    uint64_t at;
};

// Skips whitespace, and comments (a '#' to the end of its line) when they are allowed.
void skip_blank(Header& h, bool comments) {
    while (h.at < h.size) {
        if (is_space(h.bytes[h.at])) {
            ++h.at;
        } else if (comments && h.bytes[h.at] == '#') {
            while (h.at < h.size && h.bytes[h.at] != '\n' && h.bytes[h.at] != '\r') ++h.at;
        } else {
            return;
        }
    }
}

// A decimal number of at most kSideMax after blanks; false when there is none or it is
// larger. The number must end at a whitespace byte or an allowed comment, not at the
// header's end.
bool header_number(Header& h, uint64_t* out, bool comments) {
    skip_blank(h, comments);
    uint64_t v = 0;
    const uint64_t start = h.at;
    while (h.at < h.size && h.bytes[h.at] >= '0' && h.bytes[h.at] <= '9') {
        v = v * 10 + (h.bytes[h.at] - '0');
        if (v > kSideMax) return false;
        ++h.at;
    }
    if (h.at == start || h.at >= h.size) return false;
    if (!is_space(h.bytes[h.at]) && !(comments && h.bytes[h.at] == '#')) return false;
    *out = v;
    return true;
}

// A number in the C locale's notation (the program never changes it) after whitespace,
// ending at a whitespace byte; false when there is none.
bool header_real(Header& h, double* out) {
    while (h.at < h.size && is_space(h.bytes[h.at])) ++h.at;
    char text[64];
    std::size_t n = 0;
    while (h.at < h.size && !is_space(h.bytes[h.at])) {
        if (n + 1 >= sizeof text) return false;
        text[n++] = static_cast<char>(h.bytes[h.at++]);
    }
    text[n] = '\0';
    if (n == 0 || h.at >= h.size) return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end != text + n) return false;
    *out = v;
    return true;
}

void report_read(const std::string& path) { std::fprintf(stderr, "Error: Could not read %s\n", path.c_str()); }

void report_malformed(const std::string& path, const char* format) {
    std::fprintf(stderr, "Error: %s has a malformed %s header\n", path.c_str(), format);
}

void report_truncated(const std::string& path) {
    std::fprintf(stderr, "Error: %s is truncated\n", path.c_str());
}

// The netpbm formats that are not read, by the byte after the 'P', named in the refusal.
struct OtherNetpbm {
    uint8_t letter;
    const char* what;
};
constexpr OtherNetpbm kOtherNetpbm[] = {
    {'1', "a plain-text PBM (P1)"}, {'2', "a plain-text PGM (P2)"}, {'3', "a plain-text PPM (P3)"},
    {'4', "a binary PBM (P4)"},     {'6', "a binary PPM (P6)"},     {'7', "a PAM (P7)"},
    {'F', "a colour PFM (PF)"},
};

// The format the first `got` bytes of a file announce: PGM for "P5", PFM for "Pf", and
// kHeightsBmp for anything else (the BMP reader's to judge).
HeightFormat format_of(const uint8_t* magic, uint64_t got) {
    if (got < 2 || magic[0] != 'P') return kHeightsBmp;
    return magic[1] == '5' ? kHeightsPgm : magic[1] == 'f' ? kHeightsPfm : kHeightsBmp;
}

// Refuses, naming it, a netpbm file of a kind that is not read; false (nothing printed)
// when the first bytes announce none of them.
bool refuse_other_netpbm(const std::string& path, const uint8_t* magic, uint64_t got) {
    if (got < 2 || magic[0] != 'P') return false;
    for (const OtherNetpbm& other : kOtherNetpbm) {
        if (magic[1] == other.letter) {
            std::fprintf(stderr,
                         "Error: %s is %s; only binary PGM (P5), grey PFM (Pf) and 24-bit BMP are read\n",
                         path.c_str(), other.what);
            return true;
        }
    }
    return false;
}

// What the header says about the samples that follow it.
struct Layout {
    uint64_t side;
    uint64_t offset;       // where the first row starts
    uint64_t sample_bytes; // 1, 2 (most significant first) or 4 (a float)
    bool bottom_up;        // rows stored bottom first
    bool little_endian;    // for floats
    uint32_t maxval;       // for PGM
};

// Parses a PGM or PFM header; false after the message.
bool parse_header(const std::string& path, const uint8_t* bytes, uint64_t size, HeightFormat format,
                  Layout& layout) {
    // A PGM header may hold comments wherever it may hold whitespace; a PFM header holds
    // whitespace and numbers only.
    const bool pgm = format == kHeightsPgm;
    const char* name = pgm ? "PGM" : "PFM";
    // Whitespace must follow the magic number: "P532 32" has no side of 32.
    if (size < 3 || !(is_space(bytes[2]) || (pgm && bytes[2] == '#'))) {
        report_malformed(path, name);
        return false;
    }
    Header h{bytes, size, 2};
    uint64_t width = 0;
    uint64_t height = 0;
    if (!header_number(h, &width, pgm) || !header_number(h, &height, pgm)) {
        report_malformed(path, name);
        return false;
    }
    layout = Layout{width, 0, 1, false, false, 0};
    if (format == kHeightsPgm) {
        uint64_t maxval = 0;
        if (!header_number(h, &maxval, true)) {
            report_malformed(path, name);
            return false;
        }
        // One whitespace byte ends the header; a comment there would leave no such byte.
        if (!is_space(bytes[h.at])) {
            report_malformed(path, name);
            return false;
        }
        if (width != height) {
            std::fprintf(stderr, "Error: %s is not a square image\n", path.c_str());
            return false;
        }
        if (maxval < 1 || maxval > 65535) {
            std::fprintf(stderr, "Error: %s has a maxval outside 1 to 65535\n", path.c_str());
            return false;
        }
        layout.maxval = static_cast<uint32_t>(maxval);
        layout.sample_bytes = maxval < 256 ? 1 : 2;
    } else {
        double scale = 0;
        if (!header_real(h, &scale) || !std::isfinite(scale) || scale == 0) {
            report_malformed(path, name);
            return false;
        }
        if (width != height) {
            std::fprintf(stderr, "Error: %s is not a square image\n", path.c_str());
            return false;
        }
        layout.sample_bytes = 4;
        layout.bottom_up = true;
        layout.little_endian = scale < 0;
    }
    if (width == 0) {
        report_malformed(path, name);
        return false;
    }
    layout.offset = h.at + 1;
    return true;
}

// Reads up to `count` bytes; returns how many arrived. Sets *failed on an I/O error.
uint64_t read_some(std::ifstream& in, uint8_t* dst, uint64_t count, bool* failed) {
    in.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(count));
    if (in.bad()) *failed = true;
    const auto got = static_cast<uint64_t>(in.gcount());
    in.clear(in.rdstate() & ~(std::ios::failbit | std::ios::eofbit));
    return got;
}

double float_sample(const uint8_t* p, bool little_endian) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) {
        const uint32_t byte = little_endian ? p[3 - i] : p[i];
        u = u << 8 | byte;
    }
    float f = 0;
    static_assert(sizeof f == sizeof u, "32-bit floats");
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// Reads a PGM or PFM whose first two bytes were `magic`; 0, or 1 after the message.
int read_netpbm(const std::string& path, std::ifstream& in, HeightFormat format, HeightMap& map) {
    uint8_t header[kHeaderMax + 1];
    bool failed = false;
    const uint64_t got = read_some(in, header, sizeof header, &failed);
    if (failed) {
        report_read(path);
        return 1;
    }
    Layout layout{};
    if (!parse_header(path, header, got, format, layout)) return 1;
    uint64_t row_bytes = 0;
    uint64_t count = 0;
    uint64_t needed = 0;
    // The side is at most kSideMax, so none of these products can fail; they are checked
    // all the same.
    if (!size_mul(layout.side, layout.sample_bytes, &row_bytes) ||
        !size_mul(layout.side, layout.side, &count) || !size_mul(row_bytes, layout.side, &needed) ||
        !size_add(needed, layout.offset, &needed)) {
        report_truncated(path);
        return 1;
    }
    // Every row must be in the file before any memory is spent on them.
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.clear();
    if (end >= 0 && static_cast<uint64_t>(end) < needed) {
        report_truncated(path);
        return 1;
    }
    Buffer<uint8_t> row = buffer_new<uint8_t>(row_bytes);
    if (!row) return 1;
    Buffer<double> z = buffer_new<double>(count);
    if (!z) return 1;
    in.seekg(static_cast<std::streamoff>(layout.offset), std::ios::beg);
    if (!in) {
        report_read(path);
        return 1;
    }
    const uint64_t side = layout.side;
    for (uint64_t i = 0; i < side; ++i) {
        if (read_some(in, row.get(), row_bytes, &failed) < row_bytes) {
            if (failed) {
                report_read(path);
            } else {
                report_truncated(path);
            }
            return 1;
        }
        const uint64_t r = layout.bottom_up ? side - 1 - i : i;
        double* dst = z.get() + r * side;
        const uint8_t* p = row.get();
        for (uint64_t c = 0; c < side; ++c, p += layout.sample_bytes) {
            double v = 0;
            if (layout.sample_bytes == 4) {
                v = float_sample(p, layout.little_endian);
                if (!std::isfinite(v)) {
                    std::fprintf(stderr, "Error: %s has a non-finite sample at row %llu, column %llu\n",
                                 path.c_str(), static_cast<unsigned long long>(r),
                                 static_cast<unsigned long long>(c));
                    return 1;
                }
            } else {
                const uint32_t level = layout.sample_bytes == 1 ? p[0] : uint32_t{p[0]} << 8 | p[1];
                if (level > layout.maxval) {
                    std::fprintf(stderr, "Error: %s has a sample above its maxval at row %llu, column %llu\n",
                                 path.c_str(), static_cast<unsigned long long>(r),
                                 static_cast<unsigned long long>(c));
                    return 1;
                }
                v = level;
            }
            dst[c] = v;
        }
    }
    map.side = static_cast<uint32_t>(side);
    map.z = std::move(z);
    map.format = format;
    return 0;
}

}  // namespace

int heights_from_image(const Image& image, HeightMap& map) {
    uint64_t count = 0;
    if (image.width != image.height || !size_mul(image.width, image.height, &count)) {
        report_alloc_failure();
        return 1;
    }
    Buffer<double> z = buffer_new<double>(count);
    if (!z) return 1;
    const uint8_t* p = image.pixels.get();
    for (uint64_t k = 0; k < count; ++k) z[k] = p[k * 3 + 2];
    map.side = image.width;
    map.z = std::move(z);
    map.format = kHeightsBmp;
    return 0;
}

int heights_read(const std::string& path, HeightMap& map) {
    // A file that cannot be opened, or holds neither PGM nor PFM nor another netpbm
    // format, is the BMP reader's, with its messages.
    HeightFormat format = kHeightsBmp;
    std::ifstream in(path, std::ios::binary);
    if (in) {
        uint8_t magic[2] = {};
        bool failed = false;
        const uint64_t got = read_some(in, magic, 2, &failed);
        if (failed) {
            report_read(path);
            return 1;
        }
        if (refuse_other_netpbm(path, magic, got)) return 1;
        format = format_of(magic, got);
    }
    if (format != kHeightsBmp) {
        in.seekg(0, std::ios::beg);
        return read_netpbm(path, in, format, map);
    }
    in.close();
    ImagePtr image = bmp_read(path);
    if (!image) return 1;
    image_to_gray(*image);
    return heights_from_image(*image, map);
}

int heights_scale(HeightMap& map, double factor) {
    // Heights up to 1e100 keep |F|^2 <= (N^2 * 1e100)^2 finite for every side the
    // transform takes (N < 2^31).
    constexpr double kLimit = 1e100;
    const uint64_t count = uint64_t{map.side} * map.side;
    bool beyond = false;
    for (uint64_t k = 0; k < count; ++k) {
        if (factor != 1) map.z[k] *= factor;
        if (!(std::fabs(map.z[k]) <= kLimit)) beyond = true;
    }
    if (beyond) {
        std::fprintf(stderr, "Error: Heights times %g exceed 1e100 in magnitude\n", factor);
        return 1;
    }
    return 0;
}
