// Script, workspace and snippet files written and read back with real transformations.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "color/color_settings.h"
#include "core/format.h"
#include "fileio/save.h"
#include "framework/transformation.h"
#include "masks/mask_command_line.h"
#include "tree/edit.h"
#include "workspace_fixture.h"

namespace tessaly::testing {
namespace {

using ScriptFiles = WorkspaceTest;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A top level File Open line as a person might write it.
std::string image_line(int index, const std::string& path) {
    return formatted(
        "image index %d caption ″x″ parent -1 bypass 0 same_size 0 size_specific 0 n_inputs 0 "
        "n_masks 0 command ‴file_open 0 n_files 1 current 0 file1 ″%s″ time1 ″″‴",
        index, path);
}

TEST_F(ScriptFiles, WorkspaceIsWrittenLineForLine) {
    std::string path = make_png("a b.png", 4, 3);
    Node* top = open(path);
    Node* resize = add(top, "Resize", "resize 0 pixel_w 2 pixel_h 2 set 2 method 0");
    resize->comment = "half";
    ASSERT_FALSE(run_node(top, resize));
    set_current_node(resize, -1);
    const std::string target = dir.file("w.workspace");
    ASSERT_FALSE(save_workspace(target, ImageNames::with_names, false, true));
    const int a = top->serial, r = resize->serial;
    const std::string node =
        "image index %d caption ″%s″ comment ″%s″ saved_as_pathname ″″ "
        "saved_on_date ″″ parent %d bypass 0 same_size 0 size_specific 0 "
        "breakpoint 0 n_inputs 0 n_masks 0 command ‴%s‴";
    EXPECT_EQ(read(target),
              crlf({"workspace_script 1.0", "", "TSY_Version ″" + version_string() + "″", "",
                    "original_script_pathname ″" + target + "″", "associated_image_pathname ″″",
                    "associated_original_pathname ″″ -1", formatted("top_level_index %d", a), "",
                    "color_management enabled 0 on_mismatch 0 on_batch_mismatch 0 acs_profile ″″ "
                    "gray_acs_profile ″″ ar_profile ″″ gray_ar_profile ″″ wcs_profile ″″ "
                    "gray_wcs_profile ″″ monitor_curves_file ″″ monitor_curves_enabled 0",
                    formatted(node, a, "a b.png", "", -1,
                              formatted("file_open 0 n_files 1 current 0 from_default 0 multiple 0 "
                                        "file1 ″%s″ time1 ″%s″",
                                        path, file_time_text(path))),
                    "end_image",
                    formatted(node, r, "Resize", "half", a,
                              "resize 0 pixel_w 2 pixel_h 2 set 2 method 0"),
                    "end_image", formatted("current_image %d", r), "end"}));
    EXPECT_EQ(frame_title(), version_string() + "  --  w.workspace");
    // The same tree without image names keeps the from_default flag and nothing else.
    ASSERT_FALSE(save_workspace(dir.file("n.workspace"), ImageNames::without_names, false, false));
    EXPECT_TRUE(contains(read(dir.file("n.workspace")),
                         "command ‴file_open 0 n_files 1 current 0 from_default 0 multiple 0 "
                         "file1 ″″ time1 ″″‴"));
}

TEST_F(ScriptFiles, TwoTreesLinkedByAnInputLoadBackWithTheSameLinksAndPixels) {
    Node* first = open(make_png("a b.png", 6, 4, 1));
    first->comment = "first line\r\nsecond line";
    Node* resize = add(first, "12″ print", "resize 0 pixel_w 3 pixel_h 2 set 2 method 0");
    Node* rotate = add(resize, "Rotate/Mirror", "rotref 0 orientation 1 display 1");
    Node* second = open(make_png("b.png", 2, 2, 2));
    Node* copy = add(second, "Copy", "copy 0 display 1 sync_scroll 0", 1);
    copy->inputs[0] = rotate;
    copy->input_captions = {"Source Image"};
    // Written by a node that comes first in walk order, so the input must be pulled ahead.
    Node* split = add_splitter(copy, 2);
    Node* late = add(split->children[1], "Rotate/Mirror", "rotref 0 orientation 2 display 1");
    rotate->bypass = bypass_user;  // bypassed by the person: its result must still exist
    for (Node* n : {resize, rotate, copy, late}) ASSERT_FALSE(run_node(n->parent, n));
    set_current_node(copy, -1);
    const auto pixels = [](const Node* n) {
        return std::string(reinterpret_cast<const char*>(n->image.rows[0]), n->image.width);
    };
    const std::string late_pixels = pixels(late);
    ASSERT_FALSE(save_workspace(dir.file("w.workspace"), ImageNames::with_names, false, false));
    const std::string text = read(dir.file("w.workspace"));
    EXPECT_LT(text.find(formatted("image index %d ", rotate->serial)),
              text.find(formatted("image index %d ", copy->serial)));
    EXPECT_TRUE(contains(text, formatted("  input base_image %d input_number 0 index %d caption "
                                         "″Source Image″",
                                         copy->serial, rotate->serial)));
    EXPECT_TRUE(contains(text, formatted("end 2 %d %d", first->serial, second->serial)));
    close_all_images();
    ASSERT_FALSE(load_workspace(dir.file("w.workspace")));
    EXPECT_EQ(errors(), Strings{});
    auto& tops = tree_root().children;
    ASSERT_EQ(tops.size(), 2u);
    EXPECT_TRUE(tops[0]->comment == "first line\r\nsecond line" && tops[0]->caption == "a b.png");
    // A string quote inside a caption would end it early: it comes back as a quotation mark.
    EXPECT_EQ(tops[0]->children.at(0)->caption, "12\" print");
    Node* r2 = tops[0]->children.at(0)->children.at(0);
    Node* c = tops[1]->children.at(0);
    // Computed although bypassed (3 x 2 turned).
    EXPECT_TRUE(r2->caption == "Rotate/Mirror" && r2->bypass == bypass_user &&
                r2->image.width == 2u);
    EXPECT_TRUE(c->inputs[0] == r2 && c->input_captions[0] == "Source Image" &&
                current_node() == c);
    Node* loaded_split = c->children.at(0);
    ASSERT_TRUE(is_splitter(loaded_split) && loaded_split->children.size() == 2u);
    EXPECT_EQ(loaded_split->children[1]->caption, "Branch 2");
    EXPECT_EQ(pixels(loaded_split->children[1]->children.at(0)), late_pixels);
}

TEST_F(ScriptFiles, HandWrittenFilesReorderIgnoreUnknownLinesAndNeedAnEnd) {
    std::string a = make_png("a.png", 2, 2), b = make_png("b.png", 3, 2),
                c = make_png("c.png", 4, 2);
    Strings lines = {"workspace_script 1.0", image_line(7, a), "end_image",
                     "frobnicate 1 2 3",     image_line(8, b), "end_image",
                     image_line(9, c),       "end_image",      "end 3 9 7 8"};
    ASSERT_FALSE(load_workspace(put("h.workspace", lines)));
    std::vector<std::uint32_t> widths;
    for (Node* n : tree_root().children) widths.push_back(n->image.width);
    EXPECT_TRUE(widths == (std::vector<std::uint32_t>{4, 2, 3}) && errors().empty());
    // A broken file fails with its own message and the file's name, keeping what it built.
    lines.pop_back();
    const struct {
        Strings lines;
        Strings errors;
        std::size_t built;
    } broken[] = {
        {lines, {"Missing end statement"}, 3},
        {{"script 1.0", "image index 1 caption ″x″", "end"},
         {"Missing parent index", "Error processing command: image"}},
        // Images follow a splitter's branches, never the splitter itself.
        {{"script 1.0", image_line(1, a), "end_image",
          "splitter index 2 parent 1 n_branches 2 caption ″S″",
          "image index 3 caption ″x″ parent 2 bypass 0 same_size 0 size_specific 0 n_inputs 0 "
          "n_masks 0 command ‴rotref 0‴",
          "end"},
         {"Missing parent image index: 2", "Error processing command: image"},
         1},
        {{"scrip 1.0", "end"}, {"Illegal script file header"}},
    };
    for (const auto& file : broken) {
        close_all_images();
        scope.recorder.messages.clear();
        const std::string path = put("broken.script", file.lines);
        EXPECT_TRUE(load_script(path));
        Strings expected = file.errors;
        expected.push_back("Error processing script file: " + path);
        EXPECT_EQ(errors(), expected);
        EXPECT_EQ(tree_root().children.size(), file.built);
    }
}

TEST_F(ScriptFiles, SnippetIsInsertedAfterAnotherImageWithoutItsExtraInputs) {
    Node* source = open(make_png("a.png", 8, 4, 1));
    Node* resize = add(source, "Resize", "resize 0 pixel_w 4 pixel_h 2 set 2 method 0");
    Node* copy = add(resize, "Copy", "copy 0 display 1 sync_scroll 0", 1);
    copy->inputs[0] = source;
    Node* rotate = add(copy, "Rotate/Mirror", "rotref 0 orientation 1 display 1");
    for (Node* n : {resize, copy, rotate}) n->selected = true;
    scope.recorder.files.push_back(dir.file("chain.snip"));
    EXPECT_FALSE(snip_selected());
    EXPECT_EQ(scope.recorder.warnings(),
              Strings{"Copy transformation has one or more auxiliary inputs that will ignored"});
    const std::string text = read(dir.file("chain.snip"));
    EXPECT_TRUE(text.starts_with("\xEF\xBB\xBFsnippet 1.0\r\n") &&
                text.ends_with("\r\n\r\nend\r\n"));
    Node* target = open(make_png("b.png", 6, 6, 2));
    Node* after_target = add(target, "Rotate/Mirror", "rotref 0 orientation 2 display 1");
    ASSERT_FALSE(run_node(target, after_target));
    set_current_node(target, -1);
    ASSERT_FALSE(insert_snippet(dir.file("chain.snip")));
    std::vector<Node*> chain;
    for (Node* n = target->children.at(0); n; n = n->children.empty() ? nullptr : n->children[0]) {
        chain.push_back(n);
    }
    ASSERT_TRUE(chain.size() == 4u && chain[1]->input_count() == 1);
    EXPECT_TRUE(chain[0]->caption == "Resize" && chain[0]->image.width == 4u);
    EXPECT_EQ(chain[1]->inputs[0], nullptr);
    EXPECT_EQ(chain[3], after_target);  // the old chain continues after the inserted one
    EXPECT_FALSE(script_running());
}

TEST_F(ScriptFiles, MissingFilesAreReplacedOrStopLoading) {
    const std::string a = make_png("a.png", 5, 3);
    open(a);
    ASSERT_FALSE(save_workspace(dir.file("m.workspace"), ImageNames::with_names, false, false));
    close_all_images();
    fs::rename(a, dir.file("moved.png"));
    scope.recorder.answers = {Answer::cancel, Answer::ok};
    EXPECT_TRUE(load_workspace(dir.file("m.workspace")));
    EXPECT_TRUE(tree_root().children.empty());
    EXPECT_EQ(scope.recorder.questions,
              Strings{"Alert: At least one missing file in workspace script:\n\n" + a +
                      "\n\nClick OK to request replacement pathname or Cancel to abort"});
    scope.recorder.files.push_back(dir.file("moved.png"));
    ASSERT_FALSE(load_workspace(dir.file("m.workspace")));
    EXPECT_EQ(single_top(), "5 " + dir.file("moved.png"));
}

TEST_F(ScriptFiles, RelativeNamesAndImageCopiesAreFoundBesideTheFile) {
    fs::create_directories(dir.file("set/pics"));
    fs::rename(make_png("r.png", 7, 2), dir.file("set/pics/r.png"));
    ASSERT_FALSE(load_script(
        put("set/rel.script", {"script 1.0", image_line(1, "pics/r.png"), "end_image", "end"})));
    EXPECT_EQ(single_top(), "7 " + dir.file("set/pics/r.png"));
    // With image copies the workspace carries its pictures in a folder beside it.
    ASSERT_FALSE(
        save_workspace(dir.file("set/c.workspace"), ImageNames::with_copies, false, false));
    EXPECT_TRUE(fs::exists(dir.file("set/c.workspace.images/r.png")));
    EXPECT_TRUE(contains(read(dir.file("set/c.workspace")), "file1 ″c.workspace.images/r.png″"));
    fs::rename(dir.file("set"), dir.file("moved"));
    close_all_images();
    ASSERT_FALSE(load_workspace(dir.file("moved/c.workspace")));
    EXPECT_EQ(single_top(), "7 " + dir.file("moved/c.workspace.images/r.png"));
    // Saving again asks before replacing the folder.
    scope.recorder.answers.push_back(Answer::cancel);
    EXPECT_TRUE(
        save_workspace(dir.file("moved/c.workspace"), ImageNames::with_copies, false, false));
    EXPECT_EQ(scope.recorder.questions.back(), "Warning: Replace existing folder?");
}

TEST_F(ScriptFiles, ColorManagementDifferencesAreReportedAndMayBeRestored) {
    open(make_png("a.png", 2, 2));
    const ColorManagementSettings saved = color_settings();
    ASSERT_FALSE(save_workspace(dir.file("cm.workspace"), ImageNames::with_names, false, false));
    color_settings().on_mismatch = mismatch_keep;
    close_all_images();
    scope.recorder.answers = {Answer::yes, Answer::no};  // restore, do not keep for later
    ASSERT_FALSE(load_workspace(dir.file("cm.workspace")));
    EXPECT_EQ(scope.recorder.warnings(), Strings{"Color management setting was changed since "
                                                 "script was created: on profile mismatch"});
    EXPECT_EQ(color_settings().on_mismatch, mismatch_ask);
    // A profile the file names that cannot be found.
    std::string text = read(dir.file("cm.workspace"));
    text.replace(text.find("acs_profile ″″"), 14, "acs_profile ″nowhere.icc″");
    ASSERT_FALSE(write_file_atomic(dir.file("cm2.workspace"), text));
    close_all_images();
    scope.recorder.answers = {Answer::cancel};
    EXPECT_TRUE(load_workspace(dir.file("cm2.workspace")) && tree_root().children.empty());
    EXPECT_EQ(errors().front(), "Cannot find assumed color profile: nowhere.icc");
    color_settings() = saved;
}

TEST_F(ScriptFiles, ScriptHoldsOneImageAndWhatItDependsOn) {
    Node* a = open(make_png("a.png", 4, 4, 1));
    Node* b = open(make_png("b.png", 4, 4, 2));
    Node* copy = add(b, "Copy", "copy 0 display 1 sync_scroll 0", 1);
    copy->inputs[0] = a;
    ASSERT_FALSE(run_node(b, copy));
    open(make_png("unrelated.png", 2, 2, 3));
    scope.recorder.files = {dir.file("s.scr"), dir.file("s.script")};
    // The saved date is local time, "5-Dec-2026 17:54:11"; the clock may tick during the save.
    auto stamp = [] {
        std::time_t t = std::time(nullptr);
        char text[64];
        std::strftime(text, sizeof text, "%e-%b-%Y %H:%M:%S", std::localtime(&t));
        return "TSY_Version ″" + version_string() + "″ saved ″" +
               std::string(text[0] == ' ' ? text + 1 : text) + "″\r\n";
    };
    const std::string before = stamp();
    ASSERT_FALSE(save_script(copy, std::nullopt, ImageNames::with_names));
    const std::string after = stamp();
    EXPECT_EQ(errors(), Strings{"Script files must have the extension .script"});
    const std::string text = read(dir.file("s.script"));
    EXPECT_TRUE(contains(text, before) || contains(text, after)) << text.substr(0, 120);
    EXPECT_TRUE(contains(text, "script_directory ″" + dir.path() + "″") &&
                contains(text, "on_multiple_mismatch 1") && !contains(text, "unrelated.png"));
    EXPECT_TRUE(text.ends_with(formatted("\r\n\r\nend 2 %d %d\r\n", a->serial, b->serial)));
    // Saving a JPEG with its script beside it writes the script under the picture's name.
    save_options().jpeg.script = 1;
    EXPECT_FALSE(save_image_file(dir.file("out.jpg"), copy, save_jpeg, false));
    save_options().jpeg.script = 0;
    EXPECT_TRUE(contains(read(dir.file("out.script")),
                         "associated_image_pathname ″" + dir.file("out.jpg")));
}

TEST_F(ScriptFiles, MasksTravelThroughWorkspacesAndRebuildTheSamePixels) {
    Node* first = open(make_png("m.png", 8, 6, 3));
    Node* blur = add_transformation_after(first, false, false, 1, 0, bypass_none, "Gaussian Blur");
    blur->command_line = "gaussian_blur 0 radius 2 amount 0 1 0 1 ″Amount: ″ ″Sky″";
    // The left half, then inverted: the blur shows on the right half only.
    MaskState state;
    mask_state_set_base(state, &first->image);
    ASSERT_FALSE(mask_list_reset(state));
    for (std::int32_t code : {mask_op_left_half, mask_op_invert}) {
        MaskOperation op;
        op.code = code;
        ASSERT_FALSE(mask_record(state, op));
    }
    store_mask_command_line(state, *blur->masks[0]);
    blur->masks[0]->caption = "Sky";
    ASSERT_FALSE(run_node(first, blur));
    Image pixels, mask;
    ASSERT_FALSE(image_copy(blur->image, pixels) || image_copy(blur->masks[0]->image, mask));
    EXPECT_FALSE(image_equal(pixels, first->image));
    for (std::uint32_t y = 0; y < pixels.height; ++y) {
        EXPECT_EQ(0, std::memcmp(pixels.rows[y], first->image.rows[y], 4)) << y;
    }
    ASSERT_FALSE(save_workspace(dir.file("k.workspace"), ImageNames::with_names, false, false));
    EXPECT_TRUE(contains(read(dir.file("k.workspace")), "  mask base_image "));
    close_all_images();
    ASSERT_FALSE(load_workspace(dir.file("k.workspace")));
    EXPECT_EQ(errors(), Strings{});
    Node* loaded = tree_root().children.at(0)->children.at(0);
    EXPECT_EQ(loaded->masks.at(0)->caption, "Sky");
    EXPECT_TRUE(image_equal(loaded->masks[0]->image, mask) && image_equal(loaded->image, pixels));
}

}  // namespace
}  // namespace tessaly::testing
