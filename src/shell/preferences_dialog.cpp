#include "shell/preferences_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <memory>

#include "core/interaction.h"
#include "fileio/save_options.h"
#include "shell/color_button.h"
#include "shell/frame_window.h"
#include "shell/image_view.h"
#include "shell/save_options_dialog.h"
#include "workspace/startup.h"

namespace tessaly::shell {

namespace {

struct Flag {
    const char* label;
    std::int32_t Preferences::*field;
    bool display;  // in the Display group, else in Workspace and Scripts
};

const Flag flags[] = {
    {"Show full path names in captions", &Preferences::display_full_path_name, true},
    {"Smooth zooming", &Preferences::smooth_zoom, true},
    {"Hide progress bars", &Preferences::hide_progress_bars, true},
    {"Fit the image again when the separator moves", &Preferences::on_separator_move, true},
    {"Zoom new images to fit their window", &Preferences::on_zoom_to_fit, true},
    {"Show clipped shadows", &Preferences::clipped_shadows_show, true},
    {"Show clipped highlights", &Preferences::clipped_highlights_show, true},
    {"Use a pen tablet", &Preferences::use_tablet, true},
    {"Restore the last workspace at start-up", &Preferences::restore_workspace_file, false},
    {"Ask to save the workspace at exit", &Preferences::save_workspace_file, false},
    {"Ask to save the workspace before closing all images",
     &Preferences::save_workspace_file_on_close_all, false},
    {"Ask before loading a workspace script", &Preferences::ask_on_workspace_script_load, false},
    {"Ask before loading a script", &Preferences::ask_on_script_load, false},
    {"Ignore color management settings of scripts", &Preferences::ignore_cm_changes, false},
    {"Keep image copies with scripts", &Preferences::script_images, false},
    {"Silent mode", &Preferences::silent, false},
    {"List recent files in the File menu", &Preferences::recent_files_in_menu, false},
};

QColor qcolor(const ShellColor& c) {
    return QColor(c.red, c.green, c.blue);
}

ShellColor shell_color(const QColor& c) {
    return {c.red(), c.green(), c.blue()};
}

QSpinBox* spin(QWidget* parent, int low, int high, const char* suffix = "") {
    auto* box = new QSpinBox(parent);
    box->setRange(low, high);
    box->setSuffix(suffix);
    return box;
}

}  // namespace

PreferencesDialog::PreferencesDialog(QWidget* parent, const Preferences& current,
                                     const SaveOptions& options)
    : QDialog(parent),
      border_width_(spin(this, 0, 500, " pixels")),
      border_color_(new ColorButton(tr("Border Color"), this)),
      workspace_background_(new ColorButton(tr("Workspace Background"), this)),
      units_(new QComboBox(this)),
      text_delay_(spin(this, 0, 60000, " ms")),
      recent_files_(spin(this, 0, 10)),
      dialog_position_(spin(this, 0, 9)),
      shadows_color_(new ColorButton(tr("Clipped Shadows"), this)),
      highlights_color_(new ColorButton(tr("Clipped Highlights"), this)) {
    setObjectName("preferences");
    setWindowTitle(tr("Preferences"));
    setAttribute(Qt::WA_DeleteOnClose);
    units_->addItems({tr("Inches"), tr("Centimeters"), tr("Millimeters")});

    auto* display = new QGroupBox(tr("Display"), this);
    auto* display_form = new QFormLayout(display);
    auto* border = new QHBoxLayout;
    border->addWidget(border_width_);
    border->addWidget(border_color_);
    display_form->addRow(tr("Image border:"), border);
    display_form->addRow(tr("Workspace background:"), workspace_background_);
    display_form->addRow(tr("Default units:"), units_);
    display_form->addRow(tr("Text delay:"), text_delay_);

    auto* workspace = new QGroupBox(tr("Workspace and Scripts"), this);
    auto* workspace_form = new QFormLayout(workspace);
    workspace_form->addRow(tr("Recent files kept:"), recent_files_);
    workspace_form->addRow(tr("Initial dialog position:"), dialog_position_);

    for (const Flag& flag : flags) {
        auto* box = new QCheckBox(tr(flag.label), this);
        flags_.push_back(box);
        QFormLayout* form = flag.display ? display_form : workspace_form;
        if (flag.field == &Preferences::clipped_shadows_show) {
            auto* row = new QHBoxLayout;
            row->addWidget(box);
            row->addWidget(shadows_color_);
            form->addRow(row);
        } else if (flag.field == &Preferences::clipped_highlights_show) {
            auto* row = new QHBoxLayout;
            row->addWidget(box);
            row->addWidget(highlights_color_);
            form->addRow(row);
        } else {
            form->addRow(box);
        }
    }

    // Each format's stored options, in the same dialog the Save command shows.
    auto* saving = new QGroupBox(tr("Save Options"), this);
    auto* saving_row = new QHBoxLayout(saving);
    for (std::int32_t format : {save_tiff, save_jpeg, save_png, save_bmp, save_gif}) {
        static const char* const names[] = {"TIFF", "JPEG", "BMP", "PNG", "GIF"};
        auto* button = new QPushButton(QString("%1 Options...").arg(names[format]), saving);
        connect(button, &QPushButton::clicked, this, [this, format] {
            auto* dialog = new FormatOptionsDialog(format, save_options_, this);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            connect(dialog, &QDialog::accepted, this,
                    [this, dialog] { save_options_ = dialog->options(); });
            dialog->open();
        });
        saving_row->addWidget(button);
        format_buttons_.resize(std::max<std::size_t>(format_buttons_.size(), format + 1));
        format_buttons_[static_cast<std::size_t>(format)] = button;
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    QPushButton* reset = buttons->addButton(tr("Reset"), QDialogButtonBox::ResetRole);
    reset->setObjectName("reset");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(reset, &QPushButton::clicked, this, &PreferencesDialog::reset_requested);

    auto* columns = new QHBoxLayout;
    columns->addWidget(display, 1, Qt::AlignTop);
    columns->addWidget(workspace, 1, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(saving);
    layout->addWidget(buttons);
    show_values(current, options);
}

QPushButton* PreferencesDialog::save_options_button(std::int32_t format) const {
    if (format < 0 || static_cast<std::size_t>(format) >= format_buttons_.size()) return nullptr;
    return format_buttons_[static_cast<std::size_t>(format)];
}

void PreferencesDialog::show_values(const Preferences& values, const SaveOptions& options) {
    base_ = values;
    save_options_ = options;
    border_width_->setValue(values.border_width);
    border_color_->set_color(qcolor(values.border_color));
    workspace_background_->set_color(qcolor(values.workspace_background));
    units_->setCurrentIndex(std::clamp(values.default_units, 0, 2));
    text_delay_->setValue(values.text_delay);
    recent_files_->setValue(values.recent_files);
    dialog_position_->setValue(values.initial_dialog_position);
    shadows_color_->set_color(qcolor(values.clipped_shadows_color));
    highlights_color_->set_color(qcolor(values.clipped_highlights_color));
    for (std::size_t i = 0; i < flags_.size(); ++i) {
        flags_[i]->setChecked(values.*flags[i].field != 0);
    }
}

Preferences PreferencesDialog::edited() const {
    Preferences p = base_;
    p.border_width = border_width_->value();
    p.border_color = shell_color(border_color_->color());
    p.workspace_background = shell_color(workspace_background_->color());
    // A units value the dialog does not know stays as it was until another one is chosen.
    if (units_->currentIndex() != std::clamp(base_.default_units, 0, 2))
        p.default_units = units_->currentIndex();
    p.text_delay = text_delay_->value();
    p.recent_files = recent_files_->value();
    p.initial_dialog_position = dialog_position_->value();
    p.clipped_shadows_color = shell_color(shadows_color_->color());
    p.clipped_highlights_color = shell_color(highlights_color_->color());
    for (std::size_t i = 0; i < flags_.size(); ++i) {
        std::int32_t& value = p.*flags[i].field;
        // Any value but 0 means on (clipped highlights are stored as 255): an unchanged box
        // keeps the stored value.
        if (flags_[i]->isChecked() != (value != 0)) value = flags_[i]->isChecked() ? 1 : 0;
    }
    return p;
}

QCheckBox* PreferencesDialog::flag_box(std::int32_t Preferences::*field) const {
    for (std::size_t i = 0; i < flags_.size(); ++i) {
        if (flags[i].field == field) return flags_[i];
    }
    return nullptr;
}

namespace {

// OK: the edited values hold for this session, and for the next one when the person says so.
void keep_preferences(FrameWindow& frame, const Preferences& edited, const SaveOptions& options) {
    frame.run(
        [edited, options] {
            const auto lines = save_options_lines(options);
            if (edited == preferences() && lines == save_options_lines(save_options())) return;
            const Answer save =
                interaction().ask("Confirm", "Save modified preferences for next session?",
                                  Buttons::yes_no, Answer::yes);
            preferences() = edited;
            save_options() = options;
            apply_preferences();
            // A file that cannot be written is skipped silently.
            if (save == Answer::yes) (void)save_preferences();
        },
        [&frame, smooth = edited.smooth_zoom != 0] { frame.view()->set_smooth(smooth); });
}

// Reset: the dialog shows the last saved file again (the defaults where it has no value).
void reset_preferences(FrameWindow& frame, const QPointer<PreferencesDialog>& dialog) {
    auto saved = std::make_shared<std::optional<std::pair<Preferences, SaveOptions>>>();
    frame.run(
        [saved] {
            if (interaction().ask("Confirm", "Reset preferences to last saved settings?",
                                  Buttons::yes_no, Answer::yes) != Answer::yes)
                return;
            Preferences p;
            SaveOptions options;
            (void)read_preferences(preferences_path(), p, options);
            *saved = std::pair(p, options);
        },
        [dialog, saved] {
            if (dialog && *saved) dialog->show_values((*saved)->first, (*saved)->second);
        });
}

}  // namespace

void open_preferences(FrameWindow& frame) {
    auto current = std::make_shared<std::pair<Preferences, SaveOptions>>();
    frame.run(
        [current] {
            *current = {preferences(), save_options()};
        },
        [&frame, current] {
            QPointer<PreferencesDialog> dialog =
                new PreferencesDialog(&frame, current->first, current->second);
            QObject::connect(dialog, &QDialog::accepted, &frame, [&frame, dialog] {
                keep_preferences(frame, dialog->edited(), dialog->edited_save_options());
            });
            QObject::connect(dialog, &PreferencesDialog::reset_requested, &frame,
                             [&frame, dialog] { reset_preferences(frame, dialog); });
            dialog->open();
        });
}

}  // namespace tessaly::shell
