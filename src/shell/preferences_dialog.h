// The Preferences dialog: every preference a person sets, edited on a copy. OK asks whether the
// changes are kept for the next session too; Reset goes back to the last saved file. The save
// options of each format are edited here as well: once a format no longer asks for its options
// on save, this is where they (and the asking) are changed.
#pragma once

#include <QDialog>
#include <vector>

#include "fileio/save_options.h"
#include "workspace/preferences.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

namespace tessaly::shell {

class ColorButton;
class FrameWindow;

class PreferencesDialog : public QDialog {
    Q_OBJECT
  public:
    PreferencesDialog(QWidget* parent, const Preferences& current, const SaveOptions& options);
    // The values the dialog shows, over those it was given (keys it does not show keep theirs).
    Preferences edited() const;
    // The save options as edited through the format buttons.
    const SaveOptions& edited_save_options() const { return save_options_; }
    void show_values(const Preferences& values, const SaveOptions& options);
    // The button that opens a format's save options ("TIFF Options..." for save_tiff ...).
    QPushButton* save_options_button(std::int32_t format) const;
    // The check box of a flag preference, by its field (tests click them).
    QCheckBox* flag_box(std::int32_t Preferences::*field) const;

  signals:
    void reset_requested();

  private:
    Preferences base_;
    SaveOptions save_options_;
    std::vector<QPushButton*> format_buttons_;
    std::vector<QCheckBox*> flags_;
    QSpinBox* border_width_;
    ColorButton* border_color_;
    ColorButton* workspace_background_;
    QComboBox* units_;
    QSpinBox* text_delay_;
    QSpinBox* recent_files_;
    QSpinBox* dialog_position_;
    ColorButton* shadows_color_;
    ColorButton* highlights_color_;
};

// Opens the dialog on a copy of the preferences in force. OK with changes asks "Save modified
// preferences for next session?": the changes then hold for this session, and with Yes they are
// written to Settings.Preferences as well.
void open_preferences(FrameWindow& frame);

}  // namespace tessaly::shell
