// The progress line: shown on a terminal only, for a long transform, and erased without
// a trace before the next message, also by an interrupt; off a terminal the run's text is
// as without it, byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "system/progress.h"
#include "tests/test_util.h"

namespace {

using testutil::TempDir;

// What a terminal shows after receiving `bytes`: "\r" returns to the start of the line,
// "\033[K" erases from the cursor to the end of the line, "\n" starts a new line.
std::string screen_after(const std::string& bytes) {
    std::vector<std::string> lines(1);
    std::size_t col = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char ch = bytes[i];
        if (ch == '\r') {
            col = 0;
        } else if (ch == '\n') {
            lines.emplace_back();
            col = 0;
        } else if (ch == '\033' && bytes.compare(i, 3, "\033[K") == 0) {
            lines.back().resize(col);
            i += 2;
        } else {
            std::string& line = lines.back();
            if (col < line.size())
                line[col] = ch;
            else
                line += ch;
            ++col;
        }
    }
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) text += lines[i] + (i + 1 < lines.size() ? "\n" : "");
    return text;
}

TEST(ProgressLine, EndLeavesNoTraceBeforeTheNextMessage) {
    // A run's transform reports its progress, then the run ends the line and prints its
    // next message, or an interrupt erases the line (what the handler does, twice here, as
    // a second signal may come). On a terminal a long run shows the line; whatever was
    // shown is erased exactly once, and the screen then holds the message alone.
    struct Case {
        const char* what;
        bool terminal;
        bool long_run;
        bool shown;        // whether the line is expected on the screen before the end
        bool interrupted;  // erased by the interrupt handler instead of ended
    };
    const Case cases[] = {
        {"long run on a terminal", true, true, true, false},
        {"short run on a terminal", true, false, false, false},
        {"long run, not a terminal", false, true, false, false},
        {"long run on a terminal, interrupted", true, true, true, true},
    };
    const std::string erase = "\r\033[K";
    const std::string next = "Error: Could not write to x.csv\n";
    for (const Case& c : cases) {
        ProgressLine line{};
        progress_begin(line);
        line.terminal = c.terminal;
        testing::internal::CaptureStderr();
        progress_report(&line, 0.001);
        if (c.long_run) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            progress_report(&line, 0.002);  // on this pace the whole takes minutes
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            progress_report(&line, 0.004);  // drawn again
        } else {
            progress_report(&line, 1.0);
        }
        const bool on_screen = line.shown;
        const std::string shown = testing::internal::GetCapturedStderr();
        testing::internal::CaptureStderr();
        if (c.interrupted) {
            progress_erase_now();
            progress_erase_now();
        } else {
            progress_end(line);
        }
        std::fputs(next.c_str(), stderr);
        const std::string ending = testing::internal::GetCapturedStderr();
        EXPECT_EQ(on_screen, c.shown) << c.what;
        EXPECT_EQ(c.shown, !shown.empty()) << c.what << ": " << shown;
        EXPECT_EQ(ending, (c.shown ? erase : "") + next) << c.what;
        EXPECT_EQ(screen_after(shown + ending), next) << c.what << ": " << shown + ending;
    }
}

TEST(ProgressLine, AppearsOnATerminalAndLeavesNoTrace) {
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
    TempDir dir;
    const auto made = testutil::run_program(MAKE_SAMPLE_EXE, {"in.bmp", "2048"}, dir.root.string());
    ASSERT_EQ(made.status, 0) << made.err;
    // The same run without a terminal: the usual text, byte for byte.
    const auto plain = testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err.find('\r'), std::string::npos);
    EXPECT_EQ(plain.err.find("% done"), std::string::npos);
    // Under script(1) standard error is a pseudo-terminal; script copies what it shows.
    const auto start = std::chrono::steady_clock::now();
    const auto tty = testutil::run_program(
        "script", {"-qfec", std::string("'") + VARLOX_EXE + "' in.bmp", "/dev/null"}, dir.root.string());
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(tty.status, 0) << tty.out;
    std::string shown = tty.out;
    // The terminal turns each line end into carriage return and line feed.
    for (std::size_t at; (at = shown.find("\r\n")) != std::string::npos;) shown.replace(at, 2, "\n");
    EXPECT_EQ(screen_after(shown), plain.err);
    if (took > 3.0) {
        EXPECT_NE(tty.out.find("% done"), std::string::npos) << "a " << took << " s run showed no progress";
    }
}

}  // namespace
