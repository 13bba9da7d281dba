// What the image window and the thumbnails draw: an image through the display path (its
// profile to the monitor's, soft-proofing with the gamut alarm, the monitor curves), made on the
// engine's thread as a QImage the interface thread can draw at any time.
#pragma once

#include <QImage>
#include <cstdint>

namespace tessaly {
struct Image;
}

namespace tessaly::shell {

// Soft-proofing of the image window ("Enable Proofing"): off at start, not kept between runs.
// Read by display_picture on the engine's thread, switched from the interface's jobs.
bool display_proofing();
void set_display_proofing(bool on);

// Which clipped pixels are marked, and in what colours (0xRRGGBB).
struct ClipMarks {
    bool shadows = false;
    bool highlights = false;
    std::uint32_t shadow_color = 0xffffff;
    std::uint32_t highlight_color = 0x000000;
};
// The marks the session's toggles ask for, in the preferences' colours.
ClipMarks current_clip_marks();

// The picture the window draws: the whole image through the display path, 32 bits a pixel
// (QImage::Format_RGB32, the format Qt scales fastest), top row first. Proofing as
// display_proofing() says, clipped pixels as current_clip_marks() says. A display transform that
// cannot be built has shown its message and the picture is drawn unconverted; null when there
// are no pixels or no memory for the picture.
QImage display_picture(const Image& image);
QImage display_picture(const Image& image, bool proofing, const ClipMarks& marks);

// What the frame hands the image window: the display picture, or for a large image a quick
// preview of every n-th pixel (about 2048 on the longer side) that carries the image's size
// (full_size); the window then asks for the display picture itself.
QImage window_picture(const Image& image);
// The size of the image a picture shows: its own size unless it is a preview.
QSize full_size(const QImage& picture);
// Marks a picture as the preview of an image of that size.
void mark_full_size(QImage& picture, std::uint32_t width, std::uint32_t height);

// The same reduced to fit a side x side square, without proofing or marks, colour managed only
// when the settings ask for colour-managed thumbnails. Made from a sample of the image a few
// times the side, so its cost does not grow with the picture.
QImage display_thumbnail(const Image& image, int side);

// A copy halved in both directions (2 x 2 pixels averaged), for drawing far zoomed out.
QImage halved_picture(const QImage& picture);

}  // namespace tessaly::shell
