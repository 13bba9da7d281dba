// Rotate/Mirror's panel: the input's thumbnail in its eight orientations to pick one from, and
// the four buttons that turn or flip the orientation chosen so far.
#pragma once

#include "shell/dialog_panel.h"

class QAbstractButton;
class QButtonGroup;

namespace tessaly::shell {

class RotrefPanel : public DialogPanel {
    Q_OBJECT
  public:
    RotrefPanel(const PanelInput& input, QWidget* parent = nullptr);

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;

    std::int32_t orientation() const { return code_; }
    // The thumbnail showing orientation code (0..7) and the button (0..3) turning the code.
    QAbstractButton* thumbnail(int code) const;
    QAbstractButton* button(int which) const;

  private:
    void choose(std::int32_t code, bool by_person);

    std::int32_t code_ = 0;
    QButtonGroup* thumbnails_ = nullptr;
    QButtonGroup* buttons_ = nullptr;
};

DialogPanel* make_rotref_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
