// The colour ramp of the colour spectrum pictures: black, blue, cyan, green, yellow, red,
// white in six equal segments, the varying channel easing along a sine within each.
//
//   ramp_color(x)   packed colour (red bits 16-23, green 8-15, blue 0-7) of x, which the
//                   caller has limited to [0, 1]; x = 1 exactly is white
#pragma once

#include <cstdint>

uint32_t ramp_color(double x);
