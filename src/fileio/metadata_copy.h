// Copying metadata inside the program (Exiv2): the original's EXIF, maker notes, IPTC, XMP and
// comment go into a saved file in one read and one write, with the same exclusions as the
// ExifTool command line of the save pipeline: no resolution, no orientation, no preview images,
// no image-structure tags and, in mode 1, no GPS. The pixels, resolution and profile the writer
// put in stay as they are. ExifTool remains for what this cannot do.
#pragma once

#include <string>

#include "core/image.h"

namespace tessaly {

enum class InProcess { done, failed, not_handled };

// not_handled, without a message, when either file is of a kind this cannot read or write, so
// that the caller can hand the work to ExifTool; failed after a message.
InProcess copy_metadata_in_process(const std::string& original, const std::string& target,
                                   int mode, const Image* thumbnail_source);
InProcess add_thumbnail_in_process(const std::string& target, const Image& image);

// On by default; off sends every copy to ExifTool (for comparing the two, and as a way out).
void set_metadata_in_process(bool on);
bool metadata_in_process();

}  // namespace tessaly
