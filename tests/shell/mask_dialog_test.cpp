// The mask dialog on a real photograph: shapes drawn with the mouse in the image window become
// the same recipe as one written through the engine for the same pixels; the combine modes, undo
// and redo, the whole-mask buttons and Cancel change the recipe and the built mask accordingly.
#include "shell/mask_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <filesystem>

#include "dialog_fixture.h"
#include "masks/mask_command_line.h"
#include "masks/mask_shapes.h"
#include "shell/image_view.h"

namespace tessaly::shell {
namespace {

class MaskDialogTest : public DialogOnAPhoto {
  protected:
    // A transformation with a mask, and its mask dialog.
    MaskDialog* open_mask() {
        TransformationDialog* dialog = open("gaussian_blur");
        if (!dialog) return nullptr;
        serial = dialog->node_serial();
        Node* node = find_node_by_serial(serial);
        if (!node || node->mask_count() < 1) return nullptr;
        open_mask_dialog(*frame, serial, 0);
        MaskDialog* mask_dialog = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                mask_dialog = frame->findChild<MaskDialog*>();
                return mask_dialog && mask_dialog->isVisible();
            },
            5000);
        if (mask_dialog) settle(mask_dialog);
        return mask_dialog;
    }
    void settle(MaskDialog* dialog) {
        QPointer<MaskDialog> alive(dialog);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !alive || !alive->waiting(); }, 10000));
        frame->engine().wait_idle();
        QApplication::processEvents();
    }
    // The window point over a place of the picture given as fractions of its size.
    QPoint at(double fx, double fy) const {
        const QSize size = frame->view()->image_size();
        return frame->view()
            ->to_view()
            .map(QPointF(fx * size.width(), fy * size.height()))
            .toPoint();
    }
    Node* node() const { return find_node_by_serial(serial); }
    MaskSettings& mask() const { return *node()->masks[0]; }

    // Press at from, drag to to, release, as the mouse does in the image window.
    void drag(QPoint from, QPoint to) {
        QWidget* viewport = frame->view()->viewport();
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), viewport->mapToGlobal(QPointF(to)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, to);
    }
    // The rectangle between two window points, in the picture's pixels.
    MaskOperation rectangle(QPoint from, QPoint to, std::int32_t mode) const {
        MaskOperation op;
        op.code = mask_op_rectangle;
        op.mode = mode;
        op.tool = mask_op_rectangle;
        const QPointF a = frame->view()->to_image(QPointF(from));
        const QPointF b = frame->view()->to_image(QPointF(to));
        op.parameters.x0 = a.x();
        op.parameters.y0 = a.y();
        op.parameters.x1 = b.x();
        op.parameters.y1 = b.y();
        return op;
    }
    // The engine's own state for the node's mask base, as a hand-written recipe starts.
    void start_expected(MaskState& state) const {
        Node* n = node();
        mask_state_defaults(state);
        mask_state_set_base(state, mask_base_image(effective_image_node(n->parent), *n, mask()));
        state.tool = mask_op_rectangle;
        ASSERT_FALSE(mask_list_reset(state));
    }
    // The stored mask's value at a picture pixel (x right, y down).
    int mask_at(QPointF at) const {
        const Image& image = mask().image;
        const auto x = static_cast<std::uint32_t>(std::lround(at.x()));
        const auto y = static_cast<std::uint32_t>(std::lround(at.y()));
        return image.row(image.height - 1 - y)[x];
    }

    std::int32_t serial = -1;
};

TEST_F(MaskDialogTest, DrawnRectanglesAddSubtractUndoAndRedoAsWrittenByHand) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QString("Mask"));
    EXPECT_EQ(dialog->button("Mask Rectangle.bmp")->toolTip(), QString("Rectangle"));
    EXPECT_EQ(dialog->button("Run.bmp")->toolTip(),
              QString("Perform pending mask operation and update transformation"));

    dialog->button("Mask Rectangle.bmp")->click();
    ImageView* view = frame->view();
    const QPoint a = at(0.2, 0.25);
    const QPoint b = at(0.8, 0.7);
    drag(a, b);
    ASSERT_TRUE(dialog->pending().has_value());
    // Drawn but not recorded: the recipe does not change yet.
    settle(dialog);
    EXPECT_TRUE(mask().command_line.empty());

    dialog->button("Mask Add.bmp")->click();
    settle(dialog);
    EXPECT_FALSE(dialog->pending().has_value());
    MaskState expected;
    start_expected(expected);
    ASSERT_FALSE(mask_record(expected, rectangle(a, b, mask_add)));
    const std::string one_rectangle = mask_command_line(expected);
    EXPECT_EQ(mask().command_line, one_rectangle);
    const QPointF middle = view->to_image(QPointF(at(0.5, 0.5)));
    const QPointF outside = view->to_image(QPointF(at(0.1, 0.1)));
    EXPECT_EQ(mask_at(middle), 255);
    EXPECT_EQ(mask_at(outside), 0);
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(middle.toPoint())), 255);

    // A smaller rectangle inside, subtracted with F4: a hole in the middle.
    const QPoint c = at(0.4, 0.4);
    const QPoint d = at(0.6, 0.6);
    drag(c, d);
    // F4 reaches the frame first, which hands it on.
    EXPECT_TRUE(mask_dialog_command(*frame, 1137));
    settle(dialog);
    expected.mode = mask_subtract;
    ASSERT_FALSE(mask_record(expected, rectangle(c, d, mask_subtract)));
    const std::string with_hole = mask_command_line(expected);
    EXPECT_EQ(mask().command_line, with_hole);
    EXPECT_NE(with_hole.find(" command2 operation 1 mask_mode 1 mask_operation 1 "),
              std::string::npos);
    EXPECT_EQ(mask_at(middle), 0);
    EXPECT_EQ(mask_at(view->to_image(QPointF(at(0.25, 0.3)))), 255);

    // Undo drops the subtraction from the recipe (only the records up to the position are
    // written), redo brings it back; the mask follows both.
    dialog->button("Undo.bmp")->click();
    settle(dialog);
    ASSERT_TRUE(mask_undo(expected));
    EXPECT_EQ(mask().command_line, mask_command_line(expected));
    EXPECT_NE(mask().command_line.find(" n_op 1 "), std::string::npos);
    EXPECT_EQ(mask_at(middle), 255);
    EXPECT_TRUE(dialog->button("Redo.bmp")->isEnabled());
    dialog->button("Redo.bmp")->click();
    settle(dialog);
    ASSERT_TRUE(mask_redo(expected));
    EXPECT_EQ(mask_command_line(expected), with_hole);
    EXPECT_EQ(mask().command_line, with_hole);
    EXPECT_EQ(mask_at(middle), 0);
    EXPECT_FALSE(dialog->button("Redo.bmp")->isEnabled());

    // Undo, then a new operation: the undone record is gone for good.
    dialog->button("Undo.bmp")->click();
    dialog->button("All Black.bmp")->click();
    settle(dialog);
    ASSERT_TRUE(mask_undo(expected));
    MaskOperation clear;
    clear.code = mask_op_clear;
    clear.mode = mask_subtract;
    clear.tool = mask_op_rectangle;
    ASSERT_FALSE(mask_record(expected, clear));
    EXPECT_EQ(mask().command_line, mask_command_line(expected));
    EXPECT_EQ(mask_at(middle), 0);
    EXPECT_FALSE(dialog->button("Redo.bmp")->isEnabled());

    dialog->accept();
    settle(dialog);
    EXPECT_EQ(mask().command_line, mask_command_line(expected));
    EXPECT_EQ(mask().dialog, nullptr);
}

TEST_F(MaskDialogTest, CancelRestoresTheMaskAndAnAbandonedShapeIsAskedAbout) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    dialog->button("Left Half.bmp")->click();
    settle(dialog);
    const std::string left_half = mask().command_line;
    EXPECT_NE(left_half.find(" command1 operation 20 "), std::string::npos);
    dialog->accept();
    settle(dialog);

    // Open again: the list is read back from the recipe, so undo returns to the base mask.
    open_mask_dialog(*frame, serial, 0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            dialog = frame->findChild<MaskDialog*>();
            return dialog && dialog->isVisible();
        },
        5000));
    settle(dialog);
    ImageView* view = frame->view();
    const QPointF left = view->to_image(QPointF(at(0.2, 0.5)));
    const QPointF right = view->to_image(QPointF(at(0.8, 0.5)));
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(left.toPoint())), 255);
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(right.toPoint())), 0);
    EXPECT_TRUE(dialog->button("Undo.bmp")->isEnabled());
    dialog->button("Invert.bmp")->click();
    settle(dialog);
    EXPECT_NE(mask().command_line.find(" command2 operation 19 "), std::string::npos);
    EXPECT_EQ(mask_at(right), 255);

    // A drawn oval left pending when the tool changes: the dialog asks, and No drops it.
    dialog->button("Mask Oval.bmp")->click();
    drag(at(0.4, 0.4), at(0.6, 0.6));
    ASSERT_TRUE(dialog->pending().has_value());
    record.answers.push_back(Answer::no);
    dialog->button("Mask Blur.bmp")->click();
    EXPECT_FALSE(dialog->pending().has_value());
    ASSERT_FALSE(record.questions.empty());
    EXPECT_EQ(record.questions.back(), "Confirm: Finalize pending mask operation?");

    dialog->reject();
    settle(dialog);
    EXPECT_EQ(mask().command_line, left_half);
    EXPECT_EQ(mask_at(left), 255);
    EXPECT_EQ(mask_at(right), 0);
    EXPECT_EQ(mask().dialog, nullptr);
}

TEST_F(MaskDialogTest, AMaskResetByTheTransformationClosesItsDialogWithoutRestoringIt) {
    QPointer<MaskDialog> dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    dialog->button("All White.bmp")->click();
    settle(dialog);
    ASSERT_FALSE(mask().command_line.empty());
    const std::int32_t number = serial;
    frame->run([number] { reset_mask_settings(*find_node_by_serial(number)->masks[0]); });
    frame->engine().wait_idle();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog; }, 5000));
    frame->engine().wait_idle();
    EXPECT_TRUE(mask().command_line.empty());
    EXPECT_EQ(mask().dialog, nullptr);
    EXPECT_EQ(frame->view()->overlay(), nullptr);
}

TEST_F(MaskDialogTest, AClickFloodFillsAndAStrokePaintsAtTheImagePointsUnderThePointer) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    ImageView* view = frame->view();
    MaskState expected;
    start_expected(expected);

    dialog->button("Mask Flood Fill.bmp")->click();
    const QPoint seed = at(0.3, 0.2);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, seed);
    settle(dialog);
    MaskOperation fill;
    fill.code = mask_op_flood_fill;
    fill.tool = mask_op_flood_fill;
    fill.parameters.floodfill_x = view->to_image(QPointF(seed)).x();
    fill.parameters.floodfill_y = view->to_image(QPointF(seed)).y();
    expected.tool = mask_op_flood_fill;
    ASSERT_FALSE(mask_record(expected, fill));
    EXPECT_EQ(mask().command_line, mask_command_line(expected));
    // The seed itself always qualifies.
    EXPECT_EQ(mask_at(view->to_image(QPointF(seed))), 255);

    // A stroke is recorded when the button is released, in the chosen mode.
    dialog->button("Mask Paint.bmp")->click();
    dialog->button("Mask Subtract.bmp")->click();
    const QPoint from = at(0.3, 0.25);
    const QPoint to = at(0.6, 0.3);
    drag(from, to);
    settle(dialog);
    EXPECT_FALSE(dialog->pending().has_value());
    MaskOperation stroke;
    stroke.code = mask_op_paint;
    stroke.mode = mask_subtract;
    stroke.tool = mask_op_paint;
    for (QPoint p : {from, to}) {
        const QPointF q = view->to_image(QPointF(p));
        stroke.parameters.vertices.push_back({q.x(), q.y(), -1});
    }
    expected.tool = mask_op_paint;
    expected.mode = mask_subtract;
    ASSERT_FALSE(mask_record(expected, stroke));
    EXPECT_EQ(mask().command_line, mask_command_line(expected));
    EXPECT_NE(mask().command_line.find(" command2 operation 8 mask_mode 1 "), std::string::npos);
    EXPECT_EQ(mask_at(view->to_image(QPointF(from))), 0);
    dialog->accept();
    settle(dialog);
}

TEST_F(MaskDialogTest, APolygonClosesOnADoubleClickAndAGradientRunsFromItsDraggedEnds) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    ImageView* view = frame->view();
    MaskState expected;
    start_expected(expected);
    auto image_point = [&](QPoint p) {
        const QPointF q = view->to_image(QPointF(p));
        return MaskVertex{q.x(), q.y(), -1};
    };

    dialog->button("Mask Polygon.bmp")->click();
    const std::array<QPoint, 3> corners{at(0.2, 0.2), at(0.7, 0.3), at(0.4, 0.8)};
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, corners[0]);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, corners[1]);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, corners[2]);
    ASSERT_TRUE(dialog->pending().has_value());
    EXPECT_EQ(dialog->pending()->parameters.vertices.size(), 3u);
    dialog->button("Run.bmp")->click();
    settle(dialog);
    MaskOperation polygon;
    polygon.code = mask_op_polygon;
    polygon.tool = mask_op_polygon;
    for (QPoint p : corners) polygon.parameters.vertices.push_back(image_point(p));
    expected.tool = mask_op_polygon;
    ASSERT_FALSE(mask_record(expected, polygon));
    EXPECT_EQ(mask().command_line, mask_command_line(expected));
    EXPECT_EQ(mask_at(view->to_image(QPointF(at(0.45, 0.45)))), 255);
    EXPECT_EQ(mask_at(view->to_image(QPointF(at(0.9, 0.9)))), 0);

    // A linear gradient dragged from left to right, white to black, replaces nothing until Run.
    dialog->button("Linear Gradient.bmp")->click();
    const QPoint from = at(0.1, 0.5);
    const QPoint to = at(0.9, 0.5);
    drag(from, to);
    ASSERT_TRUE(dialog->pending().has_value());
    dialog->button("Run.bmp")->click();
    settle(dialog);
    MaskOperation gradient;
    gradient.code = mask_op_linear_gradient;
    gradient.tool = mask_op_linear_gradient;
    gradient.parameters.x0 = image_point(from).x;
    gradient.parameters.y0 = image_point(from).y;
    gradient.parameters.x1 = image_point(to).x;
    gradient.parameters.y1 = image_point(to).y;
    expected.tool = mask_op_linear_gradient;
    ASSERT_FALSE(mask_record(expected, gradient));
    EXPECT_EQ(mask().command_line, mask_command_line(expected));
    EXPECT_NE(mask().command_line.find(" command2 operation 13 "), std::string::npos);
    const int near_start = mask_at(view->to_image(QPointF(at(0.15, 0.1))));
    const int near_end = mask_at(view->to_image(QPointF(at(0.85, 0.1))));
    EXPECT_GT(near_start, 200);
    EXPECT_LT(near_end, 60);
    dialog->accept();
    settle(dialog);
}

TEST_F(MaskDialogTest, TheMaskIsShownOverThePictureInTheChosenColour) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    ImageView* view = frame->view();
    auto shown = [&] {
        QApplication::processEvents();
        return view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QPoint left = at(0.25, 0.5);
    const QPoint right = at(0.75, 0.5);
    dialog->button("Left Half.bmp")->click();
    settle(dialog);
    // Transparent overlay: the picture as it is.
    dialog->button("Mask 0% Opaque.bmp")->click();
    settle(dialog);
    const QImage plain = shown();
    dialog->button("Blue.bmp")->click();
    dialog->button("Mask 50% Opaque.bmp")->click();
    settle(dialog);
    const QImage tinted = shown();
    // Half the blue over the white half, nothing over the black half.
    EXPECT_GE(qBlue(tinted.pixel(left)), 127);
    EXPECT_LE(qRed(tinted.pixel(left)), qRed(plain.pixel(left)) / 2 + 2);
    EXPECT_EQ(tinted.pixel(right), plain.pixel(right));
    // Mask Only shows the mask itself.
    dialog->button("Mask Only.bmp")->click();
    settle(dialog);
    const QImage only = shown();
    EXPECT_EQ(only.pixel(left), qRgb(255, 255, 255));
    EXPECT_EQ(only.pixel(right), qRgb(0, 0, 0));

    dialog->button("Red.bmp")->click();
    dialog->button("Mask 50% Opaque.bmp")->click();
    dialog->button("Mask Oval.bmp")->click();
    drag(at(0.55, 0.3), at(0.9, 0.8));
    settle(dialog);
    if (const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR"); !folder.isEmpty()) {
        dialog->grab().save(QString::fromUtf8(folder) + "/mask-dialog.png");
        frame->grab().save(QString::fromUtf8(folder) + "/mask-overlay.png");
    }
    dialog->reject();
    settle(dialog);
    EXPECT_TRUE(mask().command_line.empty());
}

}  // namespace
}  // namespace tessaly::shell
