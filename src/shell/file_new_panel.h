// File New's panel: type, size in the chosen unit, resolution and fill colour. The size fields
// are read back as the person leaves them; a field that does not read (or a size the person
// declines) keeps the settings it had, so the line always holds valid values.
#pragma once

#include <string>
#include <vector>

#include "fileio/file_new.h"
#include "shell/dialog_panel.h"

class QComboBox;
class QLineEdit;

namespace tessaly::shell {

class ColorButton;

class FileNewPanel : public DialogPanel {
    Q_OBJECT
  public:
    FileNewPanel(FrameWindow& frame, const PanelInput& input);

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;
    // A field refused on its last reading (its message shown, the field put back) keeps the
    // dialog open once.
    bool accept_check() override;

    // The controls, for the tests.
    QComboBox* type_box() const { return type_; }
    QComboBox* units_box() const { return units_; }
    QLineEdit* width_field() const { return width_; }
    QLineEdit* height_field() const { return height_; }
    QLineEdit* dpi_field() const { return dpi_; }
    ColorButton* color_button() const { return color_; }

  private:
    void show_fields();
    // Reads the typed fields; true when they were refused.
    bool read_fields();

    FileNewSettings settings_{};
    std::int32_t warn_limit_;
    QComboBox* type_;
    QComboBox* units_;
    QLineEdit* width_;
    QLineEdit* height_;
    QLineEdit* dpi_;
    ColorButton* color_;
    bool reading_ = false;
    bool refused_ = false;
};

// A size in pixels as the dialog shows it in unit (0 pixels, 1 inches, 2 millimetres,
// 3 centimetres) at dpi.
std::string file_new_size_text(std::int32_t pixels, std::int32_t unit, double dpi);

DialogPanel* make_file_new_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
