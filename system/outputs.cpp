#include "system/outputs.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>
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
// without them, to act at each step of the commit (called with the number of renames
// done, before each rename and once after the last, then with one more once the commit
// is over), or to wait for a held lock for a shorter time than a run does. The program
// itself defines none of them, so the weak references are null there.
extern "C" bool varlox_rename_should_fail(int index) __attribute__((weak));
extern "C" bool varlox_link_should_fail() __attribute__((weak));
extern "C" void varlox_commit_step(int renamed) __attribute__((weak));
extern "C" double varlox_lock_wait_seconds() __attribute__((weak));

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

bool is_directory(const std::string& name) {
    return entry_type(name) == fs::file_type::directory;
}

// "a FIFO", "a directory" ...: what an entry is, for messages.
const char* kind_text(OsKind kind) {
    switch (kind) {
        case OsKind::kRegular: return "a regular file";
        case OsKind::kLink: return "a symbolic link";
        case OsKind::kDirectory: return "a directory";
        case OsKind::kFifo: return "a FIFO";
        case OsKind::kOther: return "a device or socket";
        case OsKind::kMissing: break;
    }
    return "something that cannot be read";
}

// The directory's lock, for messages: its file where it has one.
std::string lock_text(const OsLock& lock, const std::string& dir) {
    return lock.file.empty() ? "the lock of the folder " + dir : lock.file;
}

// The refusal of a lock whose name holds something that cannot be the lock.
void report_unusable_lock(const std::string& name, const OsLock& lock) {
    std::string what = lock.found.kind == OsKind::kRegular ? "a file" : kind_text(lock.found.kind);
    if (lock.found.kind != OsKind::kMissing) {
        what += " owned by uid " + std::to_string(lock.found.owner);
    }
    what += lock.found.kind == OsKind::kRegular ? " that this run may not open" : ", which no run can lock";
    report(
        "Error: Could not write to %s: the folder's lock %s is %s; remove it (its owner, the folder's "
        "owner or root can), or write the outputs elsewhere\n",
        name.c_str(), lock.file.c_str(), what.c_str());
}

void remove_entry(const std::string& path) {
    std::error_code ec;
    fs::remove(path_native(path), ec);
}

// The directory part of an output's name, as a prefix ("" or ending in a separator), and
// as a directory to open ("." for "").
std::string dir_prefix(const std::string& name) {
    return name.substr(0, path_name_start(name));
}
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
// false, with no copy left, when that fails. Whatever holds `from` is opened without
// following a link and without waiting, so that a FIFO put there cannot hold the commit.
bool copy_synced(const std::string& from, const std::string& to) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path_native(from), ec);
    if (!ec && status.type() == fs::file_type::symlink) {
        fs::copy_symlink(path_native(from), path_native(to), ec);
        return !ec;
    }
    OsEntry entry;
    std::FILE* in = os_open_read(from, entry);
    std::FILE* out = in != nullptr ? os_create_new(to, false) : nullptr;
    if (out == nullptr) {
        if (in != nullptr) {
            std::fclose(in);
        }
        return false;
    }
    bool ok = true;
    char chunk[1 << 16];
    while (ok) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, in);
        ok = std::fwrite(chunk, 1, got, out) == got;
        if (got < sizeof chunk) {
            break;
        }
    }
    ok = ok && std::ferror(in) == 0 && std::ferror(out) == 0 && os_sync_file(out) == 0;
    std::fclose(in);
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
        report("Error: %s could not be restored; its earlier content is in %s\n", name.c_str(),
               backup.path.c_str());
    }
}

// The journal: the magic line, then per output four fields each ended by a NUL byte (a
// flag "1" when the name held a file, then the final name, the temporary and the backup,
// all without their directory), then the end line. Written and synced before any backup
// is made, so that a run killed later finds it; removed when the commit is over. Only its
// owner may read or write it.
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
    std::FILE* file = os_create_new(path, false, true);
    if (file == nullptr) {
        return false;
    }
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && os_sync_file(file) == 0;
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

bool all_digits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Whether `field` is a hidden name that hidden_name() forms from the output `name` with
// `suffix` (".NAME.PID-N" + suffix); its process id goes to `pid`.
bool hidden_name_of(const std::string& field, const std::string& name, const std::string& suffix,
                    std::string& pid) {
    const std::string head = "." + name + ".";
    if (field.size() <= head.size() + suffix.size() || field.compare(0, head.size(), head) != 0 ||
        field.compare(field.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::string middle = field.substr(head.size(), field.size() - head.size() - suffix.size());
    const std::size_t dash = middle.find('-');
    if (dash == std::string::npos || !all_digits(middle.substr(0, dash)) ||
        !all_digits(middle.substr(dash + 1))) {
        return false;
    }
    pid = middle.substr(0, dash);
    return true;
}

// Whether `name` is an output of the base `base`: that base followed by a known suffix.
bool output_of(const OutputSet& set, const std::string& name, const std::string& base) {
    for (int i = 0; i < set.known_count; ++i) {
        if (name == base + set.known[i]) {
            return true;
        }
    }
    return false;
}

// Whether the entries' names are the outputs of one set: plain names in the directory
// itself, each a base followed by a known suffix, one base for all. A name may end in
// more than one suffix ("-full.csv" and ".csv"), so each base the first name allows is
// tried.
bool outputs_of_one_base(const OutputSet& set, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
            return false;
        }
    }
    if (names.empty()) {
        return true;
    }
    for (int i = 0; i < set.known_count; ++i) {
        const std::string suffix = set.known[i];
        const std::string& first = names.front();
        if (first.size() < suffix.size() ||
            first.compare(first.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string base = first.substr(0, first.size() - suffix.size());
        if (std::all_of(names.begin(), names.end(),
                        [&](const std::string& n) { return output_of(set, n, base); })) {
            return true;
        }
    }
    return false;
}

// Reads a journal's text into its entries. False when it is not a journal this program
// writes: a wrong first line, or entries whose names are not those of one output set
// (outputs of one base, each once, with the temporary and backup names formed from it by
// one process). `complete` tells whether it was written to its end; a journal cut short
// lists only the entries written whole before the cut (no backup nor rename follows
// before it is whole).
bool journal_parse(const std::string& text, const OutputSet& set, const std::string& prefix,
                   std::vector<JournalEntry>& entries, bool& complete) {
    complete = false;
    entries.clear();
    const std::size_t magic = sizeof kJournalMagic - 1;
    if (text.compare(0, magic, kJournalMagic) != 0) {
        return false;
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
    std::string set_pid;
    std::vector<std::string> names;
    while (true) {
        if (text.compare(at, std::string::npos, kJournalEnd) == 0) {
            complete = true;
            break;
        }
        std::string flag, name, temp, backup;
        if (!field(flag) || !field(name) || !field(temp) || !field(backup)) {
            break;  // cut short
        }
        std::string temp_pid, backup_pid;
        const bool ok = entries.size() < static_cast<std::size_t>(kOutputsMax) &&
                        (flag == "0" || flag == "1") &&
                        std::find(names.begin(), names.end(), name) == names.end() &&
                        hidden_name_of(temp, name, ".tmp", temp_pid) &&
                        hidden_name_of(backup, name, ".bak", backup_pid) && temp_pid == backup_pid &&
                        (entries.empty() || temp_pid == set_pid);
        if (!ok) {
            return false;
        }
        set_pid = temp_pid;
        names.push_back(name);
        entries.push_back(JournalEntry{flag == "1", prefix + name, prefix + temp, prefix + backup});
    }
    return outputs_of_one_base(set, names);
}

// Why a journal found in the directory is not to be trusted, or empty when it is the
// user's own: a regular file of the user's, which nobody else may write and which has no
// other name.
std::string journal_distrust(const OsEntry& entry) {
    if (entry.kind != OsKind::kRegular) {
        return std::string("that is ") + kind_text(entry.kind);
    }
    if (!entry.own) {
        return "owned by uid " + std::to_string(entry.owner);
    }
    if (entry.others_may_write) {
        return "that others may write";
    }
    if (entry.links != 1) {
        return "with " + std::to_string(entry.links) + " names";
    }
    return std::string();
}

// Whether the journal's repair may remove or replace what `path` holds: nothing, or a
// file of the user's own (a regular file, or a link where `link_ok`: a backup of a link
// is a link).
bool repair_may_touch(const std::string& path, bool link_ok) {
    const OsEntry entry = os_entry(path);
    return entry.kind == OsKind::kMissing ||
           (entry.own && (entry.kind == OsKind::kRegular || (link_ok && entry.kind == OsKind::kLink)));
}

enum class Journal {
    kClear,    // no journal is left: the commit may write its own
    kForeign,  // one is left that is not to be acted on: the commit goes without
    kFailed,   // the repair could not be put on the disk (the message is printed)
};

// Finishes the commit of a run that ended without finishing it (killed, or the power
// failed), as its journal says, when that journal is the user's own (see the header).
// When every rename was done, the new set stays and only the backups go; otherwise the
// set is rolled back: each name gets back the file it held (or is removed where it held
// none), and the remaining temporaries and backups go. Called with the directory locked,
// so that the journal's run cannot be alive. The journal is removed once its repair is
// on the disk.
Journal journal_repair(const std::string& path, const std::string& prefix, const std::string& dir,
                       const OutputSet& set) {
    OsEntry entry;
    std::FILE* file = os_open_read(path, entry);
    if (entry.kind == OsKind::kMissing) {
        return Journal::kClear;
    }
    const std::string distrust = journal_distrust(entry);
    if (!distrust.empty() || file == nullptr) {
        if (file != nullptr) {
            std::fclose(file);
        }
        report("Warning: ignored a journal %s (%s): this commit goes without one\n",
               distrust.empty() ? "that cannot be read" : distrust.c_str(), path.c_str());
        return Journal::kForeign;
    }
    std::string text(kJournalMaxBytes + 1, '\0');
    const std::size_t got = std::fread(&text[0], 1, text.size(), file);
    const bool read_ok = std::ferror(file) == 0;
    std::fclose(file);
    text.resize(got);
    std::vector<JournalEntry> entries;
    bool complete = false;
    if (!read_ok || got > kJournalMaxBytes || !journal_parse(text, set, prefix, entries, complete)) {
        // The user's own, but not what this program writes: nothing it names is touched.
        remove_entry(path);
        report("Warning: removed a damaged journal (%s); nothing it names was touched\n", path.c_str());
        return Journal::kClear;
    }
    bool renamed_all = complete;
    for (const JournalEntry& e : entries) {
        renamed_all = renamed_all && !exists(e.temp);
    }
    // Every file the repair would remove or replace is checked before any is touched.
    for (const JournalEntry& e : entries) {
        const bool renamed = !exists(e.temp);
        const bool rollback = !renamed_all && renamed;
        const char* refused = !repair_may_touch(e.temp, false)              ? e.temp.c_str()
                              : !repair_may_touch(e.backup, true)           ? e.backup.c_str()
                              : rollback && !repair_may_touch(e.name, true) ? e.name.c_str()
                                                                            : nullptr;
        if (refused != nullptr) {
            report(
                "Warning: ignored a journal that names a file not the user's own, %s (%s): "
                "this commit goes without one\n",
                refused, path.c_str());
            return Journal::kForeign;
        }
    }
    for (const JournalEntry& e : entries) {
        const bool renamed = !exists(e.temp);
        if (renamed_all || !renamed) {
            remove_entry(e.temp);
            remove_entry(e.backup);
        } else if (e.existed) {
            // No backup left means that it was put back already.
            if (exists(e.backup) && !os_rename(e.backup, e.name)) {
                report("Error: %s could not be restored; its earlier content is in %s\n", e.name.c_str(),
                       e.backup.c_str());
            }
        } else {
            remove_entry(e.name);
        }
    }
    if (os_sync_directory(dir) != 0) {
        // The journal stays, for the next commit to repeat the repair.
        report("Error: Could not write to %s: the folder could not be synced\n", set.files[0].name.c_str());
        return Journal::kFailed;
    }
    remove_entry(path);
    return Journal::kClear;
}

// Waits for the lock of the directory `dir`: 0 with the lock held in `lock`, or with no
// lock where the directory cannot be locked; 1 after the message when the lock's name
// holds something that cannot be the lock, or it stays held by another process for
// kOutputsLockWaitSeconds (interrupts end the wait as they end the run).
int lock_wait(const OutputSet& set, const std::string& dir, OsLock& lock) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const double limit =
        varlox_lock_wait_seconds != nullptr ? varlox_lock_wait_seconds() : kOutputsLockWaitSeconds;
    bool said = false;
    for (;;) {
        lock = os_lock_try(dir);
        if (lock.state == OsLockState::kUnusable) {
            report_unusable_lock(set.files[0].name, lock);
            return 1;
        }
        if (lock.state != OsLockState::kBusy) {
            return 0;
        }
        const double waited = std::chrono::duration<double>(Clock::now() - start).count();
        const std::string what = lock_text(lock, dir);
        if (waited >= limit) {
            report("Error: Could not write to %s: %s stayed held by another process for %.0f s\n",
                   set.files[0].name.c_str(), what.c_str(), limit);
            return 1;
        }
        if (!said && waited >= 0.5) {
            report("Waiting for %s, held by another process (giving up after %.0f s)\n", what.c_str(), limit);
            said = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

int outputs_add(OutputSet& set, const std::string& name, bool text) {
    if (set.count == kOutputsMax) {
        return -1;
    }
    set.files[set.count] = OutputFile{name, text, std::string(), nullptr, false};
    return set.count++;
}

int outputs_know(OutputSet& set, const char* suffix) {
    if (set.known_count == kOutputsKnownMax) {
        return -1;
    }
    set.known[set.known_count] = suffix;
    return set.known_count++;
}

int outputs_create(OutputSet& set) {
    if (set.count == 0) {
        return 0;
    }
    // In an append-only directory the temporaries could be made but never renamed onto
    // the names nor removed again: refused before anything is written.
    const std::string dir = dir_of(set.files[0].name);
    if (os_directory_fixed(dir)) {
        report("Error: Could not write to %s: its directory is append-only or immutable\n",
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
    // A lock that the commit could never take is found now, before the long transform.
    const OsLock probe = os_lock_try(dir);
    if (probe.state == OsLockState::kUnusable) {
        report_unusable_lock(set.files[0].name, probe);
        outputs_discard(set);
        return 1;
    }
    os_unlock(probe);
    return 0;
}

std::FILE* outputs_file(const OutputSet& set, int which) {
    return set.files[which].file;
}

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
    const std::string& first = set.files[0].name;
    const std::string journal = prefix + kJournalName;
    OsLock lock;
    if (lock_wait(set, dir, lock) != 0) {
        outputs_discard(set);
        return 1;
    }
    os_interrupts_hold();
    // Without the lock a journal there may be another run's, alive: it is left alone, and
    // this commit goes without one.
    const bool locked = lock.state == OsLockState::kHeld;
    const Journal found = locked ? journal_repair(journal, prefix, dir, set) : Journal::kForeign;
    const long pid = os_process_id();
    Backup backups[kOutputsMax];
    int failed = found == Journal::kFailed ? 0 : -1;
    bool reported = failed >= 0;  // the failure's message is printed already
    int backed = 0;
    for (int i = 0; i < set.count && failed < 0; ++i) {
        if (!backup_plan(set.files[i].name, pid, backups[i])) {
            failed = i;
        }
    }
    bool journaled = false;
    if (failed < 0 && found == Journal::kClear) {
        journaled = journal_write(journal, set, backups);
        if (!journaled) {
            report("Error: Could not write to %s: its folder's journal %s could not be written\n",
                   first.c_str(), journal.c_str());
            failed = 0;
            reported = true;
        }
    }
    for (; failed < 0 && backed < set.count; ++backed) {
        if (!backup_make(set.files[backed].name, backups[backed])) {
            failed = backed;
        }
    }
    // The backups and the journal are on the disk before any name changes.
    if (failed < 0 && os_sync_directory(dir) != 0) {
        report("Error: Could not write to %s: the folder could not be synced\n", first.c_str());
        failed = 0;
        reported = true;
    }
    // An interrupt that arrives before the last rename is done puts the set back and ends
    // the run by its signal; one that arrives later finds the run complete.
    int renamed = 0;
    for (; failed < 0 && renamed <= set.count; ++renamed) {
        if (varlox_commit_step != nullptr) {
            varlox_commit_step(renamed);
        }
        if (os_interrupt_pending()) {
            reported = true;  // the signal says it
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
    // Whether what the journal describes is settled on the disk, so that the journal may go.
    bool settled = true;
    if (failed >= 0) {
        if (!reported) {
            report_write_failure(set.files[failed].name);
        }
        // Back to the directory as it was: the renamed outputs give way to the files they
        // replaced, and the backups made are removed.
        for (int i = 0; i < backed; ++i) {
            backup_restore(set.files[i].name, i < renamed, backups[i]);
        }
        settled = os_sync_directory(dir) == 0;
    } else if (os_sync_directory(dir) != 0) {
        // Every name holds its new file, but the renames may not be on the disk. The
        // journal and backups stay, so that the next commit here keeps the new set or, if
        // the renames were lost, puts the earlier one back whole.
        report(
            "Error: Could not write to %s: the new outputs are in place, but their folder could not "
            "be synced, so they may not be on the disk\n",
            first.c_str());
        settled = false;
    } else {
        for (int i = 0; i < set.count; ++i) {
            if (backups[i].made) {
                remove_entry(backups[i].path);
            }
        }
    }
    if (journaled && settled) {
        remove_entry(journal);
    }
    os_unlock(lock);
    if (failed >= 0) {
        // A pending interrupt ends the process here, its handler removing the temporaries.
        os_interrupts_release();
        outputs_discard(set);
        return 1;
    }
    // The set is in place and the run is over: an interrupt from now on is held until the
    // process ends, so that its status says what happened to the files.
    if (varlox_commit_step != nullptr) {
        varlox_commit_step(set.count + 1);
    }
    return settled ? 0 : 1;
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
