// The image window: the current image as the display path makes it (the image's profile to the
// monitor's, proofing and the gamut alarm when they are on), zoomed and scrolled.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>

namespace tessaly {
struct Image;
}

namespace tessaly::shell {

// The picture the window draws: the whole image through the display path, 8 bits a sample, top
// row first. Null (after the display path's own message) when it cannot be made.
QImage display_picture(const Image& image);
// The same, reduced to fit a side x side square (thumbnails).
QImage display_thumbnail(const Image& image, int side);

class ImageView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit ImageView(QWidget* parent = nullptr);

    // A new picture; fitted to the window when `fit`, else the zoom stays.
    void set_picture(QImage picture, bool fit);
    const QImage& picture() const { return picture_; }
    double zoom() const { return zoom_; }
    void set_zoom(double zoom);
    // The zoom that shows the whole picture in the window (never above 1).
    double fitted_zoom() const;
    void zoom_in();
    void zoom_out();
    // 1:1 when the zoom is anything else, fitted when it is exactly 1.
    void toggle_zoom();
    // One scroll step (a tenth of the window) in a direction.
    void scroll_step(int dx, int dy);
    void set_smooth(bool smooth) { smooth_ = smooth; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void update_ranges();

    QImage picture_;
    double zoom_ = 1.0;
    bool smooth_ = false;
};

}  // namespace tessaly::shell
