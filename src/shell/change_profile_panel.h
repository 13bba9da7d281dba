// Change Profile's panel: where the input profile comes from (the image's own, shown by its
// description, or one chosen from the list), the output profile, what is changed, the rendering
// intent and the gamut alarm. The profile lists hold the profiles of the input's kind (gray or
// RGB) found in the profile folders, gathered on the engine's thread after the panel is made.
#pragma once

#include <string>
#include <vector>

#include "shell/dialog_panel.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace tessaly::shell {

struct ProfileChoice;

class ChangeProfilePanel : public DialogPanel {
    Q_OBJECT
  public:
    ChangeProfilePanel(FrameWindow& frame, const PanelInput& input);
    ~ChangeProfilePanel() override;

    std::vector<std::string> keys() const override;
    void show_line(const std::string& line) override;
    std::string settings() const override;

    // The profile lists and the image's own profile have arrived from the engine.
    bool gathered() const { return gathered_; }
    // The controls, for the tests.
    QComboBox* input_choice() const { return use_original_; }
    QLabel* current_profile() const { return current_; }
    QComboBox* input_list() const { return input_list_; }
    QComboBox* output_list() const { return output_list_; }
    QComboBox* action_list() const { return action_; }
    QComboBox* intent_list() const { return intent_; }
    QCheckBox* gamut_alarm_box() const { return alarm_; }

  private:
    struct Found;
    void gather(FrameWindow& frame);
    void take(const Found& found);
    void fill(QComboBox* list, const std::string& chosen);
    void follow_choice();

    bool gray_;
    bool gathered_ = false;
    std::vector<ProfileChoice> profiles_;  // of the input's kind
    QComboBox* use_original_;
    QLabel* current_;
    QComboBox* input_list_;
    QComboBox* output_list_;
    QComboBox* action_;
    QComboBox* intent_;
    QCheckBox* alarm_;
};

DialogPanel* make_change_profile_panel(FrameWindow& frame, const PanelInput& input);

}  // namespace tessaly::shell
