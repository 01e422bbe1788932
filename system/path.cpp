#include "system/path.h"

namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

}  // namespace

std::size_t path_name_start(const std::string& path) {
    const std::size_t sep = path.find_last_of(kSeparators);
    return sep == std::string::npos ? 0 : sep + 1;
}

std::filesystem::path path_native(const std::string& path) {
    return std::filesystem::u8path(path);
}
