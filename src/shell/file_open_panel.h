// The File Open dialog's file list: the files a batch walks, which of them are selected, which is
// shown, the batch kind and the caption a script shows when it asks for files. The run buttons
// close the dialog with OK and start the batch of the node on the engine.
#pragma once

#include <string>
#include <vector>

#include "fileio/file_open.h"
#include "shell/dialog_panel.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QToolButton;

namespace tessaly::shell {

class FileOpenPanel : public DialogPanel {
    Q_OBJECT
  public:
    explicit FileOpenPanel(FrameWindow& frame);

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;

    // The commands, as their buttons and the sort menu do.
    void choose_files(bool append);
    void remove_selected();
    void rename_current();
    // 0 by name ascending, 1 by name descending, 2 by date ascending, 3 by date descending.
    void sort_list(int order);
    void select_all(bool selected);
    // Closes the dialog with OK, then runs the batch: mode 1 runs, 2 is the test mode.
    void run(int mode);
    void make_current(int index);

    const FileOpenSettings& values() const { return s_; }
    QListWidget* list() const { return list_; }
    QToolButton* button(const char* tip) const;
    QRadioButton* multiple_button() const { return multiple_; }
    QLineEdit* caption() const { return caption_; }

  private:
    void refill();
    void take_selection();
    void changed();

    FrameWindow& frame_;
    FileOpenSettings s_;
    QListWidget* list_;
    QLabel* current_;
    QRadioButton* single_;
    QRadioButton* multiple_;
    QLineEdit* caption_;
    bool quiet_ = false;
};

DialogPanel* make_file_open_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
