// The small dialog that changes a node's caption and comment, opened by a double click on its
// thumbnail in the Image Browser.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QLineEdit;

namespace tessaly::shell {

class FrameWindow;

// "Change Transformation Caption or Comment", "Change Splitter ..." or "Change Branch ...".
std::string caption_editor_title(std::uint32_t node_kind);

class CaptionEditor : public QDialog {
    Q_OBJECT
  public:
    CaptionEditor(QWidget* parent, std::uint32_t node_kind, const std::string& caption,
                  const std::string& comment);
    QLineEdit* caption_field() const { return caption_; }
    QLineEdit* comment_field() const { return comment_; }

  private:
    QLineEdit* caption_;
    QLineEdit* comment_;
};

// Reads the node's texts on the engine's thread, opens the editor, and on OK stores both texts
// on the node (again on the engine's thread); the browser then shows the new caption.
void edit_caption(FrameWindow& frame, std::int32_t serial);

}  // namespace tessaly::shell
