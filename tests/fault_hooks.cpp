// Linked into the test-only executable varlox_faults: makes the program's N-th buffer
// allocation fail, N taken from VARLOX_FAIL_ALLOC (0 or unset: none fails). When
// VARLOX_ALLOC_COUNT names a file, the number of allocations asked for is written there
// at exit, so a test can sweep every allocation point of a run. VARLOX_FAIL_RENAME=N
// makes the N-th rename of the outputs' commit fail as an I/O error would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

uint64_t g_count = 0;

void write_count() {
    if (const char* path = std::getenv("VARLOX_ALLOC_COUNT")) {
        if (std::FILE* f = std::fopen(path, "w")) {
            std::fprintf(f, "%llu\n", static_cast<unsigned long long>(g_count));
            std::fclose(f);
        }
    }
}

const int g_registered = std::atexit(write_count);

}  // namespace

extern "C" bool varlox_alloc_should_fail(uint64_t) {
    (void)g_registered;
    ++g_count;
    const char* at = std::getenv("VARLOX_FAIL_ALLOC");
    return at != nullptr && std::strtoull(at, nullptr, 10) == g_count;
}

extern "C" bool varlox_rename_should_fail(int index) {
    const char* at = std::getenv("VARLOX_FAIL_RENAME");
    return at != nullptr && std::strtol(at, nullptr, 10) == index + 1;
}
