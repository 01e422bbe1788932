// Instrument files built byte by byte for the tests and the fuzzers' seeds, independently
// of the readers: Gwyddion serialized objects and baseline little-endian TIFFs.
//
//   gwy_*(...)          one component of a Gwyddion object: name, type byte, value
//   gwy_object(type, components)
//                       an object: its type name, the size of its components, them
//   gwy_field(xres, yres, xreal, yreal, unit_xy, unit_z, data)
//                       a GwyDataField object with those components
//   gwy_file(components)
//                       "GWYP" and a GwyContainer of the components
//   tiff_file(entries, pixels, extra)
//                       "II*\0", one directory of the entries (sorted by tag, as TIFF
//                       asks), the pixel bytes, then `extra`; an entry's value
//                       kPixelsOffset stands for the pixels' offset, kExtraOffset for
//                       the extra bytes' (the values of an entry of count above 1)
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace formatbytes {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes& b, const void* p, std::size_t n) {
    const auto* c = static_cast<const uint8_t*>(p);
    b.insert(b.end(), c, c + n);
}

inline void put_u16(Bytes& b, uint32_t v) {
    for (int i = 0; i < 2; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void put_u32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void put_f64(Bytes& b, double d) {
    uint64_t u = 0;
    std::memcpy(&u, &d, 8);
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

inline void put_str(Bytes& b, const std::string& s) {
    put(b, s.c_str(), s.size() + 1);
}

inline Bytes gwy_head(const std::string& name, char type) {
    Bytes b;
    put_str(b, name);
    b.push_back(static_cast<uint8_t>(type));
    return b;
}

inline Bytes gwy_int(const std::string& name, int32_t v) {
    Bytes b = gwy_head(name, 'i');
    put_u32(b, static_cast<uint32_t>(v));
    return b;
}

inline Bytes gwy_double(const std::string& name, double v) {
    Bytes b = gwy_head(name, 'd');
    put_f64(b, v);
    return b;
}

inline Bytes gwy_string(const std::string& name, const std::string& v) {
    Bytes b = gwy_head(name, 's');
    put_str(b, v);
    return b;
}

inline Bytes gwy_doubles(const std::string& name, const std::vector<double>& v) {
    Bytes b = gwy_head(name, 'D');
    put_u32(b, static_cast<uint32_t>(v.size()));
    for (const double d : v) put_f64(b, d);
    return b;
}

inline Bytes gwy_object(const std::string& type, const std::vector<Bytes>& components) {
    Bytes body;
    for (const Bytes& c : components) body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    put_str(b, type);
    put_u32(b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes gwy_component_object(const std::string& name, const Bytes& object) {
    Bytes b = gwy_head(name, 'o');
    b.insert(b.end(), object.begin(), object.end());
    return b;
}

inline Bytes gwy_unit(const std::string& unit) {
    return gwy_object("GwySIUnit", {gwy_string("unitstr", unit)});
}

inline Bytes gwy_field(int32_t xres, int32_t yres, double xreal, double yreal, const std::string& unit_xy,
                       const std::string& unit_z, const std::vector<double>& data) {
    return gwy_object(
        "GwyDataField",
        {gwy_int("xres", xres), gwy_int("yres", yres), gwy_double("xreal", xreal), gwy_double("yreal", yreal),
         gwy_double("xoff", 0), gwy_double("yoff", 0), gwy_component_object("si_unit_xy", gwy_unit(unit_xy)),
         gwy_component_object("si_unit_z", gwy_unit(unit_z)), gwy_doubles("data", data)});
}

inline Bytes gwy_file(const std::vector<Bytes>& components) {
    Bytes b = {'G', 'W', 'Y', 'P'};
    const Bytes top = gwy_object("GwyContainer", components);
    b.insert(b.end(), top.begin(), top.end());
    return b;
}

// One TIFF directory entry (type 3 SHORT, 4 LONG): its value, or with a count above 1 the
// offset of its values.
struct TiffEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t value;
    uint32_t count = 1;
};

constexpr uint32_t kPixelsOffset = 0xffffffffu;
constexpr uint32_t kExtraOffset = 0xfffffffeu;

inline Bytes tiff_file(std::vector<TiffEntry> entries, const Bytes& pixels, const Bytes& extra = {}) {
    std::sort(entries.begin(), entries.end(),
              [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    Bytes b = {'I', 'I', 42, 0};
    put_u32(b, 8);
    put_u16(b, static_cast<uint32_t>(entries.size()));
    const uint32_t pixels_at = static_cast<uint32_t>(8 + 2 + entries.size() * 12 + 4);
    for (const TiffEntry& e : entries) {
        put_u16(b, e.tag);
        put_u16(b, e.type);
        put_u32(b, e.count);
        const uint32_t v = e.value == kPixelsOffset  ? pixels_at
                           : e.value == kExtraOffset ? pixels_at + static_cast<uint32_t>(pixels.size())
                                                     : e.value;
        if (e.type == 3 && e.count == 1) {
            put_u16(b, v);
            put_u16(b, 0);
        } else {
            put_u32(b, v);
        }
    }
    put_u32(b, 0);
    b.insert(b.end(), pixels.begin(), pixels.end());
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
}

// The entries of a one-strip, uncompressed, one-sample image.
inline std::vector<TiffEntry> tiff_grey(uint32_t width, uint32_t height, uint16_t bits, uint16_t format) {
    const uint32_t bytes = width * height * (bits / 8);
    return {{256, 4, width},         {257, 4, height}, {258, 3, bits},   {259, 3, 1},     {262, 3, 1},
            {273, 4, kPixelsOffset}, {277, 3, 1},      {278, 4, height}, {279, 4, bytes}, {339, 3, format}};
}

}  // namespace formatbytes
