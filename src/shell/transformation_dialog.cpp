#include "shell/transformation_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <filesystem>

#include "core/arguments.h"
#include "core/curve_files.h"
#include "core/format.h"
#include "core/interaction.h"
#include "core/runner.h"
#include "framework/describe.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "masks/amount_control.h"
#include "shell/curve_control.h"
#include "shell/difference_picture.h"
#include "shell/display_picture.h"
#include "shell/frame_window.h"
#include "shell/image_view.h"
#include "shell/mask_dialog.h"
#include "shell/preview_proxy.h"
#include "tree/dialog_session.h"
#include "tree/tree.h"
#include "workspace/preferences.h"

namespace tessaly::shell {

// Touched on the engine's thread only.
struct TransformationDialog::Engine {
    std::unique_ptr<DialogSession> session;
    // Counts the person's changes (raised on the interface thread): a full run made for an
    // older change stops as soon as a newer one arrives.
    std::atomic<std::uint64_t> latest{0};
    // How long the last whole run took (ms; negative before the first): a run that quick is
    // drawn sooner without a first look in front of it.
    double last_run_ms = -1.0;
    PreviewProxy proxy;     // the first look at each change
    int text_delay = 2000;  // the preview delay preference, read as the dialog opens
};

namespace {

constexpr int real_slider_steps = 1000;
// A whole run quicker than this is drawn sooner without a first look before it.
constexpr double quick_run_ms = 60.0;
constexpr int amount_steps = 1000;  // an amount slider moves in tenths of a percent

// An amount as its slider shows it, and back: 0..1000, or -1000..1000 in the signed mode.
int amount_to_step(std::int32_t amount, std::int32_t mode) {
    if (amount < 0) return 0;
    if (mode == amount_mode_signed) {
        return static_cast<int>(
            std::lround((amount - amount_half) * double(amount_steps) / amount_half));
    }
    return static_cast<int>(std::lround(amount * double(amount_steps) / amount_full));
}
std::int32_t step_to_amount(int step, std::int32_t mode) {
    if (mode == amount_mode_signed) {
        return amount_half +
               static_cast<std::int32_t>(std::lround(step * double(amount_half) / amount_steps));
    }
    return static_cast<std::int32_t>(std::lround(step * double(amount_full) / amount_steps));
}

// The preview delay: a multiple of half a second, at least one.
int typing_delay(int preference) {
    return std::max(500, (preference + 250) / 500 * 500);
}

// The value of a preview key in a line; fallback when it is absent.
std::int32_t line_value(const std::string& line, const char* key, std::int32_t fallback) {
    std::int32_t value = fallback;
    (void)read_integer(split(line), key, value);
    return value;
}

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

// A change the controls made that has not run yet becomes the node's line without running it
// (OK, Apply and Preview then run the node once); written gets the module's line.
void take_over_change(const TransformationModule& module, DialogSession& session,
                      const std::string& line, std::string& written) {
    Node* node = session.node();
    if (!module_line(module, node, line, written) || node->command_line == written) return;
    const bool auto_preview = session.auto_preview();
    session.set_auto_preview(false);
    session.settings_changed(written);
    session.set_auto_preview(auto_preview);
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
    form_ = form;
    outer->addLayout(form);
    bool has_display = false, has_auto = false;
    for (const SettingInfo& info : module_.describe()) {
        if (info.kind == SettingKind::dialog) {
            has_display = has_display || info.key == "display";
            has_auto = has_auto || info.key == "auto_preview";
            continue;
        }
        if (info.kind == SettingKind::amount) {
            build_amount(info, form);
            continue;
        }
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
                spin->setKeyboardTracking(false);
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
                spin->setKeyboardTracking(false);
                widget = spin;
            }
            line_layout->addWidget(widget);
            // Typing waits for a pause before the field is read and previewed.
            if (auto* edit = widget->findChild<QLineEdit*>())
                connect(edit, &QLineEdit::textEdited, this, &TransformationDialog::typed);
            if (slider) line_layout->addWidget(slider, 1);
            form->addRow(label, row);
        }
        const QString range = QString::fromStdString(range_text(info));
        if (!range.isEmpty()) row->setToolTip(range);
        widget->setObjectName(QString::fromStdString(info.key));
        controls_.push_back({info, widget, row});
    }
    if (module_.mixing() == Mixing::two_sets) {
        if (auto* which = qobject_cast<QComboBox*>(control("which_curve"))) {
            connect(which, &QComboBox::currentIndexChanged, this, &TransformationDialog::show_set);
            show_set(0);  // the line shown below may choose the other
        }
    }
    typing_.setSingleShot(true);
    typing_.setInterval(typing_delay(engine_->text_delay));
    connect(&typing_, &QTimer::timeout, this, [this] { (void)fields_read(); });
    if (has_display || has_auto) {
        auto* preview_row = new QHBoxLayout;
        if (has_display) {
            display_box_ = new QCheckBox("Display Result");
            display_box_->setToolTip("Off: the image window shows the input");
            connect(display_box_, &QCheckBox::toggled, this, &TransformationDialog::set_display);
            preview_row->addWidget(display_box_);
        }
        if (has_auto) {
            auto_box_ = new QCheckBox("Auto Preview");
            preview_button_ = new QPushButton("Preview");
            connect(auto_box_, &QCheckBox::toggled, this, &TransformationDialog::set_auto_preview);
            connect(preview_button_, &QPushButton::clicked, this, &TransformationDialog::preview);
            preview_row->addWidget(auto_box_);
            preview_row->addWidget(preview_button_);
        }
        preview_row->addStretch(1);
        outer->addLayout(preview_row);
    }
    build_preview_buttons(outer);
    show_values(line);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    apply_button_ = buttons->addButton(QDialogButtonBox::Apply);
    connect(apply_button_, &QPushButton::clicked, this, &TransformationDialog::apply);
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

void TransformationDialog::build_preview_buttons(QLayout* outer) {
    const std::uint8_t wanted = module_.dialog_traits().preview_buttons;
    if (wanted == 0) return;
    auto* row = new QHBoxLayout;
    row->setSpacing(1);
    auto add = [&](std::uint8_t bit, const char* bitmap, const char* tip, const char* text) {
        if (!(wanted & bit)) return static_cast<QToolButton*>(nullptr);
        auto* b = new QToolButton;
        b->setText(text);
        b->setToolTip(tip);
        b->setObjectName(bitmap);
        row->addWidget(b);
        return b;
    };
    run_button_ = add(preview_button_run, "Run.bmp", "Compute entire output image", "Run");
    delta_button_ = add(preview_button_delta, "Delta.bmp", "Show Difference", "Delta");
    double_button_ = add(preview_button_double, "Double.bmp", "Display preview at 2:1", "2:1");
    if (run_button_)
        connect(run_button_, &QToolButton::clicked, this, &TransformationDialog::preview);
    if (delta_button_) {
        delta_button_->setCheckable(true);
        connect(delta_button_, &QToolButton::toggled, this, &TransformationDialog::set_difference);
    }
    if (double_button_) {
        connect(double_button_, &QToolButton::clicked, this,
                [this] { frame_.view()->set_zoom(2.0); });
    }
    row->addStretch(1);
    static_cast<QBoxLayout*>(outer)->addLayout(row);
}

void TransformationDialog::set_difference(bool on) {
    // The frame makes the picture after every job while the node is current and shows its
    // result, so the view follows each new result by itself.
    session_job([&frame = frame_, on](DialogSession& session) {
        if (!on) {
            frame.show_picture_of(-1, {});
            return;
        }
        frame.show_picture_of(session.node()->serial, [](const Node& node) {
            const Node* input = node.parent ? effective_image_node(node.parent) : nullptr;
            return input ? difference_picture(node.image, input->image) : QImage();
        });
    });
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
    show_amounts(line);
    quiet_ = false;
    // The preview keys act at once (not through the line), so they follow outside the quiet.
    if (display_box_) {
        const std::int32_t display = line_value(line, "display", display_on_);
        if (display != 0) display_on_ = display;
        const QSignalBlocker quiet(display_box_);
        display_box_->setChecked(display != 0);
        set_display(display != 0);
    }
    if (auto_box_) {
        const QSignalBlocker quiet(auto_box_);
        auto_box_->setChecked(line_value(line, "auto_preview", 1) != 0);
        set_auto_preview(auto_box_->isChecked());
    }
}

void TransformationDialog::build_amount(const SettingInfo& info, QFormLayout* form) {
    auto* row = new QWidget;
    auto* layout = new QGridLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* caption = new QLabel;
    auto* first = new QSlider(Qt::Horizontal);
    auto* second = new QSlider(Qt::Horizontal);
    auto* mask = new QToolButton;
    mask->setText("Mask");
    mask->setPopupMode(QToolButton::MenuButtonPopup);
    first->setObjectName(QString::fromStdString(info.key));
    second->setObjectName(QString::fromStdString(info.key + "_second"));
    second->setToolTip("The amount where the mask is white");
    layout->addWidget(caption, 0, 0, 1, 2);
    layout->addWidget(first, 1, 0);
    layout->addWidget(mask, 1, 1);
    layout->addWidget(second, 2, 0);
    form->addRow(row);
    const std::size_t index = amounts_.size();
    amounts_.push_back({info, AmountSettings{}, caption, first, second, mask});
    for (QSlider* slider : {first, second}) {
        connect(slider, &QSlider::valueChanged, this, [this, index] { amount_edited(index); });
    }

    // The mask commands: the button opens the mask dialog (a new mask the first time), the
    // arrow shows the rest, filled as it opens.
    auto* menu = new QMenu(mask);
    menu->setObjectName(QString::fromStdString(info.key + "_mask_menu"));
    connect(menu, &QMenu::aboutToShow, this, [this, index] {
        fill_mask_menu(index);
        refresh_mask_sources(index);
    });
    mask->setMenu(menu);
    connect(mask, &QToolButton::clicked, this, [this, index] { start_mask(index, true, {}); });
    refresh_mask_sources(index);
}

void TransformationDialog::fill_mask_menu(std::size_t index) {
    QMenu* menu = amounts_[index].mask->menu();
    menu->clear();
    connect(menu->addAction("New mask..."), &QAction::triggered, this,
            [this, index] { start_mask(index, false, {}); });
    const std::int32_t slot = amounts_[index].amount.mask_number;
    const auto open = frame_.findChildren<MaskDialog*>();
    const bool is_open = std::any_of(open.begin(), open.end(), [&](const MaskDialog* d) {
        return d->node_serial() == serial_ && d->slot() == slot && d->isVisible();
    });
    if (is_open) {
        connect(menu->addAction("Close Mask Dialog Box"), &QAction::triggered, this, [this] {
            for (MaskDialog* d : frame_.findChildren<MaskDialog*>()) {
                if (d->node_serial() == serial_ && d->isVisible()) d->accept();
            }
        });
    } else {
        connect(menu->addAction("Re-open Mask Dialog Box"), &QAction::triggered, this,
                [this, index] { start_mask(index, true, {}); });
    }
    connect(menu->addAction("Reverse Black and White Sliders"), &QAction::triggered, this,
            [this, index] {
                amount_reverse_sliders(amounts_[index].amount);
                show_amounts({});
                changed();
            });
    connect(menu->addAction("Reset"), &QAction::triggered, this, [this, index] {
        if (closing_) return;
        auto amount = std::make_shared<AmountSettings>(amounts_[index].amount);
        auto reset = std::make_shared<bool>(false);
        ++menu_jobs_;
        frame_.run(
            [engine = engine_, amount, reset] {
                DialogSession* session = engine->session.get();
                if (session && !session->closed())
                    *reset = amount_reset_mask(*amount, session->node());
            },
            [self = QPointer(this), index, amount, reset] {
                if (!self) return;
                --self->menu_jobs_;
                if (!*reset || self->closing_) return;
                self->amounts_[index].amount = *amount;
                self->show_amounts({});
                self->changed();
            });
    });
    const std::vector<MaskSourceEntry>& sources = amounts_[index].sources;
    if (!sources.empty()) menu->addSeparator();
    for (const MaskSourceEntry& source : sources) {
        connect(menu->addAction(QString::fromStdString(source.text)), &QAction::triggered, this,
                [this, index, source] { start_mask(index, false, source); });
    }
}

void TransformationDialog::refresh_mask_sources(std::size_t index) {
    auto sources = std::make_shared<std::vector<MaskSourceEntry>>();
    const std::int32_t base = amounts_[index].amount.base_input_index;
    ++menu_jobs_;
    frame_.run(
        [engine = engine_, sources, base] {
            DialogSession* session = engine->session.get();
            if (session && !session->closed())
                *sources = amount_mask_sources(session->node(), base);
        },
        [self = QPointer(this), index, sources] {
            if (!self) return;
            --self->menu_jobs_;
            AmountControl& a = self->amounts_[index];
            const bool same = a.sources.size() == sources->size() &&
                              std::equal(a.sources.begin(), a.sources.end(), sources->begin(),
                                         [](const MaskSourceEntry& x, const MaskSourceEntry& y) {
                                             return x.serial == y.serial && x.index == y.index &&
                                                    x.text == y.text;
                                         });
            if (same) return;
            a.sources = std::move(*sources);
            // A menu already showing takes the new entries at once.
            if (a.mask->menu()->isVisible()) self->fill_mask_menu(index);
        });
}

void TransformationDialog::start_mask(std::size_t index, bool reopen,
                                      std::optional<MaskSourceEntry> from) {
    if (closing_) return;
    const std::int32_t slot = amounts_[index].amount.mask_number;
    if (!reopen) {
        // A new mask starts with the transformation's other mask dialogs closed.
        for (MaskDialog* d : frame_.findChildren<MaskDialog*>()) {
            if (d->node_serial() == serial_ && d->isVisible()) d->accept();
        }
    }
    auto amount = std::make_shared<AmountSettings>(amounts_[index].amount);
    auto started = std::make_shared<bool>(true);
    ++menu_jobs_;
    frame_.run(
        [engine = engine_, amount, reopen, from, started] {
            DialogSession* session = engine->session.get();
            if (!session || session->closed()) {
                *started = false;
                return;
            }
            if (from) {
                *started =
                    amount_start_mask(*amount, session->node(), find_node_by_serial(from->serial),
                                      from->index, from->text) != nullptr;
            } else if (!reopen || amount->second < 0) {
                (void)amount_start_mask(*amount, session->node());
            }
        },
        [self = QPointer(this), index, amount, slot, started] {
            if (!self) return;
            --self->menu_jobs_;
            if (self->closing_ || !*started) return;
            self->amounts_[index].amount = *amount;
            self->show_amounts({});
            self->changed();
            open_mask_dialog(self->frame_, self->serial_, slot);
        });
}

void TransformationDialog::show_amounts(const std::string& line) {
    // An empty line shows the settings as they are; otherwise they are read from it first.
    const ArgumentList args = split(line);
    const bool was_quiet = quiet_;
    quiet_ = true;
    for (AmountControl& a : amounts_) {
        if (!line.empty()) (void)amount_from_args(args, a.info.key, a.amount);
        const std::int32_t mode = a.amount.mode;
        for (QSlider* slider : {a.first, a.second}) {
            slider->setRange(mode == amount_mode_signed ? -amount_steps : 0, amount_steps);
        }
        a.first->setValue(amount_to_step(a.amount.amount, mode));
        a.first->setEnabled(a.amount.amount >= 0);
        a.second->setValue(amount_to_step(a.amount.second, mode));
        a.second->setVisible(a.amount.second >= 0);
        a.caption->setText(QString::fromStdString(amount_caption(a.amount)));
    }
    quiet_ = was_quiet;
}

void TransformationDialog::amount_edited(std::size_t index) {
    if (quiet_) return;
    AmountControl& a = amounts_[index];
    if (a.amount.amount >= 0) a.amount.amount = step_to_amount(a.first->value(), a.amount.mode);
    if (a.amount.second >= 0) a.amount.second = step_to_amount(a.second->value(), a.amount.mode);
    a.caption->setText(QString::fromStdString(amount_caption(a.amount)));
    changed();
}

QSlider* TransformationDialog::amount_slider(const std::string& key, int which) const {
    for (const AmountControl& a : amounts_) {
        if (a.info.key == key) return which == 0 ? a.first : a.second;
    }
    return nullptr;
}

QToolButton* TransformationDialog::mask_button(const std::string& key) const {
    for (const AmountControl& a : amounts_) {
        if (a.info.key == key) return a.mask;
    }
    return nullptr;
}

QMenu* TransformationDialog::mask_menu(const std::string& key) {
    for (std::size_t i = 0; i < amounts_.size(); ++i) {
        if (amounts_[i].info.key != key) continue;
        fill_mask_menu(i);
        return amounts_[i].mask->menu();
    }
    return nullptr;
}

void TransformationDialog::show_set(int set) {
    // Two settings sets: "key" belongs to set 0 and "key1" to set 1; one set shows at a time.
    shown_set_ = set;
    for (const Control& c : controls_) {
        const bool in_set1 = c.info.key.size() > 1 && c.info.key.back() == '1' &&
                             control(c.info.key.substr(0, c.info.key.size() - 1));
        const bool in_set0 = control(c.info.key + "1") != nullptr;
        if (in_set0 || in_set1) form_->setRowVisible(c.row, in_set1 == (set == 1));
    }
}

void TransformationDialog::typed() {
    if (!closing_) typing_.start();
}

bool TransformationDialog::fields_read() {
    typing_.stop();
    for (const Control& c : controls_) {
        auto* spin = qobject_cast<QAbstractSpinBox*>(c.widget);
        if (!spin) continue;
        if (!spin->hasAcceptableInput()) {
            show_error("Illegal number: %s", spin->text().toStdString());
            spin->setFocus();
            return false;
        }
        spin->interpretText();
    }
    return !panel_ || panel_->accept_check();
}

void TransformationDialog::session_job(std::function<void(DialogSession&)> work) {
    if (closing_) return;
    ++menu_jobs_;
    frame_.run(
        [engine = engine_, work = std::move(work)] {
            DialogSession* session = engine->session.get();
            if (session && !session->closed()) work(*session);
        },
        [self = QPointer(this)] {
            if (self) --self->menu_jobs_;
        });
}

void TransformationDialog::set_display(bool on) {
    session_job([&frame = frame_, on](DialogSession& session) {
        frame.show_input_of(on ? -1 : session.node()->serial);
        if (on && session.node()->needs_run) (void)session.run();
    });
}

void TransformationDialog::set_auto_preview(bool on) {
    session_job([on](DialogSession& session) {
        session.set_auto_preview(on);
        if (on && session.node()->needs_run) (void)session.run();
    });
}

void TransformationDialog::preview() {
    run_now(false);
}

void TransformationDialog::apply() {
    run_now(true);
}

void TransformationDialog::run_now(bool apply) {
    if (closing_ || !fields_read()) return;
    pending_ = false;
    ++menu_jobs_;
    auto written = std::make_shared<std::string>();
    frame_.run(
        [engine = engine_, &module = module_, line = command_line(), written, apply] {
            DialogSession* session = engine->session.get();
            if (!session || session->closed()) return;
            take_over_change(module, *session, line, *written);
            // Apply runs the node only when it needs it; Preview always.
            (void)(apply ? session->apply() : session->run());
        },
        [self = QPointer(this), written] {
            if (!self) return;
            --self->menu_jobs_;
            if (!written->empty()) self->line_ = *written;
        });
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
    for (const AmountControl& a : amounts_)
        line += " " + a.info.key + " " + amount_to_text(a.amount);
    if (display_box_)
        line += " display " + std::to_string(display_box_->isChecked() ? display_on_ : 0);
    if (auto_box_) line += std::string(" auto_preview ") + (auto_box_->isChecked() ? "1" : "0");
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
    // Three curves and their colour space (Color Curves) also travel alone, as a curves file.
    if (curves_file_controls()) {
        menu_->addSeparator();
        connect(menu_->addAction("Load Color Curves File..."), &QAction::triggered, this,
                &TransformationDialog::load_curves_file);
        connect(menu_->addAction("Save Color Curves File..."), &QAction::triggered, this,
                &TransformationDialog::save_curves_file);
    }
}

namespace {

FileChoice curves_file_choice(const char* title, std::vector<std::string> patterns) {
    FileChoice choice;
    choice.title = title;
    choice.filter_name = "Color Curves Files";
    choice.patterns = std::move(patterns);
    return choice;
}

}  // namespace

std::optional<TransformationDialog::CurvesControls> TransformationDialog::curves_file_controls()
    const {
    // The set shown: set 1's keys carry the prefix "b_".
    const std::string prefix = shown_set_ == 0 ? "" : "b_";
    CurvesControls c;
    for (int k = 0; k < 3; ++k) {
        c.curve[k] = qobject_cast<CurveControl*>(control(prefix + "curve" + std::to_string(k + 1)));
        if (!c.curve[k]) return std::nullopt;
    }
    c.colorspace = qobject_cast<QComboBox*>(control(prefix + "colorspace"));
    if (!c.colorspace) return std::nullopt;
    return c;
}

void TransformationDialog::load_curves_file() {
    const auto controls = curves_file_controls();
    if (!controls || closing_) return;
    auto curves = std::make_shared<std::optional<ColorCurves>>();
    ++menu_jobs_;
    frame_.run(
        [curves] {
            const std::optional<std::string> path = interaction().choose_open_file(
                curves_file_choice("Load Color Curves File", {"*.cc", "*.acv", "*.amp", "*.cube"}));
            ColorCurves read;
            // A file that does not read has said so; the dialog stays as it was.
            if (path && !load_color_curves_any(*path, read)) *curves = read;
        },
        [self = QPointer(this), curves] {
            if (!self) return;
            --self->menu_jobs_;
            const auto c = self->curves_file_controls();
            if (!*curves || !c || self->closing_) return;
            const bool was_quiet = self->quiet_;
            self->quiet_ = true;
            for (int k = 0; k < 3; ++k) c->curve[k]->set_curve((*curves)->curve[k]);
            c->colorspace->setCurrentIndex((*curves)->colorspace);
            self->quiet_ = was_quiet;
            self->changed();
        });
}

void TransformationDialog::save_curves_file() {
    const auto controls = curves_file_controls();
    if (!controls || closing_) return;
    ColorCurves curves;
    for (int k = 0; k < 3; ++k) curves.curve[k] = controls->curve[k]->curve();
    curves.colorspace = controls->colorspace->currentIndex();
    ++menu_jobs_;
    frame_.run(
        [curves] {
            if (const std::optional<std::string> path = interaction().choose_save_file(
                    curves_file_choice("Save Color Curves File", {"*.cc", "*.cube"})))
                (void)save_color_curves_any(*path, curves);
        },
        [self = QPointer(this)] {
            if (self) --self->menu_jobs_;
        });
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
    ++engine_->latest;
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
            const bool quick = engine->last_run_ms >= 0.0 && engine->last_run_ms < quick_run_ms;
            if (session->auto_preview() && node->bypass == bypass_none && !quick) {
                *first_look = engine->proxy.picture(module, node, *written);
            }
        },
        [self = QPointer(this), first_look] {
            const bool shows_input = self && self->display_box_ && !self->display_box_->isChecked();
            const bool shows_difference =
                self && self->delta_button_ && self->delta_button_->isChecked();
            if (self && !shows_input && !shows_difference && !first_look->isNull())
                self->frame_.view()->set_picture(*first_look, false);
        });
    frame_.run(
        [engine = engine_, written, generation = engine_->latest.load()] {
            DialogSession* session = engine->session.get();
            if (!session || session->closed() || written->empty()) return;
            if (engine->latest.load() != generation) {
                // Overtaken before it started: the next change runs instead.
                session->node()->needs_run = true;
                return;
            }
            set_run_generation(&engine->latest, generation);
            const auto start = std::chrono::steady_clock::now();
            const bool runs = session->auto_preview() && session->node()->bypass == bypass_none;
            session->settings_changed(*written);
            set_run_generation(nullptr, 0);
            if (engine->latest.load() != generation) {
                if (!session->closed()) session->node()->needs_run = true;
            } else if (runs && !session->closed() && !session->node()->needs_run) {
                engine->last_run_ms = std::chrono::duration<double, std::milli>(
                                          std::chrono::steady_clock::now() - start)
                                          .count();
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
    if (closing_ || !fields_read()) return;
    finish(true);
}

void TransformationDialog::reject() {
    finish(false);
}

void TransformationDialog::session_ended() {
    if (closing_) return;
    closing_ = true;
    pending_ = false;
    typing_.stop();
    QDialog::reject();  // closes without asking the engine: the session is over there
    deleteLater();
}

void TransformationDialog::refreshed(bool show_result, const std::string& line) {
    if (closing_) return;
    // Settings the new input changed are shown (a change of the person's still on its way
    // wins: it is written over them next).
    if (!pending_ && !line.empty() && line != line_) {
        line_ = line;
        show_values(line);
    }
    if (show_result && display_box_ && !display_box_->isChecked()) display_box_->setChecked(true);
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
        [engine = engine_, &frame = frame_, &module = module_, line = command_line(), ok, closed] {
            DialogSession* session = engine->session.get();
            if (!session) return;
            if (ok) {
                // OK runs the node when it needs it.
                std::string written;
                take_over_change(module, *session, line, written);
                (void)session->ok();
                *closed = true;
            } else {
                *closed = session->cancel();
            }
            if (*closed) {
                engine->session.reset();
                frame.show_input_of(-1);
                frame.show_picture_of(-1, {});
            }
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

// The window side of a dialog's session: the tree's notifications arrive on the engine's thread
// and are handed to the node's dialog, found again by serial number when they arrive (it may
// not exist yet, or no longer).
class TransformationWindow : public DialogWindow {
  public:
    TransformationWindow(FrameWindow& frame, std::int32_t serial)
        : frame_(frame), serial_(serial) {}
    void raise() override {
        post([](TransformationDialog& d) {
            d.show();
            d.raise();
            d.activateWindow();
        });
    }
    void session_ended() override {
        frame_.show_input_of(-1);
        frame_.show_picture_of(-1, {});
        post([](TransformationDialog& d) { d.session_ended(); });
    }
    void refreshed(bool show_result, const std::string& line) override {
        post([show_result, line](TransformationDialog& d) { d.refreshed(show_result, line); });
    }
    void set_active(bool active) override {
        post([active](TransformationDialog& d) { d.setVisible(active); });
    }

  private:
    template <class F>
    void post(F work) {
        QMetaObject::invokeMethod(&frame_, [&frame = frame_, serial = serial_, work] {
            for (TransformationDialog* d : frame.findChildren<TransformationDialog*>()) {
                if (d->node_serial() != serial || d->closing()) continue;
                work(*d);
                return;
            }
        });
    }

    FrameWindow& frame_;
    std::int32_t serial_;
};

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
        [engine, &module, line, serial, input, &frame] {
            // A transformation that starts an image of its own needs no current image.
            const bool top_level = module.dialog_traits().top_level;
            Node* current = top_level ? nullptr : current_node();
            if (!current && !top_level) return;
            *input = panel_input(module, current);
            const std::string initial = starting_line(module, current, nullptr);
            engine->text_delay = preferences().text_delay;
            engine->session = DialogSession::open_new(dialog_module_info(module), initial,
                                                      line_value(initial, "auto_preview", 1) != 0);
            if (!engine->session) return;
            *line = engine->session->node()->command_line.value_or(initial);
            *serial = engine->session->node()->serial;
            engine->session->attach(std::make_shared<TransformationWindow>(frame, *serial));
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
                [engine, opened, input, &frame] {
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
                    engine->text_delay = preferences().text_delay;
                    engine->session = DialogSession::open_existing(
                        dialog_module_info(*entry->module), node,
                        line_value(*node->command_line, "auto_preview", 1) != 0);
                    if (!engine->session) return;
                    engine->session->attach(
                        std::make_shared<TransformationWindow>(frame, node->serial));
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
