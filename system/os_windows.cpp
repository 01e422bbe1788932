#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/os.h"

// Paths arrive as UTF-8 and are converted to UTF-16 for the wide-character calls, so any
// name works whatever the ANSI code page (varlox.exe's manifest also makes that UTF-8).

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace {

void (*g_on_interrupt)() = nullptr;

// The main thread, suspended by the console's interrupt handler (which Windows runs on a
// thread of its own) before it removes anything.
HANDLE g_main_thread = nullptr;

// Held by os_interrupts_hold; the interrupt handler waits for it.
CRITICAL_SECTION g_hold;

// Set by the interrupt handler before it waits for a held step, for os_interrupt_pending.
volatile LONG g_interrupt_waiting = 0;
const bool g_hold_ready = [] {
    InitializeCriticalSection(&g_hold);
    return true;
}();

// The console's state before os_console_setup, put back when the process ends.
UINT g_old_output_cp = 0;
HANDLE g_console_err = INVALID_HANDLE_VALUE;
DWORD g_old_err_mode = 0;
bool g_err_mode_changed = false;
bool g_err_terminal = false;

void console_restore() {
    if (g_err_mode_changed) {
        SetConsoleMode(g_console_err, g_old_err_mode);
        g_err_mode_changed = false;
    }
    if (g_old_output_cp != 0) {
        SetConsoleOutputCP(g_old_output_cp);
        g_old_output_cp = 0;
    }
}

// UTF-8 to UTF-16 into a fixed buffer, without allocating (for the interrupt handler);
// false when the path does not fit.
bool widen_fixed(const char* text, wchar_t* out, int capacity) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, out, capacity);
    return n > 0;
}

std::wstring widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    }
    return wide;
}

BOOL WINAPI console_interrupt(DWORD) {
    // A step held by os_interrupts_hold finishes first; the main thread then stops where
    // it is, so nothing it does races with the removal.
    InterlockedExchange(&g_interrupt_waiting, 1);
    EnterCriticalSection(&g_hold);
    if (g_main_thread != nullptr) {
        SuspendThread(g_main_thread);
    }
    if (g_on_interrupt != nullptr) {
        g_on_interrupt();
    }
    console_restore();
    // The status Windows gives a process ended by Ctrl+C. TerminateProcess, unlike exit,
    // takes no lock the suspended thread might hold.
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

void os_standard_streams() {
    // A program started without a standard handle has nothing behind that descriptor;
    // the null device takes its place, so that no file opened later does. (Asking the C
    // library about a closed descriptor would end the process with some runtimes.)
    (void)g_hold_ready;
    const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd <= 2; ++fd) {
        const HANDLE h = GetStdHandle(ids[fd]);
        if (h == nullptr || h == INVALID_HANDLE_VALUE) {
            const int got = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
            if (got >= 0 && got != fd) {
                _dup2(got, fd);
                _close(got);
            }
        }
    }
}

void os_console_setup() {
    // The Windows C library buffers standard error written to a file or pipe; messages
    // must be out at once, as elsewhere, and survive an interrupt that ends the process.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    // The program writes UTF-8 (file names in messages); the console shows it as such.
    const UINT old_cp = GetConsoleOutputCP();
    if (old_cp != 0 && old_cp != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        g_old_output_cp = old_cp;
    }
    // The progress line needs the terminal escapes; without them it is not shown.
    g_console_err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (g_console_err != INVALID_HANDLE_VALUE && g_console_err != nullptr &&
        GetConsoleMode(g_console_err, &mode)) {
        if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
            g_err_terminal = true;
        } else if (SetConsoleMode(g_console_err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
            g_old_err_mode = mode;
            g_err_mode_changed = true;
            g_err_terminal = true;
        }
    }
    std::atexit(console_restore);
}

bool os_stderr_is_terminal() {
    return g_err_terminal;
}

long os_process_id() {
    return static_cast<long>(_getpid());
}

int os_processor_count() {
    // The mask covers the process's processor group (up to 64 processors).
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        int count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

std::FILE* os_create_new(const std::string& path, bool text, bool) {
    // CREATE_NEW refuses any existing name, links included. Sharing deletion lets an
    // interrupted run remove the file while it is still open.
    const HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | (text ? _O_TEXT : _O_BINARY));
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(widen(path).c_str());
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, text ? "w" : "wb");
    if (file == nullptr) {
        _close(fd);
        DeleteFileW(widen(path).c_str());
    }
    return file;
}

int os_sync_file(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return 1;
    }
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return h != INVALID_HANDLE_VALUE && FlushFileBuffers(h) ? 0 : 1;
}

// A directory cannot be flushed here; os_rename writes each rename through instead.
int os_sync_directory(const std::string&) {
    return 0;
}

// Windows folders are not shared the way a POSIX sticky directory is, and a file's owner
// is often a group (Administrators) rather than the user: every entry counts as the
// user's own. A reparse point (a symbolic link or junction) counts as a link.
OsEntry os_entry(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    OsEntry entry;
    if (!GetFileAttributesExW(widen(path).c_str(), GetFileExInfoStandard, &data)) {
        return entry;
    }
    const DWORD a = data.dwFileAttributes;
    entry.kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? OsKind::kLink
                 : (a & FILE_ATTRIBUTE_DIRECTORY) != 0   ? OsKind::kDirectory
                                                         : OsKind::kRegular;
    entry.own = true;
    entry.links = 1;
    return entry;
}

std::FILE* os_open_read(const std::string& path, OsEntry& entry) {
    // The link itself is opened, not its target, so that what is described is what is read.
    const HANDLE h =
        CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    entry = OsEntry{};
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) {
        CloseHandle(h);
        return nullptr;
    }
    const DWORD a = info.dwFileAttributes;
    entry.kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? OsKind::kLink
                 : (a & FILE_ATTRIBUTE_DIRECTORY) != 0   ? OsKind::kDirectory
                 : GetFileType(h) == FILE_TYPE_DISK      ? OsKind::kRegular
                                                         : OsKind::kOther;
    entry.own = true;
    entry.links = info.nNumberOfLinks;
    if (entry.kind != OsKind::kRegular) {
        CloseHandle(h);
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (file == nullptr) {
        _close(fd);
    }
    return file;
}

bool os_rename(const std::string& from, const std::string& to) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void os_interrupts_install(void (*on_interrupt)()) {
    g_on_interrupt = on_interrupt;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_main_thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    // Ctrl+C, Ctrl+Break and closing the console. A process started with Ctrl+C ignored
    // (a new process group) still ignores it: Windows then does not call the handler.
    SetConsoleCtrlHandler(console_interrupt, TRUE);
}

void os_interrupts_hold() {
    EnterCriticalSection(&g_hold);
}

void os_interrupts_release() {
    LeaveCriticalSection(&g_hold);
}

bool os_interrupt_pending() {
    return InterlockedCompareExchange(&g_interrupt_waiting, 0, 0) != 0;
}

bool os_may_replace(const std::string& path) {
    // A read-only file cannot be replaced by a rename.
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// Windows has no append-only directories; a read-only attribute on a directory does not
// keep names in it from being replaced.
bool os_directory_fixed(const std::string&) {
    return false;
}

OsLock os_lock_try(const std::string& dir) {
    // A named mutex stands for the directory: its name is a hash of the directory's full
    // path in upper case (names are case-insensitive there), so every process that writes
    // into that directory asks for the same one. Windows releases it when its holder ends;
    // the next waiter then gets it as abandoned, which is as good.
    std::wstring wide = widen(dir);
    wchar_t full[32768];
    const DWORD n = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
    if (n > 0 && n < 32768) {
        wide.assign(full, n);
    }
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) {
        wide.pop_back();  // C:\scans\ and C:\scans are the same directory
    }
    if (!wide.empty()) {
        std::wstring upper(wide.size(), L'\0');
        const int len = static_cast<int>(wide.size());
        if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.data(), len, upper.data(), len) == len) {
            wide = upper;
        }
    }
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (wchar_t ch : wide) {
        if (ch == L'/') ch = L'\\';
        hash = (hash ^ static_cast<uint64_t>(ch)) * 1099511628211ull;
    }
    std::wstring name = L"Local\\varlox-dir-";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += L"0123456789abcdef"[(hash >> shift) & 15];
    }
    OsLock lock;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
        return lock;
    }
    const DWORD got = WaitForSingleObject(mutex, 0);
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
        CloseHandle(mutex);
        lock.state = got == WAIT_TIMEOUT ? OsLockState::kBusy : OsLockState::kNone;
        return lock;
    }
    lock.handle = reinterpret_cast<std::intptr_t>(mutex);
    lock.state = OsLockState::kHeld;
    return lock;
}

void os_unlock(const OsLock& lock) {
    if (lock.state == OsLockState::kHeld && lock.handle != -1) {
        const HANDLE mutex = reinterpret_cast<HANDLE>(lock.handle);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
}

void os_remove_now(const char* path) {
    wchar_t wide[32768];
    if (widen_fixed(path, wide, 32768)) {
        DeleteFileW(wide);
    }
}

void os_write_stderr_now(const char* text) {
    // Straight to the handle, bypassing the C library and its locks; line feeds become
    // CR LF as text mode would write them.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    char chunk[256];
    std::size_t used = 0;
    for (const char* p = text;; ++p) {
        if (*p == '\0' || used + 2 > sizeof chunk) {
            DWORD written = 0;
            WriteFile(err, chunk, static_cast<DWORD>(used), &written, nullptr);
            used = 0;
            if (*p == '\0') {
                break;
            }
        }
        if (*p == '\n') {
            chunk[used++] = '\r';
        }
        chunk[used++] = *p;
    }
}
