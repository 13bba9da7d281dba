#include "shell/preview_proxy.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "framework/module.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "shell/display_picture.h"

namespace tessaly::shell {

namespace {

// While the first look runs, its messages and questions are not the person's business: the
// whole run shows them. Calls from other threads go on as before.
class QuietHere : public Interaction {
  public:
    QuietHere() : next_(interaction()), scope_(*this) {}

    Answer message(MessageKind kind, std::string_view caption, std::string_view text) override {
        return here() ? Answer::ok : next_.message(kind, caption, text);
    }
    Answer ask(std::string_view caption, std::string_view text, Buttons buttons,
               Answer default_answer) override {
        return here() ? default_answer : next_.ask(caption, text, buttons, default_answer);
    }
    int choose(std::string_view caption, std::string_view text,
               const std::vector<std::string>& options) override {
        return here() ? -1 : next_.choose(caption, text, options);
    }
    std::optional<std::string> choose_open_file(const FileChoice& choice) override {
        return here() ? std::nullopt : next_.choose_open_file(choice);
    }
    std::optional<std::string> choose_save_file(const FileChoice& choice) override {
        return here() ? std::nullopt : next_.choose_save_file(choice);
    }
    void status(std::string_view text) override {
        if (!here()) next_.status(text);
    }
    void progress_begin(std::string_view title, std::int64_t total) override {
        if (!here()) next_.progress_begin(title, total);
    }
    void progress_update(std::int64_t done) override {
        if (!here()) next_.progress_update(done);
    }
    bool progress_cancelled() override { return !here() && next_.progress_cancelled(); }
    void progress_end() override {
        if (!here()) next_.progress_end();
    }
    void busy(bool on) override {
        if (!here()) next_.busy(on);
    }

  private:
    bool here() const { return std::this_thread::get_id() == thread_; }

    Interaction& next_;
    std::thread::id thread_ = std::this_thread::get_id();
    ScopedInteraction scope_;
};

}  // namespace

struct PreviewProxy::Input {
    const void* of = nullptr;  // the rows of the picture it was made from
    std::uint32_t width = 0, height = 0, step = 1;
    Node node;
};

PreviewProxy::PreviewProxy() = default;
PreviewProxy::~PreviewProxy() = default;

std::string PreviewProxy::reduced_line(const TransformationModule& module, const std::string& line,
                                       std::uint32_t step) {
    // The reduced values go in front: a key is read where it first appears.
    std::string prefix = module.keyword();
    if (!module.version().empty()) prefix += " " + std::string(module.version());
    if (line.rfind(prefix, 0) != 0) return line;
    const ArgumentList args = split(line);
    std::string front;
    for (const SettingInfo& info : module.describe()) {
        if (info.unit != "pixels") continue;
        if (info.kind == SettingKind::integer) {
            std::int32_t value = 0;
            if (read_integer(args, info.key, value)) continue;
            // A length that was there stays at least one pixel long.
            const std::int32_t reduced =
                value == 0 ? 0
                           : std::max<std::int32_t>(
                                 value > 0 ? 1 : -1,
                                 static_cast<std::int32_t>(std::lround(double(value) / step)));
            front += formatted(" %s %d", info.key, reduced);
        } else if (info.kind == SettingKind::real) {
            double value = 0.0;
            if (read_real(args, info.key, value)) continue;
            front += " " + info.key + " " + formatted(info.written, value / step);
        }
    }
    return prefix + front + line.substr(prefix.size());
}

QImage PreviewProxy::picture(const TransformationModule& module, const Node* node,
                             const std::string& line) {
    if (!node || !node->parent || !node->inputs.empty()) return {};
    const ModuleKind kind = module.kind();
    if (kind != ModuleKind::point && kind != ModuleKind::area && kind != ModuleKind::image &&
        kind != ModuleKind::geometry) {
        return {};
    }
    // A mask is made at the node's own size: the first look would show it wrongly.
    for (const auto& mask : node->masks) {
        if (mask && (!mask->command_line.empty() || mask->source)) return {};
    }
    const Node* source = effective_image_node(node->parent);
    if (!source || !source->image.has_pixels()) return {};
    const Image& image = source->image;
    if (std::uint64_t{image.width} * image.height <= proxy_threshold) return {};
    const TransformationEntry* resize = find_transformation("resize");
    const TransformationEntry* entry = find_transformation(module.keyword());
    if (!resize || !resize->run || !entry || !entry->run) return {};

    const QuietHere quiet;
    const std::uint32_t longest = std::max(image.width, image.height);
    const std::uint32_t step = (longest + proxy_side - 1) / proxy_side;
    if (!input_ || input_->of != image.rows || input_->width != image.width ||
        input_->height != image.height || input_->step != step) {
        input_ = std::make_unique<Input>();
        input_->of = image.rows;
        input_->width = image.width;
        input_->height = image.height;
        input_->step = step;
        // Bilinear over a reduced copy is plenty for a first look, and made once per dialog.
        // Resize only reads its input node.
        const std::string reduce =
            formatted("resize 0 pixel_w %d pixel_h %d set 2 method 1 resample 0",
                      static_cast<int>(std::max(1u, image.width / step)),
                      static_cast<int>(std::max(1u, image.height / step)));
        if (resize->run(const_cast<Node*>(source), &input_->node, split(reduce)) != 0 ||
            !input_->node.image.has_pixels()) {
            input_->node.image = Image();
            return {};
        }
    }
    if (!input_->node.image.has_pixels()) return {};
    Node out;
    out.masks.resize(node->masks.size());
    for (auto& mask : out.masks) mask = std::make_unique<MaskSettings>();
    if (entry->run(&input_->node, &out, split(reduced_line(module, line, step))) != 0 ||
        !out.image.has_pixels()) {
        return {};
    }
    QImage picture = display_picture(out.image);
    if (picture.isNull()) return {};
    // Drawn where the whole result will be: the input's size when the size stays, else the
    // reduced result's size scaled back.
    const bool same = out.image.width == input_->node.image.width &&
                      out.image.height == input_->node.image.height;
    const std::uint32_t w = same ? image.width : out.image.width * step;
    const std::uint32_t h = same ? image.height : out.image.height * step;
    mark_full_size(picture, w, h);
    return picture;
}

}  // namespace tessaly::shell
