// Helpers shared by the tests: a scratch directory, whole-file reads and writes, BMP
// bytes built field by field (independently of the writer under test), and a way to run
// the executable and capture what it prints.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testutil {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary directory, removed with its contents.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const;
    std::filesystem::path root;
};

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
void write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);

// How often `what` occurs in `text` (a program's one message is one "Error: "), and
// whether `text` ends with `tail` (where a program's last message must stand).
std::size_t count_of(const std::string& text, const std::string& what);
bool ends_with(const std::string& text, const std::string& tail);

void put_le16(Bytes& b, std::size_t at, uint32_t v);
void put_le32(Bytes& b, std::size_t at, uint32_t v);

// Header fields of a BMP file made for a test; the defaults describe a valid file.
struct BmpFields {
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t offset = 54;
};

// A BMP file: header from `f`, then `f.height` rows (bottom row first) of
// width*3 pixel bytes taken from `top_down` (top row first, no padding) plus zero fill.
Bytes make_bmp(const BmpFields& f, const Bytes& top_down);

// Deterministic pixel bytes in which every channel of every pixel differs.
Bytes pattern_pixels(uint32_t width, uint32_t height, uint32_t seed = 1);

// A grey BMP picture of side n: level(row, col) in all three channels of each pixel.
template <class F>
Bytes grey_bmp(int n, F level) {
    Bytes px(std::size_t(n) * n * 3);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            for (int ch = 0; ch < 3; ++ch) px[(std::size_t(r) * n + c) * 3 + ch] = level(r, c);
    return make_bmp({n, n}, px);
}

// A binary PGM of side n with maxval 65535: level(row, col) in two bytes, high byte first,
// rows from the top.
template <class F>
Bytes pgm16(int n, F level) {
    const std::string header = "P5\n" + std::to_string(n) + " " + std::to_string(n) + "\n65535\n";
    Bytes b(header.begin(), header.end());
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            const uint32_t v = level(r, c);
            b.push_back(static_cast<uint8_t>(v >> 8));
            b.push_back(static_cast<uint8_t>(v));
        }
    return b;
}

// A text file's contents as the program meant them: on Windows, where text mode writes
// each line end as carriage return and line feed, those pairs become "\n", and a bare
// line feed (a line end written in binary mode) shows as "<LF>\n" so that comparisons
// catch it. Elsewhere the text is returned unchanged.
std::string from_text_mode(const std::string& text);

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string err;  // everything it printed on standard error (through from_text_mode)
    std::string out;  // everything it printed on standard output (through from_text_mode)
};

// Runs `exe` with `args` in directory `cwd`, with `env` ("NAME=value") added to the
// environment. In a build for another architecture the build's own programs (those under
// the build directory) run through the emulator.
RunResult run_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                      const std::vector<std::string>& env = {});

// What starts one of the build's own programs from sh: empty natively; in a build for
// another architecture the emulator's command and a space.
std::string emulator_prefix();

// Every entry of a directory (not recursive) with its bytes; directories, links (with
// their target), FIFOs and devices map to a marker, so two snapshots are equal only when
// nothing in the directory changed. Nothing but regular files is opened.
using Snapshot = std::map<std::string, Bytes>;
Snapshot snapshot(const std::filesystem::path& dir);

// "name (size bytes)" for each entry, for failure messages.
std::string listing(const Snapshot& entries);

#ifndef _WIN32
// Starts `exe` with `args` in directory `cwd` without waiting for it, standard input and
// output on the null device and standard error into the file `err_path`; its process id.
int start_program(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                  const std::string& err_path);

// Waits for a started program: its exit status, or the signal that ended it.
struct Ended {
    int status = -1;         // exit status, or -1 when a signal ended it
    int signal = 0;          // the signal that ended it, or 0
    double cpu_seconds = 0;  // processor time it used, user and system
};
Ended wait_program(int pid);
#endif

}  // namespace testutil
