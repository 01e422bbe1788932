#include "analysis/outputs.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "analysis/os.h"

namespace fs = std::filesystem;

namespace {

// Tries per output before giving up on a free temporary name: names are taken only by
// leftovers of killed runs that had the same process id.
constexpr int kNameTries = 100;

// The temporaries on disk that an interrupted run must remove. The signal handler reads
// them, so they are atomic, and they point into the OutputSet, which outlives the run.
std::atomic<const char*> g_on_disk[kOutputCount];

const OutputName kCreationOrder[kOutputCount] = {kProfile, kAmpGray, kAmpRamp, kPowGray, kPowRamp};

std::string temp_name(const std::string& name, long pid, int attempt) {
    const std::size_t start = path_name_start(name);
    return name.substr(0, start) + "." + name.substr(start) + "." + std::to_string(pid) + "-" +
           std::to_string(attempt) + ".tmp";
}

bool is_directory(const std::string& name) {
    std::error_code ec;
    return fs::symlink_status(fs::u8path(name), ec).type() == fs::file_type::directory;
}

void report_write(const std::string& name) {
    std::fprintf(stderr, "Error: Could not write to %s\n", name.c_str());
}

// Marks output `which` as on disk (or not) for the signal handler, with interrupts held
// so that no temporary exists unrecorded.
void record(OutputSet& set, int which, bool on_disk) {
    set.created[which] = on_disk;
    g_on_disk[which] = on_disk ? set.temps[which].c_str() : nullptr;
}

// Creates the temporary of one output; false when it cannot be made.
bool create_one(OutputSet& set, OutputName which, long pid) {
    if (is_directory(set.names[which])) {
        return false;
    }
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        set.temps[which] = temp_name(set.names[which], pid, attempt);
        os_interrupts_hold();
        std::FILE* file = os_create_new(set.temps[which], which == kProfile);
        if (file != nullptr) {
            set.files[which] = file;
            record(set, which, true);
        }
        const int error = errno;
        os_interrupts_release();
        if (file != nullptr) {
            return true;
        }
        if (error != EEXIST) {
            return false;
        }
    }
    return false;
}

}  // namespace

std::size_t path_name_start(const std::string& path) {
#ifdef _WIN32
    const std::size_t sep = path.find_last_of("/\\");
#else
    const std::size_t sep = path.find_last_of('/');
#endif
    return sep == std::string::npos ? 0 : sep + 1;
}

OutputSet outputs_new(const OutputNames& names) {
    OutputSet set{names, OutputNames(), {}, {}};
    return set;
}

int outputs_create(OutputSet& set) {
    const long pid = os_process_id();
    for (OutputName which : kCreationOrder) {
        if (!create_one(set, which, pid)) {
            report_write(set.names[which]);
            outputs_discard(set);
            return 1;
        }
    }
    return 0;
}

std::FILE* outputs_file(const OutputSet& set, OutputName which) { return set.files[which]; }

int outputs_close(OutputSet& set, OutputName which) {
    std::FILE* file = set.files[which];
    if (file == nullptr) {
        return 0;
    }
    set.files[which] = nullptr;
    // Closing flushes what is still buffered: a failure here is a lost output.
    const bool write_failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || write_failed) {
        report_write(set.names[which]);
        return 1;
    }
    return 0;
}

int outputs_commit(OutputSet& set) {
    for (int i = 0; i < kOutputCount; ++i) {
        if (outputs_close(set, static_cast<OutputName>(i)) != 0) {
            outputs_discard(set);
            return 1;
        }
    }
    // A directory that appeared at a name during the run would stop the renames halfway;
    // look for one before any output is replaced.
    for (int i = 0; i < kOutputCount; ++i) {
        if (is_directory(set.names[i])) {
            report_write(set.names[i]);
            outputs_discard(set);
            return 1;
        }
    }
    // The renames run with interrupts held, so the five are replaced together.
    os_interrupts_hold();
    for (int i = 0; i < kOutputCount; ++i) {
        std::error_code ec;
        fs::rename(fs::u8path(set.temps[i]), fs::u8path(set.names[i]), ec);
        if (ec) {
            report_write(set.names[i]);
            os_interrupts_release();
            outputs_discard(set);
            return 1;
        }
        record(set, i, false);
    }
    os_interrupts_release();
    return 0;
}

void outputs_discard(OutputSet& set) {
    for (int i = 0; i < kOutputCount; ++i) {
        if (set.files[i] != nullptr) {
            std::fclose(set.files[i]);
            set.files[i] = nullptr;
        }
        if (set.created[i]) {
            os_interrupts_hold();
            std::error_code ec;
            fs::remove(fs::u8path(set.temps[i]), ec);
            record(set, i, false);
            os_interrupts_release();
        }
    }
}

void outputs_remove_now() {
    for (const auto& temp : g_on_disk) {
        if (const char* path = temp.load()) {
            os_remove_now(path);
        }
    }
}
