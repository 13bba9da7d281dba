// Export on real files: naming rules on a real folder, template macros against a JPEG whose EXIF
// ExifTool wrote, real batches through the tree, and the files read back with our readers.
#include "batch/export.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <fstream>

#include "batch/export_naming.h"
#include "batch_fixture.h"
#include "core/text_file.h"
#include "fileio/exiftool.h"
#include "fileio/metadata_copy.h"
#include "framework/registry.h"

namespace tessaly::testing {
namespace {

class ExportTest : public BatchFixture {
  protected:
    void SetUp() override {
        BatchFixture::SetUp();
        out = dir.path() + "/out";
        fs::create_directories(out);
    }

    // A JPEG with camera EXIF written by ExifTool.
    std::string camera_jpeg(const std::string& name) {
        const std::string path = dir.file(name);
        EXPECT_EQ(write_jpeg_file(path, picture(image_color24, 40, 30), 90.0, 0, 3), write_done);
        EXPECT_FALSE(
            exiftool({"-overwrite_original", "-Make=Canon", "-Model=EOS 5D", "-FNumber=2.8",
                      "-ExposureTime=0.004", "-FocalLength=50", "-ISO=200",
                      "-ImageDescription=Harbour", "-Artist=Ann Lee", "-Copyright=2024 Ann/Lee",
                      "-DateTimeOriginal=2024:03:07 09:05:02", path},
                     dir.file("exiftool.log")));
        return path;
    }
    static bool exiftool(std::vector<std::string> args, const std::string& log) {
        return run_program(exiftool_path(), args, log);
    }
    Node* exporter(Node* parent, const std::string& settings) {
        return step(parent, "Export", settings);
    }
    // Runs an Export node on the picture of its top level image.
    static std::uint8_t run(Node* n) {
        return find_module("export")->run(top_level_of(n), n, split(*n->command_line));
    }
    std::string line(const std::string& extra) {
        return "export 0 folder \u2033" + out + "\u2033 " + extra;
    }

    std::string out;
};

TEST_F(ExportTest, NamesAndExistingFiles) {
    EXPECT_EQ(sequence_name("Trip", 0), "Trip 1");
    EXPECT_EQ(
        with_export_extension("a.NEF", save_jpeg) + with_export_extension("Trip.2024", save_tiff),
        "a.jpgTrip.2024.tif");
    for (auto [name, next] : {std::pair{"/x/y v9.jpg", "/x/y v10.jpg"},
                              {"/x/y v999.jpg", "/x/y v1000.jpg"},
                              {"/x/yv9.jpg", "/x/yv9 v1.jpg"}}) {
        EXPECT_EQ(next_version_name(name), next);
    }
    for (const char* name : {"a.jpg", "a v1.jpg"}) std::ofstream(dir.file(name)) << "x";
    std::string p = dir.file("a.jpg"), free = dir.file("free.jpg");
    EXPECT_EQ(settle_existing(p, exists_add_version, save_jpeg), NameDecision::write);
    EXPECT_EQ(p, dir.file("a v2.jpg"));
    EXPECT_EQ(settle_existing(free, exists_skip, save_jpeg), NameDecision::write);
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
    EXPECT_EQ(r.file_dialogs, Strings(2, "Export JPEG File"));
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
    // The values of names separated by "|", joined by "|".
    auto v = [&](std::string names) {
        std::string joined;
        for (std::size_t at = 0, bar = 0; bar != names.npos; at = bar + 1) {
            bar = names.find('|', at);
            joined += (at ? "|" : "") + macro_value(names.substr(at, bar - at), src).value_or("-");
        }
        return joined;
    };
    EXPECT_EQ(v("camera make|camera model|f stop|shutter speed|focal length|iso|description"),
              "Canon|EOS 5D|f2.8|1-250s|50mm|200|Harbour");
    // No slash in a file name.
    EXPECT_EQ(v("author|copyright|taken date and time"),
              "Ann Lee|2024 Ann-Lee|2024-03-07 09:05:02");
    EXPECT_EQ(v("taken year|taken month number|taken month abbr|taken month full|taken day|taken "
                "date|taken time"),
              "2024|03|Mar|March|07|2024-03-07|09:05:02");
    EXPECT_EQ(v("modified year|modified month_number|modified month_abbr|modified "
                "month_full|modified day|modified date|modified time"),
              "2021|06|Jun|June|15|2021-06-15|13:45:30");
    const std::time_t created = static_cast<std::time_t>(file_created_time(jpeg).value());
    std::tm c{};
    localtime_r(&created, &c);
    char expect[32];
    std::strftime(expect, sizeof expect, "%Y-%m-%d|%H:%M:%S", &c);
    EXPECT_EQ(v("created date|created time"), expect);
    // In a name no macro makes a folder, the pathname included.
    std::string flat = jpeg;
    std::replace(flat.begin(), flat.end(), '/', '-');
    EXPECT_EQ(v("pathname|filename|extension"), flat + "|photo|jpeg");
    EXPECT_EQ(v("width (pixels}|width (in}|width (cm}|width (mm}|height (pixels}|height "
                "(in}|height (mm}"),
              "1200|4|10.16|101.6|600|2|50.8");
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
    EXPECT_EQ(errors(), Strings{"Unrecognized macro: width (pixels)"});
}

TEST_F(ExportTest, OlderScriptKeysStoreTheOppositeAndWin) {
    ExportSettings back;
    ASSERT_FALSE(export_module.parse(
        split("export 0 jpeg_script 1 jpeg_save_script 1 tiff_script 0 png_save_script 3"), back));
    EXPECT_TRUE(back.jpeg_save_script == 0 && back.tiff_save_script == 1 &&
                back.png_save_script == 3);
}

TEST_F(ExportTest, BatchWritesSequenceAndTestModeWritesNothing) {
    Strings files;
    for (std::uint32_t i = 0; i < 3; ++i) {
        files.push_back(dir.file("in" + std::to_string(i) + ".png"));
        ASSERT_FALSE(write_png_file(files.back(), picture(image_gray8, 30 + i, 20), nullptr, 0));
    }
    Node* open = file_open(files);
    exporter(open, line("file_name 2 first_file_name \u2033Trip\u2033 length 12"));
    ASSERT_EQ(run_batch(open, batch_test), BatchOutcome::completed);
    EXPECT_TRUE(listing(out).empty());
    ASSERT_EQ(run_batch(open, batch_run), BatchOutcome::completed);
    EXPECT_EQ(listing(out), (Strings{"Trip 1.jpg", "Trip 2.jpg", "Trip 3.jpg"}));
    EXPECT_EQ(batch_export_count(), 3);
    const auto& st = scope.recorder.statuses;
    EXPECT_NE(std::find(st.begin(), st.end(), "Exporting file: " + out + "/Trip 2.jpg"), st.end());
    Image back;
    ASSERT_FALSE(read_jpeg_file(out + "/Trip 3.jpg", back));
    // Long side 32 -> 12, the other side 20 x 12 / 32 = 7.5 -> 8.
    EXPECT_TRUE(back.width == 12u && back.height == 8u && errors().empty());
}

TEST_F(ExportTest, SixteenBitsKeptForTiffOnly) {
    const std::string source = dir.file("deep.tif");
    ASSERT_FALSE(write_tiff_file(source, picture(image_color48, 40, 20), 0, 3));
    Node* open = file_open({source});
    set_batch_mode(batch_run);
    Node* tiff = exporter(open, line("file_type 1 dimension 4 width 20 height 20 sharpen 2"));
    for (const char* settings :
         {"file_type 2 resize 0", "file_type 1 resize 0 demote16 1 sharpen 0"}) {
        ASSERT_EQ(run(exporter(open, line(settings))), 0) << settings;
    }
    ASSERT_EQ(run(tiff), 0);
    // The output is the input, unchanged.
    EXPECT_TRUE(tiff->image.type == image_color48 && tiff->image.width == 40u);
    EXPECT_EQ(listing(out), (Strings{"deep v1.tif", "deep.jpg", "deep.tif"}));
    Image t, j, d;
    ASSERT_FALSE(read_tiff_file(out + "/deep v1.tif", t, nullptr) ||
                 read_jpeg_file(out + "/deep.jpg", j) ||
                 read_tiff_file(out + "/deep.tif", d, nullptr));
    // Fit in 20 x 20: the width is fixed; sRGB embedded.
    EXPECT_TRUE(t.type == image_color48 && t.width == 20u && t.height == 10u &&
                t.profile_size > 0u);
    EXPECT_TRUE(j.type == image_color24 && d.type == image_color24);
    // Output Image: the processed picture becomes the node's output.
    Node* to_output = exporter(open, "export 0 destination 2 dimension 6 area 0.0002 sharpen 0");
    ASSERT_EQ(run(to_output), 0);
    EXPECT_EQ(to_output->image.width * to_output->image.height, 200u);  // 20 x 10
    Node* filled = exporter(open, "export 0 destination 2 dimension 5 width 10 height 8 sharpen 0");
    ASSERT_EQ(run(filled), 0);
    // Covered 16 x 8, then the middle 10 x 8 cut out.
    EXPECT_TRUE(filled->image.width == 10u && filled->image.height == 8u);
    // Without resampling only the resolution changes: 40 pixels wide over 20 / 100 inches.
    Node* relabelled =
        exporter(open, "export 0 destination 2 dimension 0 length 20 resample 0 sharpen 0");
    ASSERT_EQ(run(relabelled), 0);
    EXPECT_TRUE(relabelled->image.width == 40u && relabelled->image.dpi == 200.0);
}

TEST_F(ExportTest, WhenNothingIsWritten) {
    Node* open = file_open({camera_jpeg("cam.jpg")});
    Node* e = exporter(open, line("resize 0"));
    // Interactive, no script: the input passes through, no file.
    ASSERT_EQ(run(e), 0);
    EXPECT_TRUE(listing(out).empty() && e->image.width == 40u);
    // Exports during scripts only with execute 1.
    set_script_running(true);
    EXPECT_TRUE(run(e) == 0 && listing(out).empty());
    ASSERT_EQ(run(exporter(open, line("resize 0 execute 1"))), 0);
    EXPECT_EQ(listing(out), Strings{"cam.jpg"});
    set_script_running(false);
    set_batch_mode(batch_run);
    const std::string missing = dir.path() + "/no/such/folder";
    Node* bad = exporter(open, "export 0 resize 0 folder \u2033" + missing + "\u2033");
    EXPECT_TRUE(run(bad) == 1 && bad->error);
    EXPECT_EQ(listing(dir.path()), (Strings{"cam.jpg", "exiftool.log", "out"}));
    EXPECT_EQ(run(exporter(open, "export 0 resize 0")), 1);
    Node* loose = create_top_level_image(false, false, 0, 0, bypass_none, "Loose", false);
    loose->image = picture(image_gray8, 4, 4);
    EXPECT_EQ(run(exporter(loose, "export 0 which_folder 0")), 1);
    EXPECT_EQ(run(exporter(open, "export 0 destination 1")), 1);
    EXPECT_EQ(errors(),
              (Strings{"Error exporting file: " + missing + "/cam.jpg", "No folder specified",
                       "No original folder", "Error copying bitmap to clipboard"}));
}

TEST_F(ExportTest, RefusedNamesAndAMissingToolLeaveNoPartialFile) {
    // A name longer than the file system takes: the hidden temporary cannot even be made.
    const std::string long_name(258, 'n');
    set_batch_mode(batch_run);
    Node* too_long = exporter(file_open({camera_jpeg("cam.jpg")}),
                              line("resize 0 file_name 3 first_file_name ″" + long_name + "″"));
    EXPECT_EQ(run(too_long), 1);
    EXPECT_EQ(errors(), Strings{"Error exporting file: " + out + "/" + long_name + ".jpg"});
    EXPECT_TRUE(listing(out).empty());
    // Names from the settings stay in the export folder: no way up, no absolute literal.
    for (const std::string& name :
         {std::string("..") + "/\u27EAfilename\u27EB-x", dir.file("abs")}) {
        EXPECT_EQ(run(exporter(too_long->parent,
                               line("resize 0 file_name 3 first_file_name ″" + name + "″"))),
                  1);
    }
    EXPECT_EQ(errors().end()[-2], "Export file name leaves the export folder: ../cam-x");
    EXPECT_EQ(errors().back(), "Export file name leaves the export folder: " + dir.file("abs"));
    EXPECT_TRUE(listing(out).empty());
    EXPECT_FALSE(fs::exists(dir.file("cam-x.jpg")) || fs::exists(dir.file("abs.jpg")));
    // Where the copy is ExifTool's and it is missing, the picture is still written whole, its
    // metadata missing and said so; the tool's backup and our temporary are gone either way.
    set_metadata_in_process(false);
    set_exiftool_path(dir.file("missing/exiftool"));
    EXPECT_EQ(run(exporter(too_long->parent, line("resize 0 jpeg_metadata 1"))), 0);
    set_exiftool_path("");
    set_metadata_in_process(true);
    EXPECT_EQ(errors().back(), "ExifTool is not installed - please re-install Tessaly");
    EXPECT_EQ(listing(out), Strings{"cam.jpg"});
    Image back, alpha;
    EXPECT_TRUE(!read_image_file(out + "/cam.jpg", back, alpha) && back.width == 40u);
}

}  // namespace
}  // namespace tessaly::testing
