// The save options of each format (TIFF, JPEG, BMP, PNG, GIF) in a modal dialog that edits a
// copy of a record: OK hands the copy back, Cancel leaves the record as it was. The Save command
// shows it before every save of a format whose "Ask for options on save" is checked, and after a
// JPEG save the summary of sizes with "Save Again...".
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

#include "fileio/save_options.h"
#include "framework/node.h"

class QCheckBox;
class QComboBox;
class QSlider;
class QLabel;

namespace tessaly::shell {

class FrameWindow;

class FormatOptionsDialog : public QDialog {
    Q_OBJECT
  public:
    FormatOptionsDialog(std::int32_t format, const SaveOptions& options, QWidget* parent);

    // The record with the dialog's values for its format (the other formats as given).
    SaveOptions options() const;

    // The controls, null where the format has none.
    QCheckBox* ask_box() const { return ask_; }
    QComboBox* metadata_box() const { return metadata_; }
    QComboBox* script_box() const { return script_; }
    QComboBox* compression_box() const { return compression_; }
    QComboBox* subsampling_box() const { return subsampling_; }
    QComboBox* version_box() const { return version_; }
    QSlider* quality_box() const { return quality_; }
    QCheckBox* summary_box() const { return summary_; }

  private:
    std::int32_t format_;
    SaveOptions options_;
    QCheckBox* ask_ = nullptr;
    QComboBox* metadata_ = nullptr;
    QComboBox* script_ = nullptr;
    QComboBox* compression_ = nullptr;
    QComboBox* subsampling_ = nullptr;
    QComboBox* version_ = nullptr;
    QSlider* quality_ = nullptr;
    double quality_value_ = 0.0;  // the stored value until the slider moves
    QLabel* quality_label_ = nullptr;
    QCheckBox* summary_ = nullptr;
};

// Shows the dialog of format on options; true when cancelled (options unchanged).
bool edit_save_options(QWidget* parent, std::int32_t format, SaveOptions& options);

// The summary after a JPEG save; true when the person chose "Save Again...".
bool show_save_summary(QWidget* parent, double image_bytes, double file_bytes);

// Lets the engine's writers show the options dialog over the frame (from the engine's thread
// too, which waits for the answer).
void install_save_options_dialog(FrameWindow& frame);

// The Save command on the engine's thread: the options dialog when the format asks for it, the
// save with what it chose, and for JPEG the summary (again after each "Save Again..."). true on
// failure.
bool save_with_options(const std::string& path, Node* node, std::int32_t format);

}  // namespace tessaly::shell
