// The few operating-system calls the program cannot do without, kept in one place with a
// POSIX side (os_posix.cpp) and a Windows side (os_windows.cpp). Everything else the
// program does goes through the standard library. Paths are UTF-8 strings on both sides.
//
//   os_standard_streams()       opens standard input, output and error on the null device
//                               when the program was started with them closed, so that no
//                               file it opens later takes their place
//   os_console_setup()          prepares the console for UTF-8 text and the progress
//                               line's terminal escapes, and leaves standard error
//                               unbuffered (Windows); nothing elsewhere
//   os_stderr_is_terminal()     whether standard error is a terminal (on Windows: a
//                               console that takes the terminal escapes; needs
//                               os_console_setup first)
//   os_process_id()             the process's id, to make names unique to this run
//   os_processor_count()        the processors this process may run on (its affinity
//                               mask, not the machine's count); at least 1
//   os_create_new(path, text, owner_only)
//                               creates `path`, which must not exist yet (not even as a
//                               link), and opens it for writing in text or binary mode,
//                               readable and writable by its owner only when `owner_only`
//                               is set (else as the umask allows); null when it exists or
//                               cannot be created. Prints nothing
//   os_entry(path)              what the name `path` holds, without following a link and
//                               without opening it; kind kMissing when nothing (or when
//                               it cannot be looked at)
//   os_open_read(path, entry)   opens `path` for reading in binary mode without following
//                               a link and without waiting (a FIFO or a device at the
//                               name returns at once) and describes what it opened in
//                               `entry`, taken from the open file; the file only when it
//                               is a regular file, else null (then `entry` says what is
//                               there: kMissing when nothing could be opened or seen)
//   os_sync_file(file)          flushes an open file and has the system put its data on
//                               the disk; 0, or 1 when either failed. Prints nothing
//   os_sync_directory(dir)      has the system put the directory's entries (new, renamed
//                               and removed names) on the disk; 0, or 1 when the sync
//                               failed. Where the directory cannot be opened for reading
//                               (mode 0300) or its file system cannot sync a directory,
//                               nothing is done and 0 returned; on Windows os_rename
//                               writes through already. Prints nothing
//   os_rename(from, to)         renames a file onto `to`, replacing what is there (a link
//                               is replaced, not followed); true on success. Prints nothing
//   os_interrupts_install(fn)   on an interrupt (every signal whose default is to end
//                               the process and that can be caught: SIGINT, SIGTERM,
//                               SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2,
//                               SIGVTALRM, SIGPROF, SIGPWR, SIGSTKFLT, SIGIO, SIGTRAP,
//                               SIGSYS, SIGABRT, SIGBUS, SIGSEGV, SIGFPE, SIGILL and the
//                               real-time signals, as far as the system has them; on
//                               Windows Ctrl+C, Ctrl+Break or closing the console) calls
//                               fn, then ends the process by that same signal (on Windows
//                               with the Ctrl+C status, 0xC000013A); fn must be safe
//                               inside a signal handler, also after a fault. An interrupt
//                               that was ignored when the program started stays ignored.
//                               A write to a closed pipe or past a file-size limit fails
//                               like a full disk instead of ending the process (SIGPIPE
//                               and SIGXFSZ are ignored)
//   os_interrupts_hold()        delays interrupts until os_interrupts_release(), for a
//                               step that must not be cut in two
//   os_interrupt_pending()      whether an interrupt arrived while held and waits for the
//                               release (it will end the process then)
//   os_may_replace(path)        false when this process certainly may not replace or
//                               remove the existing entry `path`: its directory is not
//                               writable, it is another user's in a sticky directory, or
//                               it is immutable or append-only (Windows: read-only); true
//                               is no promise
//   os_directory_fixed(dir)     true when the directory is append-only or immutable, so
//                               that no name in it can be replaced or removed; false when
//                               it is not or that cannot be told (no read permission, a
//                               system without such attributes)
//   os_lock_try(dir)            one attempt, which never waits, at the exclusive lock of a
//                               directory that every process writing into it shares;
//                               the system releases it when the holder ends, however it
//                               ends. POSIX: a lock on the hidden regular file
//                               ".varlox.lock" in the directory (so it works without read
//                               permission on the directory), made readable by all for
//                               other users' runs, which os_unlock removes again; Windows:
//                               a named mutex. The state says what came of it: kHeld;
//                               kBusy while another process holds it; kUnusable when the
//                               name holds something that cannot be the lock (a FIFO, a
//                               link, a directory, a file this process may not open),
//                               described in `found`; kNone when the directory cannot be
//                               locked at all (the lock file cannot be made there, a file
//                               system without locks). Nothing is held but for kHeld
//   os_unlock(lock)             releases a held lock (and removes its file if it is still
//                               the one locked); any other does nothing
//   os_remove_now(path)         removes a file; safe inside a signal handler
//   os_write_stderr_now(text)   writes text to standard error unbuffered; safe inside a
//                               signal handler
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// What a name in a directory holds, as the system tells it without following a link.
enum class OsKind { kMissing, kRegular, kLink, kDirectory, kFifo, kOther };

struct OsEntry {
    OsKind kind = OsKind::kMissing;
    bool own = false;               // owned by the user the process runs as (Windows: true)
    bool others_may_write = false;  // writable by its group or by others (POSIX)
    unsigned long owner = 0;        // the owner's user id (POSIX)
    unsigned long links = 0;        // its hard links
};

enum class OsLockState { kHeld, kBusy, kUnusable, kNone };

struct OsLock {
    std::intptr_t handle = -1;  // the lock file's descriptor or the mutex; -1: none held
    std::string file;           // the lock file (POSIX), for messages; removed on release
    OsLockState state = OsLockState::kNone;
    OsEntry found;  // what holds the lock's name, for kUnusable
};

void os_standard_streams();
void os_console_setup();
bool os_stderr_is_terminal();
long os_process_id();
int os_processor_count();
std::FILE* os_create_new(const std::string& path, bool text, bool owner_only = false);
OsEntry os_entry(const std::string& path);
std::FILE* os_open_read(const std::string& path, OsEntry& entry);
int os_sync_file(std::FILE* file);
int os_sync_directory(const std::string& dir);
bool os_rename(const std::string& from, const std::string& to);
void os_interrupts_install(void (*on_interrupt)());
void os_interrupts_hold();
void os_interrupts_release();
bool os_interrupt_pending();
bool os_may_replace(const std::string& path);
bool os_directory_fixed(const std::string& dir);
OsLock os_lock_try(const std::string& dir);
void os_unlock(const OsLock& lock);
void os_remove_now(const char* path);
void os_write_stderr_now(const char* text);
