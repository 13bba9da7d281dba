// The curve control in the Brightness Curve dialog over a real photograph, driven with mouse
// events: what a drag writes into the node and does to the picture, adding and removing points,
// and the ends and neighbours that bound a dragged point.
#include "shell/curve_control.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QTest>
#include <filesystem>

#include "core/arguments.h"
#include "core/image.h"
#include "framework/node.h"
#include "framework/registry.h"
#include "shell/curve_dialog_fixture.h"
#include "tree/tree.h"

namespace tessaly::shell {
namespace {

void send_mouse(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButton button) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton
                                  : type == QEvent::MouseMove ? Qt::MouseButtons(Qt::LeftButton)
                                                              : Qt::MouseButtons(button);
    QMouseEvent event(type, at, widget->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// Press at one curve coordinate, move through to another and let go.
void drag(CurveControl* control, QPointF from, QPointF to) {
    const QPointF start = control->to_widget(from.x(), from.y());
    const QPointF end = control->to_widget(to.x(), to.y());
    send_mouse(control, QEvent::MouseButtonPress, start, Qt::LeftButton);
    send_mouse(control, QEvent::MouseMove, (start + end) / 2, Qt::LeftButton);
    send_mouse(control, QEvent::MouseMove, end, Qt::LeftButton);
    send_mouse(control, QEvent::MouseButtonRelease, end, Qt::LeftButton);
}

void click(CurveControl* control, QPointF at, Qt::MouseButton button) {
    const QPointF where = control->to_widget(at.x(), at.y());
    send_mouse(control, QEvent::MouseButtonPress, where, button);
    send_mouse(control, QEvent::MouseButtonRelease, where, button);
}

TEST_F(CurveControlDialog, DraggingTheMiddleUpWritesThePointAndBrightensTheMidtones) {
    EXPECT_EQ(points(control->curve()), "(0,0)(255,255)");
    drag(control, {128, 128}, {128, 192});
    EXPECT_EQ(points(control->curve()), "(0,0)(128,192)(255,255)");
    settle();
    if (const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR"); !folder.isEmpty())
        dialog->grab().save(QString::fromUtf8(folder) + "/brightness-curve-dialog.png");
    dialog->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !frame->findChild<TransformationDialog*>(); }, 5000));
    frame->engine().wait_idle();

    const std::string line = node_line();
    EXPECT_NE(line.find(" curve 3 2 0 0 128 192 255 255 "), std::string::npos) << line;

    // Pixels whose value (the brightest channel) is a midtone come out clearly brighter; the
    // brightest stay near where they were.
    double mid_in = 0, mid_out = 0, top_shift = 0;
    long mid = 0, top = 0;
    frame->engine().submit([&] {
        const Node* node = current_node();
        if (!node || !node->parent || !node->image.has_pixels()) return;
        const Image& in = node->parent->image;
        const Image& out = node->image;
        if (in.type != out.type || in.width != out.width || in.height != out.height) return;
        for (std::uint32_t y = 0; y < in.height; ++y) {
            const std::uint8_t* a = in.row(y);
            const std::uint8_t* b = out.row(y);
            for (std::uint32_t x = 0; x + 2 < in.width * 3; x += 3) {
                const int v = std::max({a[x], a[x + 1], a[x + 2]});
                const int w = std::max({b[x], b[x + 1], b[x + 2]});
                if (v >= 96 && v <= 160) {
                    mid_in += v;
                    mid_out += w;
                    ++mid;
                } else if (v >= 250) {
                    top_shift += w - v;
                    ++top;
                }
            }
        }
    });
    frame->engine().wait_idle();
    ASSERT_GT(mid, 1000);
    EXPECT_GT((mid_out - mid_in) / mid, 40.0);
    if (top > 0) {
        EXPECT_LT(top_shift / top, 6.0);
    }
}

TEST_F(CurveControlDialog, AddingThenRemovingAPointGivesTheSameCommandLine) {
    const std::string start = dialog->command_line();
    const std::string node_start = node_line();

    // A click on empty space puts a point on the curve: the identity there.
    click(control, {64, 200}, Qt::LeftButton);
    EXPECT_EQ(points(control->curve()), "(0,0)(64,64)(255,255)");
    settle();
    EXPECT_NE(node_line(), node_start);
    // A right click on it takes it away again.
    click(control, {64, 64}, Qt::RightButton);
    EXPECT_EQ(points(control->curve()), "(0,0)(255,255)");
    settle();
    EXPECT_EQ(dialog->command_line(), start);
    EXPECT_EQ(node_line(), node_start);

    // Dragging a point far outside removes it too; the ends never go.
    drag(control, {100, 100}, {100, 180});
    ASSERT_EQ(control->curve().npts, 3);
    drag(control, {100, 180}, {100, 600});
    EXPECT_EQ(points(control->curve()), "(0,0)(255,255)");
    click(control, {0, 0}, Qt::RightButton);
    click(control, {255, 255}, Qt::RightButton);
    drag(control, {255, 255}, {255, 900});
    EXPECT_EQ(control->curve().npts, 2);
    settle();
    EXPECT_EQ(dialog->command_line(), start);
}

TEST_F(CurveControlDialog, PointsStayBetweenTheirNeighboursAndEndsKeepTheirInput) {
    // The ends move up and down only.
    drag(control, {0, 0}, {200, 40});
    drag(control, {255, 255}, {30, 220});
    EXPECT_EQ(points(control->curve()), "(0,40)(255,220)");
    // An inner point stops one step short of each neighbour.
    click(control, {128, 0}, Qt::LeftButton);
    ASSERT_EQ(control->curve().npts, 3);
    const int y = control->curve().y[1];
    drag(control, {128, static_cast<double>(y)}, {-20, 100});
    EXPECT_EQ(points(control->curve()), "(0,40)(1,100)(255,220)");
    drag(control, {1, 100}, {300, 250});
    EXPECT_EQ(points(control->curve()), "(0,40)(254,250)(255,220)");
    // A press on a point's own input does not add a second one there.
    click(control, {254, 120}, Qt::LeftButton);
    EXPECT_EQ(control->curve().npts, 3);
    settle();
    EXPECT_NE(dialog->command_line().find(" curve 3 2 0 40 254 250 255 220 "), std::string::npos)
        << dialog->command_line();
}

}  // namespace
}  // namespace tessaly::shell
