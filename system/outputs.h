// A set of output files written all or nothing. Each file is written under a hidden
// temporary name beside its final name, put on the disk, and all of them are renamed onto
// their names only once every one is complete: a run that fails or is interrupted leaves
// every earlier file as it was and no new file behind.
//
// A temporary is ".NAME.PID-N.tmp" in the directory of NAME: hidden, made with the
// process id so that two runs never share one, and created exclusively. Messages always
// name the final file, never a temporary. Outputs are numbered in the order they were
// added; that is the order in which they are created and renamed. All outputs of a set
// lie in one directory.
//
// The commit keeps each file it replaces until every rename has succeeded, as a hidden
// hard link ".NAME.PID-N.bak", or a copy where no hard link can be made; the name holds
// a file at every moment. When a rename fails, the outputs already renamed give way to
// the files they replaced again, so a failed commit leaves the directory exactly as it
// was (a file put back from a copy is a new file with the same bytes and mode). A name
// that cannot be replaced (another user's file in a sticky directory, an immutable file)
// fails the commit before anything changes; an append-only directory fails the run
// before anything is written. An interrupt during the commit is held: if it came before
// the last rename, the set is put back and the run ends by the signal; after it, the run
// is complete and ends normally.
//
// Commits into one directory take turns under a lock that the system releases if the
// process dies, so a set's names never hold outputs of two runs. A commit that finds the
// lock held says so within a second, naming the lock's file, and gives up after
// kOutputsLockWaitSeconds; one whose lock's name holds something that cannot be the lock
// (a FIFO, a link, a directory, another user's file it may not open) is refused, before
// the transform and again at the commit, naming that file. A commit first writes and
// syncs a journal (".varlox.journal" in the directory, readable by its owner only) naming
// its temporaries and backups, and removes it when done; the next commit into that
// directory that finds one (its run was killed, or the power failed) finishes that commit
// first: it keeps the new set where every rename was done and puts the earlier set back
// otherwise, and removes the temporaries and backups.
//
// A journal is acted on only when it is the user's own: a regular file owned by the user
// the process runs as, writable by nobody else, with one link; every name it lists an
// output (a name ending in one of the set's known suffixes, all of one base), the hidden
// temporary and backup names this program forms from it, and every file it would remove
// or rename the user's own regular file (or, for a backup, link). Anything else is left
// alone, with a warning, and the commit goes without a journal (a journal of the user's
// own that is damaged is removed). The renames are synced to the disk before the commit
// reports success (POSIX: where the directory can be opened for reading): a failed sync
// before the first rename fails the commit with nothing changed; one after the last
// rename fails the run although the new set is in place, and leaves its journal and
// backups for the next commit to settle. A SIGKILL before the commit still leaves the
// temporaries; a directory that cannot be locked (its file system has no locks) is
// committed into without the lock and without the journal.
//
//   outputs_know(set, suffix)   records an output suffix of the program family, whose
//                               names a journal may list; -1 when kOutputsKnownMax are known
//   outputs_add(set, name, text)  adds an output (opened in text mode when `text` is
//                               set), nothing created yet; its number, or -1 when the
//                               set already holds kOutputsMax
//   outputs_create(set)         creates every temporary, in the order added. 0, or 1
//                               after "Error: Could not write to NAME\n" for the first
//                               output that cannot be made or whose name is a directory,
//                               or "Error: Could not write to NAME: " and the reason for
//                               the first output when the directory is append-only or
//                               immutable or its lock's name is taken by something else;
//                               then nothing is left behind
//   outputs_file(set, which)    the open temporary of one output
//   outputs_close(set, which)   puts it on the disk and closes it; 0, or 1 after the
//                               message when a write, the sync or the close failed
//   outputs_commit(set)         closes what is still open and renames every temporary onto
//                               its name (a link of that name is replaced, not followed);
//                               0, or 1 after the message, the temporaries removed and
//                               every name as before (but where the last sync failed:
//                               the new set is in place then). After 0 interrupts stay
//                               held until the process ends; an interrupt held during
//                               the commit ends the process, the names as before
//   outputs_discard(set)        closes and removes every temporary still there
//   outputs_remove_now()        removes the temporaries of the set being written; safe
//                               inside a signal handler, for an interrupted run
#pragma once

#include <array>
#include <cstdio>
#include <string>

constexpr int kOutputsMax = 8;
constexpr int kOutputsKnownMax = 16;
// How long a commit waits for a directory's lock held by another process. A commit holds
// it for a few syncs and renames, seconds at most, even where backups must be copied; a
// holder that keeps it far longer is stuck, or another user's process holding it on
// purpose.
constexpr int kOutputsLockWaitSeconds = 600;

struct OutputFile {
    std::string name;  // the final name
    bool text;         // opened in text mode
    std::string temp;  // the temporary, once created
    std::FILE* file;   // the open temporary; null when closed
    bool created;      // temporary on disk, not yet renamed
};

struct OutputSet {
    int count = 0;
    std::array<OutputFile, kOutputsMax> files{};
    // Every suffix of the outputs that the program family writes: the names a journal
    // found in the directory may list.
    std::array<const char*, kOutputsKnownMax> known{};
    int known_count = 0;
};

int outputs_add(OutputSet& set, const std::string& name, bool text);
int outputs_know(OutputSet& set, const char* suffix);
int outputs_create(OutputSet& set);
std::FILE* outputs_file(const OutputSet& set, int which);
int outputs_close(OutputSet& set, int which);
int outputs_commit(OutputSet& set);
void outputs_discard(OutputSet& set);
void outputs_remove_now();
