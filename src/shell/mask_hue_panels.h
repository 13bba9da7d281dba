// The panels of the mask dialog's two hue-saturation tools. Hue and Saturation picks colours on a
// disc (hue around it, saturation outward from the gray centre); Hue Saturation Histogram shows
// the picture's colours on a grid of hue x saturation cells, where the person marks the cells to
// select. Both edit the dialog's copy of the settings in place; Run performs them.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "masks/mask_settings.h"

class QButtonGroup;

namespace tessaly::shell {

// The colour of a hue (degrees) and saturation (percent) at full value (HSV) or half lightness
// (HSL), as r + 256 g + 65536 b.
std::uint32_t hue_sat_colour(double hue, double saturation, std::int32_t colorspace);

class HueSatPicker : public QWidget {
    Q_OBJECT
  public:
    explicit HueSatPicker(HueSatSelection& selection);

    // Where a hue (degrees, red at the right, counter-clockwise) and saturation (percent) lie.
    QPointF to_widget(double hue, double saturation) const;
    // The width of the band newly picked colours select around them.
    void set_widths(double hue_width, double saturation_width);

    QSize sizeHint() const override { return {170, 170}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

  signals:
    void changed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    // A click replaces the picks with the colour under it, Shift+click adds one; dragging moves
    // the pick; a right click removes the pick nearest to it.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QPointF centre() const;
    double radius() const;
    // Hue and saturation under a widget point (saturation limited to the rim).
    void hue_sat_at(QPointF at, double& hue, double& saturation) const;
    void place(std::size_t index, QPointF at);

    HueSatSelection& selection_;
    double hue_width_ = 15;
    double saturation_width_ = 15;
    int dragged_ = -1;
};

// The Hue and Saturation panel: the picker titled "Hue-Saturation", the colour space, the widths
// of the picks and whether they are selected or everything else is.
QWidget* hue_sat_panel(HueSatSelection& selection);

// Pixels of the picture per histogram cell (hs_cell_bit order), in HSV and in HSL.
struct HueSatCounts {
    std::array<std::vector<std::uint32_t>, 2> cells;
};
// Counted on the engine's thread from the base picture (8-bit colours).
HueSatCounts hue_sat_counts(const Image& base);

// The histogram's grid: hue across, saturation up. The display choice (the selection's
// transparency: 0 histogram only, 1 both, 2 selection only) says what is drawn. Clicking or
// dragging over cells marks them selected, or unmarks them when the selection removes.
class HueSatHistogram : public QWidget {
    Q_OBJECT
  public:
    explicit HueSatHistogram(HistogramSelection& selection);
    void set_counts(const HueSatCounts& counts);
    // The centre of a cell.
    QPointF cell_centre(int hue_cell, int saturation_cell) const;

    QSize sizeHint() const override { return {320, 160}; }

  signals:
    void changed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    void mark(QPointF at);
    HistogramSelection& selection_;
    HueSatCounts counts_;
};

// The Hue Saturation Histogram panel around the grid.
class HistogramPanel : public QWidget {
  public:
    explicit HistogramPanel(HistogramSelection& selection);
    HueSatHistogram* grid() const { return grid_; }
    void clear_selection();
    void invert_selection();

  private:
    HistogramSelection& selection_;
    HueSatHistogram* grid_ = nullptr;
};

}  // namespace tessaly::shell
