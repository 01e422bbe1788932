// What the libFuzzer targets of the readers share: each input is written to a real file,
// the reader's messages are caught in a file of their own while it runs, and a broken
// promise aborts with a line on the real standard error, where libFuzzer reports.
//
//   fuzz_setup(name)           the input and message files for target `name`; call once
//                              from LLVMFuzzerInitialize
//   fuzz_fail(what)            reports `what` and aborts
//   fuzz_write_input(d, size)  writes the input to its file; false when it cannot
//   fuzz_capture_begin()       sends standard error into the message file, emptied
//   fuzz_capture_end()         sends it back and returns what was caught
//   fuzz_check_refusal(err)    a refusal's messages: exactly one, starting "Error: "
//   fuzz_input_path()          the input's file
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz {

inline std::string g_name;   // the target's name, for its failure lines
inline std::string g_input;  // the file each input is written to
inline int g_err_fd = -1;    // standard error goes into this file while the reader runs
inline int g_saved_fd = -1;  // the real standard error

}  // namespace fuzz

inline void fuzz_fail(const char* what) {
    const std::string line = fuzz::g_name + ": " + what + "\n";
    (void)!write(fuzz::g_saved_fd, line.data(), line.size());
    std::abort();
}

inline void fuzz_setup(const char* name) {
    fuzz::g_name = name;
    const std::string stem = std::string("/tmp/varlox-") + name + "-" + std::to_string(getpid());
    fuzz::g_input = stem + ".in";
    const std::string err = stem + ".err";
    fuzz::g_err_fd = open(err.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    fuzz::g_saved_fd = dup(2);
    if (fuzz::g_err_fd < 0 || fuzz::g_saved_fd < 0) std::abort();
    unlink(err.c_str());
}

inline const std::string& fuzz_input_path() {
    return fuzz::g_input;
}

inline bool fuzz_write_input(const uint8_t* data, std::size_t size) {
    FILE* f = std::fopen(fuzz::g_input.c_str(), "wb");
    if (f == nullptr) return false;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return true;
}

inline void fuzz_capture_begin() {
    if (ftruncate(fuzz::g_err_fd, 0) != 0) std::abort();
    lseek(fuzz::g_err_fd, 0, SEEK_SET);
    std::fflush(stderr);
    dup2(fuzz::g_err_fd, 2);
}

inline std::string fuzz_capture_end() {
    std::fflush(stderr);
    std::string text;
    char buf[4096];
    lseek(fuzz::g_err_fd, 0, SEEK_SET);
    ssize_t got = 0;
    while ((got = read(fuzz::g_err_fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(got));
    dup2(fuzz::g_saved_fd, 2);
    return text;
}

inline void fuzz_check_refusal(const std::string& err) {
    if (err.rfind("Error: ", 0) != 0) fuzz_fail("refusal without an Error: message");
    if (err.find("Error: ", 1) != std::string::npos) fuzz_fail("more than one message");
}
