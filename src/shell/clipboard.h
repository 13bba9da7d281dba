// The engine's clipboard hooks on Qt's clipboard: pictures go out as 8-bit images (with their
// profile as the image's colour space) and come in from any image another program put there, or
// as the files a file manager copied.
#pragma once

#include <QImage>

#include "core/clipboard.h"

namespace tessaly::shell {

// Installs the writer and reader into the engine; they may be called from the engine's thread.
void install_clipboard();

// The conversions, for types 1 to 5 out and any QImage in (tests use them too). A picture of
// 16 bits a sample comes in as one of 16 bits.
QImage image_to_qimage(const Image& image);
bool qimage_to_image(const QImage& picture, Image& image);

}  // namespace tessaly::shell
