// The settings panels of the mask dialog's selection tools (Color Range, Separate Based on 2
// Colors, Texture, Median Filter). Each edits the dialog's copy of the tool settings in place;
// the operation takes them when it is performed. The colour picks made in the image window land
// here too: the rule that turns a picked colour into a colour range, and the rows of patches.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

#include "masks/mask_settings.h"

class QComboBox;
class QLabel;
class QSlider;
class QToolButton;

namespace tessaly::shell {

// A pixel under the pointer: its 8-bit red, green and blue (gray repeated) and its place as
// fractions of the picture's size (x / (width - 1), y / (height - 1)).
struct PickedPixel {
    std::array<std::int32_t, 3> rgb{};
    bool gray = false;
    double fx = -1;
    double fy = -1;
};

// The ranges a click selects: the picked colour fully, similar colours fading out, on each
// channel of the panel's colour space. The hue wraps around red.
ColorRangeSettings picked_color_range(const ColorRangeSettings& current, const PickedPixel& pixel);

class ColorRangePanel : public QWidget {
  public:
    explicit ColorRangePanel(ColorRangeSettings& settings);
    // Shows the settings again after they were changed from outside (a pick).
    void refresh();

  private:
    void name_channels();
    ColorRangeSettings& settings_;
    QComboBox* space_ = nullptr;
    std::array<QSlider*, 12> sliders_{};  // in the order of the settings' limits
    std::array<QLabel*, 12> labels_{};
};

// Two rows of colour patches: "Black:" (entries 1-8, the colours that become black in the mask)
// and "White:" (entries 9-16).
class SeparatePanel : public QWidget {
  public:
    explicit SeparatePanel(SeparateEntries& entries);
    // The row a click in the image window adds to: 0 black, 1 white.
    int target_row() const { return row_; }
    void set_target_row(int row);
    // Adds a picked colour to the target row; false (after saying so) when the row is full.
    bool add(const PickedPixel& pixel);
    void reset_colors();
    void swap_colors();
    void refresh();

  private:
    SeparateEntries& entries_;
    int row_ = 1;
    std::array<QToolButton*, 16> patches_{};
    std::array<QToolButton*, 2> row_buttons_{};
};

// A horizontal slider of the panels' common width.
QSlider* horizontal(int low, int high, int value);

QWidget* texture_panel(TextureSettings& settings);
QWidget* median_panel(MedianSettings& settings);

}  // namespace tessaly::shell
