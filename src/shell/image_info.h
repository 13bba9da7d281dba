// The Image Info window: what is known about the current image, in four tabs (the image itself,
// the camera, the notes its author left in the file, where it was taken). The values are
// gathered on the engine's thread into plain text lines and only shown here.
#pragma once

#include <QDialog>
#include <QUrl>
#include <optional>
#include <string>
#include <vector>

#include "core/image.h"

class QTabWidget;
class QPushButton;

namespace tessaly {
struct Node;
}

namespace tessaly::shell {

// One line of a tab: its label ("Type:") and its value; a line without a label is a note.
struct InfoLine {
    std::string label;
    std::string value;
};

struct GeoLocation {
    double latitude = 0.0;   // degrees, south negative
    double longitude = 0.0;  // degrees, west negative
};

struct ImageInfo {
    std::vector<InfoLine> image;
    std::vector<InfoLine> camera;
    std::vector<InfoLine> notes;
    std::vector<InfoLine> gps;
    std::optional<GeoLocation> location;
};

// The tabs from EXIF tags (nullptr: none); absent values read "N/A". Altitudes are given in feet
// when the person's default units are inches.
std::vector<InfoLine> camera_lines(const MetadataTag* tags);
std::vector<InfoLine> notes_lines(const MetadataTag* tags);
std::vector<InfoLine> gps_lines(const MetadataTag* tags, bool feet,
                                std::optional<GeoLocation>& location);

// Everything about a node (engine thread): its effective image, the file it was read from or
// last saved as, and the EXIF of its image (or of that file when the image carries none).
ImageInfo gather_image_info(const Node* node);

// The map service's page for a place.
QUrl map_url(const GeoLocation& where);

class ImageInfoWindow : public QDialog {
    Q_OBJECT
  public:
    explicit ImageInfoWindow(QWidget* parent);
    // Shows another image's values (the window is reused when it is open already).
    void set_info(ImageInfo info);
    const ImageInfo& info() const { return info_; }
    QTabWidget* tabs() const { return tabs_; }

  private:
    ImageInfo info_;
    QTabWidget* tabs_;
    QPushButton* locate_;
};

}  // namespace tessaly::shell
