#include "image/heights.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <streambuf>

#include "image/bmp.h"
#include "image/formats.h"
#include "system/report.h"

namespace {

// The most bytes a PGM or PFM header may take, comments included; one whitespace byte
// follows it.
constexpr uint64_t kHeaderMax = 4096;

// The largest side accepted: the transform indexes lines with 32-bit signed integers.
constexpr uint64_t kSideMax = 0x7fffffff;

// The bound on a pipe, worked out again: the largest side whose 24-bit BMP (54 header
// bytes, rows of 3 bytes a pixel padded to a multiple of 4) fits the format's 32-bit file
// size, and a PFM of that side after the longest header and its whitespace byte.
constexpr uint64_t kPipeSide = 37837;
constexpr uint64_t bmp_file_bytes(uint64_t side) {
    return 54 + side * (side * 3 + side % 4);
}
static_assert(bmp_file_bytes(kPipeSide) <= 0xffffffffu && bmp_file_bytes(kPipeSide + 1) > 0xffffffffu,
              "the largest side a BMP holds");
static_assert(kHeightsPipeMax == kHeaderMax + 1 + 4 * kPipeSide * kPipeSide, "the largest PFM of that side");

bool is_space(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A cursor over the header bytes read so far.
struct Header {
    const uint8_t* bytes;
    uint64_t size;
    uint64_t at;
};

// Skips whitespace and comments (a '#' to the end of its line).
void skip_blank(Header& h) {
    while (h.at < h.size) {
        if (is_space(h.bytes[h.at])) {
            ++h.at;
        } else if (h.bytes[h.at] == '#') {
            while (h.at < h.size && h.bytes[h.at] != '\n' && h.bytes[h.at] != '\r') ++h.at;
        } else {
            return;
        }
    }
}

// A decimal number of at most kSideMax after blanks; false when there is none or it is
// larger. The number must end at a whitespace byte or a comment, not at the header's end.
bool header_number(Header& h, uint64_t* out) {
    skip_blank(h);
    uint64_t v = 0;
    const uint64_t start = h.at;
    while (h.at < h.size && h.bytes[h.at] >= '0' && h.bytes[h.at] <= '9') {
        v = v * 10 + (h.bytes[h.at] - '0');
        if (v > kSideMax) return false;
        ++h.at;
    }
    if (h.at == start || h.at >= h.size) return false;
    if (!is_space(h.bytes[h.at]) && h.bytes[h.at] != '#') return false;
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

void report_read(const std::string& path) {
    report("Error: Could not read %s\n", path.c_str());
}

void report_malformed(const std::string& path, const char* format) {
    report("Error: %s has a malformed %s header\n", path.c_str(), format);
}

void report_truncated(const std::string& path) {
    report("Error: %s is truncated\n", path.c_str());
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

// The format the first `got` bytes of a file announce: PGM for "P5", PFM for "Pf", x3p for
// a zip archive's "PK\3\4", Gwyddion for "GWYP", TIFF for "II*\0" or "MM\0*" (and BigTIFF's
// "II+\0" and "MM\0+", which libtiff reads too), and kHeightsBmp for anything else (the BMP
// reader's to judge).
HeightFormat format_of(const uint8_t* magic, uint64_t got) {
    const auto starts = [&](const char* m) { return got >= 4 && std::memcmp(magic, m, 4) == 0; };
    if (starts("PK\3\4")) return kHeightsX3p;
    if (starts("GWYP")) return kHeightsGwy;
    if (starts("II*") || starts("MM\0*") || starts("II+") || starts("MM\0+")) return kHeightsTiff;
    if (got < 2 || magic[0] != 'P') return kHeightsBmp;
    return magic[1] == '5' ? kHeightsPgm : magic[1] == 'f' ? kHeightsPfm : kHeightsBmp;
}

bool is_instrument(HeightFormat format) {
    return format == kHeightsX3p || format == kHeightsGwy || format == kHeightsTiff;
}

// Reads an instrument file held whole in memory with its format's reader, or says which
// reader this build lacks; 0, or 1 after the message.
int read_instrument(const std::string& path, const uint8_t* bytes, uint64_t size, HeightFormat format,
                    int channel, HeightMap& map) {
    const char* name = format == kHeightsX3p   ? "an x3p archive"
                       : format == kHeightsGwy ? "a Gwyddion file"
                                               : "a TIFF";
    const char* missing = formats_missing(format);
    if (missing != nullptr) {
        report("Error: %s is %s, but this varlox-view was built without its reader (%s)\n", path.c_str(),
               name, missing);
        return 1;
    }
    if (format == kHeightsGwy) return gwy_parse(path, bytes, size, channel, map);
    return format == kHeightsX3p ? x3p_parse(path, bytes, size, map) : tiff_parse(path, bytes, size, map);
}

// Refuses, naming it, a netpbm file of a kind that is not read; false (nothing printed)
// when the first bytes announce none of them.
bool refuse_other_netpbm(const std::string& path, const uint8_t* magic, uint64_t got) {
    if (got < 2 || magic[0] != 'P') return false;
    for (const OtherNetpbm& other : kOtherNetpbm) {
        if (magic[1] == other.letter) {
            report(
                "Error: %s is %s; only binary PGM (P5), grey PFM (Pf), x3p, Gwyddion, TIFF and 24-bit BMP "
                "are read\n",
                path.c_str(), other.what);
            return true;
        }
    }
    return false;
}

// What the header says about the samples that follow it.
struct Layout {
    uint64_t width;
    uint64_t height;
    uint64_t offset;        // where the first row starts
    uint64_t sample_bytes;  // 1, 2 (most significant first) or 4 (a float)
    bool bottom_up;         // rows stored bottom first
    bool little_endian;     // for floats
    uint32_t maxval;        // for PGM
};

// Parses a PGM or PFM header; false after the message.
bool parse_header(const std::string& path, const uint8_t* bytes, uint64_t size, HeightFormat format,
                  Layout& layout) {
    // Comments may stand wherever whitespace may, up to the maxval of a PGM and before a
    // PFM's width and height (some writers put one there); a PFM's scale follows
    // whitespace only.
    const bool pgm = format == kHeightsPgm;
    const char* name = pgm ? "PGM" : "PFM";
    // Whitespace, or a comment, must follow the magic number: "P532 32" has no side of 32.
    if (size < 3 || !(is_space(bytes[2]) || bytes[2] == '#')) {
        report_malformed(path, name);
        return false;
    }
    Header h{bytes, size, 2};
    uint64_t width = 0;
    uint64_t height = 0;
    if (!header_number(h, &width) || !header_number(h, &height)) {
        report_malformed(path, name);
        return false;
    }
    layout = Layout{width, height, 0, 1, false, false, 0};
    if (format == kHeightsPgm) {
        uint64_t maxval = 0;
        if (!header_number(h, &maxval)) {
            report_malformed(path, name);
            return false;
        }
        // One whitespace byte ends the header; a comment there would leave no such byte.
        if (!is_space(bytes[h.at])) {
            report_malformed(path, name);
            return false;
        }
        if (maxval < 1 || maxval > 65535) {
            report("Error: %s has a maxval outside 1 to 65535\n", path.c_str());
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
        layout.sample_bytes = 4;
        layout.bottom_up = true;
        layout.little_endian = scale < 0;
    }
    if (width == 0 || height == 0 || width > kSideMax || height > kSideMax) {
        report_malformed(path, name);
        return false;
    }
    layout.offset = h.at + 1;
    return true;
}

// The bytes of one row, and of the file up to its last sample; false when they exceed 64
// bits. The sides are at most kSideMax, so they cannot, but they are checked all the same.
bool picture_bytes(const Layout& layout, uint64_t* row_bytes, uint64_t* needed) {
    return size_mul(layout.width, layout.sample_bytes, row_bytes) &&
           size_mul(*row_bytes, layout.height, needed) && size_add(*needed, layout.offset, needed);
}

// Reads up to `count` bytes; returns how many arrived. Sets *failed on an I/O error.
uint64_t read_some(std::istream& in, uint8_t* dst, uint64_t count, bool* failed) {
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

// Reads a PGM or PFM from the start of `in`, a stream that seeks; 0, or 1 after the
// message.
int read_netpbm(const std::string& path, std::istream& in, HeightFormat format, HeightMap& map) {
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
    if (!picture_bytes(layout, &row_bytes, &needed) || !size_mul(layout.width, layout.height, &count)) {
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
    const uint64_t width = layout.width;
    const uint64_t height = layout.height;
    for (uint64_t i = 0; i < height; ++i) {
        if (read_some(in, row.get(), row_bytes, &failed) < row_bytes) {
            if (failed) {
                report_read(path);
            } else {
                report_truncated(path);
            }
            return 1;
        }
        const uint64_t r = layout.bottom_up ? height - 1 - i : i;
        double* dst = z.get() + r * width;
        const uint8_t* p = row.get();
        for (uint64_t c = 0; c < width; ++c, p += layout.sample_bytes) {
            double v = 0;
            if (layout.sample_bytes == 4) {
                v = float_sample(p, layout.little_endian);
                if (std::isinf(v)) {
                    report("Error: %s has a non-finite sample at row %llu, column %llu\n", path.c_str(),
                           static_cast<unsigned long long>(r), static_cast<unsigned long long>(c));
                    return 1;
                }
            } else {
                const uint32_t level = layout.sample_bytes == 1 ? p[0] : uint32_t{p[0]} << 8 | p[1];
                if (level > layout.maxval) {
                    report("Error: %s has a sample above its maxval at row %llu, column %llu\n", path.c_str(),
                           static_cast<unsigned long long>(r), static_cast<unsigned long long>(c));
                    return 1;
                }
                v = level;
            }
            dst[c] = v;
        }
    }
    HeightMap made{};
    made.width = static_cast<uint32_t>(width);
    made.height = static_cast<uint32_t>(height);
    made.z = std::move(z);
    made.format = format;
    map = std::move(made);
    return 0;
}

// Whether the open file's size can be told in advance: a regular file's can; a pipe's or
// a FIFO's cannot, as it does not seek. Leaves the stream at the file's start.
bool size_known(std::istream& in) {
    in.seekg(0, std::ios::end);
    const bool known = in.tellg() >= 0;
    in.clear();
    in.seekg(0, std::ios::beg);
    in.clear();
    return known;
}

// Bytes of a stream held in memory, grown as they arrive.
struct Held {
    Buffer<uint8_t> bytes;
    uint64_t size;
    uint64_t capacity;
};

// Reads from `in` until `held` has `want` bytes or the stream ends, never more; 0, or 1
// after the read or allocation message. The buffer at least doubles when it grows, so
// the bytes are copied about once in all.
int hold_until(const std::string& path, std::istream& in, Held& held, uint64_t want) {
    constexpr uint64_t kFirstBytes = 65536;
    while (held.size < want) {
        if (held.size == held.capacity) {
            uint64_t capacity = kFirstBytes;
            if (!size_mul(held.capacity, 2, &capacity) || capacity < kFirstBytes) capacity = kFirstBytes;
            if (capacity > want) capacity = want;
            Buffer<uint8_t> larger = buffer_new<uint8_t>(capacity);
            if (!larger) return 1;
            if (held.size > 0) {
                std::memcpy(larger.get(), held.bytes.get(), static_cast<std::size_t>(held.size));
            }
            held.bytes = std::move(larger);
            held.capacity = capacity;
        }
        bool failed = false;
        const uint64_t got = read_some(in, held.bytes.get() + held.size, held.capacity - held.size, &failed);
        if (failed) {
            report_read(path);
            return 1;
        }
        if (got == 0) break;  // the end of the stream
        held.size += got;
    }
    return 0;
}

// A stream buffer over bytes in memory that seeks as a file does, so that the readers take
// a pipe's bytes, once held, as they take a file's.
class HeldBuf : public std::streambuf {
  public:
    HeldBuf(uint8_t* bytes, uint64_t size) {
        char* start = reinterpret_cast<char*>(bytes);
        setg(start, start, start + size);
    }

  protected:
    pos_type seekoff(off_type off, std::ios::seekdir dir, std::ios::openmode which) override {
        const off_type size = egptr() - eback();
        const off_type from = dir == std::ios::beg ? 0 : dir == std::ios::cur ? gptr() - eback() : size;
        if (!(which & std::ios::in) || off < -from || off > size - from) return pos_type(off_type(-1));
        setg(eback(), eback() + from + off, egptr());
        return pos_type(from + off);
    }
    pos_type seekpos(pos_type pos, std::ios::openmode which) override {
        return seekoff(off_type(pos), std::ios::beg, which);
    }
};

// Reads a file whose size cannot be told in advance (a pipe, a FIFO), open at its start:
// its bytes are held in memory, at most pipe_max of them, and read from there as from a
// file of those bytes. A PGM or PFM is read up to its last sample and refused at once
// when its header asks for more than pipe_max bytes; a BMP is read to the stream's end and
// refused when that is beyond pipe_max bytes; anything else is judged by its first two
// bytes. 0, or 1 after the message.
int read_unsized(const std::string& path, std::istream& in, uint64_t pipe_max, int channel, HeightMap& map) {
    Held held{Buffer<uint8_t>(), 0, 0};
    if (hold_until(path, in, held, 4) != 0) return 1;
    if (refuse_other_netpbm(path, held.bytes.get(), held.size)) return 1;
    const HeightFormat format = format_of(held.bytes.get(), held.size);
    if (format == kHeightsPgm || format == kHeightsPfm) {
        if (hold_until(path, in, held, kHeaderMax + 1) != 0) return 1;
        Layout layout{};
        if (!parse_header(path, held.bytes.get(), held.size, format, layout)) return 1;
        uint64_t row_bytes = 0;
        uint64_t needed = 0;
        if (!picture_bytes(layout, &row_bytes, &needed)) {
            report_truncated(path);
            return 1;
        }
        if (needed > pipe_max) {
            report(
                "Error: %s has a header that asks for %llu bytes, more than the %llu read "
                "from a pipe or FIFO\n",
                path.c_str(), static_cast<unsigned long long>(needed),
                static_cast<unsigned long long>(pipe_max));
            return 1;
        }
        if (hold_until(path, in, held, needed) != 0) return 1;
    } else if (is_instrument(format) || (held.size >= 2 && held.bytes[0] == 'B' && held.bytes[1] == 'M')) {
        // One byte beyond the bound tells a stream that holds more.
        uint64_t want = pipe_max;
        if (!size_add(pipe_max, 1, &want)) want = pipe_max;
        if (hold_until(path, in, held, want) != 0) return 1;
        if (held.size > pipe_max) {
            report("Error: %s holds more than the %llu bytes read from a pipe or FIFO\n", path.c_str(),
                   static_cast<unsigned long long>(pipe_max));
            return 1;
        }
    }
    if (is_instrument(format))
        return read_instrument(path, held.bytes.get(), held.size, format, channel, map);
    HeldBuf buffer(held.bytes.get(), held.size);
    std::istream bytes(&buffer);
    if (format != kHeightsBmp) return read_netpbm(path, bytes, format, map);
    ImagePtr image = bmp_read_stream(bytes, path, kBmpAnyShape);
    if (!image) return 1;
    image_to_gray(*image);
    return heights_from_image(*image, map);
}

// Reads a whole file that seeks, open at its start, into memory and gives it to its
// format's reader; 0, or 1 after the message.
int read_whole(const std::string& path, std::istream& in, HeightFormat format, int channel, HeightMap& map) {
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.clear();
    in.seekg(0, std::ios::beg);
    if (end < 0 || !in) {
        report_read(path);
        return 1;
    }
    const auto size = static_cast<uint64_t>(end);
    Buffer<uint8_t> bytes = buffer_new<uint8_t>(size > 0 ? size : 1);
    if (!bytes) return 1;
    bool failed = false;
    if (read_some(in, bytes.get(), size, &failed) != size) {
        if (failed) {
            report_read(path);
        } else {
            report_truncated(path);
        }
        return 1;
    }
    return read_instrument(path, bytes.get(), size, format, channel, map);
}

}  // namespace

int heights_read(const std::string& path, HeightMap& map, uint64_t pipe_max, int channel) {
    // A file that cannot be opened, or holds none of the formats above nor another netpbm
    // format, is the BMP reader's, with its messages.
    HeightFormat format = kHeightsBmp;
    std::ifstream in(path, std::ios::binary);
    if (in) {
        // A pipe or FIFO can be read only once: it is not opened again for the BMP reader.
        if (!size_known(in)) return read_unsized(path, in, pipe_max, channel, map);
        uint8_t magic[4] = {};
        bool failed = false;
        const uint64_t got = read_some(in, magic, 4, &failed);
        if (failed) {
            report_read(path);
            return 1;
        }
        if (refuse_other_netpbm(path, magic, got)) return 1;
        format = format_of(magic, got);
    }
    if (is_instrument(format)) return read_whole(path, in, format, channel, map);
    if (format != kHeightsBmp) {
        in.seekg(0, std::ios::beg);
        return read_netpbm(path, in, format, map);
    }
    in.close();
    ImagePtr image = bmp_read(path, kBmpAnyShape);
    if (!image) return 1;
    image_to_gray(*image);
    return heights_from_image(*image, map);
}
