// The reader of Gwyddion's native files ("GWYP"), from their bytes in memory. No library
// reads them on Debian; their container is a simple tagged layout, walked here with every
// length checked against the bytes that remain.
//
// The layout relied on, as Gwyddion's user guide describes it ("Format of Gwyddion
// Files"); every number is little-endian:
//   file       "GWYP", then one serialized object: a GwyContainer.
//   object     its type name (NUL-terminated), a uint32 giving the size in bytes of its
//              component list (neither the name nor the size itself counted), then the
//              component list.
//   component  its name (NUL-terminated), one type byte, then the value:
//                'b' boolean, 'c' character: 1 byte; 'i' int32: 4; 'q' int64: 8;
//                'd' double: 8; 's' string: NUL-terminated; 'o' an object as above;
//                'C', 'I', 'Q', 'D', 'S', 'O': an array of the lower-case type, a uint32
//                item count and then the items.
// A container's components are its keys. Image channel K is the key "/K/data", a
// GwyDataField object with the components xres and yres (int32: columns and rows), xreal
// and yreal (double: the width and height the image covers), xoff and yoff, si_unit_xy
// and si_unit_z (GwySIUnit objects whose string "unitstr" is the unit, "m" for metres,
// "" for none) and data (a 'D' array of xres * yres heights, row by row from the top row,
// each row from the left).
//
// Any object is skipped whole by its stated size, so the walk never descends further than
// the channel's units, however deeply a file nests its objects.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "image/formats.h"
#include "system/report.h"

namespace {

constexpr uint64_t kSideMax = 0x7fffffff;

// A stretch of the file: bytes from `at` up to `end` (offsets into the whole file).
struct Span {
    const uint8_t* bytes;
    uint64_t at;
    uint64_t end;
};

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint64_t le64(const uint8_t* p) {
    return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32;
}

double le_double(const uint8_t* p) {
    const uint64_t u = le64(p);
    double d = 0;
    static_assert(sizeof d == sizeof u, "64-bit doubles");
    std::memcpy(&d, &u, sizeof d);
    return d;
}

// Moves past n bytes; false when fewer remain.
bool take(Span& s, uint64_t n) {
    if (n > s.end - s.at) return false;
    s.at += n;
    return true;
}

bool take_u32(Span& s, uint32_t* v) {
    if (s.end - s.at < 4) return false;
    *v = le32(s.bytes + s.at);
    s.at += 4;
    return true;
}

// A NUL-terminated string: *text points at it in the file; false when no NUL remains.
bool take_string(Span& s, const char** text) {
    const void* nul = std::memchr(s.bytes + s.at, 0, static_cast<std::size_t>(s.end - s.at));
    if (nul == nullptr) return false;
    *text = reinterpret_cast<const char*>(s.bytes + s.at);
    s.at = static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - s.bytes) + 1;
    return true;
}

// An object's type name and its component list (*body), moving past the whole object.
bool take_object(Span& s, const char** type, Span* body) {
    uint32_t size = 0;
    if (!take_string(s, type) || !take_u32(s, &size)) return false;
    *body = Span{s.bytes, s.at, s.at};
    if (!take(s, size)) return false;
    body->end = s.at;
    return true;
}

// Moves past a value of type `type`; false when it does not fit or the type is unknown.
// An array's items take at least one byte each, so its loops end within the bytes left.
bool skip_value(Span& s, uint8_t type) {
    const char* text = nullptr;
    Span body{};
    uint32_t count = 0;
    switch (type) {
        case 'b':
        case 'c': return take(s, 1);
        case 'i': return take(s, 4);
        case 'q':
        case 'd': return take(s, 8);
        case 's': return take_string(s, &text);
        case 'o': return take_object(s, &text, &body);
        case 'C': return take_u32(s, &count) && take(s, count);
        case 'I': return take_u32(s, &count) && take(s, uint64_t{count} * 4);
        case 'Q':
        case 'D': return take_u32(s, &count) && take(s, uint64_t{count} * 8);
        case 'S':
        case 'O':
            if (!take_u32(s, &count)) return false;
            for (uint32_t i = 0; i < count; ++i) {
                if (!(type == 'S' ? take_string(s, &text) : take_object(s, &text, &body))) return false;
            }
            return true;
        default: return false;
    }
}

// One component of an object's list: its name, type and value (a span of the file).
struct Component {
    const char* name;
    uint8_t type;
    Span value;
};

bool take_component(Span& s, Component* c) {
    if (!take_string(s, &c->name) || !take(s, 1)) return false;
    c->type = s.bytes[s.at - 1];
    const uint64_t start = s.at;
    if (!skip_value(s, c->type)) return false;
    c->value = Span{s.bytes, start, s.at};
    return true;
}

// The channel number K of a key "/K/data" (K decimal, at most 2^31 - 1), or -1.
long long channel_of(const char* key) {
    if (key[0] != '/' || key[1] < '0' || key[1] > '9') return -1;
    long long k = 0;
    const char* p = key + 1;
    for (; *p >= '0' && *p <= '9'; ++p) {
        k = k * 10 + (*p - '0');
        if (k > 0x7fffffff) return -1;
    }
    return std::strcmp(p, "/data") == 0 ? k : -1;
}

// Whether a component is an image channel: "/K/data" holding a GwyDataField.
long long image_channel(const Component& c) {
    const long long k = channel_of(c.name);
    if (k < 0 || c.type != 'o') return -1;
    Span value = c.value;
    const char* type = nullptr;
    Span body{};
    return take_object(value, &type, &body) && std::strcmp(type, "GwyDataField") == 0 ? k : -1;
}

// The string "unitstr" of a GwySIUnit object held by a component; "" when it has none.
bool unit_of(const Component& c, std::string* unit) {
    Span value = c.value;
    const char* type = nullptr;
    Span body{};
    if (!take_object(value, &type, &body)) return false;
    unit->clear();
    while (body.at < body.end) {
        Component inner{};
        if (!take_component(body, &inner)) return false;
        if (inner.type == 's' && std::strcmp(inner.name, "unitstr") == 0) {
            *unit = reinterpret_cast<const char*>(inner.value.bytes + inner.value.at);
        }
    }
    return true;
}

// What a GwyDataField says, with its heights left in the file until they are checked.
struct Field {
    int64_t xres = -1;
    int64_t yres = -1;
    double xreal = 0;
    double yreal = 0;
    std::string unit_xy;
    std::string unit_z;
    uint64_t data_at = 0;  // where the first height starts
    uint64_t count = 0;    // how many the 'D' array holds
    bool has_data = false;
};

bool parse_field(Span body, Field* f) {
    while (body.at < body.end) {
        Component c{};
        if (!take_component(body, &c)) return false;
        const uint8_t* v = c.value.bytes + c.value.at;
        const std::string name = c.name;
        if (c.type == 'i' && (name == "xres" || name == "yres")) {
            (name == "xres" ? f->xres : f->yres) = static_cast<int32_t>(le32(v));
        } else if (c.type == 'd' && (name == "xreal" || name == "yreal")) {
            (name == "xreal" ? f->xreal : f->yreal) = le_double(v);
        } else if (c.type == 'o' && (name == "si_unit_xy" || name == "si_unit_z")) {
            if (!unit_of(c, name == "si_unit_xy" ? &f->unit_xy : &f->unit_z)) return false;
        } else if (c.type == 'D' && name == "data") {
            f->count = le32(v);
            f->data_at = c.value.at + 4;
            f->has_data = true;
        }
    }
    return true;
}

void report_malformed(const std::string& path) {
    report("Error: %s is not a well-formed Gwyddion file\n", path.c_str());
}

int parse(const std::string& path, const uint8_t* bytes, uint64_t size, int channel, HeightMap& map) {
    Span file{bytes, 0, size};
    const char* type = nullptr;
    Span top{};
    if (!take(file, 4) || std::memcmp(bytes, "GWYP", 4) != 0 || !take_object(file, &type, &top) ||
        std::strcmp(type, "GwyContainer") != 0) {
        report_malformed(path);
        return 1;
    }
    // The channel asked for, or the lowest; the whole list is walked first, so that a
    // malformed file is refused as such whichever channel is asked for.
    long long found = -1;
    Span found_at{};
    std::string channels;
    for (Span s = top; s.at < s.end;) {
        Component c{};
        if (!take_component(s, &c)) {
            report_malformed(path);
            return 1;
        }
        const long long k = image_channel(c);
        if (k < 0) continue;
        channels += (channels.empty() ? "" : ", ") + std::to_string(k);
        if ((channel < 0 && (found < 0 || k < found)) || k == channel) {
            found = k;
            found_at = c.value;
        }
    }
    if (found < 0) {
        if (channels.empty()) {
            report("Error: %s has no image channel\n", path.c_str());
        } else {
            report("Error: %s has no channel %d (its channels are %s)\n", path.c_str(), channel,
                   channels.c_str());
        }
        return 1;
    }
    Span body{};
    Field f;
    if (!take_object(found_at, &type, &body) || !parse_field(body, &f)) {
        report_malformed(path);
        return 1;
    }
    uint64_t count = 0;
    if (f.xres < 1 || f.yres < 1 || uint64_t(f.xres) > kSideMax || uint64_t(f.yres) > kSideMax ||
        !f.has_data || !size_mul(uint64_t(f.xres), uint64_t(f.yres), &count) || count != f.count) {
        report(
            "Error: %s has a channel %lld whose data do not hold xres * yres heights (xres %lld, yres "
            "%lld, %llu heights)\n",
            path.c_str(), found, static_cast<long long>(f.xres), static_cast<long long>(f.yres),
            static_cast<unsigned long long>(f.count));
        return 1;
    }
    // The array was walked whole above, so its count * 8 bytes are inside the file.
    Buffer<double> z = buffer_new<double>(count);
    if (!z) return 1;
    for (uint64_t i = 0; i < count; ++i) {
        z[i] = le_double(bytes + f.data_at + i * 8);
        if (std::isinf(z[i])) {
            report("Error: %s has a non-finite sample at row %llu, column %llu\n", path.c_str(),
                   static_cast<unsigned long long>(i / uint64_t(f.xres)),
                   static_cast<unsigned long long>(i % uint64_t(f.xres)));
            return 1;
        }
    }
    HeightMap made{};
    made.width = static_cast<uint32_t>(f.xres);
    made.height = static_cast<uint32_t>(f.yres);
    made.z = std::move(z);
    made.format = kHeightsGwy;
    // Distances only in metres, and only when they make sense; otherwise unknown.
    const double dx = f.xreal / double(f.xres);
    const double dy = f.yreal / double(f.yres);
    if (f.unit_xy == "m" && std::isfinite(dx) && std::isfinite(dy) && dx > 0 && dy > 0) {
        made.dx = dx;
        made.dy = dy;
    }
    made.z_unit = f.unit_z;
    map = std::move(made);
    return 0;
}

}  // namespace

int gwy_parse(const std::string& path, const uint8_t* bytes, uint64_t size, int channel, HeightMap& map) {
    // The strings built here (the channel list, the units) are the only allocations that
    // could throw.
    try {
        return parse(path, bytes, size, channel, map);
    } catch (const std::bad_alloc&) {
        report_alloc_failure();
        return 1;
    }
}
