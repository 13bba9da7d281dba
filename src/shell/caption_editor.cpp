#include "shell/caption_editor.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "framework/node.h"
#include "shell/frame_window.h"
#include "tree/tree.h"

namespace tessaly::shell {

std::string caption_editor_title(std::uint32_t node_kind) {
    switch (node_kind) {
        case node_splitter:
            return "Change Splitter Caption or Comment";
        case node_side_branch:
            return "Change Branch Caption or Comment";
        default:
            return "Change Transformation Caption or Comment";
    }
}

CaptionEditor::CaptionEditor(QWidget* parent, std::uint32_t node_kind, const std::string& caption,
                             const std::string& comment)
    : QDialog(parent), caption_(new QLineEdit(this)), comment_(new QLineEdit(this)) {
    setObjectName("caption editor");
    setWindowTitle(QString::fromStdString(caption_editor_title(node_kind)));
    setAttribute(Qt::WA_DeleteOnClose);
    caption_->setMaxLength(static_cast<int>(caption_capacity));
    caption_->setText(QString::fromStdString(caption));
    comment_->setText(QString::fromStdString(comment));
    caption_->setMinimumWidth(320);
    auto* form = new QFormLayout(this);
    form->addRow(tr("Caption:"), caption_);
    form->addRow(tr("Comment:"), comment_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

void edit_caption(FrameWindow& frame, std::int32_t serial) {
    struct Texts {
        bool found = false;
        std::uint32_t kind = node_image;
        std::string caption;
        std::string comment;
    };
    auto texts = std::make_shared<Texts>();
    frame.run(
        [serial, texts] {
            const Node* node = find_node_by_serial(serial);
            if (!node) return;
            *texts = {true, node->kind, node->caption, node->comment.value_or("")};
        },
        [&frame, serial, texts] {
            if (!texts->found) return;
            auto* editor = new CaptionEditor(&frame, texts->kind, texts->caption, texts->comment);
            QObject::connect(editor, &QDialog::accepted, &frame, [&frame, serial, editor] {
                // The field holds at most caption_capacity characters already.
                std::string caption = editor->caption_field()->text().toStdString();
                std::string comment = editor->comment_field()->text().toStdString();
                frame.run([serial, caption = std::move(caption), comment = std::move(comment)] {
                    Node* node = find_node_by_serial(serial);
                    if (!node) return;  // closed while the editor was open
                    node->caption = caption;
                    if (comment.empty()) {
                        node->comment.reset();
                    } else {
                        node->comment = comment;
                    }
                });
            });
            editor->open();
        });
}

}  // namespace tessaly::shell
