#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sched.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstring>

#include "system/os.h"
#include "system/path.h"

namespace {

// Every signal that ends the process by default and can be caught, but for SIGPIPE and
// SIGXFSZ, which are ignored so that the write that raised them fails instead; the
// real-time signals are added at run time (their range is only known then).
constexpr int kInterrupts[] = {
    SIGINT,    SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM,
    SIGPROF,   SIGTRAP, SIGSYS, SIGABRT, SIGBUS,  SIGSEGV, SIGFPE,  SIGILL,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGIO
    SIGIO,
#elif defined(SIGPOLL)
    SIGPOLL,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};

void (*g_on_interrupt)() = nullptr;

extern "C" void interrupted(int sig) {
    if (g_on_interrupt != nullptr) {
        g_on_interrupt();
    }
    // The signal is blocked while its handler runs: raised again with the default action,
    // it ends the process as soon as the handler returns, so the parent sees the signal.
    // After a fault the instruction would fault again anyway.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void interrupt_set(sigset_t* set) {
    sigemptyset(set);
    for (int sig : kInterrupts) {
        sigaddset(set, sig);
    }
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        sigaddset(set, sig);
    }
#endif
}

void interrupts_mask(int how) {
    sigset_t set;
    interrupt_set(&set);
    sigprocmask(how, &set, nullptr);
}

void install_one(int sig) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
        // A run started with the signal ignored (nohup, a background job) keeps ignoring it.
        return;
    }
    struct sigaction action {};
    action.sa_handler = interrupted;
    // Every other interrupt waits while the handler runs, so that it runs once.
    interrupt_set(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(sig, &action, nullptr);
}

OsEntry entry_of(const struct stat& st) {
    OsEntry entry;
    entry.kind = S_ISREG(st.st_mode)    ? OsKind::kRegular
                 : S_ISLNK(st.st_mode)  ? OsKind::kLink
                 : S_ISDIR(st.st_mode)  ? OsKind::kDirectory
                 : S_ISFIFO(st.st_mode) ? OsKind::kFifo
                                        : OsKind::kOther;
    entry.own = st.st_uid == geteuid();
    entry.others_may_write = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    entry.owner = static_cast<unsigned long>(st.st_uid);
    entry.links = static_cast<unsigned long>(st.st_nlink);
    return entry;
}

}  // namespace

void os_standard_streams() {
    // open() returns the lowest free descriptor, so going upwards from 0 refills each
    // closed one with the null device.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (got >= 0 && got != fd) {
                close(got);
            }
        }
    }
}

void os_console_setup() {}

bool os_stderr_is_terminal() {
    return isatty(2) != 0;
}

long os_process_id() {
    return static_cast<long>(getpid());
}

int os_processor_count() {
#ifdef __linux__
    // The mask grows until it holds every processor the kernel knows of.
    for (int size = 1024; size <= (1 << 20); size *= 2) {
        cpu_set_t* set = CPU_ALLOC(size);
        if (set == nullptr) break;
        const std::size_t bytes = CPU_ALLOC_SIZE(size);
        const int status = sched_getaffinity(0, bytes, set);
        const int count = status == 0 ? CPU_COUNT_S(bytes, set) : 0;
        CPU_FREE(set);
        if (status == 0) return count > 0 ? count : 1;
        if (errno != EINVAL) break;
    }
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 && online < (1 << 20) ? static_cast<int>(online) : 1;
}

std::FILE* os_create_new(const std::string& path, bool text, bool owner_only) {
    // O_EXCL also refuses an existing link, dangling or not: nothing is written through one.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, owner_only ? 0600 : 0666);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = fdopen(fd, text ? "w" : "wb");
    if (file == nullptr) {
        close(fd);
        unlink(path.c_str());
    }
    return file;
}

OsEntry os_entry(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? entry_of(st) : OsEntry{};
}

std::FILE* os_open_read(const std::string& path, OsEntry& entry) {
    // O_NONBLOCK: opening a FIFO with no writer, or some devices, would wait otherwise.
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // A link (ELOOP), or a name this process may not open: say what is there.
        entry = os_entry(path);
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        entry = OsEntry{};
        close(fd);
        return nullptr;
    }
    entry = entry_of(st);
    const int flags = fcntl(fd, F_GETFL);
    std::FILE* file = nullptr;
    if (entry.kind == OsKind::kRegular && flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
        file = fdopen(fd, "rb");
    }
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

int os_sync_file(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return 1;
    }
    while (fsync(fileno(file)) != 0) {
        // EINVAL: a file that cannot be synced (not a disk's); nothing is lost by it.
        if (errno == EINVAL) {
            return 0;
        }
        if (errno != EINTR) {
            return 1;
        }
    }
    return 0;
}

int os_sync_directory(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        // A directory that may be written and searched but not read (mode 0300) cannot be
        // opened: its renames' durability rests on the file system.
        return errno == EACCES || errno == EPERM ? 0 : 1;
    }
    int status = 0;
    while (fsync(fd) != 0) {
        if (errno == EINTR) {
            continue;
        }
        // EINVAL: a file system that cannot sync a directory. Any other error (EIO after a
        // failed write-back, say) means the entries may not be on the disk.
        status = errno == EINVAL ? 0 : 1;
        break;
    }
    close(fd);
    return status;
}

bool os_rename(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

void os_interrupts_install(void (*on_interrupt)()) {
    g_on_interrupt = on_interrupt;
    for (int sig : kInterrupts) {
        install_one(sig);
    }
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) {
        install_one(sig);
    }
#endif
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

void os_interrupts_hold() {
    interrupts_mask(SIG_BLOCK);
}

void os_interrupts_release() {
    interrupts_mask(SIG_UNBLOCK);
}

bool os_interrupt_pending() {
    sigset_t pending;
    sigset_t watched;
    if (sigpending(&pending) != 0) {
        return false;
    }
    interrupt_set(&watched);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sigismember(&watched, sig) == 1 && sigismember(&pending, sig) == 1) {
            return true;
        }
    }
    return false;
}

bool os_may_replace(const std::string& path) {
    struct stat file {};
    if (lstat(path.c_str(), &file) != 0) {
        return errno == ENOENT;
    }
    const std::size_t start = path_name_start(path);
    const std::string dir = start == 0 ? std::string(".") : path.substr(0, start);
    struct stat parent {};
    if (access(dir.c_str(), W_OK | X_OK) != 0 || stat(dir.c_str(), &parent) != 0) {
        return false;
    }
    // In a sticky directory only the file's owner, the directory's owner and root may
    // remove or replace a name.
    const uid_t me = geteuid();
    if ((parent.st_mode & S_ISVTX) != 0 && me != 0 && file.st_uid != me && parent.st_uid != me) {
        return false;
    }
#ifdef FS_IOC_GETFLAGS
    // Only regular files are opened: opening a device or a fifo could block or act.
    if (S_ISREG(file.st_mode)) {
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            int flags = 0;
            const bool fixed =
                ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
            close(fd);
            if (fixed) {
                return false;
            }
        }
    }
#endif
    return true;
}

bool os_directory_fixed(const std::string& dir) {
#ifdef FS_IOC_GETFLAGS
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    const bool fixed =
        ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
    close(fd);
    return fixed;
#else
    (void)dir;
    return false;
#endif
}

OsLock os_lock_try(const std::string& dir) {
    // A lock file, not the directory itself: a directory that may be written and searched
    // but not read (mode 0300) cannot be opened, and its lock would be skipped. Every
    // process opens the file read-only (flock needs no more), so that runs of other users
    // share it; it is made readable by all for them. A holder removes it when done, so a
    // process that gets the lock checks that the file it locked is still the one of that
    // name, and tries again otherwise.
    OsLock lock;
    lock.file = dir + "/.varlox.lock";
    for (int attempt = 0; attempt < 100; ++attempt) {
        // No link is followed, and opening a FIFO or a device does not wait.
        constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
        int fd = open(lock.file.c_str(), kFlags);
        bool made = false;
        if (fd < 0 && errno == ENOENT) {
            fd = open(lock.file.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
            made = fd >= 0;
            if (fd < 0 && errno != ENOENT && errno != EEXIST) {
                return lock;  // the lock cannot be made here (a directory not writable)
            }
        }
        if (fd < 0) {
            if (errno == ENOENT || errno == EEXIST) {
                continue;  // removed or made by another run meanwhile
            }
            // A link (ELOOP), or a file this process may not open (another user's, mode 0600).
            lock.found = os_entry(lock.file);
            lock.state = OsLockState::kUnusable;
            return lock;
        }
        struct stat held {};
        if (fstat(fd, &held) != 0) {
            close(fd);
            return lock;
        }
        if (!S_ISREG(held.st_mode)) {
            close(fd);
            lock.found = entry_of(held);
            lock.state = OsLockState::kUnusable;
            return lock;
        }
        if (made) {
            fchmod(fd, 0644);
        }
        int got = 0;
        while ((got = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (got != 0) {
            const bool busy = errno == EWOULDBLOCK;
            close(fd);
            if (busy) {
                lock.state = OsLockState::kBusy;
            }
            return lock;  // kNone: a file system without locks
        }
        struct stat now {};
        if (fstat(fd, &held) == 0 && stat(lock.file.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
            held.st_ino == now.st_ino) {
            lock.handle = fd;
            lock.state = OsLockState::kHeld;
            return lock;
        }
        close(fd);
    }
    return lock;
}

void os_unlock(const OsLock& lock) {
    if (lock.state != OsLockState::kHeld || lock.handle == -1) {
        return;
    }
    // Removed while still held: a waiter that locked it meanwhile sees it gone. Only the
    // file locked is removed, not one that took its name since. Where it cannot be removed
    // (another user's, in a sticky directory) it stays for reuse.
    const int fd = static_cast<int>(lock.handle);
    struct stat held {};
    struct stat now {};
    if (fstat(fd, &held) == 0 && lstat(lock.file.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
        held.st_ino == now.st_ino) {
        unlink(lock.file.c_str());
    }
    close(fd);
}

void os_remove_now(const char* path) {
    unlink(path);
}

void os_write_stderr_now(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = write(2, text, left);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return;
        }
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}
