// The spectrum analysis of one picture, from the grey picture to its five output files:
// the centred spectrum, the radial bins and value ranges, the four spectrum pictures and
// the radial profile. It drives the output files itself: they are written under hidden
// temporaries and replace the files of those names all together, or not at all.
//
//   analyze_spectrum(image, as_bw, as_tg, ps_bw, ps_tg, csv)
//                                the whole analysis of a grey square picture into the five
//                                named files; the picture is used as the drawing canvas.
//                                Returns only on success: any failure has printed its
//                                message, removed what it wrote, and ended the process
//                                with status 1
#pragma once

#include <string>

#include "image/image.h"

void analyze_spectrum(Image& image, const std::string& as_bw_name, const std::string& as_tg_name,
                      const std::string& ps_bw_name, const std::string& ps_tg_name,
                      const std::string& csv_name);
