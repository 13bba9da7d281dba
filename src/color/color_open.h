// Colour management on open: after a file is read (File Open, a batch, Paste, File New), the
// image's profile is checked against its type, an unprofiled image gets the assumed profile of
// its kind, and an image outside the working colour space is converted by the mismatch policy.
#pragma once

#include <cstdint>

#include "framework/node.h"

namespace tessaly {

enum : int { color_open_done = 0, color_open_cancelled = 1, color_open_failed = 2 };

// Runs on node->image when colour management is enabled and the type is 2 to 5; node->name is
// the path shown in the question. several_files: the file is one of several opened together
// (the policy is then onmultiplemismatch, during a batch onbatchmismatch, else onmismatch).
// camera_raw: the image came from a camera raw file (file type 6), so an image without a
// profile gets the assumed camera profile instead of the assumed file profile.
//
// 0 done (also when a conversion failed: the profile is then removed with "Error converting to
// working color space, image profile removed"), 1 the person cancelled (the image is as it was
// read apart from the profile checks), 2 failed (no memory for a profile copy).
//
// Policy 0 asks through interaction().choose, caption "Convert to Working Color Space", text
// "Pathname: %s\nWorking color space: %s\nConvert from embedded profile: %s" (the descriptions;
// "None" for an image without a profile), options "Convert", "Don't Convert", "Cancel" and
// "Convert from custom profile...", which asks for a profile file (of the image's kind) and
// converts from it instead of the embedded profile; a cancelled file choice asks again.
int color_manage_on_open(Node* node, bool several_files, bool camera_raw = false);

// The options of the question, in the order offered.
enum : int {
    convert_choice_convert = 0,
    convert_choice_keep = 1,
    convert_choice_cancel = 2,
    convert_choice_custom = 3,
};

// While one lives, every colour management on open counts as one of several files opened
// together (the open dialog with several files, a command line naming several images).
class SeveralFilesOpening {
  public:
    SeveralFilesOpening();
    ~SeveralFilesOpening();
    SeveralFilesOpening(const SeveralFilesOpening&) = delete;
    SeveralFilesOpening& operator=(const SeveralFilesOpening&) = delete;
};

}  // namespace tessaly
