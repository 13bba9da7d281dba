// Export's panel: where the picture goes and in which format, how the file is named (with the
// template's macro menu) and in which folder, when the node writes at all (the two radio
// items it adds to the dialog's Settings menu), and behind "Options..." the node's own save
// options of the chosen format.
#pragma once

#include <string>
#include <vector>

#include "fileio/save_options.h"
#include "shell/dialog_panel.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QPushButton;

namespace tessaly::shell {

class ExportPanel : public DialogPanel {
    Q_OBJECT
  public:
    ExportPanel(FrameWindow& frame, const PanelInput& input);

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;

    // The controls, for the tests.
    QComboBox* choice(const std::string& key) const;
    QLineEdit* folder_field() const { return folder_; }
    QPushButton* folder_button() const { return browse_; }
    QLineEdit* name_field() const { return name_; }
    QMenu* macro_menu() const { return macros_; }
    QPushButton* options_button() const { return options_button_; }
    // The save format "Options..." edits: the chosen one, or the default one for "Original".
    std::int32_t options_format() const;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void add_execute_items();
    void enable();
    void edit_options();

    struct Choice {
        const char* key;
        QComboBox* box;
    };
    std::vector<Choice> choices_;
    QLineEdit* folder_;
    QPushButton* browse_;
    QLineEdit* name_;
    QPushButton* macro_button_;
    QMenu* macros_;
    QPushButton* options_button_;
    SaveOptions save_{};  // the node's save keys, with the stored records' meaning of each flag
    std::int32_t execute_ = 0;
    bool menu_joined_ = false;
};

DialogPanel* make_export_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
