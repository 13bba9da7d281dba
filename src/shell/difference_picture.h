// What the image window shows while a dialog's difference view is on: how far the result moved
// from the input, pixel by pixel.
#pragma once

#include <QImage>

namespace tessaly {
struct Image;
}

namespace tessaly::shell {

// Sharpening moves most samples by a few levels only: the differences are multiplied by this
// before they are shown, so that they stand out from black (larger ones clip at white).
inline constexpr int difference_gain = 8;

// Per channel |result - input| in 8-bit steps times difference_gain, clipped at 255, as a 32-bit
// picture (QImage::Format_RGB32, top row first; gray images give gray). Any two of the image
// types compare as long as both are gray or both colour. Null when the sizes or the kinds
// differ, either has no pixels, or there is no memory for the picture. Engine thread.
QImage difference_picture(const Image& result, const Image& input);

}  // namespace tessaly::shell
