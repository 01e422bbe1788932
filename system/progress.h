// A self-updating progress line for long transforms, shown only when standard error is a
// terminal. It appears once the transform is expected to take more than about two
// seconds, shows the percentage done and an estimate of the time left, and is erased
// completely before anything else is printed. When standard error is not a terminal it
// writes nothing at all.
//
//   progress_begin(line)   starts timing; decides whether the line may be shown at all
//   progress_report(c, d)  DftProgress callback: c is the ProgressLine, d the fraction done
//   progress_end(line)     erases the line if it was shown
//   progress_erase_now()   erases the line if it is on the screen; safe inside a signal
//                          handler, for an interrupted run
#pragma once

#include <chrono>

struct ProgressLine {
    bool terminal;  // standard error is a terminal
    bool shown;     // the line is on the screen now
    std::chrono::steady_clock::time_point start;
    std::chrono::steady_clock::time_point last;  // when the line was last redrawn
    // The first report: the rate is measured from here, so that the set-up before the
    // first group of lines does not inflate the estimate.
    bool has_base;
    double base_done;
    std::chrono::steady_clock::time_point base;
};

void progress_begin(ProgressLine& line);
void progress_report(void* context, double done);
void progress_end(ProgressLine& line);
void progress_erase_now();
