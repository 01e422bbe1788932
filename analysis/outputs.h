// The five outputs of a run, written all or nothing. Each is written under a hidden
// temporary name beside its final name, and all five are renamed onto their names only
// once all are complete: a run that fails or is interrupted leaves every earlier file as
// it was and no new file behind (a SIGKILL can leave hidden temporaries, nothing else).
//
// A temporary is ".NAME.PID-N.tmp" in the directory of NAME: hidden, made with the
// process id so that two runs never share one, and created exclusively. Messages always
// name the final output, never a temporary.
//
//   OutputNames                 the five names, in the order amplitude grey, amplitude
//                               colour, power grey, power colour, profile
//   outputs_new(names)          a set for those names, nothing created yet
//   outputs_create(set)         creates every temporary, the profile's first and then the
//                               pictures' in their order (the profile in text mode). 0, or
//                               1 after "Error: Could not write to NAME\n" for the first
//                               output that cannot be made or whose name is a directory;
//                               then nothing is left behind
//   outputs_file(set, which)    the open temporary of one output
//   outputs_close(set, which)   closes it; 0, or 1 after the message when a write or the
//                               close failed
//   outputs_commit(set)         closes what is still open and renames every temporary onto
//                               its name (a link of that name is replaced, not followed);
//                               0, or 1 after the message, the temporaries removed
//   outputs_discard(set)        closes and removes every temporary still there
//   outputs_remove_now()        removes the temporaries of the set being written; safe
//                               inside a signal handler, for an interrupted run
//   path_name_start(path)       where the final component of a path begins (after the
//                               last "/", or "/" or "\" on Windows; 0 when there is none)
#pragma once

#include <array>
#include <cstdio>
#include <string>

enum OutputName { kAmpGray, kAmpRamp, kPowGray, kPowRamp, kProfile, kOutputCount };

using OutputNames = std::array<std::string, kOutputCount>;

struct OutputSet {
    OutputNames names;                          // the final names
    OutputNames temps;                          // the temporaries, once created
    std::array<std::FILE*, kOutputCount> files;  // open temporaries; null when closed
    std::array<bool, kOutputCount> created;      // temporary on disk, not yet renamed
};

OutputSet outputs_new(const OutputNames& names);
int outputs_create(OutputSet& set);
std::FILE* outputs_file(const OutputSet& set, OutputName which);
int outputs_close(OutputSet& set, OutputName which);
int outputs_commit(OutputSet& set);
void outputs_discard(OutputSet& set);
void outputs_remove_now();
std::size_t path_name_start(const std::string& path);
