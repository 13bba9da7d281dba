#include "shell/image_browser.h"

#include <QAction>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/format.h"
#include "workspace/preferences.h"
#include "workspace/theme.h"

namespace tessaly::shell {

namespace {

QColor color(const ShellColor& c) {
    return QColor(c.red, c.green, c.blue);
}

// The status marks, each a small letter badge in the caption line's right end.
struct Mark {
    bool BrowserNode::*flag;
    const char* letter;
};

}  // namespace

BrowserCanvas::BrowserCanvas(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    viewport()->setMouseTracking(false);
    metrics_.caption_height = fontMetrics().height() + 4;
}

void BrowserCanvas::set_snapshot(BrowserSnapshot snapshot) {
    snapshot_ = std::move(snapshot);
    relayout();
}

void BrowserCanvas::set_metrics(const BrowserMetrics& metrics) {
    metrics_ = metrics;
    metrics_.caption_height = fontMetrics().height() + 4;
    relayout();
}

void BrowserCanvas::relayout() {
    extent_ = layout_browser(snapshot_, metrics_);
    const QSize view = viewport()->size();
    // A scroll bar is hidden when the content fits.
    horizontalScrollBar()->setRange(0, std::max(0, extent_.width() - view.width()));
    verticalScrollBar()->setRange(0, std::max(0, extent_.height() - view.height()));
    horizontalScrollBar()->setPageStep(view.width());
    verticalScrollBar()->setPageStep(view.height());
    // Just enough scrolling to show the current node whole.
    if (snapshot_.current >= 0) {
        const QRect box = snapshot_.nodes[snapshot_.current].box;
        const QRect seen(QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()),
                         view);
        if (box.right() > seen.right()) {
            horizontalScrollBar()->setValue(box.right() - view.width() + 1);
        }
        if (box.left() < horizontalScrollBar()->value())
            horizontalScrollBar()->setValue(box.left());
        if (box.bottom() > seen.bottom()) {
            verticalScrollBar()->setValue(box.bottom() - view.height() + 1);
        }
        if (box.top() < verticalScrollBar()->value()) verticalScrollBar()->setValue(box.top());
    }
    viewport()->update();
}

void BrowserCanvas::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    relayout();
}

int BrowserCanvas::node_at(QPoint point) const {
    const QPoint p = point + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
    for (std::size_t i = 0; i < snapshot_.nodes.size(); ++i) {
        if (snapshot_.nodes[i].box.contains(p)) return static_cast<int>(i);
    }
    return -1;
}

void BrowserCanvas::draw_node(QPainter& painter, const BrowserNode& node) const {
    const Theme& theme = current_theme();
    const QRect box = node.box;
    const int caption_height = metrics_.caption_height;
    const QRect picture(box.left(), box.top(), box.width(), box.height() - caption_height);
    if (!metrics_.hide_images) {
        const QColor border = theme.thumbnail_border_same_as_image
                                  ? color(preferences().border_color)
                                  : color(theme.thumbnail_border);
        painter.fillRect(picture, border);
        if (node.error) {
            painter.setPen(color(theme.thumbnail_caption_text));
            const std::string text = node.error_text.empty()
                                         ? std::string("Error")
                                         : formatted("Error: %s", node.error_text);
            painter.drawText(picture.adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap,
                             QString::fromStdString(text));
        } else if (!node.thumbnail.isNull()) {
            const QSize size =
                node.thumbnail.size().scaled(picture.size() - QSize(4, 4), Qt::KeepAspectRatio);
            const QRect target(picture.center() - QPoint(size.width() / 2, size.height() / 2),
                               size);
            painter.drawImage(target, node.thumbnail);
        } else if (node.splitter) {
            painter.setPen(color(theme.thumbnail_caption_text));
            painter.drawText(picture, Qt::AlignCenter, QObject::tr("Splitter"));
        }
        painter.setPen(color(theme.thumbnail_outline));
        painter.drawRect(picture.adjusted(0, 0, -1, -1));
    }
    // The caption line on the background of the node's state.
    QColor background = color(theme.thumbnail_caption_background);
    QColor text = color(theme.thumbnail_caption_text);
    if (node.current) {
        background = color(theme.thumbnail_current_caption_background);
        text = color(theme.thumbnail_current_caption_text);
    } else if (node.relation == 1) {
        background = color(theme.thumbnail_upstream_caption_background);
        text = color(theme.thumbnail_upstream_caption_text);
    } else if (node.relation == 2) {
        background = color(theme.thumbnail_downstream_caption_background);
        text = color(theme.thumbnail_downstream_caption_text);
    }
    const QRect caption(box.left(), box.bottom() - caption_height + 1, box.width(), caption_height);
    painter.fillRect(caption, background);
    static const Mark marks[] = {{&BrowserNode::saved, "S"},     {&BrowserNode::modified, "M"},
                                 {&BrowserNode::selected, "+"},  {&BrowserNode::editing, "E"},
                                 {&BrowserNode::bypassed, "O"},  {&BrowserNode::closing, "X"},
                                 {&BrowserNode::breakpoint, "B"}};
    QString badges;
    for (const Mark& mark : marks) {
        if (node.*mark.flag) badges += mark.letter;
    }
    painter.setPen(text);
    const QRect text_box = caption.adjusted(3, 0, -3, 0);
    painter.drawText(text_box, Qt::AlignVCenter | Qt::AlignRight, badges);
    const int badge_width = badges.isEmpty() ? 0 : fontMetrics().horizontalAdvance(badges) + 4;
    const QString label = QString::fromStdString(formatted("%d - %s", node.serial, node.caption));
    painter.drawText(
        text_box.adjusted(0, 0, -badge_width, 0), Qt::AlignVCenter | Qt::AlignLeft,
        fontMetrics().elidedText(label, Qt::ElideRight, text_box.width() - badge_width));
}

void BrowserCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), color(current_theme().image_browser_background));
    painter.translate(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    // Connectors first, from the bottom middle of a node to the top middle of each child.
    painter.setPen(color(current_theme().thumbnail_connector));
    for (const BrowserNode& node : snapshot_.nodes) {
        for (int c : node.children) {
            const QRect& child = snapshot_.nodes[c].box;
            const QPoint from(node.box.center().x(), node.box.bottom());
            const QPoint to(child.center().x(), child.top());
            const int middle = (from.y() + to.y()) / 2;
            painter.drawLine(from, QPoint(from.x(), middle));
            painter.drawLine(QPoint(from.x(), middle), QPoint(to.x(), middle));
            painter.drawLine(QPoint(to.x(), middle), to);
        }
    }
    for (const BrowserNode& node : snapshot_.nodes) draw_node(painter, node);
}

void BrowserCanvas::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const int hit = node_at(event->position().toPoint());
    if (hit >= 0) {
        emit node_clicked(snapshot_.nodes[hit].serial);
        return;
    }
    // Empty space: the content follows the pointer.
    dragging_ = true;
    drag_start_ = event->position().toPoint();
    drag_scroll_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void BrowserCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !(event->buttons() & Qt::LeftButton)) {
        dragging_ = false;
        return;
    }
    const QPoint moved = event->position().toPoint() - drag_start_;
    horizontalScrollBar()->setValue(drag_scroll_.x() - moved.x());
    verticalScrollBar()->setValue(drag_scroll_.y() - moved.y());
    viewport()->update();
}

void BrowserCanvas::mouseDoubleClickEvent(QMouseEvent* event) {
    const int hit = node_at(event->position().toPoint());
    if (hit >= 0) emit node_double_clicked(snapshot_.nodes[hit].serial);
}

ImageBrowser::ImageBrowser(QWidget* parent)
    : QWidget(parent),
      canvas_(new BrowserCanvas(this)),
      view_bar_(new QToolBar(this)),
      selection_bar_(new QToolBar(this)) {
    setWindowTitle("Image Browser");
    setObjectName("image browser");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_bar_);
    layout->addWidget(selection_bar_);
    layout->addWidget(canvas_, 1);
    for (QToolBar* bar : {view_bar_, selection_bar_}) bar->setIconSize(QSize(20, 20));

    connect(add(view_bar_, "zoom-in", "Make browser thumbnails larger"), &QAction::triggered, this,
            &ImageBrowser::zoom_in);
    connect(add(view_bar_, "zoom-out", "Make browser thumbnails smaller"), &QAction::triggered,
            this, &ImageBrowser::zoom_out);
    connect(add(view_bar_, "help-browser", "Image browser help"), &QAction::triggered, this,
            [this] { emit action(BrowserAction::help); });
    QAction* hide = add(view_bar_, "view-conceal", "Show or hide thumbnail images");
    connect(hide, &QAction::triggered, this, [this] {
        BrowserMetrics m = canvas_->metrics();
        m.hide_images = !m.hide_images;
        canvas_->set_metrics(m);
        emit state_changed();
    });
    QAction* bar = add(view_bar_, "pan-down", "Show or hide selection tool bar");
    connect(bar, &QAction::triggered, this, [this] {
        selection_bar_->setVisible(!selection_bar_->isVisible());
        emit state_changed();
    });
    struct Button {
        const char* icon;
        const char* tip;
        BrowserAction what;
    };
    static const Button buttons[] = {
        {"edit-select", "Select/deselect the current transformation", BrowserAction::select_single},
        {"format-indent-more", "Select/deselect the branch below the current transformation",
         BrowserAction::select_branch},
        {"go-bottom",
         "Select/deselect all transformations downstream from the current transformation",
         BrowserAction::select_downstream},
        {"go-top", "Select/deselect all transformations upstream from the current transformation",
         BrowserAction::select_upstream},
        {"edit-select-all", "Select/deselect all transformations", BrowserAction::select_all},
        {"user-trash", "Close selected transformations", BrowserAction::close_selected},
        {"edit-copy", "Insert copies of selected transformations after current transformation",
         BrowserAction::copy_selected},
        {"media-playback-pause", "Set bypass for selected transformations",
         BrowserAction::bypass_on},
        {"media-playback-start", "Clear bypass for selected transformations",
         BrowserAction::bypass_off},
        {"edit-cut", "Save selected transformations as a snippet", BrowserAction::snip},
    };
    for (const Button& b : buttons) {
        connect(add(selection_bar_, b.icon, b.tip), &QAction::triggered, this,
                [this, what = b.what] { emit action(what); });
    }
    connect(add(selection_bar_, "insert-object", "Insert Snippet"), &QAction::triggered, this,
            [this] { emit command(1402); });
    selection_bar_->hide();
}

QAction* ImageBrowser::add(QToolBar* bar, const char* icon, const char* tip) {
    // The theme's symbolic icons are drawn from SVG at any scale.
    QAction* a = bar->addAction(QIcon::fromTheme(QString(icon) + "-symbolic"), tip);
    a->setToolTip(tip);
    return a;
}

void ImageBrowser::set_state(double zoom, bool hide_images, bool show_select) {
    BrowserMetrics m = canvas_->metrics();
    m.zoom = zoom;
    m.hide_images = hide_images;
    canvas_->set_metrics(m);
    selection_bar_->setVisible(show_select);
}

bool ImageBrowser::selection_bar_shown() const {
    return !selection_bar_->isHidden();
}

void ImageBrowser::zoom_in() {
    BrowserMetrics m = canvas_->metrics();
    m.zoom = shell::zoom_in(m.zoom);
    canvas_->set_metrics(m);
    emit state_changed();
}

void ImageBrowser::zoom_out() {
    BrowserMetrics m = canvas_->metrics();
    m.zoom = shell::zoom_out(m.zoom);
    canvas_->set_metrics(m);
    emit state_changed();
}

}  // namespace tessaly::shell
