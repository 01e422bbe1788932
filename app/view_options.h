// varlox-view's command line, read from one table of its options: each option's name,
// the kind of value it takes (a number above 0, a whole number in a range, a band F1:F2,
// a word), whether it makes the run a measuring one, and the message that refuses a
// value. Every number is read by one parser: the whole value, decimal, with no blanks
// around it ("1e-3" and "0.5" are numbers, " 3" and "3 " are not); whole numbers are
// digits only. A band (--fit, --band) is two numbers F1:F2 and an optional unit suffix,
// /side, /px or /m (view.h's FrequencyUnit), read as given: view_main turns it into the
// measure's unit once the map's size is known.
//
//   view_parse(argc, argv, options, input)
//                               the options and the one input of varlox-view's
//                               arguments: 0; 1 after the usage line or a message; 2
//                               after the help, which was asked for (the program then
//                               ends with status 0). A PGM or PFM input makes the run
//                               measuring too, which the caller decides once it has read it
//   level_name(kind)            the word --level takes for a levelling
#pragma once

#include <string>

#include "app/view.h"

int view_parse(int argc, char** argv, ViewOptions& options, std::string& input);
const char* level_name(LevelKind kind);
