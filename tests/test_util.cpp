#include "tests/test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testutil {

#ifdef _WIN32
TempDir::TempDir() {
    // create_directory is false for a name that exists already: try the next one.
    static std::mt19937 gen(std::random_device{}());
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        root = std::filesystem::temp_directory_path() / ("varlox-test-" + std::to_string(gen()));
        if (std::filesystem::create_directory(root, ec)) return;
    }
    throw std::runtime_error("no temporary directory");
}
#else
TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "varlox-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    root = tmpl;
}
#endif

TempDir::~TempDir() {
    std::error_code ec;
    // Undo any read-only permissions a test left, then remove everything.
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ec);
    std::filesystem::remove_all(root, ec);
}

std::string TempDir::path(const std::string& name) const {
    return (root / name).string();
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text(const std::string& path, const std::string& text) {
    write_file(path, Bytes(text.begin(), text.end()));
}

std::string read_text(const std::string& path) {
    const Bytes b = read_file(path);
    return std::string(b.begin(), b.end());
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void put_le16(Bytes& b, std::size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put_le32(Bytes& b, std::size_t at, uint32_t v) {
    put_le16(b, at, v);
    put_le16(b, at + 2, v >> 16);
}

Bytes make_bmp(const BmpFields& f, const Bytes& top_down) {
    const std::size_t w = f.width > 0 ? static_cast<std::size_t>(f.width) : 0;
    const std::size_t h = f.height > 0 ? static_cast<std::size_t>(f.height) : 0;
    const std::size_t row = w * 3;
    const std::size_t stride = (row + 3) / 4 * 4;
    const std::size_t start = f.offset < 54 ? 54 : f.offset;
    Bytes b(start + stride * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b, 2, static_cast<uint32_t>(b.size()));
    put_le32(b, 10, f.offset);
    put_le32(b, 14, 40);
    put_le32(b, 18, static_cast<uint32_t>(f.width));
    put_le32(b, 22, static_cast<uint32_t>(f.height));
    put_le16(b, 26, 1);
    put_le16(b, 28, f.bits);
    put_le32(b, 30, f.compression);
    put_le32(b, 34, static_cast<uint32_t>(stride * h));
    // Anything between the 54-byte header and the pixel offset is marked so that a
    // reader that starts too early shows it.
    for (std::size_t i = 54; i < start; ++i) b[i] = 0xEE;
    for (std::size_t i = 0; i < h && !top_down.empty(); ++i) {
        const std::size_t src = (h - 1 - i) * row;
        for (std::size_t j = 0; j < row; ++j) b[start + i * stride + j] = top_down[src + j];
    }
    return b;
}

Bytes pattern_pixels(uint32_t width, uint32_t height, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes px(std::size_t{width} * height * 3);
    for (auto& v : px) v = static_cast<uint8_t>(gen());
    return px;
}

std::string emulator_prefix() {
#ifdef VARLOX_EMULATOR
    return VARLOX_EMULATOR " ";
#else
    return "";
#endif
}

namespace {

// Whether `exe` is one of the build's own programs.
[[maybe_unused]] bool is_built(const std::string& exe) {
    const std::string dir = VARLOX_BINARY_DIR "/";
    return exe.compare(0, dir.size(), dir) == 0;
}

}  // namespace

std::string from_text_mode(const std::string& text) {
#ifdef _WIN32
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += "<LF>";
        lines += text[i];
    }
    return lines;
#else
    return text;
#endif
}

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// One argument of a command line as the C runtime splits it again: quoted, with the
// backslashes before a quote (and before the closing quote) doubled.
std::wstring quote_arg(const std::wstring& arg) {
    std::wstring q = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
        } else {
            if (c == L'"') q.append(slashes + 1, L'\\');
            slashes = 0;
        }
        q += c;
    }
    q.append(slashes, L'\\');
    return q + L"\"";
}

HANDLE inheritable(const std::wstring& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &sa, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

RunResult run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& env) {
    TempDir capture;
    std::wstring cmd = quote_arg(widen(exe));
    for (const auto& a : args) cmd += L" " + quote_arg(widen(a));
    // The child inherits the environment: set the additions for its start, then restore.
    struct Saved {
        std::wstring name, value;
        bool was_set;
    };
    std::vector<Saved> saved;
    for (const auto& e : env) {
        const std::wstring w = widen(e);
        const std::size_t eq = w.find(L'=');
        const std::wstring name = w.substr(0, eq);
        wchar_t old[32768];
        const DWORD n = GetEnvironmentVariableW(name.c_str(), old, 32768);
        saved.push_back({name, std::wstring(old, n < 32768 ? n : 0), n > 0 && n < 32768});
        SetEnvironmentVariableW(name.c_str(), w.substr(eq + 1).c_str());
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inheritable(L"NUL", false);
    si.hStdOutput = inheritable(widen(capture.path("out")), true);
    si.hStdError = inheritable(widen(capture.path("err")), true);
    PROCESS_INFORMATION pi{};
    const std::wstring dir = widen(cwd);
    RunResult r;
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(), &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        // Codes from 0xC0000000 up are exceptions (a crash), not exit statuses.
        r.status = code >= 0xC0000000u ? -1 : static_cast<int>(code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(si.hStdInput);
    CloseHandle(si.hStdOutput);
    CloseHandle(si.hStdError);
    for (const Saved& v : saved) {
        SetEnvironmentVariableW(v.name.c_str(), v.was_set ? v.value.c_str() : nullptr);
    }
    r.err = from_text_mode(read_text(capture.path("err")));
    r.out = from_text_mode(read_text(capture.path("out")));
    return r;
}

#else

namespace {

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

}  // namespace

RunResult run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& env) {
    TempDir capture;
    std::string cmd = "cd " + quote(cwd) + " && exec env";
    for (const auto& e : env) cmd += " " + quote(e);
    if (is_built(exe)) cmd += " " + emulator_prefix();
    cmd += " " + quote(exe);
    for (const auto& a : args) cmd += " " + quote(a);
    cmd += " 2>" + quote(capture.path("err")) + " >" + quote(capture.path("out")) + " </dev/null";
    const int raw = std::system(cmd.c_str());
    RunResult r;
    if (raw != -1 && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    r.err = read_text(capture.path("err"));
    r.out = read_text(capture.path("out"));
    return r;
}

#endif

Snapshot snapshot(const std::filesystem::path& dir) {
    Snapshot entries;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        const auto type = e.symlink_status().type();
        if (type == std::filesystem::file_type::symlink) {
            const std::string target = "link to " + std::filesystem::read_symlink(e.path()).string();
            entries[name] = Bytes(target.begin(), target.end());
        } else if (type == std::filesystem::file_type::directory) {
            entries[name] = Bytes{'d', 'i', 'r'};
        } else if (type != std::filesystem::file_type::regular) {
            // A FIFO or device is not opened: reading it could wait for ever.
            entries[name] = Bytes{'s', 'p', 'e', 'c', 'i', 'a', 'l'};
        } else {
            entries[name] = read_file(e.path().string());
        }
    }
    return entries;
}

std::string listing(const Snapshot& entries) {
    std::string text;
    for (const auto& [name, bytes] : entries) text += name + " (" + std::to_string(bytes.size()) + " bytes) ";
    return text;
}

#ifndef _WIN32
int start_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                  const std::string& err_path) {
    std::vector<std::string> argv_text;
    if (is_built(exe)) {
        // The emulator's command, split at its spaces, runs the program.
        std::istringstream emulator(emulator_prefix());
        for (std::string word; emulator >> word;) argv_text.push_back(word);
    }
    argv_text.push_back(exe);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDWR);
        const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (null_fd < 0 || err_fd < 0 || chdir(cwd.c_str()) != 0) _exit(127);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(err_fd, 2);
        // The program decides for itself what to do with these; start it as a shell would
        // start a foreground job, whatever this process inherited.
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
        }
        // Signals whose default dumps core must not leave a core file in the test's folder.
        const struct rlimit no_core { 0, 0 };
        setrlimit(RLIMIT_CORE, &no_core);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return static_cast<int>(pid);
}

Ended wait_program(int pid) {
    int raw = 0;
    Ended e;
    struct rusage usage {};
    if (wait4(pid, &raw, 0, &usage) != pid) return e;
    e.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (WIFEXITED(raw)) e.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) e.signal = WTERMSIG(raw);
    return e;
}
#endif

}  // namespace testutil
