// The Image Browser pane: every open image tree drawn as a tree of thumbnails, with its tool
// bars. It draws from a snapshot of the forest and asks the frame for every change of the tree.
#pragma once

#include <QAbstractScrollArea>
#include <QWidget>

#include "shell/browser_layout.h"

class QToolBar;
class QAction;

namespace tessaly::shell {

// What the tool bars ask of the tree; the frame carries it out on the engine's thread.
enum class BrowserAction {
    select_single,
    select_branch,
    select_downstream,
    select_upstream,
    select_all,
    close_selected,
    copy_selected,
    bypass_on,
    bypass_off,
    snip,
    help,
};

class BrowserCanvas : public QAbstractScrollArea {
    Q_OBJECT
  public:
    explicit BrowserCanvas(QWidget* parent = nullptr);

    void set_snapshot(BrowserSnapshot snapshot);
    const BrowserSnapshot& snapshot() const { return snapshot_; }
    void set_metrics(const BrowserMetrics& metrics);
    const BrowserMetrics& metrics() const { return metrics_; }
    // The node under a point of the viewport; -1 for empty space.
    int node_at(QPoint viewport_point) const;

  signals:
    void node_clicked(std::int32_t serial);
    void node_double_clicked(std::int32_t serial);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    void relayout();
    void draw_node(QPainter& painter, const BrowserNode& node) const;

    BrowserSnapshot snapshot_;
    BrowserMetrics metrics_;
    QSize extent_;
    QPoint drag_start_;
    QPoint drag_scroll_;
    bool dragging_ = false;
};

class ImageBrowser : public QWidget {
    Q_OBJECT
  public:
    explicit ImageBrowser(QWidget* parent = nullptr);

    BrowserCanvas* canvas() const { return canvas_; }
    // The session toggles (thumbnail zoom factor, hidden images, selection bar).
    void set_state(double zoom, bool hide_images, bool show_select);
    double zoom() const { return canvas_->metrics().zoom; }
    bool images_hidden() const { return canvas_->metrics().hide_images; }
    bool selection_bar_shown() const;

  public slots:
    void zoom_in();
    void zoom_out();

  signals:
    void action(tessaly::shell::BrowserAction action);
    void command(int id);
    void state_changed();

  private:
    QAction* add(QToolBar* bar, const char* icon, const char* tip);

    BrowserCanvas* canvas_;
    QToolBar* view_bar_;
    QToolBar* selection_bar_;
};

}  // namespace tessaly::shell
