#include "shell/change_profile_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QSignalBlocker>
#include <QTimer>
#include <memory>

#include "color/color_settings.h"
#include "color/lcms_support.h"
#include "color/profiles.h"
#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"
#include "shell/color_management_dialog.h"
#include "shell/frame_window.h"
#include "shell/transformation_dialog.h"
#include "transformations/change_profile.h"
#include "tree/tree.h"

namespace tessaly::shell {

namespace {

constexpr const char* none_name = "None";

bool gray_type(std::uint32_t type) {
    return type == image_gray8 || type == image_gray16;
}

// A profile fits the image's kind when it may be assumed for files of that kind: monitor,
// colour space and input profiles with a GRAY or an RGB colour space.
bool fits(const ProfileChoice& p, bool gray) {
    const auto bit = [](ProfileRole role) { return 1u << static_cast<int>(role); };
    const unsigned wanted = gray ? bit(ProfileRole::assumed_gray) | bit(ProfileRole::camera_gray)
                                 : bit(ProfileRole::assumed_rgb) | bit(ProfileRole::camera_rgb);
    return (p.roles & wanted) != 0;
}

// The image's own profile in words; without one, the profile the conversion takes for it.
std::string describe_profile(const Image& image) {
    if (!image.profile || image.profile_size == 0) {
        return gray_type(image.type) ? "no profile: built-in gray assumed"
                                     : "no profile: sRGB assumed";
    }
    const std::string description = profile_description(image.profile, image.profile_size);
    return description.empty() ? "embedded, without a description" : description;
}

QString chosen_name(const QComboBox* list) {
    return list->currentData().toString();
}

}  // namespace

struct ChangeProfilePanel::Found {
    std::vector<ProfileChoice> profiles;
    std::string current;
};

ChangeProfilePanel::ChangeProfilePanel(FrameWindow& frame, const PanelInput& input)
    : gray_(gray_type(input.type)),
      use_original_(new QComboBox),
      current_(new QLabel),
      input_list_(new QComboBox),
      output_list_(new QComboBox),
      action_(new QComboBox),
      intent_(new QComboBox),
      alarm_(new QCheckBox("Gamut Alarm")) {
    use_original_->addItems({"Retain current", "Set to custom"});
    action_->addItems({"Image Data and Profile", "Image Data Only", "Profile Only"});
    for (int code = 0; code < rendering_intent_count; ++code)
        intent_->addItem(rendering_intent_name(code));
    alarm_->setObjectName("gamut_alarm");
    current_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QComboBox* list : {input_list_, output_list_}) {
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMinimumContentsLength(28);
        fill(list, none_name);
    }

    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    auto* choice_row = new QHBoxLayout;
    choice_row->addWidget(use_original_);
    choice_row->addWidget(current_, 1);
    form->addRow("Input profile:", choice_row);
    form->addRow("Custom profile:", input_list_);
    form->addRow("Output profile:", output_list_);
    form->addRow("Change:", action_);
    form->addRow("Rendering Intent:", intent_);
    form->addRow(alarm_);

    const auto edit = [this] {
        follow_choice();
        emit edited();
    };
    for (QComboBox* box : {use_original_, input_list_, output_list_, action_, intent_})
        connect(box, &QComboBox::currentIndexChanged, this, edit);
    connect(alarm_, &QCheckBox::toggled, this, edit);
    follow_choice();
    // The dialog that holds the panel names the node once the panel sits in it.
    QTimer::singleShot(0, this, [this, &frame] { gather(frame); });
}

ChangeProfilePanel::~ChangeProfilePanel() = default;

std::vector<std::string> ChangeProfilePanel::keys() const {
    return {"use_original", "input_profile", "output_profile",
            "action",       "render_intent", "gamut_alarm"};
}

void ChangeProfilePanel::show_line(const std::string& line) {
    const ArgumentList args = split(line);
    const auto choose = [&](QComboBox* box, const char* key) {
        std::int32_t value = 0;
        if (!read_integer(args, key, value) && value >= 0 && value < box->count()) {
            const QSignalBlocker quiet(box);
            box->setCurrentIndex(value);
        }
    };
    choose(use_original_, "use_original");
    choose(action_, "action");
    choose(intent_, "render_intent");
    std::int32_t alarm = 0;
    if (!read_integer(args, "gamut_alarm", alarm)) {
        const QSignalBlocker quiet(alarm_);
        alarm_->setChecked(alarm != 0);
    }
    std::string name;
    if (!read_string(args, "input_profile", name, change_profile_name_capacity))
        fill(input_list_, name);
    if (!read_string(args, "output_profile", name, change_profile_name_capacity))
        fill(output_list_, name);
    follow_choice();
}

std::string ChangeProfilePanel::settings() const {
    return " use_original " + std::to_string(use_original_->currentIndex()) + " input_profile " +
           quoted_text(chosen_name(input_list_).toStdString()) + " output_profile " +
           quoted_text(chosen_name(output_list_).toStdString()) + " action " +
           std::to_string(action_->currentIndex()) + " render_intent " +
           std::to_string(intent_->currentIndex()) + " gamut_alarm " +
           (alarm_->isChecked() ? "1" : "0");
}

// Fills a list with "None" and the profiles of the input's kind, choosing the named one; a name
// the folders do not hold stays as it is, so that the line keeps it.
void ChangeProfilePanel::fill(QComboBox* list, const std::string& chosen) {
    const QSignalBlocker quiet(list);
    list->clear();
    list->addItem(none_name, QString(none_name));
    int index = 0;
    for (const ProfileChoice& p : profiles_) {
        const QString name = QString::fromStdString(p.name);
        list->addItem(QString::fromStdString(p.description.empty() ? p.name : p.description), name);
        list->setItemData(list->count() - 1, name, Qt::ToolTipRole);
        if (p.name == chosen) index = list->count() - 1;
    }
    if (index == 0 && names_profile(chosen)) {
        list->addItem(QString::fromStdString(chosen), QString::fromStdString(chosen));
        index = list->count() - 1;
    }
    list->setCurrentIndex(index);
}

// The custom list matters only when the input profile is set to custom.
void ChangeProfilePanel::follow_choice() {
    const bool custom = use_original_->currentIndex() == 1;
    input_list_->setEnabled(custom);
    current_->setEnabled(!custom);
}

void ChangeProfilePanel::gather(FrameWindow& frame) {
    const auto* dialog = qobject_cast<const TransformationDialog*>(window());
    const std::int32_t serial = dialog ? dialog->node_serial() : -1;
    auto found = std::make_shared<Found>();
    QPointer<ChangeProfilePanel> self(this);
    frame.run(
        [found, serial, gray = gray_] {
            (void)change_profile_warn_if_unmanaged();
            for (ProfileChoice& p : list_profiles()) {
                if (fits(p, gray)) found->profiles.push_back(std::move(p));
            }
            const Node* node = serial >= 0 ? find_node_by_serial(serial) : current_node();
            const Node* input = node ? node->parent : nullptr;
            if (input && input->image.has_pixels()) found->current = describe_profile(input->image);
        },
        [self, found] {
            if (self) self->take(*found);
        });
}

void ChangeProfilePanel::take(const Found& found) {
    profiles_ = found.profiles;
    fill(input_list_, chosen_name(input_list_).toStdString());
    fill(output_list_, chosen_name(output_list_).toStdString());
    current_->setText(QString::fromStdString(found.current));
    gathered_ = true;
}

DialogPanel* make_change_profile_panel(FrameWindow& frame, const PanelInput& input) {
    return new ChangeProfilePanel(frame, input);
}

}  // namespace tessaly::shell
