// The command-line driver: banner, argument, output names, and the run from the input
// picture to the output files. varlox takes exactly one argument and writes its five
// fixed outputs; varlox-view (view.h) shares the names, the start and the reading of the
// picture. Every message goes to standard error.
//
//   OutputNames                 the five output names, in the order amplitude grey,
//                               amplitude colour, power grey, power colour, profile
//   output_names_build(input)   the five names for an input path: the base followed by
//                               each suffix of varlox's output table. The base is the
//                               path up to the last "." of its final component (the
//                               whole path when that component has none), the
//                               component's part cut to 190 bytes (less, so as not to
//                               end inside a UTF-8 character)
//   output_names_of(input, rows, count, names)
//                               the same for any program's table: names[i] is the base
//                               followed by rows[i].suffix
//   names_input(name, input)   true when an output's name is the input file itself, by
//                               path or through a link
//   run_start()                 prepares the process for a run: closed standard streams
//                               are taken by the null device, the console set up, and
//                               interrupts remove the temporaries and the progress line;
//                               then prints the banner
//   analyze_spectrum(image, as_bw, as_tg, ps_bw, ps_tg, csv)
//                               varlox's analysis of a grey square picture into the five
//                               named files, written under temporaries that replace the
//                               files of those names all together; the picture is used as
//                               the drawing canvas. Returns only on success: any failure
//                               has printed its message, removed what it wrote, and ended
//                               the process with status 1
//   varlox_main(argc, argv)     varlox; returns the exit status, 0 or 1. An interrupt
//                               ends it by that signal, with nothing changed
//   main_guarded(entry, argc, argv)
//                               runs a program's entry, turning an allocation failure
//                               that escaped as an exception into the allocation message
//                               and status 1
#pragma once

#include <array>
#include <string>

#include "app/output_table.h"
#include "image/image.h"

using OutputNames = std::array<std::string, kOutputCount>;

OutputNames output_names_build(const std::string& input);
void output_names_of(const std::string& input, const OutputRow* rows, int count, std::string* names);
bool names_input(const std::string& name, const std::string& input);
void run_start();
void analyze_spectrum(Image& image, const std::string& as_bw_name, const std::string& as_tg_name,
                      const std::string& ps_bw_name, const std::string& ps_tg_name,
                      const std::string& csv_name);
int varlox_main(int argc, char** argv);
int main_guarded(int (*entry)(int, char**), int argc, char** argv);
