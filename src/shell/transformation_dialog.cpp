#include "shell/transformation_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cctype>
#include <climits>
#include <cmath>

#include "core/arguments.h"
#include "framework/describe.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/settings_files.h"
#include "shell/frame_window.h"
#include "tree/dialog_session.h"

namespace tessaly::shell {

// Touched on the engine's thread only.
struct TransformationDialog::Engine {
    std::unique_ptr<DialogSession> session;
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

}  // namespace

bool TransformationDialog::has_control(const SettingInfo& info) {
    switch (info.kind) {
        case SettingKind::integer:
        case SettingKind::real:
        case SettingKind::flag:
            return true;
        case SettingKind::choice:
            return !info.choices.empty();
        default:
            return false;
    }
}

std::string TransformationDialog::Control::value() const {
    if (auto* box = qobject_cast<QCheckBox*>(widget)) return box->isChecked() ? "1" : "0";
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return std::to_string(combo->currentIndex());
    if (auto* spin = qobject_cast<QSpinBox*>(widget)) return std::to_string(spin->value());
    if (auto* real = qobject_cast<QDoubleSpinBox*>(widget)) {
        return QString::number(real->value(), 'g', 15).toStdString();
    }
    return {};
}

TransformationDialog::TransformationDialog(FrameWindow& frame, const TransformationModule& module,
                                           std::shared_ptr<Engine> engine, const std::string& line)
    : QDialog(&frame), frame_(frame), module_(module), engine_(std::move(engine)), line_(line) {
    setWindowTitle(QString::fromUtf8(module.display_name()));
    setModal(false);
    setSizeGripEnabled(true);
    setMinimumWidth(380);  // room for the sliders
    build(line);
}

void TransformationDialog::build(const std::string& line) {
    auto* outer = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    outer->addLayout(form);
    const ArgumentList args = split(line);
    for (const SettingInfo& info : module_.describe()) {
        if (!has_control(info)) continue;
        const QString label = QString::fromStdString(dialog_label(info));
        QWidget* widget = nullptr;
        QWidget* row = nullptr;
        if (info.kind == SettingKind::flag) {
            std::int32_t value = 0;
            (void)read_integer(args, info.key, value);
            auto* box = new QCheckBox(label);
            box->setChecked(value != 0);
            connect(box, &QCheckBox::toggled, this, &TransformationDialog::changed);
            widget = row = box;
            form->addRow(row);
        } else if (info.kind == SettingKind::choice) {
            std::int32_t value = 0;
            (void)read_integer(args, info.key, value);
            auto* combo = new QComboBox;
            for (const std::string& name : info.choices)
                combo->addItem(QString::fromStdString(name));
            combo->setCurrentIndex(std::clamp<int>(value, 0, combo->count() - 1));
            connect(combo, &QComboBox::currentIndexChanged, this, &TransformationDialog::changed);
            widget = row = combo;
            form->addRow(label, row);
        } else {
            auto* slider = slider_range(info) ? new QSlider(Qt::Horizontal) : nullptr;
            row = new QWidget;
            auto* line_layout = new QHBoxLayout(row);
            line_layout->setContentsMargins(0, 0, 0, 0);
            if (info.kind == SettingKind::integer) {
                std::int32_t value = 0;
                (void)read_integer(args, info.key, value);
                auto* spin = new QSpinBox;
                spin->setRange(
                    info.ranged ? static_cast<int>(std::max<double>(info.min, INT_MIN)) : INT_MIN,
                    info.ranged ? static_cast<int>(std::min<double>(info.max, INT_MAX)) : INT_MAX);
                spin->setValue(value);
                if (slider) {
                    slider->setRange(spin->minimum(), spin->maximum());
                    slider->setValue(value);
                    connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
                    connect(spin, &QSpinBox::valueChanged, slider, [slider](int v) {
                        const QSignalBlocker quiet(slider);
                        slider->setValue(v);
                    });
                }
                connect(spin, &QSpinBox::valueChanged, this, &TransformationDialog::changed);
                widget = spin;
            } else {
                double value = 0.0;
                (void)read_real(args, info.key, value);
                auto* spin = new QDoubleSpinBox;
                spin->setDecimals(decimals_of(info.written));
                spin->setRange(info.ranged ? info.min : -1e9, info.ranged ? info.max : 1e9);
                spin->setSingleStep(std::pow(10.0, -std::min(spin->decimals(), 2)));
                spin->setValue(value);
                if (slider) {
                    const double min = info.min, span = info.max - info.min;
                    slider->setRange(0, real_slider_steps);
                    auto to_step = [min, span](double v) {
                        return static_cast<int>(std::lround((v - min) / span * real_slider_steps));
                    };
                    slider->setValue(to_step(value));
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
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TransformationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TransformationDialog::reject);
    outer->addWidget(buttons);
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
    return line + tail;
}

void TransformationDialog::changed() {
    if (closing_) return;
    pending_ = true;
    if (!in_flight_) send_change();
}

void TransformationDialog::send_change() {
    pending_ = false;
    in_flight_ = true;
    auto written = std::make_shared<std::string>();
    frame_.run(
        [engine = engine_, &module = module_, line = command_line(), written] {
            DialogSession* session = engine->session.get();
            if (!session || session->closed()) return;
            if (module_line(module, session->node(), line, *written)) {
                session->settings_changed(*written);
            } else {
                written->clear();
            }
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

void open_transformation_dialog(FrameWindow& frame, const TransformationModule& module) {
    // Another transformation chosen while a dialog is open: that dialog is closed with OK first
    // (the engine takes the jobs in order).
    for (TransformationDialog* open : frame.findChildren<TransformationDialog*>()) open->accept();
    auto engine = std::make_shared<TransformationDialog::Engine>();
    auto line = std::make_shared<std::string>();
    frame.run(
        [engine, &module, line] {
            Node* current = current_node();
            if (!current) return;
            std::string initial = module.default_command_line();
            const std::string name = "Default";
            if (settings_exist(module.settings_name(), name)) {
                std::string read;
                if (auto stored = load_settings(module.keyword(), name, module.settings_name());
                    stored && !module.normalise(*stored, current, nullptr, read)) {
                    initial = read;
                }
            }
            engine->session = DialogSession::open_new(dialog_module_info(module), initial, true);
            if (engine->session) *line = engine->session->node()->command_line.value_or(initial);
        },
        [&frame, &module, engine, line] {
            if (line->empty()) return;  // no session was opened
            auto* dialog = new TransformationDialog(frame, module, engine, *line);
            dialog->show();
        });
}

bool transformation_dialog_command(FrameWindow& frame, std::uint32_t id) {
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
