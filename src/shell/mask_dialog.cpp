#include "shell/mask_dialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <filesystem>

#include "core/format.h"
#include "core/interaction.h"
#include "core/runner.h"
#include "fileio/file_open.h"
#include "fileio/image_write.h"
#include "fileio/save.h"
#include "fileio/save_options.h"
#include "masks/mask_command_line.h"
#include "masks/mask_files.h"
#include "masks/mask_select.h"
#include "masks/mask_settings.h"
#include "shell/curve_control.h"
#include "shell/frame_window.h"
#include "shell/mask_hue_panels.h"
#include "shell/mask_panels.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly::shell {

namespace {

struct ButtonInfo {
    const char* bitmap;
    const char* tip;
    const char* label;
};

constexpr std::array<ButtonInfo, 4> general_buttons{{
    {"Settings.bmp", "Settings", "Settings"},
    {"Help.bmp", "Help", "?"},
    {"Undo.bmp", "Undo last operation", "Undo"},
    {"Redo.bmp", "Redo last operation", "Redo"},
}};
// In the order of mask_command_buttons.
constexpr std::array<ButtonInfo, 8> whole_mask_buttons{{
    {"All White.bmp", "Mask All", "All"},
    {"All Black.bmp", "Clear Mask", "Clear"},
    {"All Gray.bmp", "Set Mask to 50% Gray", "50%"},
    {"Invert.bmp", "Invert Mask", "Inv"},
    {"Left Half.bmp", "Mask Left Half", "Left"},
    {"Right Half.bmp", "Mask Right Half", "Right"},
    {"Top Half.bmp", "Mask Top Half", "Top"},
    {"Bottom Half.bmp", "Mask Bottom Half", "Bottom"},
}};
constexpr std::array<ButtonInfo, 4> mode_buttons{{
    {"Mask Add.bmp", "Add", "Add"},
    {"Mask Subtract.bmp", "Subtract", "Sub"},
    {"Mask Overlap.bmp", "Overlap", "Ovl"},
    {"Mask Invert.bmp", "Invert", "Xor"},
}};
constexpr std::array<ButtonInfo, 4> colour_buttons{{
    {"Red.bmp", "Red Overlay", "R"},
    {"Green.bmp", "Green Overlay", "G"},
    {"Blue.bmp", "Blue Overlay", "B"},
    {"White.bmp", "White Overlay", "W"},
}};
constexpr std::array<ButtonInfo, 6> transparency_buttons{{
    {"Mask 0% Opaque.bmp", "Transparent Mask Overlay", "0%"},
    {"Mask 25% Opaque.bmp", "75% Transparent Mask Overlay", "25%"},
    {"Mask 50% Opaque.bmp", "50% Transparent Mask Overlay", "50%"},
    {"Mask 75% Opaque.bmp", "25% Transparent Mask Overlay", "75%"},
    {"Mask 100% Opaque.bmp", "Opaque Mask Overlay", "100%"},
    {"Mask Only.bmp", "Mask Only", "Mask"},
}};
// In the order of mask_tool_buttons; the tool-tips are the operations' names.
constexpr std::array<ButtonInfo, 20> tool_buttons{{
    {"Mask Lasso.bmp", nullptr, "Lasso"},
    {"Mask Rectangle.bmp", nullptr, "Rect"},
    {"Mask Oval.bmp", nullptr, "Oval"},
    {"Mask Polygon.bmp", nullptr, "Poly"},
    {"Mask Spline.bmp", nullptr, "Spline"},
    {"Mask Feather.bmp", nullptr, "Feather"},
    {"Mask Blur.bmp", nullptr, "Blur"},
    {"Mask Range.bmp", nullptr, "Range"},
    {"HSV.bmp", nullptr, "HS"},
    {"HS Hist.bmp", nullptr, "HSHist"},
    {"Mask Paint.bmp", nullptr, "Paint"},
    {"Mask Curve.bmp", nullptr, "Curve"},
    {"Mask Flood Fill.bmp", nullptr, "Fill"},
    {"Mask Separate.bmp", nullptr, "Sep"},
    {"Mask Texture.bmp", nullptr, "Tex"},
    {"Linear Gradient.bmp", nullptr, "LinGr"},
    {"Oval Gradient.bmp", nullptr, "OvGr"},
    {"Speck.bmp", nullptr, "Speck"},
    {"Median.bmp", nullptr, "Median"},
    {"Spline.bmp", nullptr, "Shape"},
}};

// Tools whose shape is dragged out from one corner or end to the other.
bool is_box_tool(std::int32_t code) {
    return code == mask_op_rectangle || code == mask_op_oval || code == mask_op_linear_gradient ||
           code == mask_op_oval_gradient;
}
bool is_drawing_tool(std::int32_t code) {
    return is_box_tool(code) || code == mask_op_freehand || code == mask_op_polygon ||
           code == mask_op_spline;
}

// The 8-bit picture of a mask (top row first) for the interface thread.
QImage mask_image(const Image& mask) {
    if (mask.width == 0 || mask.height == 0) return QImage();
    QImage out(static_cast<int>(mask.width), static_cast<int>(mask.height),
               QImage::Format_Grayscale8);
    const bool wide = mask.type == image_gray16;
    const int h = static_cast<int>(mask.height);
    (void)run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            for (int y = first; y <= last; ++y) {
                const std::uint8_t* row = mask.row(static_cast<std::uint32_t>(h - 1 - y));
                std::uint8_t* to = out.scanLine(y);
                for (std::uint32_t x = 0; x < mask.width; ++x) {
                    to[x] = wide ? narrow16to8(sample16(row, x)) : row[x];
                }
            }
            return 0;
        },
        std::string_view(), static_cast<int>(mask.width), h, h, false, false, false);
    return out;
}

// The mask as the overlay shows it: the colour at the chosen opacity where the mask is white,
// or the mask alone.
QImage tint(const QImage& mask, std::int32_t colour, std::int32_t transparency) {
    if (mask.isNull() || transparency <= 0) return QImage();
    static constexpr std::array<QRgb, 4> colours{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255),
                                                 qRgb(255, 255, 255)};
    const QRgb c = colours[static_cast<std::size_t>(std::clamp(colour, 0, 3))];
    const bool only = transparency >= 5;
    const int opacity = only ? 255 : std::min(transparency, 4) * 255 / 4;
    QImage out(mask.size(), QImage::Format_ARGB32_Premultiplied);
    (void)run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            for (int y = first; y <= last; ++y) {
                const uchar* from = mask.constScanLine(y);
                auto* to = reinterpret_cast<QRgb*>(out.scanLine(y));
                for (int x = 0; x < mask.width(); ++x) {
                    if (only) {
                        to[x] = qRgb(from[x], from[x], from[x]);
                        continue;
                    }
                    const int a = from[x] * opacity / 255;
                    to[x] = qRgba(qRed(c) * a / 255, qGreen(c) * a / 255, qBlue(c) * a / 255, a);
                }
            }
            return 0;
        },
        std::string_view(), mask.width(), mask.height(), mask.height(), false, false, false);
    return out;
}

}  // namespace

// What the tree tells the dialog arrives on the engine's thread: it is handed over to the
// interface thread.
class MaskDialogHandle : public DialogHandle {
  public:
    explicit MaskDialogHandle(MaskDialog* dialog) : dialog_(dialog) {}
    void raise() override {
        QMetaObject::invokeMethod(dialog_, [d = dialog_] {
            if (d) d->raise();
        });
    }
    void close_without_running() override {
        QMetaObject::invokeMethod(dialog_, [d = dialog_] {
            if (d) d->abandon();
        });
    }

  private:
    QPointer<MaskDialog> dialog_;
};

// Lives on the engine's thread: only jobs touch it.
struct MaskDialog::Engine {
    std::int32_t serial = 0;
    int slot = 0;
    MaskState state;
    bool open = false;
    std::string original_line;
    std::int32_t original_level = 0;
    Image original_image;
    // The tree points at it while the dialog is open; it is let go only when the tree no longer
    // does, so that a dialog destroyed with the program never leaves the tree a dangling handle.
    MaskDialogHandle* handle = nullptr;
    // Results for the interface thread.
    QImage mask;
    HueSatCounts hs_counts;  // the base picture's colours, for the histogram tool
    std::string title;
    bool can_undo = false;
    bool can_redo = false;

    Node* node() const { return find_node_by_serial(serial); }
    MaskSettings* settings() const {
        Node* n = node();
        if (!n || slot < 0 || slot >= n->mask_count()) return nullptr;
        return n->masks[static_cast<std::size_t>(slot)].get();
    }
    Node* input() const {
        Node* n = node();
        return n ? effective_image_node(n->parent) : nullptr;
    }

    // Opens the state on the node's mask; true on failure (said so).
    bool start(MaskDialog* dialog) {
        Node* n = node();
        if (!n) {
            show_error("The transformation of this mask no longer exists");
            return true;
        }
        if (slot < 0 || slot >= n->mask_count()) {
            show_error("This transformation has no mask %d", slot + 1);
            return true;
        }
        auto& slot_settings = n->masks[static_cast<std::size_t>(slot)];
        if (!slot_settings) {
            slot_settings = std::make_unique<MaskSettings>();
            slot_settings->caption = "Mask";
        }
        MaskSettings& mask = *slot_settings;
        const Image* base = mask_base_image(input(), *n, mask);
        if (!base || base->width == 0) {
            show_error("There is no image to build the mask on");
            return true;
        }
        hs_counts = hue_sat_counts(*base);
        original_line = mask.command_line;
        original_level = mask.initial_level;
        if (mask.image.width > 0 && image_copy(mask.image, original_image)) return true;
        mask_state_defaults(state);
        state.initial_image = initial_mask_image(mask);
        mask_state_set_base(state, base);
        if (!mask.command_line.empty()) {
            (void)read_mask_command_line(mask.command_line, state);
        } else {
            // A new mask starts from the saved "Default" tool settings, when there are some.
            (void)load_default_mask_settings(state);
            state.initial_level = mask.initial_level;
            if (mask_list_reset(state)) return true;
        }
        const std::string caption = mask.caption.empty() ? std::string("Mask") : mask.caption;
        title = mask.source_name.empty()
                    ? caption
                    : formatted("%s from: %s", caption.c_str(), mask.source_name.c_str());
        handle = new MaskDialogHandle(dialog);
        mask.dialog = handle;
        open = true;
        gather();
        return false;
    }

    // The mask of the undo position, for the window.
    void gather() {
        this->mask = mask_image(state.current_mask);
        can_undo = mask_can_undo(state);
        can_redo = mask_can_redo(state);
    }

    // After every change of the list: the recipe into the Mask Settings, and the
    // transformation run again with it.
    void changed() {
        MaskSettings* mask = settings();
        if (!mask) return;
        store_mask_command_line(state, *mask);
        Node* n = node();
        (void)run_node(n->parent, n);
        gather();
    }

    ~Engine() {
        if (!open) delete handle;
    }

    // Lets the tree forget the dialog; true when the mask is still there.
    bool release() {
        open = false;
        MaskSettings* mask = settings();
        if (mask && mask->dialog == handle) mask->dialog = nullptr;
        delete handle;
        handle = nullptr;
        return mask != nullptr;
    }

    void close(bool keep) {
        if (!open) return;
        if (!release() || keep) return;
        MaskSettings* mask = settings();
        mask->command_line = original_line;
        mask->initial_level = original_level;
        if (original_line.empty()) {
            mask->image = Image();
            if (original_image.width > 0) (void)image_copy(original_image, mask->image);
        }
        Node* n = node();
        (void)run_node(n->parent, n);
    }
};

void open_mask_dialog(FrameWindow& frame, std::int32_t node_serial, int slot) {
    for (MaskDialog* open : frame.findChildren<MaskDialog*>()) {
        if (open->node_serial() == node_serial && open->slot() == slot && open->isVisible()) {
            open->raise();
            open->activateWindow();
            return;
        }
    }
    auto* dialog = new MaskDialog(frame, node_serial, slot);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
}

bool mask_dialog_command(FrameWindow& frame, std::uint32_t id) {
    constexpr std::uint32_t command_mask_add = 1136;       // F3
    constexpr std::uint32_t command_mask_subtract = 1137;  // F4
    if (id != command_mask_add && id != command_mask_subtract) return false;
    for (MaskDialog* open : frame.findChildren<MaskDialog*>()) {
        if (open->isVisible()) open->set_mode(id == command_mask_add ? mask_add : mask_subtract);
    }
    return true;
}

MaskDialog::MaskDialog(FrameWindow& frame, std::int32_t node_serial, int slot)
    : QDialog(&frame),
      frame_(frame),
      serial_(node_serial),
      slot_(slot),
      engine_(std::make_shared<Engine>()) {
    setObjectName("mask");
    setWindowFlag(Qt::Tool);
    engine_->serial = serial_;
    engine_->slot = slot_;
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(2);
    build_tool_bars();
    build_settings_menu();
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(box, &QDialogButtonBox::accepted, this, &MaskDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &MaskDialog::reject);
    layout->addWidget(box);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    std::shared_ptr<bool> failed = std::make_shared<bool>(true);
    Engine* e = engine_.get();
    job([this, e, failed](Engine&) { *failed = e->start(this); },
        [this, failed] {
            if (*failed) {
                closing_ = true;
                close();
                return;
            }
            tool_ = engine_->state.tool;
            mode_ = engine_->state.mode;
            settings_ = engine_->state.settings;
            colour_ = std::clamp(engine_->state.mask_color, 0, 3);
            transparency_ = std::clamp(engine_->state.mask_transparency, 0, 5);
            button(colour_buttons[static_cast<std::size_t>(colour_)].bitmap)->setChecked(true);
            button(transparency_buttons[static_cast<std::size_t>(transparency_)].bitmap)
                ->setChecked(true);
            // The panels show the settings the mask was last edited with.
            panels_ = static_cast<QStackedWidget*>(build_panels());
            auto* rows = static_cast<QVBoxLayout*>(this->layout());
            rows->insertWidget(rows->count() - 1, panels_);
            setWindowTitle(QString::fromStdString(engine_->title));
            choose_tool(is_drawing_tool(tool_) || tool_ == mask_op_flood_fill ? tool_
                                                                              : mask_op_rectangle);
            if (QAbstractButton* b = modes_group_->button(mode_)) b->setChecked(true);
            frame_.view()->set_overlay(this);
            show();
        });
}

MaskDialog::~MaskDialog() {
    if (frame_.view() && frame_.view()->overlay() == this) frame_.view()->set_overlay(nullptr);
}

QAbstractButton* MaskDialog::button(const QString& bitmap) const {
    auto it = buttons_.find(bitmap);
    return it == buttons_.end() ? nullptr : it->second;
}

void MaskDialog::build_tool_bars() {
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    auto add_row = [&](const auto& infos, auto tip_of, auto on_click, QButtonGroup* group) {
        auto* row = new QHBoxLayout;
        row->setSpacing(1);
        int i = 0;
        for (const ButtonInfo& info : infos) {
            auto* b = new QToolButton;
            b->setText(info.label);
            b->setToolTip(QString::fromUtf8(tip_of(info, i)));
            b->setObjectName(info.bitmap);
            b->setAutoRaise(false);
            if (group) {
                b->setCheckable(true);
                group->addButton(b, i);
            }
            connect(b, &QToolButton::clicked, this, [on_click, i] { on_click(i); });
            buttons_[info.bitmap] = b;
            row->addWidget(b);
            ++i;
        }
        row->addStretch();
        layout->addLayout(row);
    };
    auto own_tip = [](const ButtonInfo& info, int) { return info.tip; };
    add_row(
        general_buttons, own_tip,
        [this](int i) {
            if (i == 2) undo();
            if (i == 3) redo();
            if (i == 1) show_warning("Help is not available for the mask dialog");
            if (i == 0) {
                QAbstractButton* b = button("Settings.bmp");
                menu_->popup(b->mapToGlobal(QPoint(0, b->height())));
            }
        },
        nullptr);
    add_row(
        whole_mask_buttons, own_tip,
        [this](int i) { record_command(mask_command_buttons[static_cast<std::size_t>(i)]); },
        nullptr);
    static constexpr std::array<ButtonInfo, 2> depth{{
        {"8.bmp", "Create 8-bit mask", "8"},
        {"16.bmp", "Create 16-bit mask", "16"},
    }};
    static constexpr std::array<ButtonInfo, 1> run{{
        {"Run.bmp", "Perform pending mask operation and update transformation", "Run"},
    }};
    auto* depth_group = new QButtonGroup(this);
    add_row(
        depth, own_tip,
        [this](int i) {
            const std::int32_t wide = i;
            job([wide](Engine& e) { e.state.mask16 = wide; });
        },
        depth_group);
    add_row(
        run, own_tip, [this](int) { perform(); }, nullptr);
    modes_group_ = new QButtonGroup(this);
    add_row(
        mode_buttons, own_tip, [this](int i) { set_mode(i); }, modes_group_);
    auto* colours = new QButtonGroup(this);
    add_row(
        colour_buttons, own_tip, [this](int i) { set_overlay_colour(i); }, colours);
    auto* transparencies = new QButtonGroup(this);
    add_row(
        transparency_buttons, own_tip, [this](int i) { set_overlay_transparency(i); },
        transparencies);
    tools_group_ = new QButtonGroup(this);
    add_row(
        tool_buttons,
        [](const ButtonInfo&, int i) {
            return mask_operation_name(mask_tool_buttons[static_cast<std::size_t>(i)]);
        },
        [this](int i) { choose_tool(mask_tool_buttons[static_cast<std::size_t>(i)]); },
        tools_group_);
    depth_group->button(0)->setChecked(true);
    colours->button(colour_)->setChecked(true);
    transparencies->button(transparency_)->setChecked(true);
}

QWidget* MaskDialog::build_panels() {
    auto* stack = new QStackedWidget;
    auto* none = new QLabel(tr("Draw in the image window, then Add (F3) or Subtract (F4)."));
    stack->addWidget(none);
    auto* run_only = new QLabel(tr("Run performs this operation on the mask."));
    const int run_page = stack->addWidget(run_only);
    for (std::int32_t code : mask_tool_buttons) {
        if (!is_drawing_tool(code)) panel_of_tool_[code] = run_page;
    }
    // The label shows the value through format, which takes a double.
    auto slider = [](int low, int high, double value, const char* format, QFormLayout* form,
                     auto store) {
        auto* label = new QLabel(QString::asprintf(format, value));
        auto* s = new QSlider(Qt::Horizontal);
        s->setRange(low, high);
        s->setValue(static_cast<int>(std::lround(value)));
        QObject::connect(s, &QSlider::valueChanged, s, [label, format, store](int v) {
            label->setText(QString::asprintf(format, double(v)));
            store(v);
        });
        form->addRow(label, s);
        return s;
    };
    auto choice = [this](const QStringList& items, int current, const QString& text,
                         QFormLayout* form, auto store) {
        auto* box = new QComboBox;
        box->addItems(items);
        box->setCurrentIndex(current);
        connect(box, &QComboBox::currentIndexChanged, this, store);
        form->addRow(text, box);
    };
    {
        auto* page = new QWidget;
        auto* form = new QFormLayout(page);
        BrushSettings& b = settings_.brush;
        auto both = [this](auto member) {
            return [this, member](int v) {
                settings_.brush.*member = v;
                settings_.nominal_brush.*member = v;
            };
        };
        slider(1, 500, b.radius, "Radius: %.1f", form, both(&BrushSettings::radius));
        slider(0, 100, b.transparency, "Transparency: %.1f%%", form,
               both(&BrushSettings::transparency));
        slider(0, 100, b.softness, "Softness: %.1f%%", form, both(&BrushSettings::softness));
        slider(1, 100, b.spacing, "Spacing: %.1f%%", form, both(&BrushSettings::spacing));
        slider(0, 255, b.threshold, "Threshold: %.1f", form, both(&BrushSettings::threshold));
        choice({"All Pixels", "Pixels in Color Range", "Similar Pixels (Fixed)",
                "Similar Pixels (Track)"},
               b.operation, tr("Apply to:"), form, both(&BrushSettings::operation));
        auto* accumulate = new QCheckBox(tr("Brush strokes accumulate"));
        accumulate->setChecked(b.accumulate != 0);
        connect(accumulate, &QCheckBox::toggled, this, [this](bool on) {
            settings_.brush.accumulate = settings_.nominal_brush.accumulate = on ? 1 : 0;
        });
        form->addRow(accumulate);
        choice({"None", "Transparency", "Radius", "Softness", "Spacing"},
               std::clamp(b.pressure_controls, 0, 4), tr("Stylus Pressure:"), form,
               both(&BrushSettings::pressure_controls));
        panel_of_tool_[mask_op_paint] = stack->addWidget(page);
    }
    {
        auto* page = new QWidget;
        auto* form = new QFormLayout(page);
        auto* contract = new QCheckBox(tr("Contract"));
        contract->setChecked(settings_.feather.radius < 0);
        slider(
            0, 200, std::abs(settings_.feather.radius), "Feather Width: %.0f", form,
            [this, contract](int v) { settings_.feather.radius = contract->isChecked() ? -v : v; });
        choice({"Linear", "Step", "Cosine"}, settings_.feather.style, tr("Falloff:"), form,
               [this](int i) { settings_.feather.style = i; });
        choice({"Round", "Square"}, settings_.feather.corners, tr("Corners:"), form,
               [this](int i) { settings_.feather.corners = i; });
        connect(contract, &QCheckBox::toggled, this, [this](bool on) {
            settings_.feather.radius = (on ? -1 : 1) * std::abs(settings_.feather.radius);
        });
        form->addRow(contract);
        panel_of_tool_[mask_op_feather] = stack->addWidget(page);
    }
    {
        auto* page = new QWidget;
        auto* form = new QFormLayout(page);
        slider(0, 500, settings_.blur_radius, "Radius: %.0f", form,
               [this](int v) { settings_.blur_radius = v; });
        panel_of_tool_[mask_op_blur] = stack->addWidget(page);
    }
    {
        auto* page = new QWidget;
        auto* form = new QFormLayout(page);
        slider(0, 255, static_cast<int>(std::lround(settings_.floodfill_threshold)),
               "Threshold: %.0f", form, [this](int v) { settings_.floodfill_threshold = v; });
        panel_of_tool_[mask_op_flood_fill] = stack->addWidget(page);
    }
    {
        auto* page = new QWidget;
        auto* form = new QFormLayout(page);
        slider(1, 50, settings_.pinhole.size, "Speck Size: %.0f", form,
               [this](int v) { settings_.pinhole.size = v; });
        choice({"White Pinholes", "Black Pinholes", "White and Black Pinholes"},
               settings_.pinhole.removal, tr("Remove:"), form,
               [this](int i) { settings_.pinhole.removal = i; });
        panel_of_tool_[mask_op_pinholes] = stack->addWidget(page);
    }
    range_panel_ = new ColorRangePanel(settings_.color_range);
    panel_of_tool_[mask_op_color_range] = stack->addWidget(range_panel_);
    separate_panel_ = new SeparatePanel(settings_.separate);
    panel_of_tool_[mask_op_separate] = stack->addWidget(separate_panel_);
    panel_of_tool_[mask_op_texture] = stack->addWidget(texture_panel(settings_.texture));
    panel_of_tool_[mask_op_median] = stack->addWidget(median_panel(settings_.median));
    // The two curves: Curve selects by a channel of the picture, Mask Brightness Curve reshapes
    // the mask's own values.
    for (std::int32_t code : {mask_op_curve, mask_op_brightness_curve}) {
        auto* page = new QWidget;
        auto* form = new QFormLayout(page);
        if (code == mask_op_curve) {
            choice(
                {"Luminance", "R", "G", "B", "HSV V", "HSL L", "HSV S", "HSL S", "HSV H", "HSL H"},
                std::clamp(settings_.curve_channel, 0, 9), tr("Channel:"), form,
                [this](int i) { settings_.curve_channel = i; });
        }
        Curve& curve = code == mask_op_curve ? settings_.curve : settings_.shape_curve;
        auto* control = new CurveControl;
        control->set_curve(curve);
        // The square grid at its natural size, not stretched to the tool bars' width.
        control->setFixedSize(control->sizeHint());
        connect(control, &CurveControl::changed, this, [&curve](const Curve& c) { curve = c; });
        form->addRow(control);
        panel_of_tool_[code] = stack->addWidget(page);
    }
    // The drawing tools whose shapes travel as files.
    static constexpr std::array<std::pair<std::int32_t, ShapeFileKind>, 4> files{{
        {mask_op_polygon, ShapeFileKind::polygon},
        {mask_op_spline, ShapeFileKind::spline},
        {mask_op_linear_gradient, ShapeFileKind::linear_gradient},
        {mask_op_oval_gradient, ShapeFileKind::oval_gradient},
    }};
    for (const auto& [code, kind] : files) {
        auto* page = new QWidget;
        auto* column = new QVBoxLayout(page);
        column->addWidget(new QLabel(none->text()));
        auto* row = new QHBoxLayout;
        auto* load = new QPushButton(tr("Load..."));
        auto* save = new QPushButton(tr("Save..."));
        connect(load, &QPushButton::clicked, this, [this, k = kind] { load_shape(k); });
        connect(save, &QPushButton::clicked, this, [this, k = kind] { save_shape(k); });
        row->addWidget(load);
        row->addWidget(save);
        row->addStretch();
        column->addLayout(row);
        panel_of_tool_[code] = stack->addWidget(page);
    }
    panel_of_tool_[mask_op_hue_saturation] = stack->addWidget(hue_sat_panel(settings_.huesat));
    histogram_panel_ = new HistogramPanel(settings_.histogram);
    histogram_panel_->grid()->set_counts(engine_->hs_counts);
    panel_of_tool_[mask_op_hs_histogram] = stack->addWidget(histogram_panel_);
    return stack;
}

QWidget* MaskDialog::panel(std::int32_t tool) const {
    auto it = panel_of_tool_.find(tool);
    return it == panel_of_tool_.end() || !panels_ ? nullptr : panels_->widget(it->second);
}

void MaskDialog::job(std::function<void(Engine&)> work, std::function<void()> done) {
    ++jobs_;
    std::shared_ptr<Engine> engine = engine_;
    QPointer<MaskDialog> self(this);
    frame_.run([engine, work = std::move(work)] { work(*engine); },
               [self, done = std::move(done)] {
                   if (!self) return;
                   --self->jobs_;
                   if (done) done();
                   self->show_result();
               });
}

void MaskDialog::show_result() {
    if (jobs_ > 0) return;  // a later job will bring the newer mask
    mask_ = engine_->mask;
    tinted_ = tint(mask_, colour_, transparency_);
    if (QAbstractButton* b = button("Undo.bmp")) b->setEnabled(engine_->can_undo);
    if (QAbstractButton* b = button("Redo.bmp")) b->setEnabled(engine_->can_redo);
    if (frame_.view()) frame_.view()->viewport()->update();
}

void MaskDialog::finalize_pending() {
    if (!pending_ || drawing_) return;
    const Answer answer = interaction().ask("Confirm", "Finalize pending mask operation?",
                                            Buttons::yes_no, Answer::yes);
    if (answer == Answer::yes) {
        record(*pending_);
    } else {
        pending_.reset();
    }
}

void MaskDialog::choose_tool(std::int32_t code) {
    if (code != tool_) finalize_pending();
    tool_ = code;
    for (std::size_t i = 0; i < mask_tool_buttons.size(); ++i) {
        if (mask_tool_buttons[i] == code)
            tools_group_->button(static_cast<int>(i))->setChecked(true);
    }
    auto it = panel_of_tool_.find(code);
    if (panels_) panels_->setCurrentIndex(it == panel_of_tool_.end() ? 0 : it->second);
    job([code](Engine& e) { e.state.tool = code; });
}

void MaskDialog::set_mode(std::int32_t mode) {
    mode_ = mode;
    if (QAbstractButton* b = modes_group_->button(mode)) b->setChecked(true);
    if (pending_ && !drawing_) {
        record(*pending_);
    } else {
        job([mode](Engine& e) { e.state.mode = mode; });
    }
}

void MaskDialog::perform() {
    if (pending_) {
        if (!drawing_) record(*pending_);
        return;
    }
    if (is_drawing_tool(tool_) || tool_ == mask_op_flood_fill || tool_ == mask_op_paint) return;
    // A panel tool: performed with the panel's settings.
    MaskOperation op;
    op.code = tool_;
    record(op);
}

void MaskDialog::record_command(std::int32_t code) {
    finalize_pending();
    MaskOperation op;
    op.code = code;
    record(op);
}

// The operation takes the panels' settings and the dialog's mode and tool, then is recorded on
// the engine, which rewrites the recipe and runs the transformation.
void MaskDialog::record(MaskOperation op) {
    pending_.reset();
    drawing_ = false;
    op.mode = mode_;
    op.tool = tool_;
    take_tool_settings(settings_, op);
    const MaskToolSettings settings = settings_;
    job([op, settings](Engine& e) {
        if (!e.open) return;
        e.state.settings = settings;
        e.state.mode = op.mode;
        e.state.tool = op.tool;
        // A failed operation has said so and left the mask as it was.
        (void)mask_record(e.state, op);
        e.changed();
    });
}

void MaskDialog::undo() {
    finalize_pending();
    job([](Engine& e) {
        if (e.open && mask_undo(e.state)) e.changed();
    });
}

void MaskDialog::redo() {
    finalize_pending();
    job([](Engine& e) {
        if (e.open && mask_redo(e.state)) e.changed();
    });
}

void MaskDialog::set_overlay_colour(std::int32_t colour) {
    colour_ = colour;
    job([colour](Engine& e) { e.state.mask_color = colour; });
}

void MaskDialog::set_overlay_transparency(std::int32_t transparency) {
    transparency_ = transparency;
    job([transparency](Engine& e) { e.state.mask_transparency = transparency; });
}

void MaskDialog::finish(bool keep) {
    if (closing_) return;
    closing_ = true;
    if (frame_.view() && frame_.view()->overlay() == this) frame_.view()->set_overlay(nullptr);
    job([keep](Engine& e) { e.close(keep); });
}

void MaskDialog::abandon() {
    closing_ = true;
    pending_.reset();
    if (frame_.view() && frame_.view()->overlay() == this) frame_.view()->set_overlay(nullptr);
    job([](Engine& e) {
        if (e.open) (void)e.release();
    });
    QDialog::reject();
}

void MaskDialog::accept() {
    finalize_pending();
    finish(true);
    QDialog::accept();
}

void MaskDialog::reject() {
    pending_.reset();
    finish(false);
    QDialog::reject();
}

// --- the Settings menu ---

namespace {

// A file that a File Open transformation of the program reads: saving a mask over it would
// change a picture the program shows.
bool file_is_open(const std::string& path) {
    std::error_code ec;
    for (Node* n : all_nodes()) {
        if (!is_top_level(n) || !n->command_line) continue;
        FileOpenSettings s;
        if (file_open_module.parse(split(*n->command_line), s)) continue;
        for (const FileOpenEntry& f : s.files) {
            if (std::filesystem::equivalent(f.path, path, ec)) return true;
        }
    }
    return false;
}

// The mask's coverage in pixels: a partially masked pixel counts by its value over full white,
// so a 50 % gray mask covers half the picture.
double mask_area(const Image& mask) {
    const int h = static_cast<int>(mask.height);
    if (h == 0) return 0;
    const bool wide = mask.type == image_gray16;
    const double full = wide ? 65535.0 : 255.0;
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(h), 0);
    (void)run_range(
        0,
        [&](int first, int last, Progress&) -> std::uint8_t {
            for (int r = first; r <= last; ++r) {
                const std::uint8_t* row = mask.row(static_cast<std::uint32_t>(r));
                std::uint64_t sum = 0;
                for (std::uint32_t x = 0; x < mask.width; ++x)
                    sum += wide ? sample16(row, x) : row[x];
                sums[static_cast<std::size_t>(r)] = sum;
            }
            return 0;
        },
        std::string_view(), static_cast<int>(mask.width), h, h, false, false, false);
    double total = 0;
    for (std::uint64_t s : sums) total += static_cast<double>(s);
    return total / full;
}

}  // namespace

void MaskDialog::build_settings_menu() {
    menu_ = new QMenu(this);
    connect(menu_->addAction(tr("Load Mask Settings...")), &QAction::triggered, this,
            [this] { load_settings(false); });
    connect(menu_->addAction(tr("Save Mask Settings...")), &QAction::triggered, this,
            [this] { save_settings(false); });
    connect(menu_->addAction(tr("Load Default Mask Settings")), &QAction::triggered, this,
            [this] { load_settings(true); });
    connect(menu_->addAction(tr("Save As Default Mask Settings")), &QAction::triggered, this,
            [this] { save_settings(true); });
    menu_->addSeparator();
    connect(menu_->addAction(tr("Save mask as image file...")), &QAction::triggered, this,
            &MaskDialog::save_mask_image);
    connect(menu_->addAction(tr("Save current mask")), &QAction::triggered, this,
            [this] { record_command(mask_op_save); });
    connect(menu_->addAction(tr("Combine saved mask")), &QAction::triggered, this,
            [this] { record_command(mask_op_combine_saved); });
    connect(menu_->addAction(tr("Compute Area...")), &QAction::triggered, this,
            &MaskDialog::compute_area);
    connect(menu_->addAction(tr("Update transformation with mask")), &QAction::triggered, this,
            &MaskDialog::update_transformation);
    menu_->addSeparator();
    connect(menu_->addAction(tr("Reset Mask...")), &QAction::triggered, this,
            &MaskDialog::reset_mask);
}

void MaskDialog::adopt_settings(const MaskToolSettings& settings) {
    settings_ = settings;
    if (!panels_) return;
    const int page = panels_->currentIndex();
    auto* rows = static_cast<QVBoxLayout*>(layout());
    const int at = rows->indexOf(panels_);
    QStackedWidget* old = panels_;
    panel_of_tool_.clear();
    panels_ = static_cast<QStackedWidget*>(build_panels());
    rows->insertWidget(at, panels_);
    panels_->setCurrentIndex(page);
    old->deleteLater();
}

void MaskDialog::load_settings(bool as_default) {
    finalize_pending();
    auto read = std::make_shared<std::optional<MaskToolSettings>>();
    job(
        [as_default, read](Engine& e) {
            if (!e.open) return;
            if (as_default) {
                // "Default" holds tool settings only: the operations stay as they are.
                MaskState defaults;
                mask_state_defaults(defaults);
                if (load_default_mask_settings(defaults)) return;
                e.state.settings = defaults.settings;
                *read = e.state.settings;
                return;
            }
            // A file that cannot be read leaves the dialog as it was; one that replays with a
            // failed operation has said so and keeps what could be built.
            const std::string before = mask_command_line(e.state);
            (void)load_mask_settings(e.state, std::nullopt);
            if (mask_command_line(e.state) == before) return;
            *read = e.state.settings;
            e.changed();
        },
        [this, read] {
            if (*read) adopt_settings(**read);
        });
}

void MaskDialog::save_settings(bool as_default) {
    finalize_pending();
    // The panels' values are what a saved file must hold.
    const MaskToolSettings settings = settings_;
    job([as_default, settings](Engine& e) {
        if (!e.open) return;
        e.state.settings = settings;
        (void)save_mask_settings(e.state,
                                 as_default ? std::optional<std::string>("Default") : std::nullopt);
    });
}

void MaskDialog::save_mask_image() {
    finalize_pending();
    job([](Engine& e) {
        if (!e.open || e.state.current_mask.width == 0) return;
        FileChoice choice;
        choice.title = "Save Mask Image as File";
        choice.filter_name = "*.*";
        choice.patterns = {"*.*"};
        std::optional<std::string> path = interaction().choose_save_file(choice);
        if (!path) return;
        const std::int32_t format = save_format_of(*path);
        if (check_save_extension(*path, format)) return;
        if (file_is_open(*path)) {
            show_error("Cannot save mask - image file is currently open");
            return;
        }
        std::error_code ec;
        if (std::filesystem::exists(*path, ec) &&
            interaction().ask("Confirm", "File already exists - Save anyway?", Buttons::yes_no,
                              Answer::no) != Answer::yes) {
            return;
        }
        // The stored options of the format, without the options window: a mask carries no
        // metadata or profile to choose about.
        SaveOptions options = save_options();
        options.tiff.ask = options.jpeg.ask = options.png.ask = options.bmp.ask = options.gif.ask =
            1;
        Image mask;
        if (image_copy(e.state.current_mask, mask)) return;
        if (const Image* base = e.state.base; base && mask.dpi <= 0) mask.dpi = base->dpi;
        if (write_image_file(*path, mask, nullptr, format, options) != write_done) {
            show_error("Error saving file: %s", *path);
        }
    });
}

void MaskDialog::compute_area() {
    finalize_pending();
    job([](Engine& e) {
        if (!e.open) return;
        const Image& mask = e.state.current_mask;
        const double pixels = static_cast<double>(mask.width) * mask.height;
        const double area = mask_area(mask);
        interaction().message(MessageKind::information, "Selected Area",
                              formatted("%2f pixels\n%2f percent coverage", area,
                                        pixels > 0 ? 100.0 * area / pixels : 0.0));
    });
}

void MaskDialog::update_transformation() {
    finalize_pending();
    job([](Engine& e) {
        if (e.open) e.changed();
    });
}

void MaskDialog::reset_mask() {
    finalize_pending();
    job([](Engine& e) {
        if (e.open && !mask_reset_asked(e.state)) e.changed();
    });
}

namespace {

std::int32_t tool_of(ShapeFileKind kind) {
    switch (kind) {
        case ShapeFileKind::polygon:
            return mask_op_polygon;
        case ShapeFileKind::spline:
            return mask_op_spline;
        case ShapeFileKind::linear_gradient:
            return mask_op_linear_gradient;
        default:
            return mask_op_oval_gradient;
    }
}

}  // namespace

void MaskDialog::load_shape(ShapeFileKind kind) {
    finalize_pending();
    struct Loaded {
        MaskOperation shape;
        ColorLine line;
        double angle = 0;
    };
    auto loaded = std::make_shared<std::optional<Loaded>>();
    job(
        [kind, loaded](Engine& e) {
            if (!e.open) return;
            const std::optional<std::string> path = choose_shape_file(kind, false);
            if (!path) return;
            bool (*load)(const std::string&, MaskState&) =
                kind == ShapeFileKind::polygon           ? load_polygon_file
                : kind == ShapeFileKind::spline          ? load_spline_file
                : kind == ShapeFileKind::linear_gradient ? load_linear_gradient_file
                                                         : load_oval_gradient_file;
            // A file that fails has said so and left the state as it was.
            if (load(*path, e.state) || !e.state.pending) return;
            // The window holds the pending shape; the engine gets it back when it is performed.
            *loaded = Loaded{*e.state.pending, e.state.settings.gradient_line,
                             e.state.settings.gradient_angle};
            mask_cancel_pending(e.state);
        },
        [this, kind, loaded] {
            if (!*loaded || closing_) return;
            Loaded& l = **loaded;
            settings_.gradient_line = l.line;
            settings_.gradient_angle = l.angle;
            choose_tool(tool_of(kind));
            pending_ = l.shape;
            pending_->code = tool_of(kind);
            drawing_ = false;
            if (frame_.view()) frame_.view()->viewport()->update();
        });
}

void MaskDialog::save_shape(ShapeFileKind kind) {
    if (!pending_ || drawing_ || pending_->code != tool_of(kind)) {
        show_warning("There is no finished %s to save: draw one first",
                     mask_operation_name(tool_of(kind)));
        return;
    }
    MaskOperation shape = *pending_;
    take_tool_settings(settings_, shape);
    job([kind, shape](Engine& e) {
        if (!e.open) return;
        const std::optional<std::string> path = choose_shape_file(kind, true);
        if (!path) return;
        const MaskOperationParameters& p = shape.parameters;
        switch (kind) {
            case ShapeFileKind::polygon:
                (void)save_polygon_file(*path, p.vertices, e.state.nx, e.state.ny);
                break;
            case ShapeFileKind::spline:
                (void)save_spline_file(*path, p.vertices, e.state.nx, e.state.ny);
                break;
            case ShapeFileKind::linear_gradient:
                (void)save_linear_gradient_file(*path, p, e.state.nx, e.state.ny);
                break;
            case ShapeFileKind::oval_gradient:
                (void)save_oval_gradient_file(*path, p, e.state.nx, e.state.ny);
                break;
        }
    });
}

void MaskDialog::pick(QPointF at, std::function<void(const PickedPixel&)> done) {
    auto picked = std::make_shared<std::optional<PickedPixel>>();
    job(
        [at, picked](Engine& e) {
            if (!e.open || !e.state.base) return;
            Image scratch;
            const Image* base = selectable_image(*e.state.base, scratch);
            if (!base || base->width == 0) return;
            const long x = std::lround(at.x());
            const long y = std::lround(at.y());
            if (x < 0 || y < 0 || x >= static_cast<long>(base->width) ||
                y >= static_cast<long>(base->height)) {
                return;
            }
            PickedPixel p;
            const auto h = base->height;
            p.rgb = pixel_colour8(*base, base->row(h - 1 - static_cast<std::uint32_t>(y)),
                                  static_cast<std::uint32_t>(x));
            p.gray = base->type == image_gray8 || base->type == image_gray16;
            p.fx = base->width > 1 ? static_cast<double>(x) / (base->width - 1) : 0.0;
            p.fy = h > 1 ? static_cast<double>(y) / (h - 1) : 0.0;
            *picked = p;
        },
        [picked, done = std::move(done)] {
            if (*picked) done(**picked);
        });
}

// --- drawing in the image window ---

void MaskDialog::paint(QPainter& painter, const QTransform& to_view) {
    if (!tinted_.isNull()) {
        // The overlay image covers whole pixels: its corner is half a pixel before the first
        // pixel's centre.
        const QRectF at = to_view.mapRect(QRectF(-0.5, -0.5, tinted_.width(), tinted_.height()));
        painter.drawImage(at, tinted_);
    }
    if (!pending_) return;
    const MaskOperationParameters& p = pending_->parameters;
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::yellow, 1.5, Qt::DashLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const std::int32_t code = pending_->code;
    if (code == mask_op_rectangle || code == mask_op_oval) {
        const QRectF box = QRectF(QPointF(p.x0, p.y0), QPointF(p.x1, p.y1)).normalized();
        QPainterPath path;
        if (code == mask_op_rectangle) {
            path.addRect(box);
        } else {
            path.addEllipse(box);
        }
        painter.drawPath(to_view.map(path));
    } else if (code == mask_op_linear_gradient || code == mask_op_oval_gradient) {
        painter.drawLine(to_view.map(QPointF(p.x0, p.y0)), to_view.map(QPointF(p.x1, p.y1)));
        painter.setBrush(Qt::yellow);
        painter.drawEllipse(to_view.map(QPointF(p.x0, p.y0)), 3, 3);
    } else {
        QPolygonF outline;
        for (const MaskVertex& v : p.vertices) outline << to_view.map(QPointF(v.x, v.y));
        if (drawing_) {
            painter.drawPolyline(outline);
        } else {
            painter.drawPolygon(outline);
        }
    }
}

bool MaskDialog::mouse_press(QPointF at, Qt::MouseButton button) {
    if (button != Qt::LeftButton || closing_) return false;
    if (tool_ == mask_op_color_range) {
        // The click sets the ranges around the colour under the pointer; Run performs them.
        pick(at, [this](const PickedPixel& pixel) {
            settings_.color_range = picked_color_range(settings_.color_range, pixel);
            range_panel_->refresh();
        });
        return true;
    }
    if (tool_ == mask_op_separate) {
        pick(at, [this](const PickedPixel& pixel) { (void)separate_panel_->add(pixel); });
        return true;
    }
    if (tool_ == mask_op_flood_fill) {
        MaskOperation op;
        op.code = mask_op_flood_fill;
        op.parameters.floodfill_x = at.x();
        op.parameters.floodfill_y = at.y();
        record(op);
        return true;
    }
    if (tool_ == mask_op_polygon || tool_ == mask_op_spline) {
        if (!pending_ || !drawing_) {
            pending_ = MaskOperation{};
            pending_->code = tool_;
            drawing_ = true;
        }
        pending_->parameters.vertices.push_back({at.x(), at.y(), -1});
        return true;
    }
    if (!is_drawing_tool(tool_) && tool_ != mask_op_paint) return false;
    pending_ = MaskOperation{};
    pending_->code = tool_;
    drawing_ = true;
    MaskOperationParameters& p = pending_->parameters;
    p.x0 = p.x1 = at.x();
    p.y0 = p.y1 = at.y();
    p.vertices.push_back({at.x(), at.y(), -1});
    return true;
}

bool MaskDialog::mouse_move(QPointF at, Qt::MouseButtons buttons) {
    if (!pending_ || !drawing_ || !(buttons & Qt::LeftButton)) return false;
    MaskOperationParameters& p = pending_->parameters;
    if (is_box_tool(pending_->code)) {
        p.x1 = at.x();
        p.y1 = at.y();
    } else if (pending_->code == mask_op_freehand || pending_->code == mask_op_paint) {
        const MaskVertex& last = p.vertices.back();
        if (last.x != at.x() || last.y != at.y()) p.vertices.push_back({at.x(), at.y(), -1});
    }
    return true;
}

bool MaskDialog::mouse_release(QPointF at, Qt::MouseButton button) {
    if (button != Qt::LeftButton || !pending_ || !drawing_) return false;
    const std::int32_t code = pending_->code;
    if (code == mask_op_polygon || code == mask_op_spline) return true;  // closed by a double click
    (void)mouse_move(at, Qt::LeftButton);
    drawing_ = false;
    MaskOperationParameters& p = pending_->parameters;
    // A click without a drag leaves nothing to perform.
    const bool gradient = code == mask_op_linear_gradient || code == mask_op_oval_gradient;
    const bool empty = gradient            ? p.x0 == p.x1 && p.y0 == p.y1
                       : is_box_tool(code) ? p.x0 == p.x1 || p.y0 == p.y1
                                           : p.vertices.size() < 3 && code != mask_op_paint;
    if (empty) {
        pending_.reset();
    } else if (code == mask_op_paint) {
        record(*pending_);  // each finished stroke is one operation
    }
    return true;
}

// A double click takes the place of the second press: it places the last vertex unless the
// first click of it already did, and closes the outline.
bool MaskDialog::mouse_double_click(QPointF at) {
    if (!pending_ || !drawing_) return false;
    auto& vertices = pending_->parameters.vertices;
    if (std::hypot(vertices.back().x - at.x(), vertices.back().y - at.y()) > 1.0) {
        vertices.push_back({at.x(), at.y(), -1});
    }
    drawing_ = false;
    if (vertices.size() < 3) pending_.reset();
    return true;
}

}  // namespace tessaly::shell
