// Export on real files: naming rules on a real folder, template macros against a JPEG whose EXIF
// ExifTool wrote, real batches through the tree, and the files read back with our readers.
#include "batch/export.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "batch/batch.h"
#include "batch/export_naming.h"
#include "fileio/exiftool.h"
#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/module_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"
#include "tree/tree.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

void touch(const std::string& path) {
    std::ofstream(path) << "x";
}

std::vector<std::string> listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A w x h picture of a gradient, 8 or 16 bits per sample.
Image picture(std::uint32_t type, std::uint32_t w, std::uint32_t h) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, w, h, 72.0));
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < im.row_bytes; ++x)
            im.rows[y][x] = static_cast<std::uint8_t>(x * 7 + y * 13);
    return im;
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        set_batch_mode(0);
        set_batch_abort(false);
        out = dir.path() + "/out";
        fs::create_directories(out);
    }
    void TearDown() override {
        close_all_images();
        set_batch_mode(0);
        set_script_running(false);
    }

    // A JPEG with camera EXIF written by ExifTool.
    std::string camera_jpeg(const std::string& name) {
        const std::string path = dir.file(name);
        Image im = picture(image_color24, 40, 30);
        EXPECT_EQ(write_jpeg_file(path, im, 90.0, 0, 3), write_done);
        const std::string log = dir.file("exiftool.log");
        EXPECT_FALSE(
            run_program(exiftool_path(),
                        {"-overwrite_original", "-Make=Canon", "-Model=EOS 5D", "-FNumber=2.8",
                         "-ExposureTime=0.004", "-FocalLength=50", "-ISO=200",
                         "-ImageDescription=Harbour", "-Artist=Ann Lee", "-Copyright=2024 Ann/Lee",
                         "-DateTimeOriginal=2024:03:07 09:05:02", path},
                        log));
        return path;
    }

    // A File Open node holding the given files (all selected), its image read from the first.
    Node* file_open(const std::vector<std::string>& paths) {
        FileOpenSettings s;
        for (const auto& p : paths) {
            FileOpenEntry e;
            e.path = p;
            e.time = file_time_text(p);
            e.selected = true;
            s.files.push_back(e);
        }
        Node* n = create_top_level_image(false, false, 0, 0, bypass_none, "Open", false);
        n->command_line = file_open_module.format(s);
        EXPECT_FALSE(read_image_file(paths[0], n->image, n->transparency));
        return n;
    }
    Node* exporter(Node* parent, const std::string& line) {
        Node* n = add_transformation_after(parent, false, false, 0, 0, bypass_none, "Export");
        n->command_line = line;
        return n;
    }
    std::uint8_t run(Node* parent, Node* n) {
        return find_module("export")->run(parent, n, split(*n->command_line));
    }
    std::string line(const std::string& extra) {
        return "export 0 folder \u2033" + out + "\u2033 " + extra;
    }

    testing::TempDir dir;
    testing::RecordingScope scope;
    std::string out;
};

TEST_F(ExportTest, NamesAndExistingFiles) {
    EXPECT_EQ(sequence_name("Trip", 0), "Trip 1");
    EXPECT_EQ(with_export_extension("a.NEF", save_jpeg), "a.jpg");
    EXPECT_EQ(with_export_extension("Trip.2024", save_tiff), "Trip.2024.tif");
    EXPECT_EQ(next_version_name("/x/y v9.jpg"), "/x/y v10.jpg");
    EXPECT_EQ(next_version_name("/x/y v999.jpg"), "/x/y v1000.jpg");
    EXPECT_EQ(next_version_name("/x/yv9.jpg"), "/x/yv9 v1.jpg");

    touch(dir.file("a.jpg"));
    touch(dir.file("a v1.jpg"));
    std::string p = dir.file("a.jpg");
    EXPECT_EQ(settle_existing(p, exists_add_version, save_jpeg), NameDecision::write);
    EXPECT_EQ(p, dir.file("a v2.jpg"));
    p = dir.file("free.jpg");
    EXPECT_EQ(settle_existing(p, exists_skip, save_jpeg), NameDecision::write);
    p = dir.file("a.jpg");
    EXPECT_EQ(settle_existing(p, exists_skip, save_jpeg), NameDecision::skip);
    EXPECT_EQ(settle_existing(p, exists_overwrite, save_jpeg), NameDecision::write);
    EXPECT_EQ(p, dir.file("a.jpg"));

    // Ask: Yes keeps the name, Cancel skips, No asks for another name and checks it again.
    auto& r = scope.recorder;
    r.answers = {Answer::yes, Answer::cancel, Answer::no, Answer::no};
    r.files = {dir.file("a v1"), dir.file("b")};
    EXPECT_EQ(settle_existing(p, exists_ask, save_jpeg), NameDecision::write);
    EXPECT_EQ(settle_existing(p, exists_ask, save_jpeg), NameDecision::skip);
    EXPECT_EQ(settle_existing(p, exists_ask, save_jpeg), NameDecision::write);
    EXPECT_EQ(p, dir.file("b.jpg"));
    EXPECT_EQ(r.questions[0], "Warning: Overwrite existing file?\n " + dir.file("a.jpg"));
    EXPECT_EQ(r.questions[3], "Warning: Overwrite existing file?\n " + dir.file("a v1.jpg"));
    EXPECT_EQ(r.file_dialogs, (std::vector<std::string>{"Export JPEG File", "Export JPEG File"}));
}

TEST_F(ExportTest, TemplateMacros) {
    const std::string jpeg = camera_jpeg("photo.jpeg");
    // A known modification time, local 2021-06-15 13:45:30.
    std::tm tm{};
    tm.tm_year = 121, tm.tm_mon = 5, tm.tm_mday = 15, tm.tm_hour = 13, tm.tm_min = 45;
    tm.tm_sec = 30, tm.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, jpeg.c_str(), times, 0), 0);

    Image holder;
    ASSERT_TRUE(read_exif_tags(jpeg, holder));
    MacroSource src{jpeg, holder.tags, 1200, 600, 300.0};
    auto v = [&](const char* name) { return macro_value(name, src).value_or("<none>"); };
    EXPECT_EQ(v("camera make"), "Canon");
    EXPECT_EQ(v("camera model"), "EOS 5D");
    EXPECT_EQ(v("f stop"), "f2.8");
    EXPECT_EQ(v("shutter speed"), "1-250s");
    EXPECT_EQ(v("focal length"), "50mm");
    EXPECT_EQ(v("iso"), "200");
    EXPECT_EQ(v("description"), "Harbour");
    EXPECT_EQ(v("author"), "Ann Lee");
    EXPECT_EQ(v("copyright"), "2024 Ann-Lee");  // no slash in a file name
    EXPECT_EQ(v("taken date and time"), "2024-03-07 09:05:02");
    EXPECT_EQ(v("taken year") + v("taken month number") + v("taken month abbr") +
                  v("taken month full") + v("taken day") + v("taken date") + v("taken time"),
              "202403MarMarch072024-03-0709:05:02");
    EXPECT_EQ(v("modified year") + v("modified month_number") + v("modified month_abbr") +
                  v("modified month_full") + v("modified day") + v("modified date") +
                  v("modified time"),
              "202106JunJune152021-06-1513:45:30");
    const std::time_t created = static_cast<std::time_t>(file_created_time(jpeg).value());
    std::tm c{};
    localtime_r(&created, &c);
    char expect[32];
    std::strftime(expect, sizeof expect, "%Y-%m-%d %H:%M:%S", &c);
    EXPECT_EQ(v("created date") + " " + v("created time"), expect);
    EXPECT_EQ(v("pathname"), jpeg);
    EXPECT_EQ(v("filename") + "|" + v("extension"), "photo|jpeg");
    EXPECT_EQ(
        v("width (pixels}") + " " + v("width (in}") + " " + v("width (cm}") + " " + v("width (mm}"),
        "1200 4 10.16 101.6");
    EXPECT_EQ(v("height (pixels}") + " " + v("height (in}") + " " + v("height (mm}"), "600 2 50.8");
    for (auto name : template_macro_names()) EXPECT_TRUE(macro_value(name, src)) << name;

    EXPECT_EQ(expand_template("\u27EAcamera model\u27EB-\u27EAtaken date\u27EB \u27EA x", src),
              "EOS 5D-2024-03-07 \u27EA x");
    // Absent values.
    MacroSource bare{"", nullptr, 10, 10, 0.0};
    EXPECT_EQ(expand_template("\u27EAcamera make\u27EB \u27EAwidth (cm}\u27EB \u27EAcreated "
                              "year\u27EB",
                              bare),
              "N/A N/A N/A");
    EXPECT_FALSE(expand_template("a\u27EAwidth (pixels)\u27EB", src));
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Unrecognized macro: width (pixels)"}));
}

TEST_F(ExportTest, MegapixelsAndTheOlderScriptKeys) {
    ExportSettings back;
    ASSERT_FALSE(export_module.parse(split("export 0 dimension 6 area 2.3456"), back));
    EXPECT_DOUBLE_EQ(back.area, 2345600.0);
    // The older keys store the opposite truth value and win over the newer ones.
    ASSERT_FALSE(export_module.parse(
        split("export 0 jpeg_script 1 jpeg_save_script 1 tiff_script 0 png_save_script 3"), back));
    EXPECT_EQ(back.jpeg_save_script, 0);
    EXPECT_EQ(back.tiff_save_script, 1);
    EXPECT_EQ(back.png_save_script, 3);
}

TEST_F(ExportTest, BatchWritesSequenceAndTestModeWritesNothing) {
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(dir.file("in" + std::to_string(i) + ".png"));
        Image im = picture(image_gray8, 30 + i, 20);
        ASSERT_FALSE(write_png_file(files.back(), im, nullptr, 0));
    }
    Node* open = file_open(files);
    (void)exporter(open, line("file_name 2 first_file_name \u2033Trip\u2033 length 12"));
    ASSERT_EQ(run_batch(open, batch_test), BatchOutcome::completed);
    EXPECT_TRUE(listing(out).empty());
    ASSERT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(listing(out), (std::vector<std::string>{"Trip 1.jpg", "Trip 2.jpg", "Trip 3.jpg"}));
    EXPECT_EQ(batch_export_count(), 3);
    const auto& st = scope.recorder.statuses;
    EXPECT_NE(std::find(st.begin(), st.end(), "Exporting file: " + out + "/Trip 2.jpg"), st.end());
    Image back;
    ASSERT_FALSE(read_jpeg_file(out + "/Trip 3.jpg", back));
    EXPECT_EQ(back.width, 12u);  // long side 32 -> 12, the other side 20 x 12 / 32 = 7.5 -> 8
    EXPECT_EQ(back.height, 8u);
    EXPECT_TRUE(scope.recorder.errors().empty());
}

TEST_F(ExportTest, SixteenBitsKeptForTiffOnly) {
    const std::string source = dir.file("deep.tif");
    Image deep = picture(image_color48, 40, 20);
    ASSERT_FALSE(write_tiff_file(source, deep, 0, 3));
    Node* open = file_open({source});
    set_batch_mode(batch_run);
    Node* tiff = exporter(open, line("file_type 1 dimension 4 width 20 height 20 sharpen 2"));
    Node* jpeg = exporter(open, line("file_type 2 resize 0"));
    Node* demoted = exporter(open, line("file_type 1 resize 0 demote16 1 sharpen 0"));
    ASSERT_EQ(run(open, tiff), 0);
    ASSERT_EQ(run(open, jpeg), 0);
    ASSERT_EQ(run(open, demoted), 0);
    EXPECT_EQ(tiff->image.type, image_color48);  // the output is the input, unchanged
    EXPECT_EQ(tiff->image.width, 40u);
    EXPECT_EQ(listing(out), (std::vector<std::string>{"deep v1.tif", "deep.jpg", "deep.tif"}));
    Image t, j, d;
    ASSERT_FALSE(read_tiff_file(out + "/deep.tif", t, nullptr));
    EXPECT_EQ(t.type, image_color48);
    EXPECT_EQ(t.width, 20u);  // fit in 20 x 20: the width is fixed
    EXPECT_EQ(t.height, 10u);
    EXPECT_GT(t.profile_size, 0u);  // sRGB embedded
    ASSERT_FALSE(read_jpeg_file(out + "/deep.jpg", j));
    EXPECT_EQ(j.type, image_color24);
    ASSERT_FALSE(read_tiff_file(out + "/deep v1.tif", d, nullptr));
    EXPECT_EQ(d.type, image_color24);

    // Output Image: the processed picture becomes the node's output.
    Node* to_output = exporter(open, "export 0 destination 2 dimension 6 area 0.0002 sharpen 0");
    ASSERT_EQ(run(open, to_output), 0);
    EXPECT_EQ(to_output->image.width * to_output->image.height, 200u);  // 20 x 10
    Node* filled = exporter(open, "export 0 destination 2 dimension 5 width 10 height 8 sharpen 0");
    ASSERT_EQ(run(open, filled), 0);
    EXPECT_EQ(filled->image.width, 10u);  // covered 16 x 8, then the middle 10 x 8 cut out
    EXPECT_EQ(filled->image.height, 8u);
    // Without resampling only the resolution changes: 40 pixels wide over 20 / 100 inches.
    Node* relabelled =
        exporter(open, "export 0 destination 2 dimension 0 length 20 resample 0 sharpen 0");
    ASSERT_EQ(run(open, relabelled), 0);
    EXPECT_EQ(relabelled->image.width, 40u);
    EXPECT_DOUBLE_EQ(relabelled->image.dpi, 200.0);
}

TEST_F(ExportTest, WhenNothingIsWritten) {
    const std::string jpeg = camera_jpeg("cam.jpg");
    Node* open = file_open({jpeg});
    Node* e = exporter(open, line("resize 0"));
    // Interactive, no script: the input passes through, no file.
    ASSERT_EQ(run(open, e), 0);
    EXPECT_TRUE(listing(out).empty());
    EXPECT_EQ(e->image.width, 40u);
    // Exports during scripts only with execute 1.
    set_script_running(true);
    ASSERT_EQ(run(open, e), 0);
    EXPECT_TRUE(listing(out).empty());
    Node* scripted = exporter(open, line("resize 0 execute 1"));
    ASSERT_EQ(run(open, scripted), 0);
    EXPECT_EQ(listing(out), (std::vector<std::string>{"cam.jpg"}));
    set_script_running(false);

    set_batch_mode(batch_run);
    const std::string missing = dir.path() + "/no/such/folder";
    Node* bad = exporter(open, "export 0 resize 0 folder \u2033" + missing + "\u2033");
    EXPECT_EQ(run(open, bad), 1);
    EXPECT_TRUE(bad->error);
    EXPECT_EQ(scope.recorder.errors(),
              (std::vector<std::string>{"Error exporting file: " + missing + "/cam.jpg"}));
    EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{"cam.jpg", "exiftool.log", "out"}));

    Node* no_folder = exporter(open, "export 0 resize 0");
    EXPECT_EQ(run(open, no_folder), 1);
    Node* loose = create_top_level_image(false, false, 0, 0, bypass_none, "Loose", false);
    loose->image = picture(image_gray8, 4, 4);
    Node* no_original = exporter(loose, "export 0 which_folder 0");
    EXPECT_EQ(run(loose, no_original), 1);
    Node* clip = exporter(open, "export 0 destination 1");
    EXPECT_EQ(run(open, clip), 1);
    const auto errors = scope.recorder.errors();
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[1], "No folder specified");
    EXPECT_EQ(errors[2], "No original folder");
    EXPECT_EQ(errors[3], "Error copying bitmap to clipboard");
}

TEST_F(ExportTest, MetadataCopiedFromOriginal) {
    const std::string jpeg = camera_jpeg("cam.jpg");
    Node* open = file_open({jpeg});
    set_batch_mode(batch_run);
    Node* e = exporter(open, line("resize 1 length 20 file_type 0"));
    ASSERT_EQ(run(open, e), 0);
    ASSERT_EQ(listing(out), (std::vector<std::string>{"cam.jpg"}));
    const std::string report = dir.file("model.txt");
    ASSERT_FALSE(
        run_program(exiftool_path(), {"-s3", "-Model", "-ImageWidth", out + "/cam.jpg"}, report));
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "EOS 5D\n20\n");
}

TEST_F(ExportTest, RefusedNamesAndAMissingToolLeaveNoPartialFile) {
    const std::string jpeg = camera_jpeg("cam.jpg");
    Node* open = file_open({jpeg});
    set_batch_mode(batch_run);
    // A name longer than the file system takes: the hidden temporary cannot even be made.
    const std::string long_name(258, 'n');
    Node* too_long =
        exporter(open, line("resize 0 file_name 3 first_file_name \u2033" + long_name + "\u2033"));
    EXPECT_EQ(run(open, too_long), 1);
    EXPECT_EQ(scope.recorder.errors(), (std::vector<std::string>{"Error exporting file: " + out +
                                                                 "/" + long_name + ".jpg"}));
    EXPECT_TRUE(listing(out).empty());

    // Without ExifTool the picture is still written whole, its metadata missing and said so; the
    // tool's backup and our temporary are gone either way.
    set_exiftool_path(dir.file("missing/exiftool"));
    Node* e = exporter(open, line("resize 0 jpeg_metadata 1"));
    EXPECT_EQ(run(open, e), 0);
    set_exiftool_path("");
    EXPECT_EQ(scope.recorder.errors().back(),
              "ExifTool is not installed - please re-install Tessaly");
    EXPECT_EQ(listing(out), (std::vector<std::string>{"cam.jpg"}));
    Image back, alpha;
    ASSERT_FALSE(read_image_file(out + "/cam.jpg", back, alpha));
    EXPECT_EQ(back.width, 40u);
}

}  // namespace
}  // namespace tessaly
