// The "Color Management Settings" dialog: the working spaces, the profiles assumed for files
// and camera raw files without one, the mismatch policies, the monitor and proofing profiles
// with their rendering intents, the gamut alarm and the monitor curves. It edits a copy; leaving
// it asks whether the changes are kept, and kept settings are applied and saved.
#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "color/color_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace tessaly::shell {

class ColorButton;
class FrameWindow;

// One profile of the profile folders and the roles it may take.
struct ProfileChoice {
    std::string name;  // file name, as the settings name it
    std::string description;
    unsigned roles = 0;  // bit (1 << ProfileRole)
};

// Every ".icc" and ".icm" file of the profile folders (engine thread), by description.
std::vector<ProfileChoice> list_profiles();

class ColorManagementDialog : public QDialog {
    Q_OBJECT
  public:
    ColorManagementDialog(QWidget* parent, std::vector<ProfileChoice> profiles,
                          const ColorManagementSettings& settings);
    ColorManagementSettings edited() const;
    void show_values(const ColorManagementSettings& settings);

    // The fields, for the tests.
    QComboBox* enabled_box() const { return enabled_; }
    QComboBox* mismatch_box(int which) const { return mismatch_[which]; }
    QComboBox* profile_box(int role) const { return profile_[role]; }

  signals:
    void load_requested();
    void save_requested();

  private:
    void fill_profiles(int role, const std::string& chosen);

    std::vector<ProfileChoice> profiles_;
    ColorManagementSettings base_;
    QComboBox* enabled_;
    std::array<QComboBox*, 8> profile_{};   // by ProfileRole
    std::array<QComboBox*, 3> mismatch_{};  // one file, batch, several files
    QComboBox* monitor_intent_;
    QComboBox* monitor_proof_intent_;
    QComboBox* on_startup_;
    QComboBox* thumbnails_;
    QComboBox* proof_intent_;
    QComboBox* gamut_alarm_;
    ColorButton* alarm_color_;
    QLineEdit* curves_file_;
    QCheckBox* curves_enabled_;
};

// Opens the dialog on a copy of color_settings().
void open_color_management(FrameWindow& frame);

}  // namespace tessaly::shell
