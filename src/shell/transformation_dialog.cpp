#include "shell/transformation_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <filesystem>

#include "core/arguments.h"
#include "core/format.h"
#include "framework/describe.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "shell/curve_control.h"
#include "shell/display_picture.h"
#include "shell/frame_window.h"
#include "shell/image_view.h"
#include "shell/preview_proxy.h"
#include "tree/dialog_session.h"

namespace tessaly::shell {

// Touched on the engine's thread only.
struct TransformationDialog::Engine {
    std::unique_ptr<DialogSession> session;
    PreviewProxy proxy;  // the first look at each change
};

namespace {

constexpr int real_slider_steps = 1000;

// Decimals of a real's written form: "%4zf" and "%.2f" give 4 and 2.
int decimals_of(const std::string& written) {
    std::size_t i = written.find('%');
    if (i == std::string::npos) return 3;
    ++i;
    if (i < written.size() && written[i] == '.') ++i;
    int digits = 0;
    bool any = false;
    while (i < written.size() && written[i] >= '0' && written[i] <= '9') {
        digits = digits * 10 + (written[i++] - '0');
        any = true;
    }
    return any ? std::min(digits, 8) : 3;
}

// A slider is offered where the range is finite and not too wide to drag through.
bool slider_range(const SettingInfo& info) {
    return info.ranged && std::isfinite(info.min) && std::isfinite(info.max) &&
           info.max > info.min && info.max - info.min <= 1e6;
}

// The module's line for the controls' line, against the node's own input and masks; false when
// the module did not take it.
bool module_line(const TransformationModule& module, Node* node, const std::string& line,
                 std::string& out) {
    return !module.normalise(split(line), node->parent, node, out);
}

// "Radius: (pixels)": the declared label and unit as label_text has them, without the quotes
// the written description puts around the label; an unlabelled setting shows its key.
std::string dialog_label(const SettingInfo& info) {
    std::string label = info.label;
    if (label.empty() && !info.key.empty()) {
        label = info.key + ":";
        label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    }
    if (!info.unit.empty()) label += " (" + info.unit + ")";
    return label;
}

// The settings a new node starts from: "Default" when it exists and parses, else the built-in
// defaults. Engine thread.
std::string starting_line(const TransformationModule& module, Node* input, Node* node) {
    const std::string name = "Default";
    if (settings_exist(module.settings_name(), name)) {
        std::string read;
        if (auto stored = load_settings(module.keyword(), name, module.settings_name());
            stored && !module.normalise(*stored, input, node, read)) {
            return read;
        }
    }
    return module.default_command_line();
}

// The user's own settings files of a transformation: the names in its folder with its
// extension, less "Default" and "Previous", sorted. The folder is fixed once the program runs.
QStringList named_settings(const SettingsName& which) {
    namespace fs = std::filesystem;
    QStringList names;
    std::error_code ec;
    const fs::path folder = fs::path(settings_path(which, "")).parent_path();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() <= which.extension.size() ||
            file.compare(file.size() - which.extension.size(), std::string::npos,
                         which.extension) != 0) {
            continue;
        }
        const std::string name = file.substr(0, file.size() - which.extension.size());
        if (name != "Default" && name != "Previous") names << QString::fromStdString(name);
    }
    names.sort(Qt::CaseInsensitive);
    return names;
}

}  // namespace

bool TransformationDialog::has_control(const SettingInfo& info) {
    switch (info.kind) {
        case SettingKind::integer:
        case SettingKind::real:
        case SettingKind::flag:
        case SettingKind::curve:
            return true;
        case SettingKind::choice:
            return !info.choices.empty();
        default:
            return false;
    }
}

std::string TransformationDialog::Control::value() const {
    if (auto* box = qobject_cast<QCheckBox*>(widget)) return box->isChecked() ? "1" : "0";
    if (auto* curve = qobject_cast<CurveControl*>(widget)) return curve_to_text(curve->curve());
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return std::to_string(combo->currentIndex());
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) return std::to_string(spin->value());
    if (auto* real = qobject_cast<QDoubleSpinBox*>(widget)) {
        return QString::number(real->value(), 'g', 15).toStdString();
    }
    return {};
}

TransformationDialog::TransformationDialog(FrameWindow& frame, const TransformationModule& module,
                                           std::shared_ptr<Engine> engine, const std::string& line,
                                           std::int32_t serial, const PanelInput& input)
    : QDialog(&frame),
      frame_(frame),
      module_(module),
      engine_(std::move(engine)),
      line_(line),
      serial_(serial) {
    setWindowTitle(QString::fromUtf8(module.display_name()));
    setModal(false);
    setSizeGripEnabled(true);
    setMinimumWidth(380);  // room for the sliders
    build(line, input);
}

void TransformationDialog::build(const std::string& line, const PanelInput& input) {
    auto* outer = new QVBoxLayout(this);
    std::vector<std::string> panel_keys;
    if (const PanelFactory* make = dialog_panel_factory(module_.keyword())) {
        panel_ = (*make)(frame_, input);
        panel_keys = panel_->keys();
        outer->addWidget(panel_);
        connect(panel_, &DialogPanel::edited, this, &TransformationDialog::changed);
    }
    auto* form = new QFormLayout;
    outer->addLayout(form);
    for (const SettingInfo& info : module_.describe()) {
        if (!has_control(info) ||
            std::find(panel_keys.begin(), panel_keys.end(), info.key) != panel_keys.end()) {
            continue;
        }
        const QString label = QString::fromStdString(dialog_label(info));
        QWidget* widget = nullptr;
        QWidget* row = nullptr;
        if (info.kind == SettingKind::flag) {
            auto* box = new QCheckBox(label);
            connect(box, &QCheckBox::toggled, this, &TransformationDialog::changed);
            widget = row = box;
            form->addRow(row);
        } else if (info.kind == SettingKind::curve) {
            auto* curve = new CurveControl;
            connect(curve, &CurveControl::changed, this, &TransformationDialog::changed);
            widget = row = curve;
            form->addRow(label, row);
        } else if (info.kind == SettingKind::choice) {
            auto* combo = new QComboBox;
            for (const std::string& name : info.choices)
                combo->addItem(QString::fromStdString(name));
            connect(combo, &QComboBox::currentIndexChanged, this, &TransformationDialog::changed);
            widget = row = combo;
            form->addRow(label, row);
        } else {
            auto* slider = slider_range(info) ? new QSlider(Qt::Horizontal) : nullptr;
            row = new QWidget;
            auto* line_layout = new QHBoxLayout(row);
            line_layout->setContentsMargins(0, 0, 0, 0);
            if (info.kind == SettingKind::integer) {
                auto* spin = new QSpinBox;
                spin->setRange(
                    info.ranged ? static_cast<int>(std::max<double>(info.min, INT_MIN)) : INT_MIN,
                    info.ranged ? static_cast<int>(std::min<double>(info.max, INT_MAX)) : INT_MAX);
                if (slider) {
                    slider->setRange(spin->minimum(), spin->maximum());
                    connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
                    connect(spin, &QSpinBox::valueChanged, slider, [slider](int v) {
                        const QSignalBlocker quiet(slider);
                        slider->setValue(v);
                    });
                }
                connect(spin, &QSpinBox::valueChanged, this, &TransformationDialog::changed);
                widget = spin;
            } else {
                auto* spin = new QDoubleSpinBox;
                spin->setDecimals(decimals_of(info.written));
                spin->setRange(info.ranged ? info.min : -1e9, info.ranged ? info.max : 1e9);
                spin->setSingleStep(std::pow(10.0, -std::min(spin->decimals(), 2)));
                if (slider) {
                    const double min = info.min, span = info.max - info.min;
                    slider->setRange(0, real_slider_steps);
                    auto to_step = [min, span](double v) {
                        return static_cast<int>(std::lround((v - min) / span * real_slider_steps));
                    };
                    connect(slider, &QSlider::valueChanged, spin, [spin, min, span](int step) {
                        spin->setValue(min + span * step / real_slider_steps);
                    });
                    connect(spin, &QDoubleSpinBox::valueChanged, slider,
                            [slider, to_step](double v) {
                                const QSignalBlocker quiet(slider);
                                slider->setValue(to_step(v));
                            });
                }
                connect(spin, &QDoubleSpinBox::valueChanged, this, &TransformationDialog::changed);
                widget = spin;
            }
            line_layout->addWidget(widget);
            if (slider) line_layout->addWidget(slider, 1);
            form->addRow(label, row);
        }
        const QString range = QString::fromStdString(range_text(info));
        if (!range.isEmpty()) row->setToolTip(range);
        widget->setObjectName(QString::fromStdString(info.key));
        controls_.push_back({info, widget});
    }
    show_values(line);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* settings = new QToolButton;
    settings->setText("Settings");
    settings->setPopupMode(QToolButton::InstantPopup);
    menu_ = new QMenu(settings);
    settings->setMenu(menu_);
    connect(menu_, &QMenu::aboutToShow, this, &TransformationDialog::fill_settings_menu);
    buttons->addButton(settings, QDialogButtonBox::ResetRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &TransformationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TransformationDialog::reject);
    outer->addWidget(buttons);
    auto* reload = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(reload, &QShortcut::activated, this, [this] { load(Source::file, "Previous"); });
}

void TransformationDialog::show_values(const std::string& line) {
    // Set from a line, the controls only follow: the node already has it.
    quiet_ = true;
    if (panel_) panel_->show_line(line);
    const ArgumentList args = split(line);
    for (const Control& c : controls_) {
        if (c.info.kind == SettingKind::real) {
            double value = 0.0;
            (void)read_real(args, c.info.key, value);
            static_cast<QDoubleSpinBox*>(c.widget)->setValue(value);
            continue;
        }
        if (auto* control = qobject_cast<CurveControl*>(c.widget)) {
            Curve curve;
            int at = 0;
            if (!find_key(args, c.info.key, at)) (void)curve_from_args(args, at, curve);
            control->set_curve(curve);
            continue;
        }
        std::int32_t value = 0;
        (void)read_integer(args, c.info.key, value);
        if (auto* box = qobject_cast<QCheckBox*>(c.widget)) {
            box->setChecked(value != 0);
        } else if (auto* combo = qobject_cast<QComboBox*>(c.widget)) {
            combo->setCurrentIndex(std::clamp<int>(value, 0, combo->count() - 1));
        } else if (auto* spin = qobject_cast<QSpinBox*>(c.widget)) {
            spin->setValue(value);
        }
    }
    quiet_ = false;
}

QWidget* TransformationDialog::control(const std::string& key) const {
    for (const Control& c : controls_) {
        if (c.info.key == key) return c.widget;
    }
    return nullptr;
}

std::string TransformationDialog::command_line() const {
    // The controls' values go in front: a key is read where it first appears, so they win over
    // the module's last line, which keeps the settings that have no control.
    std::string prefix = module_.keyword();
    if (!module_.version().empty()) prefix += " " + std::string(module_.version());
    std::string tail = line_.rfind(prefix, 0) == 0 ? line_.substr(prefix.size()) : std::string();
    std::string line = prefix;
    for (const Control& c : controls_) line += " " + c.info.key + " " + c.value();
    if (panel_) line += panel_->settings();
    return line + tail;
}

void TransformationDialog::fill_settings_menu() {
    menu_->clear();
    const SettingsName& which = module_.settings_name();
    connect(menu_->addAction("Reset"), &QAction::triggered, this, [this] { load(Source::reset); });
    QAction* previous = menu_->addAction("Reload Last Settings");
    previous->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    previous->setEnabled(settings_exist(which, "Previous"));
    connect(previous, &QAction::triggered, this, [this] { load(Source::file, "Previous"); });
    const QStringList names = named_settings(which);
    if (!names.isEmpty()) menu_->addSeparator();
    for (const QString& name : names) {
        connect(menu_->addAction(name), &QAction::triggered, this,
                [this, name] { load(Source::file, name.toStdString()); });
    }
    menu_->addSeparator();
    connect(menu_->addAction("Save Settings As..."), &QAction::triggered, this,
            [this] { save(std::nullopt); });
    connect(menu_->addAction("Load Settings..."), &QAction::triggered, this,
            [this] { load(Source::ask); });
    connect(menu_->addAction("Save As Default Settings"), &QAction::triggered, this,
            [this] { save(std::string("Default")); });
    QAction* clear = menu_->addAction("Clear Default Settings");
    clear->setEnabled(settings_exist(which, "Default"));
    connect(clear, &QAction::triggered, this, &TransformationDialog::clear_default);
}

void TransformationDialog::load(Source source, const std::string& name) {
    if (closing_) return;
    // What is read replaces a change not yet sent.
    pending_ = false;
    ++menu_jobs_;
    auto written = std::make_shared<std::string>();
    frame_.run(
        [engine = engine_, &module = module_, source, name, written] {
            DialogSession* session = engine->session.get();
            if (!session || session->closed()) return;
            Node* node = session->node();
            if (source == Source::reset) {
                *written = starting_line(module, node->parent, node);
            } else {
                std::optional<ArgumentList> args = load_settings(
                    module.keyword(), source == Source::ask ? std::nullopt : std::optional(name),
                    module.settings_name());
                if (!args) return;
                if (module.normalise(*args, node->parent, node, *written)) {
                    show_error("Error in settings file");
                    written->clear();
                    return;
                }
            }
            session->settings_changed(*written);
        },
        [self = QPointer(this), written] {
            if (!self) return;
            --self->menu_jobs_;
            if (written->empty() || self->closing_) return;
            self->line_ = *written;
            self->show_values(*written);
        });
}

void TransformationDialog::save(std::optional<std::string> name) {
    if (closing_) return;
    ++menu_jobs_;
    frame_.run(
        [engine = engine_, &module = module_, line = command_line(), name] {
            DialogSession* session = engine->session.get();
            std::string written;
            if (!session || session->closed() ||
                !module_line(module, session->node(), line, written)) {
                return;
            }
            (void)save_settings(written, name, module.settings_name());
        },
        [self = QPointer(this)] {
            if (self) --self->menu_jobs_;
        });
}

void TransformationDialog::clear_default() {
    ++menu_jobs_;
    frame_.run([&module = module_] { tessaly::clear_default(module.settings_name()); },
               [self = QPointer(this)] {
                   if (self) --self->menu_jobs_;
               });
}

void TransformationDialog::changed() {
    if (closing_ || quiet_) return;
    pending_ = true;
    if (!in_flight_) send_change();
}

void TransformationDialog::send_change() {
    pending_ = false;
    in_flight_ = true;
    auto written = std::make_shared<std::string>();
    auto first_look = std::make_shared<QImage>();
    // A large picture gets a first look made from a reduced copy, drawn while the whole
    // result is made in the next job.
    frame_.run(
        [engine = engine_, &module = module_, line = command_line(), written, first_look] {
            DialogSession* session = engine->session.get();
            if (!session || session->closed()) return;
            if (!module_line(module, session->node(), line, *written)) {
                written->clear();
                return;
            }
            const Node* node = session->node();
            if (session->auto_preview() && node->bypass == bypass_none) {
                *first_look = engine->proxy.picture(module, node, *written);
            }
        },
        [self = QPointer(this), first_look] {
            if (self && !first_look->isNull()) self->frame_.view()->set_picture(*first_look, false);
        });
    frame_.run(
        [engine = engine_, written] {
            DialogSession* session = engine->session.get();
            if (!session || session->closed() || written->empty()) return;
            session->settings_changed(*written);
        },
        [self = QPointer(this), written] {
            if (!self) return;
            self->in_flight_ = false;
            if (!written->empty()) self->line_ = *written;
            if (self->pending_ && !self->closing_) self->send_change();
        });
}

void TransformationDialog::accept() {
    finish(true);
}

void TransformationDialog::reject() {
    finish(false);
}

void TransformationDialog::closeEvent(QCloseEvent* event) {
    // Closing the window is Cancel; it closes once the engine agrees.
    event->ignore();
    reject();
}

void TransformationDialog::finish(bool ok) {
    if (closing_) return;
    closing_ = true;
    pending_ = false;
    auto closed = std::make_shared<bool>(false);
    frame_.run(
        [engine = engine_, &module = module_, line = command_line(), ok, closed] {
            DialogSession* session = engine->session.get();
            if (!session) return;
            if (ok) {
                // A change not yet run is taken over here; OK runs the node when it needs it.
                std::string written;
                Node* node = session->node();
                if (module_line(module, node, line, written) && node->command_line != written) {
                    session->set_auto_preview(false);
                    session->settings_changed(written);
                }
                (void)session->ok();
                *closed = true;
            } else {
                *closed = session->cancel();
            }
            if (*closed) engine->session.reset();
        },
        [self = QPointer(this), ok, closed] {
            if (!self) return;
            if (!*closed) {
                self->closing_ = false;
                return;
            }
            if (ok) {
                self->QDialog::accept();
            } else {
                self->QDialog::reject();
            }
            self->deleteLater();
        });
}

namespace {

// What the module's panel may show of the picture the node works on; on the engine's thread.
PanelInput panel_input(const TransformationModule& module, const Node* input) {
    PanelInput in;
    if (!dialog_panel_factory(module.keyword()) || !input || !input->image.has_pixels()) return in;
    const Image& image = input->image;
    in.width = image.width;
    in.height = image.height;
    in.type = image.type;
    in.dpi = image.dpi;
    in.bytes = std::uint64_t{image.height} * image.row_bytes;
    in.thumbnail = display_thumbnail(image, 256);
    return in;
}

}  // namespace

void open_transformation_dialog(FrameWindow& frame, const TransformationModule& module) {
    // Another transformation chosen while a dialog is open: that dialog is closed with OK first
    // (the engine takes the jobs in order).
    for (TransformationDialog* open : frame.findChildren<TransformationDialog*>()) open->accept();
    auto engine = std::make_shared<TransformationDialog::Engine>();
    auto line = std::make_shared<std::string>();
    auto serial = std::make_shared<std::int32_t>(-1);
    auto input = std::make_shared<PanelInput>();
    frame.run(
        [engine, &module, line, serial, input] {
            Node* current = current_node();
            if (!current) return;
            *input = panel_input(module, current);
            const std::string initial = starting_line(module, current, nullptr);
            engine->session = DialogSession::open_new(dialog_module_info(module), initial, true);
            if (!engine->session) return;
            *line = engine->session->node()->command_line.value_or(initial);
            *serial = engine->session->node()->serial;
        },
        [&frame, &module, engine, line, serial, input] {
            if (line->empty()) return;  // no session was opened
            auto* dialog = new TransformationDialog(frame, module, engine, *line, *serial, *input);
            dialog->show();
        });
}

void edit_transformation(FrameWindow& frame) {
    auto serial = std::make_shared<std::int32_t>(-1);
    frame.run(
        [serial] {
            if (const Node* node = current_node()) *serial = node->serial;
        },
        [&frame, serial] {
            if (*serial < 0) return;
            for (TransformationDialog* open : frame.findChildren<TransformationDialog*>()) {
                if (open->node_serial() == *serial && !open->closing_) {
                    open->show();
                    open->raise();
                    open->activateWindow();
                    return;
                }
            }
            for (TransformationDialog* open : frame.findChildren<TransformationDialog*>())
                open->accept();
            auto engine = std::make_shared<TransformationDialog::Engine>();
            auto opened = std::make_shared<std::pair<const TransformationModule*, std::string>>();
            auto input = std::make_shared<PanelInput>();
            frame.run(
                [engine, opened, input] {
                    Node* node = current_node();
                    if (!node || !node->command_line) return;
                    const ArgumentList args = split(*node->command_line);
                    const std::string_view keyword = args.count() > 0 ? args[0] : "";
                    const TransformationEntry* entry = find_transformation(keyword);
                    if (!entry) {
                        show_error("No such transformation: %s", keyword);
                        return;
                    }
                    if (entry->no_edit) return;
                    if (entry->dialog) {
                        // A transformation with a command of its own edits through it.
                        (void)open_node_for_editing(node);
                        return;
                    }
                    if (!entry->module) {
                        show_error("Transformation not available: %s", entry->display_name);
                        return;
                    }
                    engine->session = DialogSession::open_existing(
                        dialog_module_info(*entry->module), node, true);
                    if (!engine->session) return;
                    *opened = {entry->module, *node->command_line};
                    *input = panel_input(*entry->module, node->parent);
                },
                [&frame, engine, opened, input, serial = *serial] {
                    if (!opened->first) return;
                    auto* dialog = new TransformationDialog(frame, *opened->first, engine,
                                                            opened->second, serial, *input);
                    dialog->show();
                });
        });
}

bool transformation_dialog_command(FrameWindow& frame, std::uint32_t id) {
    if (id == 1108) {
        edit_transformation(frame);
        return true;
    }
    if (id != 1801 && id != 1802) return false;
    const auto open = frame.findChildren<TransformationDialog*>();
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        if (!(*it)->isVisible()) continue;
        if (id == 1801) {
            (*it)->accept();
        } else {
            (*it)->reject();
        }
        break;
    }
    return true;
}

}  // namespace tessaly::shell
