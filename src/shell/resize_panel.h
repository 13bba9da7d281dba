// Resize's panel: the picture's size now and the size the settings make of it, side by side.
// Typing one value of the new size makes it the one the size is given by ("Set"); with the
// proportions locked the other side follows as the resize itself computes it.
#pragma once

#include <array>

#include "shell/dialog_panel.h"
#include "transformations/resize.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;

namespace tessaly::shell {

class ResizePanel : public DialogPanel {
    Q_OBJECT
  public:
    // The typed fields of the "New" column.
    enum Field {
        pixel_width,
        pixel_height,
        physical_width,
        physical_height,
        resolution,
        megapixels,
        memory,
        percent,
        field_count
    };

    ResizePanel(const PanelInput& input, QWidget* parent = nullptr);

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;

    QLineEdit* field(Field f) const { return fields_[f]; }
    QCheckBox* lock() const { return lock_; }
    QComboBox* set_list() const { return set_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Takes the value typed into f; false when it is refused.
    bool typed(Field f);
    void recompute();
    void show_current();
    void show_new();
    void sharpening_moved(int position);
    void person_changed();

    PanelInput input_;
    ResizeSource source_;
    ResizeSettings s_{};
    bool quiet_ = false;  // the widgets are being set, not changed by the person
    std::array<QLineEdit*, field_count> fields_{};
    std::array<QString, field_count> shown_;  // the text each field was last given
    std::array<QLabel*, 8> current_{};
    QLabel* new_proportions_ = nullptr;
    QCheckBox* lock_ = nullptr;
    QComboBox* set_ = nullptr;
    QComboBox* resample_ = nullptr;
    QComboBox* method_ = nullptr;
    QComboBox* iunits_ = nullptr;
    QComboBox* wunits_ = nullptr;
    QComboBox* runits_ = nullptr;
    QSlider* sharpen_ = nullptr;
    QLabel* sharpen_label_ = nullptr;
};

DialogPanel* make_resize_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
