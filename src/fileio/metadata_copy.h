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
InProcess copy_metadata_in_process(const std::string& original, const std::string& target, int mode,
                                   const Image* thumbnail_source);
InProcess add_thumbnail_in_process(const std::string& target, const Image& image);

// The metadata the JPEG and PNG writers put in the same pass as the pixels, so that the file is
// written once.
struct EmbeddedMetadata {
    std::string exif;     // a TIFF structure, byte-order mark first, thumbnail included
    std::string xmp;      // the XMP packet
    std::string iptc;     // Photoshop image resources holding the IPTC record (JPEG only)
    std::string comment;  // the JPEG comment
};

// The blocks for a JPEG (or PNG) file of a picture written at dpi: what copy_metadata_in_process
// would put in (nothing of an original when original is ""), with the thumbnail of
// thumbnail_source. not_handled when the library cannot read the original or the blocks do not
// fit where the format keeps them; the caller then writes the file and rewrites it.
InProcess embedded_metadata(const std::string& original, int mode, const Image* thumbnail_source,
                            bool png, double dpi, EmbeddedMetadata& out);

// On by default; off sends every copy to ExifTool (for comparing the two, and as a way out).
void set_metadata_in_process(bool on);
bool metadata_in_process();

}  // namespace tessaly
