// Linked into the test-only executable varlox_faults: makes the program's N-th buffer
// allocation fail, N taken from VARLOX_FAIL_ALLOC (0 or unset: none fails). When
// VARLOX_ALLOC_COUNT names a file, the number of allocations asked for is written there
// at exit, so a test can sweep every allocation point of a run. VARLOX_FAIL_RENAME=N
// makes the N-th rename of the outputs' commit fail as an I/O error would, and
// VARLOX_FAIL_LINK=1 every hard link of a backup, as on a file system without them.
// At the commit's step N (N renames done; the number of outputs plus one once the commit
// is over), VARLOX_STEP_SIGNAL=N:SIG raises signal SIG, VARLOX_STEP_KILL=N ends the
// process by SIGKILL, and VARLOX_STEP_CHECK=NAME:NAME:... reports on standard error each
// of those names that is missing at any step ("Missing NAME at step N").
// VARLOX_LOCK_WAIT=S makes a commit give up on a held lock after S seconds.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

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

extern "C" bool varlox_link_should_fail() {
    const char* on = std::getenv("VARLOX_FAIL_LINK");
    return on != nullptr && std::strcmp(on, "1") == 0;
}

extern "C" double varlox_lock_wait_seconds() {
    const char* seconds = std::getenv("VARLOX_LOCK_WAIT");
    return seconds != nullptr ? std::strtod(seconds, nullptr) : 600;
}

extern "C" void varlox_commit_step(int renamed) {
    if (const char* names = std::getenv("VARLOX_STEP_CHECK")) {
        const std::string list = names;
        for (std::size_t at = 0; at <= list.size();) {
            std::size_t end = list.find(':', at);
            if (end == std::string::npos) end = list.size();
            const std::string name = list.substr(at, end - at);
            std::error_code ec;
            if (!name.empty() && !std::filesystem::exists(std::filesystem::symlink_status(name, ec))) {
                std::fprintf(stderr, "Missing %s at step %d\n", name.c_str(), renamed);
            }
            at = end + 1;
        }
    }
    if (const char* at = std::getenv("VARLOX_STEP_SIGNAL")) {
        char* colon = nullptr;
        if (std::strtol(at, &colon, 10) == renamed && *colon == ':') {
            std::raise(static_cast<int>(std::strtol(colon + 1, nullptr, 10)));
        }
    }
#ifdef SIGKILL
    if (const char* at = std::getenv("VARLOX_STEP_KILL")) {
        if (std::strtol(at, nullptr, 10) == renamed) {
            std::raise(SIGKILL);
        }
    }
#endif
}
