// Our own TIFF/EXIF tag (IFD) parser and writer. A block is TIFF-structured: "II" or "MM", the
// number 42, the offset of IFD0, all offsets counted from the block's first byte (the body of a
// JPEG "Exif\0\0" APP1 segment, or a whole TIFF file).
//
// Reading takes IFD0, the EXIF sub-IFD (tag 34665) and the GPS IFD (tag 34853), in that order,
// into Metadata Tags of the picture. Values are stored little-endian, unit by unit (each half of
// a rational on its own). The pointer tags (34665, 34853, 40965) are not stored; tag 34675 (ICC)
// replaces the picture's profile; tag 274 is stored with the value 1, its value is returned. Text
// (type 2) keeps the bytes up to the first zero, count = length + 1. Floating-point and IFD field
// types (11, 12, 13) and unknown types are skipped: the tag list cannot hold them as numbers. An
// entry whose values lie outside the block, or whose size cannot be real, is skipped, and so is
// one whose values would take the bytes kept past the block's own size (entries pointing at the
// same bytes over and over); an IFD that does not fit, or one already read (a loop), is not read.
//
// Writing puts each tag into one IFD by its number: below 254 the GPS IFD (GPS tags are 0..31);
// 33434..33437, 34850..34869, 36864..39999 and 40960..42999 the EXIF IFD; everything else IFD0
// (this keeps the Windows XP tags 40091..40095 and the DNG tags 50706.. in IFD0). Not written:
// the pointer tags (the writer makes its own), 34675 (the profile travels separately), tags that
// hold offsets into their original file (273, 279, 288, 289, 324, 325, 330, 513, 514), and a
// repeated tag number of one IFD after its first occurrence. Entries are sorted by number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/image.h"

namespace tessaly {

// Appends the tags of the block to picture (nothing when the block is refused) and sets
// orientation to the value of tag 274 (0 when absent). true when the block is refused: not
// TIFF-structured, or IFD0 outside the block.
[[nodiscard]] bool exif_read_block(const std::uint8_t* data, std::size_t size, Image& picture,
                                   int& orientation);

// The resolution the picture's tags state, in pixels per inch: XResolution (282) by
// ResolutionUnit (296: 2 inch, the default, or 3 centimetre); 0 without XResolution, with a
// zero denominator or with any other unit. For readers whose files carry their resolution only
// in EXIF.
double exif_resolution_dpi(const Image& picture);

}  // namespace tessaly
