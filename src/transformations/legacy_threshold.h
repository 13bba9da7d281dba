// The sharpeners' old single threshold, 0..255, read before the two keys that may override it:
// an older command line's "threshold" sets both.
#pragma once

#include <algorithm>

#include "framework/module.h"

namespace tessaly {

template <class S>
void legacy_threshold(S& s, const ArgumentList& args, const TransformationContext<S>&) {
    std::int32_t threshold = 0;
    if (read_integer(args, "threshold", threshold)) return;
    s.thresholdb = s.thresholdw = std::clamp(threshold, 0, 255) / 255.0;
}

}  // namespace tessaly
