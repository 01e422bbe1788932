#include "system/outputs.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

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

// Seams for tests, as in size.cpp: a test binary may define these to make the rename of
// output `index` fail, to make every hard link of a backup fail as on a file system
// without them, or to act at each step of the commit (called with the number of renames
// done, before each rename and once after the last, then with one more once the commit
// is over). The program itself defines none of
// them, so the weak references are null there.
extern "C" bool varlox_rename_should_fail(int index) __attribute__((weak));
extern "C" bool varlox_link_should_fail() __attribute__((weak));
extern "C" void varlox_commit_step(int renamed) __attribute__((weak));

namespace {

// The intent record of the commit in progress in a directory: which temporaries go onto
// which names and where each replaced file is kept meanwhile. Commits into a directory
// hold its lock, so one name serves them all.
constexpr const char* kJournalName = ".varlox.journal";
constexpr const char kJournalMagic[] = "varlox commit journal 1\n";
constexpr const char kJournalEnd[] = "end\n";
// More than any journal the program writes (kOutputsMax entries of a few hundred bytes).
constexpr std::size_t kJournalMaxBytes = 1 << 16;

// ".NAME.PID-N" + suffix beside NAME: hidden, and unique to this process.
std::string hidden_name(const std::string& name, long pid, int attempt, const char* suffix) {
    const std::size_t start = path_name_start(name);
    return name.substr(0, start) + "." + name.substr(start) + "." + std::to_string(pid) + "-" +
           std::to_string(attempt) + suffix;
}

fs::file_type entry_type(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path_native(path), ec).type();
}

bool exists(const std::string& path) {
    const fs::file_type type = entry_type(path);
    return type != fs::file_type::not_found && type != fs::file_type::none;
}

bool is_directory(const std::string& name) { return entry_type(name) == fs::file_type::directory; }

void remove_entry(const std::string& path) {
    std::error_code ec;
    fs::remove(path_native(path), ec);
}

// The directory part of an output's name, as a prefix ("" or ending in a separator), and
// as a directory to open ("." for "").
std::string dir_prefix(const std::string& name) { return name.substr(0, path_name_start(name)); }
std::string dir_of(const std::string& name) {
    const std::string prefix = dir_prefix(name);
    return prefix.empty() ? std::string(".") : prefix;
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

// What the commit does with the file an output replaces: it stays under its name the
// whole time, and a backup of it, a hard link or else a copy, keeps it until every
// output is in place.
struct Backup {
    bool existed = false;  // the name held a file when the commit began
    bool made = false;     // the backup is on disk
    std::string path;      // the backup's name, chosen before it is made
};

// Copies the file (or link) `from` to the new name `to` and puts the copy on the disk;
// false, with no copy left, when that fails.
bool copy_synced(const std::string& from, const std::string& to) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path_native(from), ec);
    if (!ec && status.type() == fs::file_type::symlink) {
        fs::copy_symlink(path_native(from), path_native(to), ec);
        return !ec;
    }
    if (ec || status.type() != fs::file_type::regular) {
        return false;
    }
    std::ifstream in(path_native(from), std::ios::binary);
    std::FILE* out = in ? os_create_new(to, false) : nullptr;
    if (out == nullptr) {
        return false;
    }
    bool ok = true;
    char chunk[1 << 16];
    while (ok && in) {
        in.read(chunk, sizeof chunk);
        const auto got = static_cast<std::size_t>(in.gcount());
        ok = std::fwrite(chunk, 1, got, out) == got;
    }
    ok = ok && !in.bad() && std::ferror(out) == 0 && os_sync_file(out) == 0;
    ok = std::fclose(out) == 0 && ok;
    if (ok) {
        fs::permissions(path_native(to), status.permissions(), ec);
    } else {
        remove_entry(to);
    }
    return ok;
}

// Chooses the backup name of the file at `name`, if any, without making it. False for a
// directory, and for a name this process may not replace (a backup made there could not
// be removed again).
bool backup_plan(const std::string& name, long pid, Backup& backup) {
    backup = Backup{};
    const fs::file_type type = entry_type(name);
    if (type == fs::file_type::not_found) {
        return true;
    }
    if (type == fs::file_type::none || type == fs::file_type::directory || !os_may_replace(name)) {
        return false;
    }
    backup.existed = true;
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        backup.path = hidden_name(name, pid, attempt, ".bak");
        if (!exists(backup.path)) {
            return true;
        }
    }
    return false;
}

// Makes the planned backup: a hard link (a link to a link is a link of its own: the link
// is kept, not its target), or where the file system or the file's owner refuses one, a
// copy. The name keeps its file either way. False when neither can be made.
bool backup_make(const std::string& name, Backup& backup) {
    if (!backup.existed) {
        return true;
    }
    std::error_code ec;
    if (varlox_link_should_fail == nullptr || !varlox_link_should_fail()) {
        fs::create_hard_link(path_native(name), path_native(backup.path), ec);
        if (!ec) {
            backup.made = true;
            return true;
        }
    }
    backup.made = copy_synced(name, backup.path);
    return backup.made;
}

// Puts back what `name` held before the commit: `replaced` tells whether the output has
// already been renamed onto it. The backup is gone afterwards.
void backup_restore(const std::string& name, bool replaced, Backup& backup) {
    if (!backup.existed) {
        if (replaced) {
            remove_entry(name);
        }
        return;
    }
    if (!backup.made) {
        return;
    }
    backup.made = false;
    if (!replaced) {
        remove_entry(backup.path);
    } else if (!os_rename(backup.path, name)) {
        std::fprintf(stderr, "Error: %s could not be restored; its earlier content is in %s\n",
                     name.c_str(), backup.path.c_str());
    }
}

// The journal: the magic line, then per output four fields each ended by a NUL byte (a
// flag "1" when the name held a file, then the final name, the temporary and the backup,
// all without their directory), then the end line. Written and synced before any backup
// is made, so that a run killed later finds it; removed when the commit is over.
bool journal_write(const std::string& path, const OutputSet& set, const Backup* backups) {
    std::string text = kJournalMagic;
    for (int i = 0; i < set.count; ++i) {
        const std::string* fields[3] = {&set.files[i].name, &set.files[i].temp, &backups[i].path};
        text += backups[i].existed ? '1' : '0';
        text += '\0';
        for (const std::string* field : fields) {
            text += field->substr(path_name_start(*field));
            text += '\0';
        }
    }
    text += kJournalEnd;
    std::FILE* file = os_create_new(path, false);
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         os_sync_file(file) == 0;
    if (std::fclose(file) != 0 || !written) {
        remove_entry(path);
        return false;
    }
    return true;
}

// One output as a journal names it, the names with their directory.
struct JournalEntry {
    bool existed;
    std::string name;
    std::string temp;
    std::string backup;
};

// Whether a journal's field is a plain name of the form the program makes: in the
// directory itself, and for temporaries and backups hidden, with their ending.
bool journal_field_ok(const std::string& field, const char* suffix) {
    if (field.empty() || field == "." || field == ".." ||
        field.find_first_of("/\\") != std::string::npos) {
        return false;
    }
    const std::string end = suffix;
    return end.empty() || (field[0] == '.' && field.size() > end.size() &&
                           field.compare(field.size() - end.size(), end.size(), end) == 0);
}

// Reads the entries of a journal; `complete` tells whether it was written to its end. A
// journal cut short lists only what was written before the cut (no backup nor rename
// follows before it is whole).
std::vector<JournalEntry> journal_read(const std::string& path, const std::string& prefix,
                                       bool& complete) {
    complete = false;
    std::vector<JournalEntry> entries;
    std::ifstream in(path_native(path), std::ios::binary);
    std::string text(kJournalMaxBytes, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t magic = sizeof kJournalMagic - 1;
    if (text.compare(0, magic, kJournalMagic) != 0) {
        return entries;
    }
    std::size_t at = magic;
    const auto field = [&](std::string& out) {
        const std::size_t end = text.find('\0', at);
        if (end == std::string::npos) {
            return false;
        }
        out = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    while (entries.size() < static_cast<std::size_t>(kOutputsMax)) {
        if (text.compare(at, std::string::npos, kJournalEnd) == 0) {
            complete = true;
            break;
        }
        std::string flag, name, temp, backup;
        if (!field(flag) || !field(name) || !field(temp) || !field(backup) ||
            (flag != "0" && flag != "1") || !journal_field_ok(name, "") ||
            !journal_field_ok(temp, ".tmp") || !journal_field_ok(backup, ".bak")) {
            break;
        }
        entries.push_back(JournalEntry{flag == "1", prefix + name, prefix + temp, prefix + backup});
    }
    return entries;
}

// Finishes the commit of a run that ended without finishing it (killed, or the power
// failed), as its journal says. When every rename was done, the new set stays and only
// the backups go; otherwise the set is rolled back: each name gets back the file it held
// (or is removed where it held none), and the remaining temporaries and backups go.
// Called with the directory locked, so that the journal's run cannot be alive.
void journal_repair(const std::string& path, const std::string& prefix, const std::string& dir) {
    if (!exists(path)) {
        return;
    }
    bool complete = false;
    const std::vector<JournalEntry> entries = journal_read(path, prefix, complete);
    bool renamed_all = complete;
    for (const JournalEntry& e : entries) {
        renamed_all = renamed_all && !exists(e.temp);
    }
    for (const JournalEntry& e : entries) {
        const bool renamed = !exists(e.temp);
        if (renamed_all || !renamed) {
            remove_entry(e.temp);
            remove_entry(e.backup);
        } else if (e.existed) {
            // No backup left means that it was put back already.
            if (exists(e.backup) && !os_rename(e.backup, e.name)) {
                std::fprintf(stderr, "Error: %s could not be restored; its earlier content is in %s\n",
                             e.name.c_str(), e.backup.c_str());
            }
        } else {
            remove_entry(e.name);
        }
    }
    os_sync_directory(dir);
    remove_entry(path);
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
    // In an append-only directory the temporaries could be made but never renamed onto
    // the names nor removed again: refused before anything is written.
    if (set.count > 0 && os_directory_fixed(dir_of(set.files[0].name))) {
        std::fprintf(stderr, "Error: Could not write to %s: its directory is append-only or immutable\n",
                     set.files[0].name.c_str());
        return 1;
    }
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
    // What is still buffered is written and put on the disk before the file may be
    // renamed onto its name: a failure here is a lost output.
    const bool write_failed = std::ferror(file) != 0 || os_sync_file(file) != 0;
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
    // Runs whose outputs share a directory commit one at a time, so that the names always
    // hold one run's set and one journal serves them. The lock is taken before interrupts
    // are held: waiting for it can be interrupted.
    const std::string prefix = dir_prefix(set.files[0].name);
    const std::string dir = dir_of(set.files[0].name);
    const std::string journal = prefix + kJournalName;
    const OsLock lock = os_lock_directory(dir);
    os_interrupts_hold();
    // Without the lock a journal there may be another run's, alive: it is left alone, and
    // this commit goes without one.
    const bool locked = lock.handle != -1;
    if (locked) {
        journal_repair(journal, prefix, dir);
    }
    const long pid = os_process_id();
    Backup backups[kOutputsMax];
    int failed = -1;
    int backed = 0;
    for (int i = 0; i < set.count && failed < 0; ++i) {
        if (!backup_plan(set.files[i].name, pid, backups[i])) {
            failed = i;
        }
    }
    const bool journaled = failed < 0 && locked && journal_write(journal, set, backups);
    for (; failed < 0 && backed < set.count; ++backed) {
        if (!backup_make(set.files[backed].name, backups[backed])) {
            failed = backed;
        }
    }
    // The backups and the journal are on the disk before any name changes.
    os_sync_directory(dir);
    // An interrupt that arrives before the last rename is done puts the set back and ends
    // the run by its signal; one that arrives later finds the run complete.
    bool interrupted = false;
    int renamed = 0;
    for (; failed < 0 && renamed <= set.count; ++renamed) {
        if (varlox_commit_step != nullptr) {
            varlox_commit_step(renamed);
        }
        if (os_interrupt_pending()) {
            interrupted = true;
            failed = renamed;
            break;
        }
        if (renamed == set.count) {
            break;
        }
        const bool refused = varlox_rename_should_fail != nullptr && varlox_rename_should_fail(renamed);
        if (refused || !os_rename(set.files[renamed].temp, set.files[renamed].name)) {
            failed = renamed;
            break;
        }
        record(set, renamed, false);
    }
    if (failed >= 0) {
        if (!interrupted) {
            report_write_failure(set.files[failed].name);
        }
        // Back to the directory as it was: the renamed outputs give way to the files they
        // replaced, and the backups made are removed.
        for (int i = 0; i < backed; ++i) {
            backup_restore(set.files[i].name, i < renamed, backups[i]);
        }
        os_sync_directory(dir);
    } else {
        os_sync_directory(dir);
        for (int i = 0; i < set.count; ++i) {
            if (backups[i].made) {
                remove_entry(backups[i].path);
            }
        }
    }
    // Once what it describes is on the disk, the journal goes.
    if (journaled) {
        remove_entry(journal);
    }
    os_unlock(lock);
    if (failed >= 0) {
        // A pending interrupt ends the process here, its handler removing the temporaries.
        os_interrupts_release();
        outputs_discard(set);
        return 1;
    }
    // The set is in place and the run is done: an interrupt from now on is held until the
    // process ends, so that its status says what happened to the files.
    if (varlox_commit_step != nullptr) {
        varlox_commit_step(set.count + 1);
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
            remove_entry(out.temp);
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
