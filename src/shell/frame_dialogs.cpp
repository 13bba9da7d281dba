// The frame's own windows and dialogs, reached from the menus by their command ids. Each one
// gathers what it shows in an engine job and hands its result back in another, so that the
// tree and the settings are only ever touched on the engine's thread.
#include "shell/frame_dialogs.h"

#include <QFileDialog>
#include <memory>

#include "framework/node.h"
#include "shell/caption_editor.h"
#include "shell/color_management_dialog.h"
#include "shell/frame_window.h"
#include "shell/image_info.h"
#include "shell/preferences_dialog.h"
#include "workspace/session_state.h"

namespace tessaly::shell {

namespace {

// Image Info: a window that stays open beside the image; asked for again, it shows the
// current image's values.
void show_image_info(FrameWindow& frame) {
    auto info = std::make_shared<ImageInfo>();
    frame.run([info] { *info = gather_image_info(current_node()); },
              [&frame, info] {
                  if (info->image.empty()) return;  // the image was closed meanwhile
                  auto* window = frame.findChild<ImageInfoWindow*>();
                  if (!window) window = new ImageInfoWindow(&frame);
                  window->set_info(std::move(*info));
                  window->show();
                  window->raise();
                  window->activateWindow();
              });
}

void choose_default_folder(FrameWindow& frame) {
    auto folder = std::make_shared<std::string>();
    frame.run([folder] { *folder = session_state().default_folder; },
              [&frame, folder] {
                  auto* dialog = new QFileDialog(&frame, QObject::tr("Select Default Folder"),
                                                 QString::fromStdString(*folder));
                  dialog->setObjectName("select default folder");
                  dialog->setAttribute(Qt::WA_DeleteOnClose);
                  dialog->setFileMode(QFileDialog::Directory);
                  dialog->setOption(QFileDialog::ShowDirsOnly);
                  QObject::connect(dialog, &QFileDialog::fileSelected, &frame,
                                   [&frame](const QString& chosen) {
                                       frame.run([path = chosen.toStdString()] {
                                           session_state().default_folder = path;
                                       });
                                   });
                  dialog->open();
              });
}

}  // namespace

void setup_frame_dialogs(FrameWindow& frame) {
    QObject::connect(frame.browser()->canvas(), &BrowserCanvas::node_double_clicked, &frame,
                     [&frame](std::int32_t serial) { edit_caption(frame, serial); });
}

bool FrameWindow::dialog_command(std::uint32_t id) {
    switch (id) {
        case 1008:
            choose_default_folder(*this);
            return true;
        case 1016:
            open_preferences(*this);
            return true;
        case 1017:
            open_color_management(*this);
            return true;
        case 1109:
            show_image_info(*this);
            return true;
        default:
            return false;
    }
}

}  // namespace tessaly::shell
