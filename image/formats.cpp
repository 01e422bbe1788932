// Which instrument readers this build has, and the stand-ins of those it lacks: the x3p
// and TIFF readers are built only where CMake found the libraries they need
// (VARLOX_HAVE_X3P, VARLOX_HAVE_TIFF); the Gwyddion reader needs none (VARLOX_HAVE_GWY is
// always set by image/CMakeLists.txt).
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
        case kHeightsX3p: return VARLOX_HAVE_X3P ? nullptr : "libzip, pugixml and OpenSSL's libcrypto";
        case kHeightsGwy: return VARLOX_HAVE_GWY ? nullptr : "its Gwyddion reader";
        case kHeightsTiff: return VARLOX_HAVE_TIFF ? nullptr : "libtiff 4.5 or later";
        default: return nullptr;
    }
}

// The stand-ins are never called: heights_read asks formats_missing first.
#if !VARLOX_HAVE_X3P
int x3p_parse(const std::string&, const uint8_t*, uint64_t, HeightMap&) {
    return 1;
}
#endif
#if !VARLOX_HAVE_GWY
int gwy_parse(const std::string&, const uint8_t*, uint64_t, int, HeightMap&) {
    return 1;
}
#endif
#if !VARLOX_HAVE_TIFF
int tiff_parse(const std::string&, const uint8_t*, uint64_t, HeightMap&) {
    return 1;
}
#endif
