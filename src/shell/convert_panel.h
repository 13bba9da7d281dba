// Convert's panel: the type the input has, as a sentence, and the list of the five types to
// convert it to.
#pragma once

#include <string>
#include <vector>

#include "shell/dialog_panel.h"

class QComboBox;
class QLabel;

namespace tessaly::shell {

class ConvertPanel : public DialogPanel {
    Q_OBJECT
  public:
    explicit ConvertPanel(const PanelInput& input, QWidget* parent = nullptr);

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;

    // The controls, for the tests.
    QLabel* from_label() const { return from_; }
    QComboBox* to_list() const { return to_; }

  private:
    QLabel* from_;
    QComboBox* to_;
};

DialogPanel* make_convert_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
