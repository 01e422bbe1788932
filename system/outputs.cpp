#include "system/outputs.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "system/os.h"
#include "system/path.h"
#include "system/report.h"

namespace fs = std::filesystem;

namespace {

// Tries per output before giving up on a free temporary name: names are taken only by
// leftovers of killed runs that had the same process id.
constexpr int kNameTries = 100;

// The temporaries on disk that an interrupted run must remove. The signal handler reads
// them, so they are atomic, and they point into the OutputSet, which outlives the run.
std::atomic<const char*> g_on_disk[kOutputsMax];

std::string temp_name(const std::string& name, long pid, int attempt) {
    const std::size_t start = path_name_start(name);
    return name.substr(0, start) + "." + name.substr(start) + "." + std::to_string(pid) + "-" +
           std::to_string(attempt) + ".tmp";
}

bool is_directory(const std::string& name) {
    std::error_code ec;
    return fs::symlink_status(path_native(name), ec).type() == fs::file_type::directory;
}

// Marks output `which` as on disk (or not) for the signal handler, with interrupts held
// so that no temporary exists unrecorded.
void record(OutputSet& set, int which, bool on_disk) {
    set.files[which].created = on_disk;
    g_on_disk[which] = on_disk ? set.files[which].temp.c_str() : nullptr;
}

// Creates the temporary of one output; false when it cannot be made.
bool create_one(OutputSet& set, int which, long pid) {
    OutputFile& out = set.files[which];
    if (is_directory(out.name)) {
        return false;
    }
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        out.temp = temp_name(out.name, pid, attempt);
        os_interrupts_hold();
        std::FILE* file = os_create_new(out.temp, out.text);
        if (file != nullptr) {
            out.file = file;
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

int outputs_add(OutputSet& set, const std::string& name, bool text) {
    if (set.count == kOutputsMax) {
        return -1;
    }
    set.files[set.count] = OutputFile{name, text, std::string(), nullptr, false};
    return set.count++;
}

int outputs_create(OutputSet& set) {
    const long pid = os_process_id();
    for (int i = 0; i < set.count; ++i) {
        if (!create_one(set, i, pid)) {
            report_write_failure(set.files[i].name);
            outputs_discard(set);
            return 1;
        }
    }
    return 0;
}

std::FILE* outputs_file(const OutputSet& set, int which) { return set.files[which].file; }

int outputs_close(OutputSet& set, int which) {
    std::FILE* file = set.files[which].file;
    if (file == nullptr) {
        return 0;
    }
    set.files[which].file = nullptr;
    // Closing flushes what is still buffered: a failure here is a lost output.
    const bool write_failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || write_failed) {
        report_write_failure(set.files[which].name);
        return 1;
    }
    return 0;
}

int outputs_commit(OutputSet& set) {
    for (int i = 0; i < set.count; ++i) {
        if (outputs_close(set, i) != 0) {
            outputs_discard(set);
            return 1;
        }
    }
    // A directory that appeared at a name during the run would stop the renames halfway;
    // look for one before any output is replaced.
    for (int i = 0; i < set.count; ++i) {
        if (is_directory(set.files[i].name)) {
            report_write_failure(set.files[i].name);
            outputs_discard(set);
            return 1;
        }
    }
    // The renames run with interrupts held, so the outputs are replaced together.
    os_interrupts_hold();
    for (int i = 0; i < set.count; ++i) {
        std::error_code ec;
        fs::rename(path_native(set.files[i].temp), path_native(set.files[i].name), ec);
        if (ec) {
            report_write_failure(set.files[i].name);
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
    for (int i = 0; i < set.count; ++i) {
        OutputFile& out = set.files[i];
        if (out.file != nullptr) {
            std::fclose(out.file);
            out.file = nullptr;
        }
        if (out.created) {
            os_interrupts_hold();
            std::error_code ec;
            fs::remove(path_native(out.temp), ec);
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
