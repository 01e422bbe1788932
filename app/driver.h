// The command-line drivers: banner, arguments, output names, and the run from the input
// picture to the output files. varlox takes exactly one argument and writes its five
// fixed outputs; varlox-view takes a few options and writes the same spectrum on a log
// scale and its absolute profile, named from the same base. Every message goes to
// standard error.
//
//   OutputNames                 the five output names, in the order amplitude grey,
//                               amplitude colour, power grey, power colour, profile
//   output_base(input)          the base the outputs are named from: the path up to the
//                               last "." of its final component (the whole path when
//                               that component has none), the component's part cut to
//                               190 bytes (less, so as not to end inside a UTF-8
//                               character)
//   output_names_build(input)   the five names for an input path: the base followed by
//                               each suffix
//   run_start()                 prepares the process for a run: closed standard streams
//                               are taken by the null device, the console set up, and
//                               interrupts remove the temporaries and the progress line;
//                               then prints the banner
//   run_read(input, names, n)   reads and greys the input picture, after checking that
//                               none of the n output names is the input itself; null
//                               after the message
//   varlox_main(argc, argv)     varlox; returns the exit status, 0 or 1. An interrupt
//                               ends it by that signal, with nothing changed
//   view_parse(argc, argv, options, input)
//                               varlox-view's arguments: 0 and the options and input,
//                               or 1 after the usage line or a message
//   view_main(argc, argv)       varlox-view; the same statuses
//   main_guarded(entry, argc, argv)
//                               runs a program's entry, turning an allocation failure
//                               that escaped as an exception into the allocation message
//                               and status 1
#pragma once

#include <array>
#include <string>

#include "analysis/analysis.h"
#include "image/image.h"

enum OutputName { kAmpGray, kAmpRamp, kPowGray, kPowRamp, kProfile, kOutputCount };

using OutputNames = std::array<std::string, kOutputCount>;

std::string output_base(const std::string& input);
OutputNames output_names_build(const std::string& input);
void run_start();
ImagePtr run_read(const std::string& input, const std::string* names, int count);
int varlox_main(int argc, char** argv);
int view_parse(int argc, char** argv, ViewOptions& options, std::string& input);
int view_main(int argc, char** argv);
int main_guarded(int (*entry)(int, char**), int argc, char** argv);
