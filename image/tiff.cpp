// The reader of one-channel TIFF height maps, from their bytes in memory through libtiff
// (4.5 or later: its per-file error handlers keep its messages out of standard error and
// put the first into the reader's one message).
//
// The first image only; one sample a pixel (grey: PhotometricInterpretation
// BlackIsZero, WhiteIsZero or none), 8, 16 or 32-bit unsigned or signed integers or 32
// or 64-bit floats, in strips or tiles, with any compression this libtiff decodes. The
// values are taken as they stand; NaN is an invalid point, and so is a value equal to
// GDAL's no-data value (private tag 42113, a number as text) where the file gives one.
// The Orientation tag is honoured: the map's row 0 is the picture's top row as the tag
// places it (1, the default, is rows top first and columns left first; 5 to 8 put rows
// as columns, so the map is the stored image turned). Distances between pixels are left
// unknown (0): XResolution and YResolution are a printing resolution, not the spacing of
// a scan, and GeoTIFF's pixel scale is in a map's units.
//
// Before any allocation for the pixels, the decoded size must fit in what the file can
// hold: its own size when uncompressed, kInflateMax times it when compressed.
#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "image/formats.h"
#include "system/report.h"

namespace {

constexpr uint64_t kSideMax = 0x7fffffff;
// Deflate, the usual strongest codec, expands at most about 1032 times.
constexpr uint64_t kInflateMax = 1100;
constexpr uint32_t kTagGdalNodata = 42113;

// The file's bytes as libtiff reads them, and the first message libtiff gave.
struct Source {
    const uint8_t* bytes;
    uint64_t size;
    uint64_t at;
    std::string error;
};

tmsize_t source_read(thandle_t h, void* buf, tmsize_t n) {
    Source& s = *static_cast<Source*>(h);
    if (n <= 0 || s.at >= s.size) return 0;
    uint64_t count = static_cast<uint64_t>(n);
    if (count > s.size - s.at) count = s.size - s.at;
    std::memcpy(buf, s.bytes + s.at, static_cast<std::size_t>(count));
    s.at += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t source_write(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t source_seek(thandle_t h, toff_t off, int whence) {
    Source& s = *static_cast<Source*>(h);
    const uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s.at : s.size;
    const auto delta = static_cast<int64_t>(off);
    if (whence == SEEK_SET) {
        s.at = off;
    } else if (delta < 0) {
        if (uint64_t(-(delta + 1)) + 1 > base) return static_cast<toff_t>(-1);
        s.at = base - (uint64_t(-(delta + 1)) + 1);
    } else {
        if (!size_add(base, uint64_t(delta), &s.at)) return static_cast<toff_t>(-1);
    }
    return s.at;
}

int source_close(thandle_t) {
    return 0;
}

toff_t source_size(thandle_t h) {
    return static_cast<Source*>(h)->size;
}

int source_map(thandle_t, void**, toff_t*) {
    return 0;
}

void source_unmap(thandle_t, void*, toff_t) {}

int on_error(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    Source& s = *static_cast<Source*>(user);
    if (s.error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        s.error = std::string(module != nullptr ? module : "libtiff") + ": " + text;
    }
    return 1;  // handled: libtiff prints nothing
}

int on_warning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;  // unknown tags and the like: nothing the reader needs to say
}

struct TiffClose {
    void operator()(TIFF* t) const noexcept { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffClose>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const noexcept { TIFFOpenOptionsFree(o); }
};

void report_libtiff(const std::string& path, const Source& s) {
    report("Error: %s is not a TIFF libtiff can read (%s)\n", path.c_str(),
           s.error.empty() ? "no reason given" : s.error.c_str());
}

// How a stored sample reads: its bytes and kind.
struct Sample {
    uint16_t bits;
    uint16_t format;  // SAMPLEFORMAT_UINT, _INT or _IEEEFP
};

double sample_at(const uint8_t* p, Sample s) {
    if (s.format == SAMPLEFORMAT_IEEEFP) {
        if (s.bits == 32) {
            float f = 0;
            std::memcpy(&f, p, 4);
            return f;
        }
        double d = 0;
        std::memcpy(&d, p, 8);
        return d;
    }
    const bool sign = s.format == SAMPLEFORMAT_INT;
    if (s.bits == 8) return sign ? double(static_cast<int8_t>(p[0])) : double(p[0]);
    if (s.bits == 16) {
        uint16_t u = 0;
        std::memcpy(&u, p, 2);
        return sign ? double(static_cast<int16_t>(u)) : double(u);
    }
    uint32_t u = 0;
    std::memcpy(&u, p, 4);
    return sign ? double(static_cast<int32_t>(u)) : double(u);
}

// GDAL's no-data value as the samples hold it; false when the file gives none or it is
// not a number.
bool nodata_of(TIFF* tif, Sample s, double* value) {
    const TIFFField* field = TIFFFindField(tif, kTagGdalNodata, TIFF_ANY);
    if (field == nullptr || TIFFFieldDataType(field) != TIFF_ASCII) return false;
    const char* text = nullptr;
    uint32_t count = 0;
    if (TIFFFieldPassCount(field)) {
        if (TIFFFieldReadCount(field) == TIFF_VARIABLE2) {
            if (TIFFGetField(tif, kTagGdalNodata, &count, &text) != 1) return false;
        } else {
            uint16_t short_count = 0;
            if (TIFFGetField(tif, kTagGdalNodata, &short_count, &text) != 1) return false;
            count = short_count;
        }
    } else {
        if (TIFFGetField(tif, kTagGdalNodata, &text) != 1 || text == nullptr) return false;
        count = static_cast<uint32_t>(std::strlen(text));
    }
    if (text == nullptr) return false;
    std::size_t length = 0;
    while (length < count && text[length] != '\0') ++length;
    std::string t(text, length);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (t.empty() || end != t.c_str() + t.size() || std::isnan(v)) return false;
    // The value a sample equal to it holds: a float32 sample is compared as a float.
    *value = s.format == SAMPLEFORMAT_IEEEFP && s.bits == 32 ? double(static_cast<float>(v)) : v;
    return true;
}

// Where stored (row r, column c) stands in the map for each Orientation (1 to 8), the
// stored image being w columns by h rows.
void place(uint16_t orientation, uint64_t r, uint64_t c, uint64_t w, uint64_t h, uint64_t* row,
           uint64_t* col) {
    switch (orientation) {
        case 2: *row = r, *col = w - 1 - c; return;
        case 3: *row = h - 1 - r, *col = w - 1 - c; return;
        case 4: *row = h - 1 - r, *col = c; return;
        case 5: *row = c, *col = r; return;
        case 6: *row = c, *col = h - 1 - r; return;
        case 7: *row = w - 1 - c, *col = h - 1 - r; return;
        case 8: *row = w - 1 - c, *col = r; return;
        default: *row = r, *col = c; return;
    }
}

int parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map) {
    Source src{bytes, size, 0, std::string()};
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) {
        report_alloc_failure();
        return 1;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), on_error, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), on_warning, &src);
    // No single allocation of libtiff's beyond what the file could decode to.
    uint64_t alloc_max = 0;
    if (!size_mul(size, kInflateMax, &alloc_max) || !size_add(alloc_max, uint64_t{1} << 20, &alloc_max) ||
        alloc_max > uint64_t{INT64_MAX}) {
        alloc_max = uint64_t{INT64_MAX};
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(alloc_max));
    // "r": read; "m": no mapping (reads go through source_read, which checks bounds).
    TiffPtr tif(TIFFClientOpenExt(path.c_str(), "rm", &src, source_read, source_write, source_seek,
                                  source_close, source_size, source_map, source_unmap, options.get()));
    if (!tif) {
        report_libtiff(path, src);
        return 1;
    }
    TIFF* t = tif.get();
    uint32_t width = 0, height = 0;
    uint16_t spp = 1, bits = 1, format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t orientation = ORIENTATION_TOPLEFT, compression = COMPRESSION_NONE;
    if (TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height) != 1) {
        report_libtiff(path, src);
        return 1;
    }
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
    if (spp != 1) {
        report("Error: %s has %u samples a pixel; only one-channel (grey) TIFFs are read\n", path.c_str(),
               unsigned(spp));
        return 1;
    }
    if (photometric == PHOTOMETRIC_PALETTE) {
        report("Error: %s is a palette (colour-mapped) TIFF; only grey values are read\n", path.c_str());
        return 1;
    }
    if (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE) {
        report("Error: %s has the PhotometricInterpretation %u; only grey TIFFs are read\n", path.c_str(),
               unsigned(photometric));
        return 1;
    }
    if (format == SAMPLEFORMAT_VOID) format = SAMPLEFORMAT_UINT;  // "undefined": read as unsigned
    const bool integer = (format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT) &&
                         (bits == 8 || bits == 16 || bits == 32);
    const bool floating = format == SAMPLEFORMAT_IEEEFP && (bits == 32 || bits == 64);
    if (!integer && !floating) {
        report(
            "Error: %s has %u-bit samples of SampleFormat %u; only 8, 16 or 32-bit integers and 32 or "
            "64-bit floats are read\n",
            path.c_str(), unsigned(bits), unsigned(format));
        return 1;
    }
    if (orientation < 1 || orientation > 8) {
        report("Error: %s has the Orientation %u, outside 1 to 8\n", path.c_str(), unsigned(orientation));
        return 1;
    }
    if (width < 1 || height < 1 || width > kSideMax || height > kSideMax) {
        report("Error: %s has an image of %u x %u pixels; each side must be 1 to %llu\n", path.c_str(), width,
               height, static_cast<unsigned long long>(kSideMax));
        return 1;
    }
    if (!TIFFIsCODECConfigured(compression)) {
        report("Error: %s has the Compression %u, which this libtiff cannot decode\n", path.c_str(),
               unsigned(compression));
        return 1;
    }
    const Sample sample{bits, format};
    const uint64_t w = width, h = height, sample_bytes = bits / 8;
    uint64_t count = 0, decoded = 0, holds = size;
    if (compression != COMPRESSION_NONE && !size_mul(size, kInflateMax, &holds)) holds = UINT64_MAX;
    if (!size_mul(w, h, &count) || !size_mul(count, sample_bytes, &decoded) || decoded > holds) {
        report("Error: %s states a %llu x %llu image, more than its %llu bytes can hold\n", path.c_str(),
               static_cast<unsigned long long>(w), static_cast<unsigned long long>(h),
               static_cast<unsigned long long>(size));
        return 1;
    }

    // One strip or tile at a time: its rows and columns within the image.
    const bool tiled = TIFFIsTiled(t) != 0;
    uint32_t block_w = width, block_h = 0;
    if (tiled) {
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &block_w);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &block_h);
    } else {
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &block_h);
        if (block_h > height) block_h = height;
    }
    uint64_t block_bytes = 0;
    if (block_w == 0 || block_h == 0 || !size_mul(uint64_t{block_w} * sample_bytes, block_h, &block_bytes) ||
        block_bytes > holds || block_bytes > uint64_t{INT64_MAX}) {
        report("Error: %s has %s of %u x %u pixels, more than its %llu bytes can hold\n", path.c_str(),
               tiled ? "tiles" : "strips", block_w, block_h, static_cast<unsigned long long>(size));
        return 1;
    }
    Buffer<uint8_t> block = buffer_new<uint8_t>(block_bytes);
    if (!block) return 1;
    Buffer<double> z = buffer_new<double>(count);
    if (!z) return 1;
    double nodata = 0;
    const bool has_nodata = nodata_of(t, sample, &nodata);
    const bool turned = orientation >= 5;
    const uint64_t out_w = turned ? h : w;
    for (uint64_t y0 = 0; y0 < h; y0 += block_h) {
        for (uint64_t x0 = 0; x0 < w; x0 += block_w) {
            const tmsize_t got =
                tiled
                    ? TIFFReadTile(t, block.get(), static_cast<uint32_t>(x0), static_cast<uint32_t>(y0), 0, 0)
                    : TIFFReadEncodedStrip(t, TIFFComputeStrip(t, static_cast<uint32_t>(y0), 0), block.get(),
                                           static_cast<tmsize_t>(block_bytes));
            const uint64_t rows = h - y0 < block_h ? h - y0 : block_h;
            const uint64_t cols = w - x0 < block_w ? w - x0 : block_w;
            // A strip holds its rows whole; a tile its full width, so its last used row
            // ends (rows - 1) tile rows plus cols samples in.
            const uint64_t need = ((rows - 1) * block_w + cols) * sample_bytes;
            if (got < 0 || static_cast<uint64_t>(got) < need) {
                if (src.error.empty()) src.error = "a strip or tile shorter than its pixels";
                report_libtiff(path, src);
                return 1;
            }
            for (uint64_t r = 0; r < rows; ++r) {
                const uint8_t* p = block.get() + r * block_w * sample_bytes;
                for (uint64_t c = 0; c < cols; ++c, p += sample_bytes) {
                    double v = sample_at(p, sample);
                    if (has_nodata && v == nodata) v = NAN;
                    uint64_t row = 0, col = 0;
                    place(orientation, y0 + r, x0 + c, w, h, &row, &col);
                    if (std::isinf(v)) {
                        report("Error: %s has a non-finite sample at row %llu, column %llu\n", path.c_str(),
                               static_cast<unsigned long long>(row), static_cast<unsigned long long>(col));
                        return 1;
                    }
                    z[row * out_w + col] = v;
                }
            }
        }
    }
    HeightMap made{};
    made.width = static_cast<uint32_t>(out_w);
    made.height = static_cast<uint32_t>(turned ? w : h);
    made.z = std::move(z);
    made.format = kHeightsTiff;
    map = std::move(made);
    return 0;
}

}  // namespace

int tiff_parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map) {
    // Messages libtiff gives outside a file's own handlers would reach standard error:
    // the process-wide handlers are silenced while the reader runs, then put back.
    const TIFFErrorHandler error_handler = TIFFSetErrorHandler(nullptr);
    const TIFFErrorHandler warning_handler = TIFFSetWarningHandler(nullptr);
    int status = 1;
    try {
        status = parse(path, bytes, size, map);
    } catch (const std::bad_alloc&) {
        report_alloc_failure();
    }
    TIFFSetErrorHandler(error_handler);
    TIFFSetWarningHandler(warning_handler);
    return status;
}
