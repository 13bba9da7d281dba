#include "shell/export_panel.h"

#include <QActionGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "batch/export_naming.h"
#include "core/arguments.h"
#include "core/format.h"
#include "framework/module.h"
#include "framework/registry.h"
#include "shell/save_options_dialog.h"
#include "shell/transformation_dialog.h"

namespace tessaly::shell {

namespace {

// The choices the panel shows, in its order; their names and labels are the module's own.
const char* const choice_keys[] = {"destination", "file_type", "default_file_type",
                                   "file_name",   "if_exists", "which_folder"};

// Export's save keys and the stored record's field of each. Export's ask flags (and bmp_v5) are
// true where the record's are 0.
using Field = std::int32_t& (*)(SaveOptions&);
const struct {
    const char* key;
    Field field;
    bool inverted;
} save_keys[] = {
    {"tiff_ask", [](SaveOptions& o) -> std::int32_t& { return o.tiff.ask; }, true},
    {"tiff_metadata", [](SaveOptions& o) -> std::int32_t& { return o.tiff.metadata; }, false},
    {"tiff_save_script", [](SaveOptions& o) -> std::int32_t& { return o.tiff.script; }, false},
    {"tiff_compression", [](SaveOptions& o) -> std::int32_t& { return o.tiff.compression; }, false},
    {"jpeg_ask", [](SaveOptions& o) -> std::int32_t& { return o.jpeg.ask; }, true},
    {"jpeg_metadata", [](SaveOptions& o) -> std::int32_t& { return o.jpeg.metadata; }, false},
    {"jpeg_save_script", [](SaveOptions& o) -> std::int32_t& { return o.jpeg.script; }, false},
    {"jpeg_chroma_subsampling", [](SaveOptions& o) -> std::int32_t& { return o.jpeg.subsampling; },
     false},
    {"jpeg_summary", [](SaveOptions& o) -> std::int32_t& { return o.jpeg.show_summary; }, false},
    {"bmp_ask", [](SaveOptions& o) -> std::int32_t& { return o.bmp.ask; }, true},
    {"bmp_v5", [](SaveOptions& o) -> std::int32_t& { return o.bmp.version; }, true},
    {"bmp_save_script", [](SaveOptions& o) -> std::int32_t& { return o.bmp.script; }, false},
    {"png_ask", [](SaveOptions& o) -> std::int32_t& { return o.png.ask; }, true},
    {"png_metadata", [](SaveOptions& o) -> std::int32_t& { return o.png.metadata; }, false},
    {"png_save_script", [](SaveOptions& o) -> std::int32_t& { return o.png.script; }, false},
    {"gif_ask", [](SaveOptions& o) -> std::int32_t& { return o.gif.ask; }, true},
    {"gif_save_script", [](SaveOptions& o) -> std::int32_t& { return o.gif.script; }, false},
};

constexpr std::size_t text_capacity = 260;
constexpr int name_template = 3;
constexpr int folder_custom = 1;
constexpr int to_file = 0;

const SettingInfo* setting(const std::vector<SettingInfo>& all, const std::string& key) {
    auto it =
        std::find_if(all.begin(), all.end(), [&](const SettingInfo& i) { return i.key == key; });
    return it == all.end() ? nullptr : &*it;
}

QString macro_text(std::string_view name) {
    return QString::fromUtf8("\u27EA") + QString::fromUtf8(name.data(), qsizetype(name.size())) +
           QString::fromUtf8("\u27EB");
}

// A text field with its button beside it; the texts are kept to what the module stores.
QWidget* field_row(QLineEdit* field, QPushButton* button) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    field->setMaxLength(text_capacity);
    layout->addWidget(field, 1);
    layout->addWidget(button);
    return row;
}

}  // namespace

ExportPanel::ExportPanel(FrameWindow&, const PanelInput&) {
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    const TransformationModule* module = find_module("export");
    const std::vector<SettingInfo> all = module ? module->describe() : std::vector<SettingInfo>{};
    auto add_choice = [&](const char* key) {
        auto* box = new QComboBox;
        box->setObjectName(key);
        QString label = key;
        if (const SettingInfo* info = setting(all, key)) {
            for (const std::string& name : info->choices)
                box->addItem(QString::fromStdString(name));
            label = QString::fromStdString(info->label);
        }
        choices_.push_back({key, box});
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            enable();
            emit edited();
        });
        form->addRow(label, box);
    };
    for (const char* key : choice_keys) {
        if (std::string_view(key) == "which_folder") break;
        add_choice(key);
        if (std::string_view(key) == "default_file_type") {
            // The format's save options open in their own dialog rather than filling this one.
            options_button_ = new QPushButton("Options...");
            options_button_->setObjectName("save_options");
            form->addRow("", options_button_);
            connect(options_button_, &QPushButton::clicked, this, &ExportPanel::edit_options);
        }
    }

    // The name: Sequence's base name or Template's template, with the macros at hand.
    name_ = new QLineEdit;
    macro_button_ = new QPushButton("Macro...");
    macros_ = new QMenu(macro_button_);
    for (std::string_view macro : template_macro_names()) {
        const QString text = macro_text(macro);
        connect(macros_->addAction(QString::fromUtf8(macro.data(), qsizetype(macro.size()))),
                &QAction::triggered, this, [this, text] {
                    name_->insert(text);
                    name_->setFocus();
                    emit edited();
                });
    }
    macro_button_->setMenu(macros_);
    form->addRow("Name or Template:", field_row(name_, macro_button_));

    add_choice("which_folder");
    folder_ = new QLineEdit;
    browse_ = new QPushButton("Browse...");
    form->addRow("Custom Folder:", field_row(folder_, browse_));
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, "Locate Export Folder", folder_->text());
        if (chosen.isEmpty() || chosen == folder_->text()) return;
        folder_->setText(chosen.left(text_capacity));
        emit edited();
    });
    // Texts are taken when the person leaves the field, not at every key.
    for (QLineEdit* field : {name_, folder_}) {
        connect(field, &QLineEdit::editingFinished, this, [this, field] {
            if (!field->isModified()) return;
            field->setModified(false);
            emit edited();
        });
    }
}

std::vector<std::string> ExportPanel::keys() const {
    std::vector<std::string> keys(std::begin(choice_keys), std::end(choice_keys));
    keys.insert(keys.end(), {"folder", "first_file_name", "execute", "jpeg_quality"});
    for (const auto& k : save_keys) keys.emplace_back(k.key);
    return keys;
}

QComboBox* ExportPanel::choice(const std::string& key) const {
    for (const Choice& c : choices_) {
        if (key == c.key) return c.box;
    }
    return nullptr;
}

void ExportPanel::show_line(const std::string& line) {
    const ArgumentList args = split(line);
    for (const Choice& c : choices_) {
        std::int32_t value = 0;
        (void)read_integer(args, c.key, value);
        const QSignalBlocker quiet(c.box);
        c.box->setCurrentIndex(std::clamp<int>(value, 0, c.box->count() - 1));
    }
    std::string folder, name;
    (void)read_string(args, "folder", folder, text_capacity);
    (void)read_string(args, "first_file_name", name, text_capacity);
    folder_->setText(QString::fromStdString(folder));
    name_->setText(QString::fromStdString(name));
    folder_->setModified(false);
    name_->setModified(false);
    (void)read_integer(args, "execute", execute_);
    for (const auto& k : save_keys) {
        std::int32_t value = 0;
        if (read_integer(args, k.key, value)) continue;
        k.field(save_) = k.inverted ? (value != 0 ? 0 : 1) : value;
    }
    (void)read_real(args, "jpeg_quality", save_.jpeg.quality);
    enable();
}

std::string ExportPanel::settings() const {
    std::string out;
    for (const Choice& c : choices_)
        out += " " + std::string(c.key) + " " + std::to_string(c.box->currentIndex());
    out += " folder " + quoted_text(folder_->text().toStdString());
    out += " first_file_name " + quoted_text(name_->text().toStdString());
    out += " execute " + std::to_string(execute_);
    SaveOptions o = save_;
    for (const auto& k : save_keys) {
        const std::int32_t value = k.field(o);
        out += " " + std::string(k.key) + " " +
               std::to_string(k.inverted ? (value != 0 ? 0 : 1) : value);
    }
    PlainSeparators plain;
    out += formatted(" jpeg_quality %2zf", save_.jpeg.quality);
    return out;
}

void ExportPanel::enable() {
    const bool file = choice("destination")->currentIndex() == to_file;
    for (const Choice& c : choices_) {
        if (std::string_view(c.key) != "destination") c.box->setEnabled(file);
    }
    const int naming = choice("file_name")->currentIndex();
    name_->setEnabled(file && naming >= 2);
    macro_button_->setEnabled(file && naming == name_template);
    const bool custom = file && choice("which_folder")->currentIndex() == folder_custom;
    folder_->setEnabled(custom);
    browse_->setEnabled(custom);
    options_button_->setEnabled(file);
}

std::int32_t ExportPanel::options_format() const {
    const int type = choice("file_type")->currentIndex();
    return type >= 1 ? type - 1 : choice("default_file_type")->currentIndex();
}

void ExportPanel::edit_options() {
    if (edit_save_options(this, options_format(), save_)) return;
    emit edited();
}

void ExportPanel::showEvent(QShowEvent* event) {
    DialogPanel::showEvent(event);
    // The dialog fills its Settings menu afresh each time it opens; the two items follow.
    if (menu_joined_) return;
    auto* dialog = qobject_cast<TransformationDialog*>(window());
    if (!dialog || !dialog->settings_menu()) return;
    menu_joined_ = true;
    connect(dialog->settings_menu(), &QMenu::aboutToShow, this, &ExportPanel::add_execute_items);
}

void ExportPanel::add_execute_items() {
    auto* dialog = qobject_cast<TransformationDialog*>(window());
    if (!dialog) return;
    QMenu* menu = dialog->settings_menu();
    menu->addSeparator();
    auto* group = new QActionGroup(menu);
    const char* const names[] = {"Export during batch processing", "Export during scripts"};
    for (int value = 0; value < 2; ++value) {
        QAction* item = menu->addAction(names[value]);
        item->setCheckable(true);
        item->setChecked(execute_ == value);
        group->addAction(item);
        connect(item, &QAction::triggered, this, [this, value] {
            if (execute_ == value) return;
            execute_ = value;
            emit edited();
        });
    }
}

DialogPanel* make_export_panel(FrameWindow& frame, const PanelInput& input) {
    return new ExportPanel(frame, input);
}

}  // namespace tessaly::shell
