#include "system/outputs.h"

#include <atomic>
#include <cstdio>
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

}  // namespace

// A seam for tests, as in size.cpp: a test binary may define this to make the rename of
// output `index` fail. The program itself does not define it, so the weak reference is
// null there.
extern "C" bool varlox_rename_should_fail(int index) __attribute__((weak));

namespace {

// ".NAME.PID-N" + suffix beside NAME: hidden, and unique to this process.
std::string hidden_name(const std::string& name, long pid, int attempt, const char* suffix) {
    const std::size_t start = path_name_start(name);
    return name.substr(0, start) + "." + name.substr(start) + "." + std::to_string(pid) + "-" +
           std::to_string(attempt) + suffix;
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
        out.temp = hidden_name(out.name, pid, attempt, ".tmp");
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

// How the file an output replaces is kept reachable until every output is in place.
enum BackupKind {
    kNothing,  // no file of that name: nothing to keep
    kLinked,   // a hard link to it under the backup name; the name still holds it
    kMoved,    // renamed to the backup name (no hard links here): the name is free
};

struct Backup {
    BackupKind kind = kNothing;
    std::string path;
};

// Keeps the file at `name`, if any, under a hidden backup name beside it: a hard link,
// or where the file system or the file's owner refuses one, the file itself moved
// aside. False, with nothing changed, for a directory, for a name this process may not
// replace (a backup made there could not be removed again) and when neither a link nor
// a move can be made.
bool backup_make(const std::string& name, long pid, Backup& backup) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path_native(name), ec);
    if (status.type() == fs::file_type::not_found) {
        backup.kind = kNothing;
        return true;
    }
    if (ec || status.type() == fs::file_type::directory || !os_may_replace(name)) {
        return false;
    }
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        const std::string path = hidden_name(name, pid, attempt, ".bak");
        if (fs::symlink_status(path_native(path), ec).type() != fs::file_type::not_found) {
            continue;
        }
        // A hard link to a link is a link of its own: the link is kept, not its target.
        fs::create_hard_link(path_native(name), path_native(path), ec);
        if (!ec) {
            backup = Backup{kLinked, path};
            return true;
        }
        if (ec == std::errc::file_exists) {
            continue;
        }
        fs::rename(path_native(name), path_native(path), ec);
        if (!ec) {
            backup = Backup{kMoved, path};
            return true;
        }
        return false;
    }
    return false;
}

// Removes a backup that is no longer needed: the link, or the file moved aside, which the
// output has replaced.
void backup_remove(Backup& backup) {
    if (backup.kind != kNothing) {
        std::error_code ec;
        fs::remove(path_native(backup.path), ec);
    }
    backup.kind = kNothing;
}

// Puts back what `name` held before the commit: `replaced` tells whether the output has
// already been renamed onto it.
void backup_restore(const std::string& name, bool replaced, Backup& backup) {
    std::error_code ec;
    if (backup.kind == kNothing) {
        if (replaced) {
            fs::remove(path_native(name), ec);
        }
        return;
    }
    if (backup.kind == kLinked && !replaced) {
        backup_remove(backup);
        return;
    }
    fs::rename(path_native(backup.path), path_native(name), ec);
    if (ec) {
        std::fprintf(stderr, "Error: %s could not be restored; its earlier content is in %s\n",
                     name.c_str(), backup.path.c_str());
    }
    backup.kind = kNothing;
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
    // Runs whose outputs share names commit one at a time, so that the names always hold
    // one run's set. The lock is taken before interrupts are held: waiting for it can be
    // interrupted.
    const std::string& first = set.files[0].name;
    const std::size_t start = path_name_start(first);
    const OsLock lock = os_lock_directory(start == 0 ? std::string(".") : first.substr(0, start));
    os_interrupts_hold();
    Backup backups[kOutputsMax];
    int failed = -1;
    int backed = 0;
    for (; backed < set.count; ++backed) {
        if (!backup_make(set.files[backed].name, os_process_id(), backups[backed])) {
            failed = backed;
            break;
        }
    }
    int renamed = 0;
    for (; failed < 0 && renamed < set.count; ++renamed) {
        std::error_code ec;
        if (varlox_rename_should_fail != nullptr && varlox_rename_should_fail(renamed)) {
            ec = std::make_error_code(std::errc::io_error);
        } else {
            fs::rename(path_native(set.files[renamed].temp), path_native(set.files[renamed].name), ec);
        }
        if (ec) {
            failed = renamed;
            break;
        }
        record(set, renamed, false);
    }
    if (failed >= 0) {
        report_write_failure(set.files[failed].name);
        // Back to the directory as it was: the renamed outputs give way to the files they
        // replaced, the files moved aside return, and the links made are removed.
        for (int i = 0; i < backed; ++i) {
            backup_restore(set.files[i].name, i < renamed, backups[i]);
        }
    } else {
        for (int i = 0; i < set.count; ++i) {
            backup_remove(backups[i]);
        }
    }
    os_interrupts_release();
    os_unlock(lock);
    if (failed >= 0) {
        outputs_discard(set);
        return 1;
    }
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
