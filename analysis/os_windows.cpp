#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <csignal>
#include <cstring>
#include <string>

#include "analysis/os.h"

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGBREAK};

void (*g_on_interrupt)() = nullptr;

std::wstring widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    }
    return wide;
}

extern "C" void interrupted(int sig) {
    if (g_on_interrupt != nullptr) {
        g_on_interrupt();
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void os_standard_streams() {}

void os_console_setup() {
    SetConsoleOutputCP(CP_UTF8);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode)) {
        SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool os_stderr_is_terminal() { return _isatty(2) != 0; }

long os_process_id() { return static_cast<long>(_getpid()); }

std::FILE* os_create_new(const std::string& path, bool text) {
    const int fd = _wopen(widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | (text ? _O_TEXT : _O_BINARY),
                          _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, text ? "w" : "wb");
    if (file == nullptr) {
        _close(fd);
        _wunlink(widen(path).c_str());
    }
    return file;
}

void os_interrupts_install(void (*on_interrupt)()) {
    g_on_interrupt = on_interrupt;
    for (int sig : kInterrupts) {
        if (std::signal(sig, interrupted) == SIG_IGN) {
            std::signal(sig, SIG_IGN);
        }
    }
}

// The console's break handler runs on a thread of its own; there is nothing to hold.
void os_interrupts_hold() {}

void os_interrupts_release() {}

void os_remove_now(const char* path) { _wunlink(widen(path).c_str()); }

void os_write_stderr_now(const char* text) {
    _write(2, text, static_cast<unsigned>(std::strlen(text)));
}
