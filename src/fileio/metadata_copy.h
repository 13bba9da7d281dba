// Copying metadata inside the program (Exiv2): the original's EXIF, maker notes, IPTC, XMP and
// comment go into a saved file in one read and one write, with the same exclusions as the
// ExifTool command line of the save pipeline: no resolution, no orientation, no preview images,
// no image-structure tags and, in mode 1, no GPS. The pixels, resolution and profile the writer
// put in stay as they are. ExifTool remains for what this cannot do.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "core/image.h"

namespace tessaly {

enum class InProcess { done, failed, not_handled };

// Where a file's new bytes go; true when writing fails.
using ByteSink = std::function<bool(const char* data, std::size_t size)>;

// not_handled, without a message, when either file is of a kind this cannot read or write, so
// that the caller can hand the work to ExifTool; failed after a message.
InProcess copy_metadata_in_process(const std::string& original, const std::string& target, int mode,
                                   const Image* thumbnail_source);
InProcess add_thumbnail_in_process(const std::string& target, const Image& image);

// The same step on a file still in memory (TIFF files are written there first), the new file
// handed to write: the pixels then reach the disk once. target names the file in messages; an
// empty original adds only the thumbnail. The bytes may be changed.
InProcess copy_metadata_into(std::string& file_bytes, const std::string& target,
                             const std::string& original, int mode, const Image* thumbnail_source,
                             const ByteSink& write);

// The metadata the JPEG and PNG writers put in the same pass as the pixels, so that the file is
// written once.
struct EmbeddedMetadata {
    std::string exif;     // a TIFF structure, byte-order mark first, thumbnail included
    std::string xmp;      // the XMP packet
    std::string iptc;     // Photoshop image resources holding the IPTC record (JPEG only)
    std::string comment;  // the JPEG comment
    // For TIFF files, which carry their metadata in the same structure as the pixels: the step
    // the writer hands the file's bytes to before they reach the disk.
    std::function<InProcess(std::string& file_bytes, const ByteSink& write)> rewrite;
};

// The blocks for a JPEG (or PNG) file target of a picture written at dpi: what
// copy_metadata_in_process would put in (nothing of an original when original is ""), with the
// thumbnail of thumbnail_source. not_handled when the library cannot read the original or the
// blocks do not fit where the format keeps them; the caller then writes the file and rewrites it.
InProcess embedded_metadata(const std::string& target, const std::string& original, int mode,
                            const Image* thumbnail_source, bool png, double dpi,
                            EmbeddedMetadata& out);

// Whether the library knows the kind of file original is (by its first bytes): the TIFF writer
// then takes the in-memory step.
bool library_reads(const std::string& original);

// On by default; off sends every copy to ExifTool (for comparing the two, and as a way out).
void set_metadata_in_process(bool on);
bool metadata_in_process();

}  // namespace tessaly
