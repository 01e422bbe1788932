#include "system/progress.h"

#include <csignal>
#include <cstdio>

#include "system/os.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kShowAbove = 2.0;        // seconds of expected total before the line appears
constexpr double kFirstGuessAfter = 0.2;  // seconds of work before the total is estimated
constexpr double kRedrawEvery = 0.25;     // seconds between redraws

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Carriage return, then erase to the end of the line.
constexpr const char* kErase = "\r\033[K";

// Whether a line is on the screen now, for a signal handler that must erase it.
volatile std::sig_atomic_t g_on_screen = 0;

}  // namespace

void progress_begin(ProgressLine& line) {
    line.terminal = os_stderr_is_terminal();
    line.shown = false;
    line.start = Clock::now();
    line.last = line.start;
    line.has_base = false;
    line.base_done = 0;
    line.base = line.start;
}

void progress_report(void* context, double done) {
    auto& line = *static_cast<ProgressLine*>(context);
    if (!line.terminal || done <= 0) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (!line.has_base) {
        line.has_base = true;
        line.base_done = done;
        line.base = now;
        return;
    }
    const double measured = seconds(now - line.base);
    const double per_unit = measured / (done - line.base_done);
    const double left = per_unit * (1 - done);
    if (!line.shown) {
        const double total = seconds(now - line.start) + left;
        if (measured < kFirstGuessAfter || total <= kShowAbove || done >= 1) {
            return;
        }
    } else if (seconds(now - line.last) < kRedrawEvery && done < 1) {
        return;
    }
    g_on_screen = 1;  // before drawing: an interrupt in between still erases the line
    std::fprintf(stderr, "%sFourier transform: %3d%% done, about %.0f s left", kErase,
                 static_cast<int>(done * 100), left + 0.5);
    std::fflush(stderr);
    line.shown = true;
    line.last = now;
}

void progress_end(ProgressLine& line) {
    if (line.shown) {
        std::fputs(kErase, stderr);
        std::fflush(stderr);
        line.shown = false;
        g_on_screen = 0;
    }
}

void progress_erase_now() {
    if (g_on_screen != 0) {
        os_write_stderr_now(kErase);
        g_on_screen = 0;
    }
}
