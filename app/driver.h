// The command-line driver: banner, argument check, output names, and the run from the
// input picture to the five output files. Every message goes to standard error.
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
//   varlox_main(argc, argv)     the whole program; returns the exit status, 0 or 1. An
//                               interrupt ends it by that signal, with nothing changed
#pragma once

#include <array>
#include <string>

enum OutputName { kAmpGray, kAmpRamp, kPowGray, kPowRamp, kProfile, kOutputCount };

using OutputNames = std::array<std::string, kOutputCount>;

std::string output_base(const std::string& input);
OutputNames output_names_build(const std::string& input);
int varlox_main(int argc, char** argv);
