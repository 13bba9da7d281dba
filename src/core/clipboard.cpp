#include "core/clipboard.h"

#include <atomic>

namespace tessaly {

namespace {
std::atomic<ClipboardWriter> writer{nullptr};
std::atomic<ClipboardReader> reader{nullptr};
}  // namespace

void set_clipboard_writer(ClipboardWriter w) {
    writer = w;
}
void set_clipboard_reader(ClipboardReader r) {
    reader = r;
}
ClipboardWriter clipboard_writer() {
    return writer;
}
ClipboardReader clipboard_reader() {
    return reader;
}

}  // namespace tessaly
