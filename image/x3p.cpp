// The reader of ISO 5436-2 x3p archives, from their bytes in memory: libzip opens the
// archive, pugixml parses main.xml, OpenSSL's libcrypto computes the MD5 checksums.
//
// What is read (formats.h states the same for the user):
//   main.xml    root element ISO5436_2 (elements are matched by their local names, so
//               writers that leave out the "p:" prefix are read too);
//               Record1/FeatureType SUR (PRF profiles and PCL point clouds are refused);
//               Record1/Axes/CX and CY with AxisType I (incremental) and an Increment,
//               the distance between columns and between rows in metres;
//               Record1/Axes/CZ with DataType I (int16), L (int32), F (float32) or D
//               (float64), and for I and L an Increment (1 when absent) and an Offset (0
//               when absent): an integer height is raw * Increment + Offset, a floating
//               height is the value as it stands (writers put the scale of floats there
//               without applying it: x3ptools' csafe-logo gives CZ Increment 1e-06 for
//               heights already in metres);
//               Record3/MatrixDimension SizeX (columns), SizeY (rows), SizeZ (must be 1);
//               Record3/DataLink/PointDataLink (the heights, SizeX * SizeY values
//               little-endian, x fastest) with an optional MD5ChecksumPointData, and an
//               optional ValidPointsLink (one bit a point, least significant bit first, 0
//               for an invalid point) with an optional MD5ChecksumValidPoints; or instead
//               Record3/DataList with one Datum a point (an empty Datum is an invalid
//               point);
//               Record4/ChecksumFile, the entry holding main.xml's MD5.
//   The axes are right-handed with z the height: seen from above, x runs to the right and
//   y up the picture, so the last row of the file (the largest y) is the map's top row.
//
// Limits: main.xml at most kXmlMax bytes; the data entry exactly the matrix's bytes and
// the valid-point entry its bits (with at most 8 bytes of padding), each stated size
// checked before a byte is inflated, and against what its compressed bytes can hold.
#include <openssl/evp.h>
#include <zip.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <pugixml.hpp>
#include <string>

#include "image/formats.h"
#include "system/report.h"

namespace {

constexpr uint64_t kSideMax = 0x7fffffff;
constexpr uint64_t kXmlMax = uint64_t{64} << 20;  // main.xml may hold the heights as text
constexpr uint64_t kHashFileMax = 4096;
// Deflate expands at most about 1032 times; anything stated beyond 1100 times its
// compressed size cannot be the entry it claims to be.
constexpr uint64_t kInflateMax = 1100;
constexpr uint64_t kValidPadding = 8;

struct ZipClose {
    void operator()(zip_t* za) const noexcept { zip_discard(za); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipClose>;

struct ZipFileClose {
    void operator()(zip_file_t* f) const noexcept { zip_fclose(f); }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileClose>;

// An entry read whole.
struct Entry {
    Buffer<uint8_t> bytes;
    uint64_t size;
};

// The archive and the folder its x3p files sit in ("" or "name/").
struct Archive {
    zip_t* za;
    std::string prefix;
};

bool ignored(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    return name.rfind("__MACOSX/", 0) == 0 || base == ".DS_Store";
}

// The index of entry prefix + name, or -1.
zip_int64_t locate(const Archive& a, const std::string& name) {
    const std::string full = a.prefix + name;
    const zip_int64_t n = zip_get_num_entries(a.za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* entry = zip_get_name(a.za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (entry != nullptr && full == entry) return i;
    }
    return -1;
}

// The folder main.xml sits in: the archive's root, or one top folder that holds every
// entry but the ignored ones. False when there is no main.xml in either.
bool find_prefix(Archive& a) {
    a.prefix.clear();
    if (locate(a, "main.xml") >= 0) return true;
    const zip_int64_t n = zip_get_num_entries(a.za, 0);
    std::string top;
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* entry = zip_get_name(a.za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (entry == nullptr) return false;
        const std::string name = entry;
        if (ignored(name)) continue;
        const std::size_t slash = name.find('/');
        if (slash == std::string::npos || slash == 0) return false;
        const std::string folder = name.substr(0, slash + 1);
        if (!top.empty() && folder != top) return false;
        top = folder;
    }
    a.prefix = top;
    return !top.empty() && locate(a, "main.xml") >= 0;
}

// Reads entry `name` whole when its stated size is from `least` to `most` bytes and its
// compressed bytes can hold that many; 0, or 1 after the message.
int read_entry(const std::string& path, const Archive& a, const std::string& name, uint64_t least,
               uint64_t most, Entry& out) {
    const zip_int64_t index = locate(a, name);
    if (index < 0) {
        report("Error: %s has no entry %s\n", path.c_str(), name.c_str());
        return 1;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(a.za, static_cast<zip_uint64_t>(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) ||
        !(st.valid & ZIP_STAT_COMP_SIZE) || !(st.valid & ZIP_STAT_COMP_METHOD)) {
        report("Error: %s has an entry %s whose size cannot be read\n", path.c_str(), name.c_str());
        return 1;
    }
    if (st.size < least || st.size > most) {
        if (least == most) {
            report("Error: %s has an entry %s of %llu bytes, where its matrix needs %llu\n", path.c_str(),
                   name.c_str(), static_cast<unsigned long long>(st.size),
                   static_cast<unsigned long long>(least));
        } else {
            report("Error: %s has an entry %s of %llu bytes, outside the %llu to %llu it may take\n",
                   path.c_str(), name.c_str(), static_cast<unsigned long long>(st.size),
                   static_cast<unsigned long long>(least), static_cast<unsigned long long>(most));
        }
        return 1;
    }
    uint64_t holds = st.comp_size;
    if (st.comp_method != ZIP_CM_STORE && !size_mul(st.comp_size, kInflateMax, &holds)) holds = UINT64_MAX;
    if (st.size > holds) {
        report(
            "Error: %s has an entry %s that states %llu bytes, more than its %llu compressed bytes can "
            "hold\n",
            path.c_str(), name.c_str(), static_cast<unsigned long long>(st.size),
            static_cast<unsigned long long>(st.comp_size));
        return 1;
    }
    Buffer<uint8_t> bytes = buffer_new<uint8_t>(st.size > 0 ? st.size : 1);
    if (!bytes) return 1;
    ZipFilePtr f(zip_fopen_index(a.za, static_cast<zip_uint64_t>(index), 0));
    const char* why = f ? nullptr : zip_strerror(a.za);
    uint64_t got = 0;
    while (f && got < st.size) {
        const zip_int64_t n = zip_fread(f.get(), bytes.get() + got, st.size - got);
        if (n <= 0) break;
        got += static_cast<uint64_t>(n);
    }
    // One more read finds the entry's end, where libzip checks its CRC, or a longer entry.
    uint8_t beyond = 0;
    if (f && (got < st.size || zip_fread(f.get(), &beyond, 1) != 0)) why = zip_file_strerror(f.get());
    if (why != nullptr) {
        report("Error: %s has an entry %s that cannot be read (%s)\n", path.c_str(), name.c_str(), why);
        return 1;
    }
    out.bytes = std::move(bytes);
    out.size = st.size;
    return 0;
}

// MD5 of bytes as 32 lower-case hexadecimal digits; "" when libcrypto cannot compute it.
std::string md5_hex(const uint8_t* bytes, uint64_t size) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes, static_cast<std::size_t>(size), digest, &length, EVP_md5(), nullptr) != 1 ||
        length != 16) {
        return "";
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

// The first word of text (up to whitespace or '*'), lower-cased.
std::string first_word(const char* text, std::size_t size) {
    std::size_t i = 0;
    while (i < size && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::string word;
    for (; i < size && !std::isspace(static_cast<unsigned char>(text[i])) && text[i] != '*'; ++i) {
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    }
    return word;
}

// An element's name without its namespace prefix ("p:ISO5436_2" -> "ISO5436_2").
const char* local_name(const pugi::xml_node& node) {
    const char* name = node.name();
    const char* colon = std::strrchr(name, ':');
    return colon != nullptr ? colon + 1 : name;
}

// The first child element of `node` with the local name `name`, or an empty node.
pugi::xml_node child(const pugi::xml_node& node, const char* name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && std::strcmp(local_name(c), name) == 0) return c;
    }
    return pugi::xml_node();
}

// The element at a path of local names below `node`, e.g. {"Record1", "FeatureType"}.
pugi::xml_node descend(pugi::xml_node node, std::initializer_list<const char*> names) {
    for (const char* name : names) node = child(node, name);
    return node;
}

// An element's text with surrounding whitespace removed.
std::string text_of(const pugi::xml_node& node) {
    std::string t = node.child_value();
    const std::size_t a = t.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    const std::size_t b = t.find_last_not_of(" \t\r\n");
    return t.substr(a, b - a + 1);
}

// A number in the C locale's notation (the program never changes it), nothing else.
bool number_of(const std::string& text, double* v) {
    if (text.empty()) return false;
    char* end = nullptr;
    *v = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

// A count of decimal digits only, at most 10^18.
bool count_of(const std::string& text, uint64_t* v) {
    if (text.empty() || text.size() > 18) return false;
    uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + uint64_t(c - '0');
    }
    *v = n;
    return true;
}

// How the heights are stored: bytes a value, integer or floating, and the scale of
// integers.
struct ZAxis {
    char type;  // 'I', 'L', 'F' or 'D'
    uint64_t bytes;
    double increment;
    double offset;
};

double raw_value(const uint8_t* p, char type) {
    const uint32_t lo = uint32_t{p[0]} | uint32_t{p[1]} << 8;
    if (type == 'I') return static_cast<int16_t>(static_cast<uint16_t>(lo));
    const uint32_t u = lo | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    if (type == 'L') return static_cast<int32_t>(u);
    if (type == 'F') {
        float f = 0;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
    const uint64_t w = uint64_t{u} | uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 | uint64_t{p[6]} << 48 |
                       uint64_t{p[7]} << 56;
    double d = 0;
    std::memcpy(&d, &w, sizeof d);
    return d;
}

double height_of(double raw, const ZAxis& z) {
    return z.type == 'I' || z.type == 'L' ? raw * z.increment + z.offset : raw;
}

void report_xml(const std::string& path, const char* what) {
    report("Error: %s has a main.xml without %s\n", path.c_str(), what);
}

// Whether main.xml matches the MD5 in the checksum file Record4 names (true when there is
// none); 0, or 1 after the message when the checksum file cannot be read. A mismatch is
// only warned of, and only once the map is read (writers that edit main.xml leave the old
// checksum), so that a refusal stays one message.
int check_xml_md5(const std::string& path, const Archive& a, const pugi::xml_node& root, const Entry& xml,
                  std::string* mismatch) {
    const std::string name = text_of(descend(root, {"Record4", "ChecksumFile"}));
    if (name.empty() || locate(a, name) < 0) return 0;
    Entry hash{Buffer<uint8_t>(), 0};
    if (read_entry(path, a, name, 0, kHashFileMax, hash) != 0) return 1;
    const std::string stated = first_word(reinterpret_cast<const char*>(hash.bytes.get()), hash.size);
    if (stated != md5_hex(xml.bytes.get(), xml.size)) *mismatch = name;
    return 0;
}

// Reads a binary entry the DataLink names and checks it against its MD5 when one is given;
// 0, or 1 after the message.
int read_linked(const std::string& path, const Archive& a, const pugi::xml_node& link, const char* hash_name,
                uint64_t least, uint64_t most, const char* what, Entry& out) {
    if (read_entry(path, a, text_of(link), least, most, out) != 0) return 1;
    const std::string given = text_of(child(link.parent(), hash_name));
    const std::string stated = first_word(given.c_str(), given.size());
    if (!stated.empty() && stated != md5_hex(out.bytes.get(), out.size)) {
        report("Error: %s has %s that do not match their MD5 checksum\n", path.c_str(), what);
        return 1;
    }
    return 0;
}

int report_non_finite(const std::string& path, uint64_t row, uint64_t column) {
    report("Error: %s has a non-finite sample at row %llu, column %llu\n", path.c_str(),
           static_cast<unsigned long long>(row), static_cast<unsigned long long>(column));
    return 1;
}

int parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes, size, 0, &error);
    zip_t* opened =
        source != nullptr ? zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    if (opened == nullptr) {
        if (source != nullptr) zip_source_free(source);
        report("Error: %s is not a zip archive libzip can read (%s)\n", path.c_str(),
               zip_error_strerror(&error));
        zip_error_fini(&error);
        return 1;
    }
    zip_error_fini(&error);
    ZipPtr za(opened);
    Archive a{za.get(), ""};
    if (!find_prefix(a)) {
        report("Error: %s is a zip archive without main.xml, not an x3p archive\n", path.c_str());
        return 1;
    }
    Entry xml{Buffer<uint8_t>(), 0};
    if (read_entry(path, a, "main.xml", 1, kXmlMax, xml) != 0) return 1;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(xml.bytes.get(), static_cast<std::size_t>(xml.size));
    if (!parsed) {
        report("Error: %s has a main.xml that is not well-formed XML (%s at byte %lld)\n", path.c_str(),
               parsed.description(), static_cast<long long>(parsed.offset));
        return 1;
    }
    const pugi::xml_node root = doc.document_element();
    if (std::strcmp(local_name(root), "ISO5436_2") != 0) {
        report_xml(path, "its root element ISO5436_2");
        return 1;
    }
    std::string mismatch;  // the checksum file main.xml does not match
    if (check_xml_md5(path, a, root, xml, &mismatch) != 0) return 1;

    const std::string feature = text_of(descend(root, {"Record1", "FeatureType"}));
    if (feature != "SUR") {
        const char* kind = feature == "PRF"   ? "a profile (FeatureType PRF)"
                           : feature == "PCL" ? "a point cloud (FeatureType PCL)"
                                              : nullptr;
        if (kind != nullptr) {
            report("Error: %s is %s; only areal surfaces (SUR) are read\n", path.c_str(), kind);
        } else {
            report("Error: %s has the FeatureType '%s'; only areal surfaces (SUR) are read\n", path.c_str(),
                   feature.c_str());
        }
        return 1;
    }
    const pugi::xml_node axes = descend(root, {"Record1", "Axes"});
    double increments[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const pugi::xml_node axis = child(axes, i == 0 ? "CX" : "CY");
        if (text_of(child(axis, "AxisType")) != "I") {
            report("Error: %s has a %s axis that is not incremental (AxisType I); only grids are read\n",
                   path.c_str(), i == 0 ? "x" : "y");
            return 1;
        }
        // A missing or unusable increment leaves the distance unknown (0).
        double v = 0;
        if (number_of(text_of(child(axis, "Increment")), &v) && std::isfinite(v) && v > 0) increments[i] = v;
    }
    const pugi::xml_node cz = child(axes, "CZ");
    const std::string type = text_of(child(cz, "DataType"));
    ZAxis z{0, 0, 1, 0};
    if (type == "I" || type == "L" || type == "F" || type == "D") {
        z.type = type[0];
        z.bytes = type == "I" ? 2 : type == "L" || type == "F" ? 4 : 8;
    } else {
        report("Error: %s has the z DataType '%s'; only I, L, F and D are read\n", path.c_str(),
               type.c_str());
        return 1;
    }
    const std::string increment = text_of(child(cz, "Increment"));
    const std::string offset = text_of(child(cz, "Offset"));
    if ((!increment.empty() && !number_of(increment, &z.increment)) || !std::isfinite(z.increment) ||
        (!offset.empty() && !number_of(offset, &z.offset)) || !std::isfinite(z.offset)) {
        report_xml(path, "a finite Increment and Offset on its z axis");
        return 1;
    }

    const pugi::xml_node record3 = child(root, "Record3");
    const pugi::xml_node dims = child(record3, "MatrixDimension");
    uint64_t sx = 0, sy = 0, sz = 0;
    if (!count_of(text_of(child(dims, "SizeX")), &sx) || !count_of(text_of(child(dims, "SizeY")), &sy) ||
        !count_of(text_of(child(dims, "SizeZ")), &sz)) {
        report_xml(path, "a MatrixDimension of decimal SizeX, SizeY and SizeZ");
        return 1;
    }
    if (sz != 1) {
        report("Error: %s has SizeZ %llu; only one layer (SizeZ 1) is read\n", path.c_str(),
               static_cast<unsigned long long>(sz));
        return 1;
    }
    uint64_t count = 0, data_bytes = 0;
    if (sx < 1 || sy < 1 || sx > kSideMax || sy > kSideMax || !size_mul(sx, sy, &count) ||
        !size_mul(count, z.bytes, &data_bytes)) {
        report("Error: %s has a matrix of %llu x %llu points; each side must be 1 to %llu\n", path.c_str(),
               static_cast<unsigned long long>(sx), static_cast<unsigned long long>(sy),
               static_cast<unsigned long long>(kSideMax));
        return 1;
    }

    // File point i (x fastest, y from 0 up) is map point at(i): the map's top row has the
    // largest y.
    const auto at = [&](uint64_t i) { return (sy - 1 - i / sx) * sx + i % sx; };
    Buffer<double> heights;
    const pugi::xml_node link = descend(record3, {"DataLink", "PointDataLink"});
    const pugi::xml_node list = child(record3, "DataList");
    if (link) {
        Entry data{Buffer<uint8_t>(), 0};
        if (read_linked(path, a, link, "MD5ChecksumPointData", data_bytes, data_bytes, "point data", data) !=
            0) {
            return 1;
        }
        Entry valid{Buffer<uint8_t>(), 0};
        const pugi::xml_node valid_link = child(link.parent(), "ValidPointsLink");
        if (valid_link) {
            const uint64_t flag_bytes = count / 8 + (count % 8 != 0);
            if (read_linked(path, a, valid_link, "MD5ChecksumValidPoints", flag_bytes,
                            flag_bytes + kValidPadding, "valid-point flags", valid) != 0) {
                return 1;
            }
        }
        heights = buffer_new<double>(count);
        if (!heights) return 1;
        for (uint64_t i = 0; i < count; ++i) {
            const bool invalid = valid.bytes && !(valid.bytes[i / 8] >> (i % 8) & 1);
            heights[at(i)] = invalid ? NAN : height_of(raw_value(data.bytes.get() + i * z.bytes, z.type), z);
        }
    } else if (list) {
        const auto is_datum = [](const pugi::xml_node& d) {
            return d.type() == pugi::node_element && std::strcmp(local_name(d), "Datum") == 0;
        };
        uint64_t items = 0;
        for (pugi::xml_node d = list.first_child(); d; d = d.next_sibling()) items += is_datum(d);
        if (items != count) {
            report("Error: %s has %llu Datum elements, where its matrix needs %llu\n", path.c_str(),
                   static_cast<unsigned long long>(items), static_cast<unsigned long long>(count));
            return 1;
        }
        heights = buffer_new<double>(count);
        if (!heights) return 1;
        uint64_t i = 0;
        for (pugi::xml_node d = list.first_child(); d; d = d.next_sibling()) {
            if (!is_datum(d)) continue;
            const std::string text = text_of(d);
            double v = NAN;
            if (!text.empty() && !number_of(text, &v)) {
                report("Error: %s has a Datum that is not one number at point %llu\n", path.c_str(),
                       static_cast<unsigned long long>(i));
                return 1;
            }
            heights[at(i++)] = text.empty() ? NAN : height_of(v, z);
        }
    } else {
        report_xml(path, "a DataLink with a PointDataLink or a DataList");
        return 1;
    }
    for (uint64_t k = 0; k < count; ++k) {
        if (std::isinf(heights[k])) return report_non_finite(path, k / sx, k % sx);
    }
    if (!mismatch.empty()) {
        report("Warning: %s has a main.xml that does not match the MD5 checksum in %s; read all the same\n",
               path.c_str(), mismatch.c_str());
    }
    HeightMap made{};
    made.width = static_cast<uint32_t>(sx);
    made.height = static_cast<uint32_t>(sy);
    made.z = std::move(heights);
    made.format = kHeightsX3p;
    made.dx = increments[0];
    made.dy = increments[1];
    made.z_unit = "m";
    map = std::move(made);
    return 0;
}

}  // namespace

int x3p_parse(const std::string& path, const uint8_t* bytes, uint64_t size, HeightMap& map) {
    // pugixml and the strings here allocate with new; none of the libraries throws else.
    try {
        return parse(path, bytes, size, map);
    } catch (const std::bad_alloc&) {
        report_alloc_failure();
        return 1;
    }
}
