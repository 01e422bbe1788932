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
    SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
    SIGTRAP, SIGSYS,  SIGABRT, SIGBUS,  SIGSEGV, SIGFPE,  SIGILL,
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

bool os_stderr_is_terminal() { return isatty(2) != 0; }

long os_process_id() { return static_cast<long>(getpid()); }

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

std::FILE* os_create_new(const std::string& path, bool text) {
    // O_EXCL also refuses an existing link, dangling or not: nothing is written through one.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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

void os_sync_directory(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        while (fsync(fd) != 0 && errno == EINTR) {
        }
        close(fd);
    }
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

void os_interrupts_hold() { interrupts_mask(SIG_BLOCK); }

void os_interrupts_release() { interrupts_mask(SIG_UNBLOCK); }

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
            const bool fixed = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                               (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
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
    const bool fixed = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                       (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
    close(fd);
    return fixed;
#else
    (void)dir;
    return false;
#endif
}

OsLock os_lock_directory(const std::string& dir) {
    // A lock file, not the directory itself: a directory that may be written and searched
    // but not read (mode 0300) cannot be opened, and its lock would be skipped. Every
    // process opens the file read-only (flock needs no more), so that runs of other users
    // share it; it is made readable by all for them. A holder removes it when done, so a
    // waiter that gets the lock checks that the file it locked is still the one of that
    // name, and starts again otherwise.
    const std::string file = dir + "/.varlox.lock";
    for (int attempt = 0; attempt < 100; ++attempt) {
        // No link is followed and nothing but a regular file is kept (a fifo would block).
        constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = open(file.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT) {
            fd = open(file.c_str(), kFlags | O_CREAT | O_EXCL, 0644);
            if (fd >= 0) {
                fchmod(fd, 0644);
            }
        }
        if (fd < 0) {
            if (errno == ENOENT || errno == EEXIST) {
                continue;  // removed or made by another run meanwhile
            }
            return OsLock{};
        }
        struct stat held {};
        if (fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            close(fd);
            return OsLock{};
        }
        int got = 0;
        while ((got = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        struct stat now {};
        if (got == 0 && fstat(fd, &held) == 0 && stat(file.c_str(), &now) == 0 &&
            held.st_dev == now.st_dev && held.st_ino == now.st_ino) {
            return OsLock{fd, file};
        }
        close(fd);
        if (got != 0) {
            return OsLock{};
        }
    }
    return OsLock{};
}

void os_unlock(const OsLock& lock) {
    if (lock.handle != -1) {
        // Removed while still held: a waiter that locked it meanwhile sees it gone. Where
        // it cannot be removed (another user's, in a sticky directory) it stays for reuse.
        unlink(lock.file.c_str());
        close(static_cast<int>(lock.handle));
    }
}

void os_remove_now(const char* path) { unlink(path); }

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
