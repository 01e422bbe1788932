// Which instrument readers this build has, and the stand-ins of those it lacks: a reader
// is built only where CMake found the libraries it needs (VARLOX_HAVE_X3P, _GWY, _TIFF).
#include "image/formats.h"

#ifndef VARLOX_HAVE_X3P
#define VARLOX_HAVE_X3P 0
#endif
#ifndef VARLOX_HAVE_GWY
#define VARLOX_HAVE_GWY 0
#endif
#ifndef VARLOX_HAVE_TIFF
#define VARLOX_HAVE_TIFF 0
#endif

const char* formats_missing(HeightFormat format) {
    switch (format) {
        case kHeightsX3p: return VARLOX_HAVE_X3P ? nullptr : "libzip and pugixml";
        case kHeightsGwy: return VARLOX_HAVE_GWY ? nullptr : "its Gwyddion reader";
        case kHeightsTiff: return VARLOX_HAVE_TIFF ? nullptr : "libtiff";
        default: return nullptr;
    }
}

// The stand-ins are never called: heights_read asks formats_missing first.
#if !VARLOX_HAVE_X3P
int x3p_parse(const std::string&, const uint8_t*, uint64_t, HeightMap&) { return 1; }
#endif
#if !VARLOX_HAVE_GWY
int gwy_parse(const std::string&, const uint8_t*, uint64_t, int, HeightMap&) { return 1; }
#endif
#if !VARLOX_HAVE_TIFF
int tiff_parse(const std::string&, const uint8_t*, uint64_t, HeightMap&) { return 1; }
#endif
