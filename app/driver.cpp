#include "app/driver.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "analysis/analysis.h"
#include "image/bmp.h"
#include "image/image.h"

namespace {

constexpr const char* kSuffixes[kOutputCount] = {"-as-bw.bmp", "-as-tg.bmp", "-ps-bw.bmp",
                                                 "-ps-tg.bmp", ".csv"};
constexpr std::size_t kMaxStemBytes = 190;

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

// True when `name` is the input file itself, by path or through a link.
bool names_input(const std::string& name, const std::string& input) {
    std::error_code ec;
    return std::filesystem::equivalent(name, input, ec) && !ec;
}

}  // namespace

OutputNames output_names_build(const std::string& input) {
    // Only the final path component is searched for the extension, and only that part is
    // cut: the outputs land next to the input, never in another directory.
    const std::size_t sep = input.find_last_of(kSeparators);
    const std::size_t start = sep == std::string::npos ? 0 : sep + 1;
    std::size_t end = input.rfind('.');
    if (end == std::string::npos || end < start) {
        end = input.size();
    }
    std::size_t stem = end - start;
    if (stem > kMaxStemBytes) {
        stem = kMaxStemBytes;
    }
    const std::string base = input.substr(0, start + stem);
    OutputNames names;
    for (int i = 0; i < kOutputCount; ++i) {
        names[i] = base + kSuffixes[i];
    }
    return names;
}

int varlox_main(int argc, char** argv) {
    std::fputs("\n------- VARLOX version 1.0 -------\n", stderr);
    std::fputs("Spatial-frequency spectrum of a square picture by direct 2-D Fourier transform\n\n",
               stderr);
    if (argc != 2) {
        std::fputs("Usage: varlox <inputfile>\n", stderr);
        return 1;
    }
    const std::string input = argv[1];
    const OutputNames names = output_names_build(input);

    ImagePtr image = bmp_read(input);
    if (!image) {
        return 1;
    }
    for (const std::string& name : names) {
        if (names_input(name, input)) {
            std::fprintf(stderr, "Error: %s would overwrite the input file\n", name.c_str());
            return 1;
        }
    }
    image_to_gray(*image);
    analyze_spectrum(*image, names[kAmpGray], names[kAmpRamp], names[kPowGray], names[kPowRamp],
                     names[kProfile]);
    image_free(std::move(image));
    std::fputs("The calculation has been completed successfully.\n", stderr);
    return 0;
}
