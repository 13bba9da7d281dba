// A module's own panel in its transformation dialog, for settings that the declared controls
// cannot show well: sizes that follow each other, pictures to pick an orientation from, lists
// of files. The panel sits above the declared controls and takes over the settings it names;
// the dialog keeps the session, the preview, OK/Cancel and the Settings menu.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::shell {

class FrameWindow;

// What a panel may know of the picture its dialog works on (the node's main input), gathered on
// the engine's thread as the dialog opens. Empty (width 0) when the node has no input.
struct PanelInput {
    std::uint32_t width = 0, height = 0;
    std::uint32_t type = 0;
    double dpi = 0.0;
    std::uint64_t bytes = 0;  // height x row bytes
    QImage thumbnail;         // the picture, at most 256 pixels on its longer side
};

class DialogPanel : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;

    // The keys of the settings the panel shows and edits: they get no declared control.
    virtual std::vector<std::string> keys() const = 0;
    // Shows a command line's values (the node's line, Default, a settings file); emits nothing.
    virtual void show_line(const std::string& line) = 0;
    // The panel's settings as " key value" pairs, in the module's written form.
    virtual std::string settings() const = 0;
    // OK and Apply ask first: false when a field does not read (the panel has said why), and
    // the dialog stays open.
    virtual bool accept_check() { return true; }

  signals:
    // The person changed a value: the dialog writes the line and re-runs the node.
    void edited();
};

using PanelFactory = std::function<DialogPanel*(FrameWindow& frame, const PanelInput& input)>;

// The panel of a transformation's dialog by its keyword; null when it has none.
const PanelFactory* dialog_panel_factory(std::string_view keyword);

}  // namespace tessaly::shell
