// The curve control's "Curve" menu in a Brightness Curve dialog: curve files saved and loaded
// through the file dialogs, Inverse, composing with a curve file, and the style items, each
// reaching the node's command line as a drag does.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QToolButton>
#include <cstdlib>
#include <fstream>

#include "core/curve_files.h"
#include "shell/curve_dialog_fixture.h"
#include "support/temp_dir.h"

namespace tessaly::shell {
namespace {

Curve make_curve(std::int32_t style, std::initializer_list<std::pair<int, int>> pts) {
    Curve c;
    c.style = style;
    c.npts = 0;
    for (const auto& [x, y] : pts) {
        c.x[c.npts] = x;
        c.y[c.npts] = y;
        ++c.npts;
    }
    return c;
}

class CurveCommands : public CurveControlDialog {
  protected:
    QAction* item(const char* text) {
        for (QAction* a : control->menu()->actions())
            if (a->text() == text) return a;
        ADD_FAILURE() << "no menu item " << text;
        return nullptr;
    }
    void choose(const char* text) {
        if (QAction* a = item(text)) a->trigger();
    }
    std::string accepted_line() {
        settle();
        dialog->accept();
        EXPECT_TRUE(closed());
        return node_line();
    }

    testing::TempDir folder;
};

TEST_F(CurveCommands, SaveRefusesANameWithoutTheExtensionThenWritesWhatTheEngineReadsBack) {
    const Curve drawn = make_curve(curve_linear, {{0, 20}, {90, 150}, {255, 240}});
    control->set_curve(drawn);
    record.files = {folder.file("tones"), folder.file("tones.curve")};
    choose("Save Curve...");

    EXPECT_EQ(record.errors(),
              std::vector<std::string>{"Curve files must have an extension of .curve"});
    EXPECT_EQ(folder.names(), std::vector<std::string>{"tones.curve"});
    Curve back;
    ASSERT_FALSE(load_curve_file(folder.file("tones.curve"), back));
    EXPECT_EQ(curve_to_text(back), curve_to_text(drawn));

    // Cancelling the dialog writes nothing and leaves the curve alone.
    record.files.clear();
    choose("Save Curve...");
    EXPECT_EQ(folder.names().size(), 1u);
    EXPECT_EQ(curve_to_text(control->curve()), curve_to_text(drawn));
}

TEST_F(CurveCommands, LoadPutsTheFilesPointsInTheControlAndOkWritesThem) {
    const Curve file = make_curve(curve_linear, {{0, 30}, {100, 180}, {200, 210}, {255, 250}});
    ASSERT_FALSE(save_curve_file(folder.file("lift.curve"), file));
    QSignalSpy changes(control, &CurveControl::changed);

    // A file that is not a curve file is refused and the curve stays.
    const std::string bad = folder.file("bad.curve");
    std::ofstream(bad) << "Other 1.0\nend\n";
    record.files = {bad};
    choose("Load Curve...");
    EXPECT_FALSE(record.errors().empty());
    EXPECT_EQ(points(control->curve()), "(0,0)(255,255)");
    EXPECT_EQ(changes.count(), 0);

    record.files = {folder.file("lift.curve")};
    choose("Load Curve...");
    EXPECT_EQ(points(control->curve()), "(0,30)(100,180)(200,210)(255,250)");
    EXPECT_EQ(changes.count(), 1);
    EXPECT_TRUE(item("Broken Line")->isChecked());
    const std::string line = accepted_line();
    EXPECT_NE(line.find(" curve " + curve_to_text(file) + " "), std::string::npos) << line;
}

TEST_F(CurveCommands, InverseSwapsInputAndOutputAndRefusesACurveThatTurns) {
    QSignalSpy changes(control, &CurveControl::changed);
    control->set_curve(make_curve(curve_spline, {{0, 0}, {64, 128}, {255, 255}}));
    choose("Inverse");
    EXPECT_EQ(points(control->curve()), "(0,0)(128,64)(255,255)");
    // A falling curve comes back with its points in rising order.
    control->set_curve(make_curve(curve_linear, {{0, 255}, {100, 50}, {255, 0}}));
    choose("Inverse");
    EXPECT_EQ(points(control->curve()), "(0,255)(50,100)(255,0)");
    EXPECT_EQ(control->curve().style, curve_linear);
    EXPECT_EQ(changes.count(), 2);
    EXPECT_TRUE(record.errors().empty());

    const Curve turning = make_curve(curve_spline, {{0, 200}, {128, 40}, {255, 230}});
    control->set_curve(turning);
    choose("Inverse");
    EXPECT_EQ(record.errors(),
              std::vector<std::string>{"Inverse requires steadily increasing or decreasing curve"});
    EXPECT_EQ(points(control->curve()), points(turning));
    EXPECT_EQ(changes.count(), 2);
    // A flat stretch is not steady either.
    control->set_curve(make_curve(curve_linear, {{0, 0}, {100, 120}, {200, 120}, {255, 255}}));
    choose("Inverse");
    EXPECT_EQ(record.errors().size(), 2u);
    EXPECT_EQ(changes.count(), 2);
}

TEST_F(CurveCommands, ComposeAppliesTheFilesCurveFirstThenTheEditedOne) {
    std::uint8_t before[256], after[256];
    const Curve edited = make_curve(curve_spline, {{0, 0}, {128, 200}, {255, 255}});
    ASSERT_FALSE(save_curve_file(folder.file("identity.curve"), Curve{}));
    control->set_curve(edited);
    curve_table8(edited, before);
    record.files = {folder.file("identity.curve")};
    choose("Exact Compose with...");
    curve_table8(control->curve(), after);
    EXPECT_TRUE(std::equal(before, before + 256, after));
    EXPECT_EQ(control->curve().style, curve_spline);

    // With a negation loaded first the result is the edited curve read backwards; the other
    // order would give 255 - edited.
    const Curve negate = make_curve(curve_linear, {{0, 255}, {255, 0}});
    ASSERT_FALSE(save_curve_file(folder.file("negate.curve"), negate));
    record.files = {folder.file("negate.curve")};
    choose("Exact Compose with...");
    curve_table8(control->curve(), after);
    int worst = 0;
    for (int v = 0; v < 256; ++v) worst = std::max(worst, std::abs(after[v] - before[255 - v]));
    EXPECT_EQ(worst, 0);

    // Approximate compose stays within 2 and needs no more points than the exact one.
    const int exact_points = control->curve().npts;
    control->set_curve(edited);
    record.files = {folder.file("negate.curve")};
    choose("Approximate Compose with...");
    curve_table8(control->curve(), after);
    worst = 0;
    for (int v = 0; v < 256; ++v) worst = std::max(worst, std::abs(after[v] - before[255 - v]));
    EXPECT_LE(worst, 2);
    EXPECT_LE(control->curve().npts, exact_points);

    const std::string line = accepted_line();
    EXPECT_NE(line.find(" curve " + curve_to_text(control->curve()) + " "), std::string::npos)
        << line;
}

TEST_F(CurveCommands, StyleItemsFollowTheCurveAndChangeTheLinesStyle) {
    auto* button = control->findChild<QToolButton*>();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->menu(), control->menu());
    // The button sits above the grid, clear of the curve's top corners.
    EXPECT_LE(button->geometry().bottom(), control->to_widget(0, 255).y());

    EXPECT_TRUE(item("Smooth Curve")->isChecked());
    control->set_curve(make_curve(curve_gamma, {{0, 0}, {64, 128}, {255, 255}}));
    EXPECT_TRUE(item("Gamma Curve")->isChecked());
    EXPECT_FALSE(item("Smooth Curve")->isChecked());

    QSignalSpy changes(control, &CurveControl::changed);
    choose("Stair Step");
    EXPECT_EQ(control->curve().style, curve_step);
    EXPECT_TRUE(item("Stair Step")->isChecked());
    choose("Broken Line");
    EXPECT_EQ(control->curve().style, curve_linear);
    EXPECT_EQ(points(control->curve()), "(0,0)(64,128)(255,255)");
    EXPECT_EQ(changes.count(), 2);

    const std::string line = accepted_line();
    EXPECT_NE(line.find(" curve 3 1 0 0 64 128 255 255 "), std::string::npos) << line;
}

}  // namespace
}  // namespace tessaly::shell
