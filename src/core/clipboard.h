// The clipboard belongs to the desktop program; the engine reaches it only through these hooks,
// which the program installs at start. Without them every clipboard operation fails with its
// own message (the command-line program has no clipboard).
#pragma once

#include <string>
#include <vector>

#include "core/image.h"

namespace tessaly {

// What the clipboard holds for a paste: a picture, else a list of files copied in a file manager.
struct ClipboardContent {
    Image image;
    std::vector<std::string> files;
};

// Places an 8-bit picture (types 1 to 3) on the clipboard: 0 on success, 1 when the bitmap could
// not be placed, 2 when the second, fuller form of it could not.
using ClipboardWriter = int (*)(const Image& image);
// Reads the clipboard into content; true when there is nothing that can be pasted.
using ClipboardReader = bool (*)(ClipboardContent& content);

void set_clipboard_writer(ClipboardWriter writer);
void set_clipboard_reader(ClipboardReader reader);
ClipboardWriter clipboard_writer();
ClipboardReader clipboard_reader();

}  // namespace tessaly
