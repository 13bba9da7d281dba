// The ICC profiles built into the program, used wherever a conversion needs a profile and none
// is configured. They are made with Little CMS on first use and then only read.
#pragma once

#include "image_convert.h"

namespace tessaly {

// "sRGB IEC61966-2.1".
ProfileBytes builtin_srgb_profile();
// "Gray Gamma 2.2": a display-class gray profile whose only curve is the gamma 563/256.
ProfileBytes builtin_gray_profile();
// "Adobe RGB (1998)": its primaries, a D65 white and the gamma 563/256.
ProfileBytes builtin_adobe_rgb_profile();

}  // namespace tessaly
