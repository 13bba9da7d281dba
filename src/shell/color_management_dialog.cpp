#include "shell/color_management_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include "color/lcms_support.h"
#include "color/monitor_curves.h"
#include "color/profiles.h"
#include "core/interaction.h"
#include "core/text_file.h"
#include "shell/color_button.h"
#include "shell/frame_window.h"

namespace tessaly::shell {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t largest_profile = 64u << 20;
constexpr const char* no_profile = "None";

bool profile_extension(const fs::path& path) {
    std::string e = path.extension().string();
    std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return std::tolower(c); });
    return e == ".icc" || e == ".icm";
}

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

QComboBox* choices(QWidget* parent, std::initializer_list<const char*> items) {
    auto* box = new QComboBox(parent);
    for (const char* item : items) box->addItem(QObject::tr(item));
    return box;
}

QComboBox* intents(QWidget* parent) {
    auto* box = new QComboBox(parent);
    for (int code = 0; code < rendering_intent_count; ++code)
        box->addItem(QObject::tr(rendering_intent_name(code)));
    return box;
}

void select(QComboBox* box, std::int32_t index) {
    box->setCurrentIndex(std::clamp(index, 0, box->count() - 1));
}

// The index chosen, or the stored value when the box still shows what it was given (a value
// out of the box's range is not lost by opening the dialog).
std::int32_t chosen(const QComboBox* box, std::int32_t stored) {
    const std::int32_t shown = std::clamp(stored, 0, box->count() - 1);
    return box->currentIndex() == shown ? stored : box->currentIndex();
}

const char* const role_labels[profile_role_count] = {"RGB working space:",
                                                     "Gray working space:",
                                                     "Assumed RGB profile:",
                                                     "Assumed gray profile:",
                                                     "Assumed RGB camera profile:",
                                                     "Assumed gray camera profile:",
                                                     "Monitor profile:",
                                                     "Proofing profile:"};

std::string& role_field(ColorManagementSettings& s, int role) {
    switch (static_cast<ProfileRole>(role)) {
        case ProfileRole::rgb_working:
            return s.wcs_profile;
        case ProfileRole::gray_working:
            return s.gray_wcs_profile;
        case ProfileRole::assumed_rgb:
            return s.acs_profile;
        case ProfileRole::assumed_gray:
            return s.gray_acs_profile;
        case ProfileRole::camera_rgb:
            return s.ar_profile;
        case ProfileRole::camera_gray:
            return s.gray_ar_profile;
        case ProfileRole::monitor:
            return s.monitor_profile;
        default:
            return s.proof_profile;
    }
}

}  // namespace

std::vector<ProfileChoice> list_profiles() {
    std::vector<ProfileChoice> list;
    std::set<std::string> seen;
    for (const std::string& folder : profile_folders()) {
        std::error_code ec;
        fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const fs::path& path = it->path();
            std::error_code e;
            if (!it->is_regular_file(e) || !profile_extension(path)) continue;
            // Profiles are named by file name; the first folder that has one wins, as when
            // the settings look it up.
            const std::string name = path.filename().string();
            if (!seen.insert(name).second) continue;
            const std::uintmax_t size = it->file_size(e);
            std::string bytes;
            if (e || size == 0 || size > largest_profile || read_file_bytes(path.string(), bytes))
                continue;
            const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
            const auto length = static_cast<std::uint32_t>(bytes.size());
            ProfileChoice choice{name, profile_description(data, length), 0};
            for (int role = 0; role < profile_role_count; ++role) {
                if (profile_role_problem(static_cast<ProfileRole>(role), data, length).empty())
                    choice.roles |= 1u << role;
            }
            if (choice.roles) list.push_back(std::move(choice));
        }
    }
    std::sort(list.begin(), list.end(), [](const ProfileChoice& a, const ProfileChoice& b) {
        return QString::compare(q(a.description), q(b.description), Qt::CaseInsensitive) < 0;
    });
    return list;
}

ColorManagementDialog::ColorManagementDialog(QWidget* parent, std::vector<ProfileChoice> profiles,
                                             const ColorManagementSettings& settings)
    : QDialog(parent),
      profiles_(std::move(profiles)),
      enabled_(choices(this, {"Disabled", "Enabled"})),
      monitor_intent_(intents(this)),
      monitor_proof_intent_(intents(this)),
      on_startup_(choices(this, {"Set Monitor Profile from System Settings",
                                 "Ignore System Monitor Profile Settings"})),
      thumbnails_(choices(this, {"No", "Yes"})),
      proof_intent_(intents(this)),
      gamut_alarm_(choices(this, {"Off", "On"})),
      alarm_color_(new ColorButton(tr("Gamut Alarm Color"), this)),
      curves_file_(new QLineEdit(this)),
      curves_enabled_(new QCheckBox(tr("Apply monitor curves"), this)) {
    setObjectName("color management");
    setWindowTitle(tr("Color Management Settings"));
    setAttribute(Qt::WA_DeleteOnClose);
    for (int role = 0; role < profile_role_count; ++role) {
        profile_[role] = new QComboBox(this);
        profile_[role]->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        profile_[role]->setMinimumContentsLength(28);
    }
    for (auto& box : mismatch_)
        box = choices(this, {"Ask on Mismatch", "Convert", "Don't Convert"});

    auto* general = new QGroupBox(tr("Working Spaces"), this);
    auto* general_form = new QFormLayout(general);
    general_form->addRow(tr("Color Management:"), enabled_);
    for (int role = 0; role < 6; ++role)
        general_form->addRow(tr(role_labels[role]), profile_[role]);

    auto* mismatch = new QGroupBox(tr("Profile Mismatch"), this);
    auto* mismatch_form = new QFormLayout(mismatch);
    mismatch_form->addRow(tr("On Profile Mismatch:"), mismatch_[0]);
    mismatch_form->addRow(tr("Batch:"), mismatch_[1]);
    mismatch_form->addRow(tr("Multiple:"), mismatch_[2]);

    auto* display = new QGroupBox(tr("Monitor and Proofing"), this);
    auto* display_form = new QFormLayout(display);
    const int monitor = static_cast<int>(ProfileRole::monitor);
    const int proofing = static_cast<int>(ProfileRole::proofing);
    display_form->addRow(tr(role_labels[monitor]), profile_[monitor]);
    display_form->addRow(tr("Monitor Rendering Intent:"), monitor_intent_);
    display_form->addRow(tr("Monitor Proofing Intent:"), monitor_proof_intent_);
    display_form->addRow(tr("On Startup:"), on_startup_);
    display_form->addRow(tr("Color Manage Thumbnails:"), thumbnails_);
    display_form->addRow(tr(role_labels[proofing]), profile_[proofing]);
    display_form->addRow(tr("Proofing Rendering Intent:"), proof_intent_);
    auto* alarm = new QHBoxLayout;
    alarm->addWidget(gamut_alarm_);
    alarm->addWidget(alarm_color_);
    display_form->addRow(tr("Gamut Alarm:"), alarm);
    auto* curves = new QHBoxLayout;
    curves->addWidget(curves_file_, 1);
    auto* browse = new QPushButton(tr("Browse..."), this);
    browse->setObjectName("browse curves");
    curves->addWidget(browse);
    display_form->addRow(tr("Monitor Curves:"), curves);
    display_form->addRow(curves_enabled_);
    connect(browse, &QPushButton::clicked, this, [this] {
        FileChoice choice;
        choice.title = "Monitor Curves File";
        choice.filter_name = "Monitor Curves Files";
        choice.patterns = {"*" + std::string(monitor_curves_extension)};
        choice.folder = color_settings_folder();
        // File dialogs are the Interaction's; from this thread it shows them directly.
        if (auto path = interaction().choose_open_file(choice)) curves_file_->setText(q(*path));
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    QPushButton* load = buttons->addButton(tr("Load..."), QDialogButtonBox::ActionRole);
    QPushButton* save = buttons->addButton(tr("Save As..."), QDialogButtonBox::ActionRole);
    load->setObjectName("load");
    save->setObjectName("save as");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(load, &QPushButton::clicked, this, &ColorManagementDialog::load_requested);
    connect(save, &QPushButton::clicked, this, &ColorManagementDialog::save_requested);

    auto* grid = new QGridLayout;
    grid->addWidget(general, 0, 0);
    grid->addWidget(mismatch, 1, 0, Qt::AlignTop);
    grid->addWidget(display, 0, 1, 2, 1, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    show_values(settings);
}

void ColorManagementDialog::fill_profiles(int role, const std::string& chosen_name) {
    QComboBox* box = profile_[role];
    box->clear();
    box->addItem(tr(no_profile), QString(no_profile));
    bool found = !names_profile(chosen_name);
    for (const ProfileChoice& p : profiles_) {
        if (!(p.roles & (1u << role))) continue;
        const QString text =
            p.description.empty() ? q(p.name) : q(p.description) + "  (" + q(p.name) + ")";
        box->addItem(text, q(p.name));
        if (p.name == chosen_name) {
            box->setCurrentIndex(box->count() - 1);
            found = true;
        }
    }
    // A profile named by path, or one that does not fit, is still what the settings say.
    if (!found) {
        box->addItem(q(chosen_name), q(chosen_name));
        box->setCurrentIndex(box->count() - 1);
    }
}

void ColorManagementDialog::show_values(const ColorManagementSettings& s) {
    base_ = s;
    select(enabled_, s.enabled);
    for (int role = 0; role < profile_role_count; ++role)
        fill_profiles(role, role_field(base_, role));
    select(mismatch_[0], s.on_mismatch);
    select(mismatch_[1], s.on_batch_mismatch);
    select(mismatch_[2], s.on_multiple_mismatch);
    select(monitor_intent_, s.monitor_intent);
    select(monitor_proof_intent_, s.monitor_proof_intent);
    select(on_startup_, s.monitor_on_startup);
    select(thumbnails_, s.cm_thumbnails);
    select(proof_intent_, s.proof_intent);
    select(gamut_alarm_, s.gamut_alarm);
    alarm_color_->set_color(
        QColor(s.gamut_alarm_color[0], s.gamut_alarm_color[1], s.gamut_alarm_color[2]));
    curves_file_->setText(q(s.monitor_curves_file));
    curves_enabled_->setChecked(s.monitor_curves_enabled != 0);
}

ColorManagementSettings ColorManagementDialog::edited() const {
    ColorManagementSettings s = base_;
    s.enabled = chosen(enabled_, base_.enabled);
    for (int role = 0; role < profile_role_count; ++role) {
        const std::string name = profile_[role]->currentData().toString().toStdString();
        std::string& field = role_field(s, role);
        // "" and "None" both name no profile: an untouched box keeps the spelling it was given.
        if (names_profile(name) || names_profile(field)) field = name;
    }
    s.on_mismatch = chosen(mismatch_[0], base_.on_mismatch);
    s.on_batch_mismatch = chosen(mismatch_[1], base_.on_batch_mismatch);
    s.on_multiple_mismatch = chosen(mismatch_[2], base_.on_multiple_mismatch);
    s.monitor_intent = chosen(monitor_intent_, base_.monitor_intent);
    s.monitor_proof_intent = chosen(monitor_proof_intent_, base_.monitor_proof_intent);
    s.monitor_on_startup = chosen(on_startup_, base_.monitor_on_startup);
    s.cm_thumbnails = chosen(thumbnails_, base_.cm_thumbnails);
    s.proof_intent = chosen(proof_intent_, base_.proof_intent);
    s.gamut_alarm = chosen(gamut_alarm_, base_.gamut_alarm);
    const QColor alarm = alarm_color_->color();
    s.gamut_alarm_color[0] = alarm.red();
    s.gamut_alarm_color[1] = alarm.green();
    s.gamut_alarm_color[2] = alarm.blue();
    s.monitor_curves_file = curves_file_->text().toStdString();
    if (curves_enabled_->isChecked() != (base_.monitor_curves_enabled != 0))
        s.monitor_curves_enabled = curves_enabled_->isChecked() ? 1 : 0;
    return s;
}

namespace {

// What the profile folders hold and the settings in force, read on the engine's thread.
struct Gathered {
    std::vector<ProfileChoice> profiles;
    ColorManagementSettings settings;
};

void leave(FrameWindow& frame, const ColorManagementSettings& edited, bool cancelled) {
    frame.run([edited, cancelled] { (void)leave_color_settings_dialog(edited, cancelled); });
}

void load_into(FrameWindow& frame, const QPointer<ColorManagementDialog>& dialog) {
    auto loaded = std::make_shared<std::optional<ColorManagementSettings>>();
    frame.run(
        [loaded, start = dialog->edited()] {
            ColorManagementSettings s = start;
            if (!load_color_settings_as(s)) *loaded = s;
        },
        [dialog, loaded] {
            if (dialog && *loaded) dialog->show_values(**loaded);
        });
}

}  // namespace

void open_color_management(FrameWindow& frame) {
    auto gathered = std::make_shared<Gathered>();
    frame.run(
        [gathered] {
            gathered->profiles = list_profiles();
            gathered->settings = color_settings();
        },
        [&frame, gathered] {
            QPointer<ColorManagementDialog> dialog = new ColorManagementDialog(
                &frame, std::move(gathered->profiles), gathered->settings);
            QObject::connect(dialog, &QDialog::accepted, &frame,
                             [&frame, dialog] { leave(frame, dialog->edited(), false); });
            QObject::connect(dialog, &QDialog::rejected, &frame,
                             [&frame, dialog] { leave(frame, dialog->edited(), true); });
            QObject::connect(dialog, &ColorManagementDialog::load_requested, &frame,
                             [&frame, dialog] { load_into(frame, dialog); });
            QObject::connect(
                dialog, &ColorManagementDialog::save_requested, &frame, [&frame, dialog] {
                    frame.run(
                        [edited = dialog->edited()] { (void)save_color_settings_as(edited); });
                });
            dialog->open();
        });
}

}  // namespace tessaly::shell
