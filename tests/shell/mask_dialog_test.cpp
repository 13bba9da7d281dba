// The mask dialog on a real photograph: shapes drawn with the mouse in the image window become
// the same recipe as one written through the engine for the same pixels; the combine modes, undo
// and redo, the whole-mask buttons and Cancel change the recipe and the built mask accordingly.
#include "shell/mask_dialog.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/color_models.h"
#include "dialog_fixture.h"
#include "fileio/image_file.h"
#include "masks/mask_command_line.h"
#include "masks/mask_pixels.h"
#include "masks/mask_settings.h"
#include "masks/mask_shapes.h"
#include "shell/curve_control.h"
#include "shell/image_view.h"
#include "shell/mask_hue_panels.h"
#include "shell/mask_panels.h"

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

    // Chooses an entry of the dialog's Settings menu and waits for what it did.
    void menu(MaskDialog* dialog, const QString& text) {
        for (QAction* action : dialog->settings_menu()->actions()) {
            if (action->text() == text) {
                action->trigger();
                settle(dialog);
                return;
            }
        }
        ADD_FAILURE() << "no menu entry " << text.toStdString();
    }
    // A fresh dialog on the node's mask after the mask was reset through the engine.
    MaskDialog* reopen_reset(MaskDialog* dialog) {
        QPointer<MaskDialog> old(dialog);
        dialog->accept();
        settle(dialog);
        // Closed dialogs delete themselves; the new one may take the same address.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !old; }, 5000));
        const std::int32_t number = serial;
        frame->run([number] { reset_mask_settings(*find_node_by_serial(number)->masks[0]); });
        frame->engine().wait_idle();
        QApplication::processEvents();
        open_mask_dialog(*frame, serial, 0);
        MaskDialog* fresh = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                for (MaskDialog* d : frame->findChildren<MaskDialog*>()) {
                    if (d->isVisible()) fresh = d;
                }
                return fresh != nullptr;
            },
            5000);
        if (fresh) settle(fresh);
        return fresh;
    }
    std::string scratch_folder() const {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("tessaly-mask-dialog-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        return folder.string();
    }

    // Pixels where the stored mask differs from the engine's rebuild of line on the same base.
    int replay_differs(const std::string& line) {
        MaskState replayed;
        start_expected(replayed);
        EXPECT_FALSE(read_mask_command_line(line, replayed));
        const Image& built = mask().image;
        if (replayed.current_mask.width != built.width ||
            replayed.current_mask.height != built.height) {
            return -1;
        }
        int differ = 0;
        for (std::uint32_t r = 0; r < built.height; ++r) {
            for (std::uint32_t x = 0; x < built.width; ++x)
                differ += replayed.current_mask.row(r)[x] != built.row(r)[x];
        }
        return differ;
    }
    // The distinct values of the stored mask, up to a few.
    std::size_t mask_levels() const {
        const Image& built = mask().image;
        std::set<int> levels;
        for (std::uint32_t r = 0; r < built.height && levels.size() < 8; ++r) {
            for (std::uint32_t x = 0; x < built.width; ++x) levels.insert(built.row(r)[x]);
        }
        return levels.size();
    }
    // With TESSALY_SCREENSHOT_DIR set: the dialog as <name>.png there.
    static void shot(QWidget* dialog, const char* name) {
        const QByteArray folder = qgetenv("TESSALY_SCREENSHOT_DIR");
        if (!folder.isEmpty()) dialog->grab().save(QString::fromUtf8(folder) + "/" + name + ".png");
    }
    // Press, drag and release with the left button inside a widget.
    static void drag_in(QWidget* widget, QPointF from, QPointF to) {
        QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from.toPoint());
        QMouseEvent move(QEvent::MouseMove, to, widget->mapToGlobal(to), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
        QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to.toPoint());
    }
    static QPushButton* push_button(QWidget* panel, const QString& text) {
        for (QPushButton* b : panel->findChildren<QPushButton*>()) {
            if (b->text() == text) return b;
        }
        return nullptr;
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

TEST_F(MaskDialogTest, SavedMaskSettingsLoadIntoAFreshDialogAndResetAsksFirst) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    dialog->button("Left Half.bmp")->click();
    dialog->button("Invert.bmp")->click();
    settle(dialog);
    const std::string right_half = mask().command_line;
    ASSERT_NE(right_half.find(" n_op 2 "), std::string::npos);
    const std::string file = scratch_folder() + "/right-half.mask";
    std::filesystem::remove(file);
    record.files.push_back(file);
    menu(dialog, "Save Mask Settings...");
    ASSERT_TRUE(std::filesystem::exists(file));

    // Reset asks; No keeps every operation, Yes clears the list and the mask.
    record.answers.push_back(Answer::no);
    menu(dialog, "Reset Mask...");
    ASSERT_FALSE(record.questions.empty());
    EXPECT_EQ(record.questions.back(), "Confirm: Reset Mask?\nAll mask operations will be lost.");
    EXPECT_EQ(mask().command_line, right_half);
    record.answers.push_back(Answer::yes);
    menu(dialog, "Reset Mask...");
    EXPECT_NE(mask().command_line.find(" n_op 0 "), std::string::npos);
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(10, 10)), 0);
    EXPECT_FALSE(dialog->button("Undo.bmp")->isEnabled());

    dialog = reopen_reset(dialog);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(mask().command_line.empty());
    // A cancelled file choice leaves the dialog as it is.
    record.files.push_back(std::nullopt);
    menu(dialog, "Load Mask Settings...");
    EXPECT_TRUE(mask().command_line.empty());
    record.files.push_back(file);
    menu(dialog, "Load Mask Settings...");
    EXPECT_EQ(mask().command_line, right_half);
    const int right = dialog->mask_picture().width() - 10;
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(10, 10)), 0);
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(right, 10)), 255);
    // The loaded list is the dialog's own: undo steps back through it to the left half.
    dialog->button("Undo.bmp")->click();
    settle(dialog);
    EXPECT_NE(mask().command_line.find(" n_op 1 "), std::string::npos);
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(10, 10)), 255);
    EXPECT_EQ(qGray(dialog->mask_picture().pixel(right, 10)), 0);
    dialog->accept();
    settle(dialog);
    std::filesystem::remove(file);
}

TEST_F(MaskDialogTest, TheMaskSavedAsAnImageIsItsGrayPictureAndAnOpenFileIsRefused) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    dialog->button("Mask Oval.bmp")->click();
    drag(at(0.2, 0.2), at(0.7, 0.9));
    dialog->button("Run.bmp")->click();
    settle(dialog);
    const QImage shown = dialog->mask_picture();
    ASSERT_FALSE(shown.isNull());

    const std::string file = scratch_folder() + "/mask.png";
    std::filesystem::remove(file);
    record.files.push_back(file);
    menu(dialog, "Save mask as image file...");
    EXPECT_EQ(record.file_dialogs.back(), "Save Mask Image as File");
    Image picture, transparency;
    ASSERT_FALSE(read_image_file(file, picture, transparency));
    ASSERT_EQ(picture.type, image_gray8);
    ASSERT_EQ(static_cast<int>(picture.width), shown.width());
    ASSERT_EQ(static_cast<int>(picture.height), shown.height());
    int differ = 0;
    for (int y = 0; y < shown.height(); ++y) {
        const std::uint8_t* row = picture.row(picture.height - 1 - static_cast<std::uint32_t>(y));
        for (int x = 0; x < shown.width(); ++x) differ += row[x] != shown.constScanLine(y)[x];
    }
    EXPECT_EQ(differ, 0);

    // Overwriting asks; No leaves the file as it was.
    dialog->button("Invert.bmp")->click();
    settle(dialog);
    const auto written = std::filesystem::last_write_time(file);
    record.files.push_back(file);
    record.answers.push_back(Answer::no);
    menu(dialog, "Save mask as image file...");
    EXPECT_EQ(record.questions.back(), "Confirm: File already exists - Save anyway?");
    EXPECT_EQ(std::filesystem::last_write_time(file), written);

    // The photograph the program shows is never overwritten.
    const auto before = std::filesystem::file_size(dialog_photo);
    record.files.push_back(dialog_photo);
    const std::size_t messages = record.messages.size();
    menu(dialog, "Save mask as image file...");
    ASSERT_GT(record.messages.size(), messages);
    EXPECT_EQ(record.messages.back().text, "Cannot save mask - image file is currently open");
    EXPECT_EQ(std::filesystem::file_size(dialog_photo), before);
    dialog->reject();
    settle(dialog);
    std::filesystem::remove(file);
}

TEST_F(MaskDialogTest, ComputeAreaCountsPartlyMaskedPixelsByTheirValue) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    const QSize size = dialog->mask_picture().size();
    ASSERT_FALSE(size.isEmpty());
    auto area = [&] {
        const std::size_t before = record.messages.size();
        menu(dialog, "Compute Area...");
        EXPECT_EQ(record.messages.size(), before + 1);
        EXPECT_EQ(record.messages.back().caption, "Selected Area");
        return record.messages.back().text;
    };
    dialog->button("Left Half.bmp")->click();
    settle(dialog);
    const double half = double(size.width() / 2) * size.height();
    EXPECT_EQ(area(), QString::asprintf("%.2f pixels\n%.2f percent coverage", half,
                                        100.0 * half / (double(size.width()) * size.height()))
                          .toStdString());
    // 50 % gray is 128 of 255 everywhere.
    dialog->button("All Gray.bmp")->click();
    settle(dialog);
    const double gray = double(size.width()) * size.height() * 128.0 / 255.0;
    EXPECT_EQ(area(),
              QString::asprintf("%.2f pixels\n%.2f percent coverage", gray, 100.0 * 128.0 / 255.0)
                  .toStdString());
    dialog->reject();
    settle(dialog);
}

TEST_F(MaskDialogTest, AColourRangePickedByAClickReplaysToTheSameMask) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    ImageView* view = frame->view();
    dialog->button("Mask Range.bmp")->click();
    const ColorRangeSettings before = dialog->tool_settings().color_range;
    const QPoint click = at(0.35, 0.6);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, click);
    settle(dialog);
    // A pick changes the ranges but performs nothing until Run.
    const ColorRangeSettings picked = dialog->tool_settings().color_range;
    EXPECT_NE(picked.limits, before.limits);
    EXPECT_TRUE(mask().command_line.empty());
    dialog->button("Run.bmp")->click();
    settle(dialog);
    shot(dialog, "mask-dialog-range");
    const std::string line = mask().command_line;
    ASSERT_NE(line.find(" command1 operation 7 "), std::string::npos);

    // The picked colour itself is fully selected.
    const QPointF point = view->to_image(QPointF(click));
    EXPECT_EQ(mask_at(point), 255);
    // The engine rebuilds the same mask from the recipe alone.
    MaskState replayed;
    start_expected(replayed);
    ASSERT_FALSE(read_mask_command_line(line, replayed));
    const Image& built = mask().image;
    ASSERT_EQ(replayed.current_mask.width, built.width);
    ASSERT_EQ(replayed.current_mask.height, built.height);
    int differ = 0;
    int selected = 0;
    for (std::uint32_t r = 0; r < built.height; ++r) {
        for (std::uint32_t x = 0; x < built.width; ++x) {
            differ += replayed.current_mask.row(r)[x] != built.row(r)[x];
            selected += built.row(r)[x] > 0;
        }
    }
    EXPECT_EQ(differ, 0);
    // Similar colours, not the whole picture.
    EXPECT_LT(selected, static_cast<int>(built.width * built.height));
    dialog->accept();
    settle(dialog);
}

TEST_F(MaskDialogTest, ClicksFillTheSeparateColourRowsUntilFull) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    ImageView* view = frame->view();
    dialog->button("Mask Separate.bmp")->click();
    SeparatePanel* panel = dialog->separate_panel();
    ASSERT_NE(panel, nullptr);
    panel->set_target_row(1);
    // The first pick replaces the row's typed white; seven more fill it.
    for (int i = 0; i < 8; ++i) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at(0.1 + 0.1 * i, 0.5));
        settle(dialog);
    }
    const SeparateEntries& entries = dialog->tool_settings().separate;
    for (std::size_t i = 8; i < 16; ++i) {
        EXPECT_TRUE(entries[i].in_use);
        EXPECT_GE(entries[i].x, 0.0);
    }
    const std::size_t messages = record.messages.size();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at(0.9, 0.9));
    settle(dialog);
    ASSERT_GT(record.messages.size(), messages);
    EXPECT_EQ(record.messages.back().text, "Color patch row is full, cannot add any new colors");

    panel->swap_colors();
    EXPECT_TRUE(entries[7].in_use);
    EXPECT_FALSE(entries[9].in_use);
    EXPECT_EQ(entries[8].colour, 0u);  // the typed black now in the white row
    dialog->button("Run.bmp")->click();
    settle(dialog);
    EXPECT_NE(mask().command_line.find(" operation 11 "), std::string::npos);
    EXPECT_NE(mask().command_line.find("separate_color8 "), std::string::npos);
    panel->reset_colors();
    EXPECT_FALSE(entries[1].in_use);
    EXPECT_EQ(entries[8].colour, 0xffffffu);
    dialog->accept();
    settle(dialog);
}

TEST_F(MaskDialogTest, CurvesDrawnInTheirPanelsRecordOperationsTheEngineReplays) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    dialog->button("Mask Curve.bmp")->click();
    QWidget* panel = dialog->panel(mask_op_curve);
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(panel->isVisible());
    auto* channel = panel->findChild<QComboBox*>();
    ASSERT_NE(channel, nullptr);
    ASSERT_EQ(channel->count(), 10);
    EXPECT_EQ(channel->itemText(5), QString("HSL L"));
    channel->setCurrentIndex(1);  // "R"
    auto* control = panel->findChild<CurveControl*>();
    ASSERT_NE(control, nullptr);
    // Pull the middle of the straight curve down: dark reds drop out of the selection.
    drag_in(control, control->to_widget(128, 128), control->to_widget(128, 20));
    const Curve& drawn = dialog->tool_settings().curve;
    ASSERT_EQ(drawn.npts, 3);
    EXPECT_LT(drawn.y[1], 40);
    EXPECT_TRUE(mask().command_line.empty());
    dialog->button("Run.bmp")->click();
    settle(dialog);
    shot(dialog, "mask-dialog-curve");
    const std::string line = mask().command_line;
    ASSERT_NE(line.find(" command1 operation 9 "), std::string::npos) << line;
    EXPECT_NE(line.find(" channel 1 curve " + curve_to_text(drawn) + " "), std::string::npos)
        << line;
    EXPECT_EQ(replay_differs(line), 0);
    EXPECT_GT(mask_levels(), 2u);

    // Mask Brightness Curve reshapes the mask itself: a curve that lifts everything to white
    // leaves no dark pixel.
    dialog->button("Spline.bmp")->click();
    QWidget* shape_panel = dialog->panel(mask_op_brightness_curve);
    ASSERT_NE(shape_panel, nullptr);
    EXPECT_EQ(shape_panel->findChild<QComboBox*>(), nullptr);  // no channel here
    auto* shape = shape_panel->findChild<CurveControl*>();
    ASSERT_NE(shape, nullptr);
    drag_in(shape, shape->to_widget(0, 0), shape->to_widget(0, 255));
    ASSERT_EQ(dialog->tool_settings().shape_curve.y[0], 255);
    // The selection curve is not touched by the other tool's editor.
    EXPECT_EQ(dialog->tool_settings().curve.npts, 3);
    dialog->button("Run.bmp")->click();
    settle(dialog);
    const std::string reshaped = mask().command_line;
    EXPECT_NE(reshaped.find(" command2 operation 26 "), std::string::npos) << reshaped;
    EXPECT_EQ(replay_differs(reshaped), 0);
    EXPECT_EQ(mask_levels(), 1u);
    EXPECT_EQ(mask().image.row(0)[0], 255);
    dialog->accept();
    settle(dialog);
}

TEST_F(MaskDialogTest, APolygonSavedToAFileLoadsBackAsThePendingShape) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    ImageView* view = frame->view();
    dialog->button("Mask Polygon.bmp")->click();
    QWidget* panel = dialog->panel(mask_op_polygon);
    ASSERT_NE(panel, nullptr);
    QPushButton* save = push_button(panel, "Save...");
    QPushButton* load = push_button(panel, "Load...");
    ASSERT_TRUE(save && load);

    // Nothing drawn yet: nothing to save, and no file dialog.
    const std::size_t dialogs = record.file_dialogs.size();
    save->click();
    settle(dialog);
    EXPECT_EQ(record.file_dialogs.size(), dialogs);
    EXPECT_FALSE(record.warnings().empty());

    const std::array<QPoint, 4> corners{at(0.2, 0.2), at(0.75, 0.25), at(0.7, 0.8), at(0.3, 0.7)};
    for (std::size_t i = 0; i + 1 < corners.size(); ++i)
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, corners[i]);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, corners.back());
    ASSERT_TRUE(dialog->pending().has_value());
    const std::vector<MaskVertex> drawn = dialog->pending()->parameters.vertices;
    ASSERT_EQ(drawn.size(), 4u);

    // A name without the extension is refused and asked again.
    const std::string folder = scratch_folder();
    const std::string path = folder + "/outline.polygon";
    record.files.push_back(folder + "/outline.txt");
    record.files.push_back(path);
    save->click();
    settle(dialog);
    ASSERT_FALSE(record.errors().empty());
    EXPECT_EQ(record.errors().back(), "Polygon files must have the extension .polygon");
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(std::filesystem::exists(folder + "/outline.txt"));
    {
        std::ifstream in(path);
        std::string first;
        std::getline(in, first);
        // The program's text files start with a byte-order mark and end lines with CR LF.
        EXPECT_NE(first.find("Polygon 1.0"), std::string::npos) << first;
    }
    // Saving does not perform it.
    EXPECT_TRUE(dialog->pending().has_value());
    dialog->button("Run.bmp")->click();
    settle(dialog);
    const std::string drawn_line = mask().command_line;
    ASSERT_NE(drawn_line.find(" command1 operation 3 "), std::string::npos);

    // Loaded after an undo: the same outline, pending until Run, then the same recipe.
    dialog->button("Undo.bmp")->click();
    settle(dialog);
    record.files.push_back(path);
    load->click();
    settle(dialog);
    ASSERT_TRUE(dialog->pending().has_value());
    EXPECT_EQ(dialog->pending()->code, mask_op_polygon);
    const auto& loaded = dialog->pending()->parameters.vertices;
    ASSERT_EQ(loaded.size(), drawn.size());
    // Four decimals of the longer side.
    const double step = 1e-4 * (view->image_size().width() - 1);
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        EXPECT_NEAR(loaded[i].x, drawn[i].x, step);
        EXPECT_NEAR(loaded[i].y, drawn[i].y, step);
    }
    dialog->button("Run.bmp")->click();
    settle(dialog);
    const std::string loaded_line = mask().command_line;
    // The same tokens, numbers equal to the last of their four decimals.
    std::istringstream a(drawn_line), b(loaded_line);
    std::string ta, tb;
    int tokens = 0;
    while (a >> ta) {
        ASSERT_TRUE(b >> tb);
        ++tokens;
        if (ta == tb) continue;
        EXPECT_NEAR(std::stod(ta), std::stod(tb), 1.5e-4) << ta << " / " << tb;
    }
    EXPECT_FALSE(b >> tb);
    EXPECT_GT(tokens, 20);
    EXPECT_EQ(replay_differs(loaded_line), 0);

    // A file that is not a polygon file fails and leaves nothing pending.
    const std::string broken = folder + "/broken.polygon";
    std::ofstream(broken) << "Spline 1.0\nvertex 0.1 0.1\nend\n";
    record.files.push_back(broken);
    load->click();
    settle(dialog);
    EXPECT_FALSE(dialog->pending().has_value());
    EXPECT_EQ(record.errors().back(), "Error loading polygon file");
    dialog->accept();
    settle(dialog);
    std::filesystem::remove_all(folder);
}

TEST_F(MaskDialogTest, TheHueSaturationToolsSelectWhatTheirPanelsShow) {
    MaskDialog* dialog = open_mask();
    ASSERT_NE(dialog, nullptr);
    dialog->button("HSV.bmp")->click();
    QWidget* panel = dialog->panel(mask_op_hue_saturation);
    ASSERT_NE(panel, nullptr);
    auto* picker = panel->findChild<HueSatPicker*>();
    ASSERT_NE(picker, nullptr);
    // An orange of the autumn leaves, then a blue added with Shift, then the blue removed again.
    QTest::mouseClick(picker, Qt::LeftButton, Qt::NoModifier, picker->to_widget(30, 70).toPoint());
    QTest::mouseClick(picker, Qt::LeftButton, Qt::ShiftModifier,
                      picker->to_widget(220, 50).toPoint());
    ASSERT_EQ(dialog->tool_settings().huesat.colours.size(), 2u);
    QTest::mouseClick(picker, Qt::RightButton, Qt::NoModifier,
                      picker->to_widget(220, 50).toPoint());
    const auto& colours = dialog->tool_settings().huesat.colours;
    ASSERT_EQ(colours.size(), 1u);
    const std::uint32_t c = colours[0].colour;
    std::int32_t h = 0, s = 0, v = 0;
    rgb_to_hsv8(static_cast<std::int32_t>(c & 255u), static_cast<std::int32_t>((c >> 8) & 255u),
                static_cast<std::int32_t>((c >> 16) & 255u), h, s, v);
    // The engine reads the colour back as the hue and saturation clicked (a pixel's worth).
    EXPECT_NEAR(h * 360.0 / 4096, 30.0, 3.0);
    EXPECT_NEAR(s * 100.0 / 4096, 70.0, 3.0);
    EXPECT_GT(colours[0].hue_width, 0.0);
    shot(dialog, "mask-dialog-huesat");
    dialog->button("Run.bmp")->click();
    settle(dialog);
    const std::string line = mask().command_line;
    ASSERT_NE(line.find(" command1 operation 28 "), std::string::npos) << line;
    EXPECT_NE(line.find(" huesat 0 0 1 "), std::string::npos) << line;
    EXPECT_EQ(replay_differs(line), 0);
    EXPECT_GT(mask_levels(), 1u);

    // The histogram: the picture's colours are counted, clicks mark cells, invert flips them all.
    dialog->button("HS Hist.bmp")->click();
    auto* histogram = dynamic_cast<HistogramPanel*>(dialog->panel(mask_op_hs_histogram));
    ASSERT_NE(histogram, nullptr);
    HueSatHistogram* grid = histogram->grid();
    QTest::mouseClick(grid, Qt::LeftButton, Qt::NoModifier, grid->cell_centre(3, 12).toPoint());
    const HistogramSelection& selection = dialog->tool_settings().histogram;
    shot(dialog, "mask-dialog-histogram");
    EXPECT_TRUE(hs_cell_selected(selection, 3, 12));
    EXPECT_FALSE(hs_cell_selected(selection, 4, 12));
    push_button(histogram, "Invert Current Selection")->click();
    EXPECT_FALSE(hs_cell_selected(selection, 3, 12));
    EXPECT_TRUE(hs_cell_selected(selection, 4, 12));
    EXPECT_EQ(selection.selection.back(), 0);  // bits beyond the grid stay clear
    dialog->button("Run.bmp")->click();
    settle(dialog);
    const std::string both = mask().command_line;
    EXPECT_NE(both.find(" command2 operation 29 "), std::string::npos);
    EXPECT_EQ(replay_differs(both), 0);
    push_button(histogram, "Clear Current Selection")->click();
    EXPECT_TRUE(std::all_of(selection.selection.begin(), selection.selection.end(),
                            [](std::uint8_t b) { return b == 0; }));
    dialog->accept();
    settle(dialog);
}

}  // namespace
}  // namespace tessaly::shell
