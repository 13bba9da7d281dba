// tessaly-cli end to end: the program is started with real files, scripts and snippets, and the
// files it writes, its messages and its exit status are checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "framework/registry.h"
#include "support/fileio_builders.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"
#include "support/temp_dir.h"

extern char** environ;

namespace tessaly::testing {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class Cli : public ::testing::Test {
  protected:
    void SetUp() override { setenv("TESSALY_SETTINGS_ROOT", dir.file("settings").c_str(), 1); }
    void TearDown() override { unsetenv("TESSALY_SETTINGS_ROOT"); }

    Outcome run(const std::vector<std::string>& args) {
        return run_program(std::string(TESSALY_BIN_DIR) + "/tessaly-cli", args);
    }

    Outcome run_program(std::string program, const std::vector<std::string>& args) {
        std::vector<char*> argv{program.data()};
        std::vector<std::string> copies = args;
        for (auto& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        Outcome r;
        if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            waitpid(pid, &status, 0);
            r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        (void)read_file_bytes(out, r.out);
        (void)read_file_bytes(err, r.err);
        return r;
    }

    std::string make_png(const std::string& name, std::uint32_t w, std::uint32_t h) {
        Image image;
        EXPECT_FALSE(image_alloc(image, image_color24, w, h, 72.0));
        fill_pattern(image, w * 3);
        std::string path = dir.file(name);
        EXPECT_FALSE(write_png_file(path, image, nullptr, 0));
        return path;
    }

    static Image read_image(const std::string& path) {
        Image picture, alpha;
        EXPECT_FALSE(read_image_file(path, picture, alpha)) << path;
        return picture;
    }

    TempDir dir;
};

TEST_F(Cli, OpensImagesAppliesASnippetAndSavesWithItsScript) {
    const std::string a = make_png("a.png", 40, 20), b = make_png("b c.png", 8, 8);
    const std::string snippet = dir.file("half.snip");
    ASSERT_FALSE(write_file_atomic(
        snippet,
        "\xEF\xBB\xBFsnippet 1.0\r\n\r\nimage index 5 caption ″Resize″ parent 0 bypass 0 "
        "same_size 0 size_specific 0 n_inputs 0 n_masks 0 command ‴resize 0 percent 50 set 14 "
        "method 2‴\r\nend_image\r\n\r\nend\r\n"));
    Outcome r = run({b, a, "--insert-snippet", snippet, "--save", dir.file("out.tif"),
                     "--save-workspace", dir.file("all.workspace")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, dir.file("out.tif") + "\n");
    Image saved = read_image(dir.file("out.tif"));
    EXPECT_EQ(saved.width, 20u);
    EXPECT_EQ(saved.height, 10u);

    // The workspace holds both images in order and the inserted Resize; loading it in a second
    // run rebuilds the same picture.
    std::string text;
    ASSERT_FALSE(read_text_file(dir.file("all.workspace"), text));
    EXPECT_LT(text.find("b c.png"), text.find("a.png"));
    EXPECT_NE(text.find("command ‴resize 0"), std::string::npos);
    r = run({dir.file("all.workspace"), "exit_when_done", "--save", dir.file("again.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    Image again = read_image(dir.file("again.png"));
    EXPECT_EQ(again.width, 20u);

    // The session's state is kept in the settings root; a normal end leaves no recovery file.
    EXPECT_TRUE(fs::exists(dir.file("settings/Workspace Scripts/Previous.workspace")));
    EXPECT_TRUE(fs::exists(dir.file("settings/Workspace Scripts/Autosave1.workspace")));
    EXPECT_FALSE(fs::exists(dir.file("settings/Crash Recovery.workspace")));
}

TEST_F(Cli, ErrorsSetTheExitStatus) {
    Outcome r = run({dir.file("nothing.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Cannot open file: " + dir.file("nothing.tif")), std::string::npos);

    r = run({"--frobnicate"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("Error: Unknown option: --frobnicate\n", 0), 0u);
    r = run({"--save"});
    EXPECT_EQ(r.status, 2);

    r = run({"--save", dir.file("x.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: No image to save\n");

    // A node that fails inside a script names itself.
    const std::string a = make_png("a.png", 4, 4);
    ASSERT_FALSE(write_file_atomic(
        dir.file("bad.script"),
        "script 1.0\r\nimage index 1 caption ″a″ parent -1 bypass 0 same_size 0 size_specific 0 "
        "n_inputs 0 n_masks 0 command ‴file_open 0 n_files 1 current 0 file1 ″a.png″ time1 ″″‴\r\n"
        "end_image\r\nimage index 2 caption ″Resize″ parent 1 bypass 0 same_size 0 size_specific 0 "
        "n_inputs 0 n_masks 0 command ‴resize 0 method 9‴\r\nend_image\r\nend\r\n"));
    r = run({dir.file("bad.script")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Resize: Illegal Resize command line\n");
}

TEST_F(Cli, BatchRunsTheSelectedFilesOfTheLoadedLists) {
    const std::string a = make_png("a.png", 4, 4), b = make_png("b.png", 6, 4);
    ASSERT_FALSE(write_file_atomic(dir.file("broken.png"), "\x89PNG\r\n\x1a\n but no more"));
    ASSERT_FALSE(write_file_atomic(
        dir.file("list.workspace"),
        "workspace_script 1.0\r\nimage index 1 caption ″list″ parent -1 bypass 0 same_size 0 "
        "size_specific 0 n_inputs 0 n_masks 0 command ‴file_open 0 n_files 3 current 0 "
        "from_default 0 multiple 0 prompt ″″ file1 ″a.png″ time1 ″″ selected1 1 file2 ″broken.png″ "
        "time2 ″″ selected2 1 file3 ″b.png″ time3 ″″ selected3 1‴\r\nend_image\r\n"
        "current_image 1\r\nend\r\n"));
    Outcome r = run({dir.file("list.workspace"), "--batch", "--save", dir.file("last.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Error reading file: " + dir.file("broken.png")), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Status: Batch Completed"), std::string::npos) << r.err;
    EXPECT_EQ(read_image(dir.file("last.png")).width, 6u);  // the list's last file stays shown

    // Test mode asks after each file; answering Cancel terminates after the first.
    r = run({"--answer", "cancel", dir.file("list.workspace"), "--test-mode", "--batch"});
    EXPECT_NE(r.err.find("Press OK to continue, Cancel to stop"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Status: Batch Terminated"), std::string::npos) << r.err;
}

// Real photographs with their cameras' EXIF (Debian's plasma-workspace-wallpapers): two of them
// were taken on the same day with the same camera, so the template names collide.
std::string wallpaper(const std::string& name) {
    return "/usr/share/wallpapers/" + name + "/contents/images/640x480.jpg";
}

// Sum of |4p - four neighbours| over the green samples: larger when the picture is sharper.
double edge_energy(const Image& im) {
    double sum = 0.0;
    for (std::uint32_t y = 1; y + 1 < im.height; ++y) {
        for (std::uint32_t x = 1; x + 1 < im.width; ++x) {
            auto g = [&](std::uint32_t u, std::uint32_t v) { return int{im.rows[v][u * 3 + 1]}; };
            sum += std::abs(4 * g(x, y) - g(x - 1, y) - g(x + 1, y) - g(x, y - 1) - g(x, y + 1));
        }
    }
    return sum;
}

TEST_F(Cli, BatchExportsNamedSharpenedPhotographsWithTheirExif) {
    for (const char* name : {"FallenLeaf", "ColdRipple", "DarkestHour"}) {
        ASSERT_TRUE(fs::exists(wallpaper(name)))
            << wallpaper(name) << " is missing: scripts/install-deps installs it";
    }
    auto workspace = [&](int unsharp_bypass) {
        return "workspace_script 1.0\r\nimage index 1 caption \u2033Photos\u2033 parent -1 bypass "
               "0 "
               "same_size 0 size_specific 0 n_inputs 0 n_masks 0 command \u2034file_open 0 "
               "n_files 3 current 0 from_default 0 multiple 0 prompt \u2033\u2033 file1 \u2033" +
               wallpaper("FallenLeaf") + "\u2033 time1 \u2033\u2033 selected1 1 file2 \u2033" +
               wallpaper("ColdRipple") + "\u2033 time2 \u2033\u2033 selected2 1 file3 \u2033" +
               wallpaper("DarkestHour") +
               "\u2033 time3 \u2033\u2033 selected3 1\u2034\r\nend_image\r\nimage index 2 caption "
               "\u2033Unsharp Mask\u2033 parent 1 bypass " +
               std::to_string(unsharp_bypass) +
               " same_size 0 size_specific 0 n_inputs 0 n_masks 0 command \u2034unsharp_mask 0 "
               "radius 2 thresholdb 0 thresholdw 0 strength 1.5 maxovershoot 1 maxundershoot "
               "1\u2034\r\nend_image\r\nimage index 3 caption \u2033Export\u2033 parent 2 bypass 0 "
               "same_size 0 size_specific 0 n_inputs 0 n_masks 0 command \u2034export 0 "
               "file_type 2 file_name 3 first_file_name \u2033\u27EAtaken date\u27EB "
               "\u27EAcamera model\u27EB\u2033 if_exists 2 dimension 3 length 1280 jpeg_ask 0 "
               "jpeg_metadata 1 jpeg_quality 95 sharpen 0 which_folder 1 folder "
               "\u2033/nonexistent\u2033\u2034\r\nend_image\r\ncurrent_image 1\r\nend\r\n";
    };
    ASSERT_FALSE(write_file_atomic(dir.file("web.workspace"), workspace(0)));
    ASSERT_FALSE(write_file_atomic(dir.file("plain.workspace"), workspace(1)));

    // --export-folder sends the files elsewhere than the saved folder, creating it.
    Outcome r = run({dir.file("web.workspace"), "--export-folder", dir.file("web"), "--batch"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run({dir.file("plain.workspace"), "--export-folder", dir.file("plain"), "--batch"});
    EXPECT_EQ(r.status, 0) << r.err;

    const std::string canon = "2015-10-29 Canon EOS 70D.jpg";
    const std::string first = "2015-06-21 E-M1.jpg", second = "2015-06-21 E-M1 v1.jpg";
    for (const std::string& name : {canon, first, second}) {
        const std::string path = dir.file("web/" + name);
        ASSERT_TRUE(fs::exists(path)) << name << "\n" << r.err;
        Image sharpened = read_image(path), plain = read_image(dir.file("plain/" + name));
        EXPECT_EQ(sharpened.width, 1280u);
        EXPECT_EQ(sharpened.height, 800u);
        EXPECT_GT(edge_energy(sharpened), 1.2 * edge_energy(plain)) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("web")), fs::directory_iterator()), 3);

    // The originals' metadata as ExifTool reads it back.
    Outcome tags = run_program(
        "exiftool", {"-s3", "-Model", "-DateTimeOriginal", "-FNumber", dir.file("web/" + canon)});
    EXPECT_EQ(tags.out, "Canon EOS 70D\n2015:10:29 15:44:44\n2.0\n") << tags.err;
    tags = run_program("exiftool", {"-s3", "-DateTimeOriginal", dir.file("web/" + second)});
    EXPECT_EQ(tags.out, "2015:06:21 01:43:36\n");

    // A folder that cannot be made stops the program before anything is written.
    r = run({dir.file("web.workspace"), "--export-folder", dir.file("web/" + canon + "/sub"),
             "--batch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: Cannot create folder: " + dir.file("web/" + canon + "/sub")),
              std::string::npos)
        << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("web")), fs::directory_iterator()), 3);
    r = run({dir.file("web.workspace"), "--export-folder", dir.file("web"), "--test-mode",
             "--answer", "yes", "--batch"});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("web")), fs::directory_iterator()), 3);
}

TEST_F(Cli, ApplyRunsTransformationsInOrderAsTheEngineDoes) {
    const std::string photo = wallpaper("Kite");
    ASSERT_TRUE(fs::exists(photo)) << photo << " is missing: scripts/install-deps installs it";
    const std::vector<std::string> chain = {"gaussian_blur 0 radius 4", "rotref 0 orientation 1",
                                            "resize 0 pixel_w 320 set 0"};
    std::vector<std::string> args = {photo, "--save", dir.file("opened.bmp")};
    for (const std::string& line : chain) args.insert(args.end(), {"--apply", line});
    args.insert(args.end(),
                {"--save", dir.file("chain.png"), "--save-script", dir.file("chain.script")});
    Outcome r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // The same lines run by the engine on the picture as the program opened it.
    std::vector<std::unique_ptr<Node>> nodes;
    nodes.push_back(std::make_unique<Node>());
    nodes.back()->image = read_image(dir.file("opened.bmp"));
    for (const std::string& line : chain) {
        nodes.push_back(std::make_unique<Node>());
        ASSERT_EQ(run_line(nodes[nodes.size() - 2].get(), nodes.back().get(), line), 0) << line;
    }
    const Image written = read_image(dir.file("chain.png"));
    EXPECT_EQ(written.width, 320u);  // turned upright first, then made 320 wide
    EXPECT_EQ(written.height, 512u);
    EXPECT_TRUE(same_pixels(nodes.back()->image, written));

    // The script holds the chain as applied, and replays to the same picture.
    std::string script;
    ASSERT_FALSE(read_text_file(dir.file("chain.script"), script));
    std::size_t at = 0;
    for (const std::string& line : chain) {
        at = script.find("command \u2034" + line + "\u2034", at);
        EXPECT_NE(at, std::string::npos) << line << "\n" << script;
    }
    EXPECT_NE(script.find("caption \u2033Rotate/Mirror\u2033"), std::string::npos);
    r = run({dir.file("chain.script"), "--save", dir.file("replayed.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same_pixels(written, read_image(dir.file("replayed.png"))));
    // As after a dialog's OK, the line is kept as the "Previous" settings.
    EXPECT_TRUE(fs::exists(dir.file("settings/Gaussian Blur/Previous.gaussian blur")));

    // The other order makes another picture.
    r = run({photo, "--apply", chain[2], "--apply", chain[1], "--save", dir.file("other.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    const Image other = read_image(dir.file("other.png"));
    EXPECT_EQ(other.width, 200u);
    EXPECT_EQ(other.height, 320u);
}

TEST_F(Cli, ApplyFailuresNameTheirCauseAndStopWhatFollows) {
    const std::string a = make_png("a.png", 6, 4), out = dir.file("out.png");
    Outcome r = run({"--apply", "rotref 0 orientation 1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: No image to apply rotref to\n");
    r = run({a, "--apply", " ", "--save", out});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Error: Missing command line after --apply\n");
    // Read once to decide and once to run, the line is reported once.
    r = run({a, "--apply", "rotref 0 orientation \u20331"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Missing quote\n");

    // A failed node stays in the chain: what is saved after it is refused, not quietly the
    // picture before it.
    r = run({a, "--apply", "frobnicate 0", "--apply", "rotref 0", "--save", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Error: No such command: frobnicate\nError: No image to save: frobnicate failed\n");
    r = run(
        {a, "--apply", "rotref 0 orientation 12", "--apply", "resize 0 percent 50", "--save", out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Error: Rotate/Mirror: Illegal Rotate-Mirror command line\n"
              "Error: No image to save: Rotate/Mirror failed\n");
    EXPECT_FALSE(fs::exists(out));

    const TransformationEntry* unbuilt = nullptr;
    for (const TransformationEntry& e : registry_rows()) {
        if (e.keyword && !e.module) {
            unbuilt = &e;
            break;
        }
    }
    if (!unbuilt) GTEST_SKIP() << "every transformation is built";
    r = run({a, "--apply", std::string(unbuilt->keyword) + " 0", "--save-script",
             dir.file("kept.script")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("Error: ") + unbuilt->display_name +
                         ": Transformation not available: " + unbuilt->keyword + "\n");
    std::string script;
    ASSERT_FALSE(read_text_file(dir.file("kept.script"), script));
    EXPECT_NE(script.find(std::string("command \u2034") + unbuilt->keyword + " 0\u2034"),
              std::string::npos);
}

TEST_F(Cli, ListAndDescribeComeFromTheRegistryAndTheDeclarations) {
    Outcome r = run({"--list"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int rows = 0;
    const TransformationEntry* unbuilt = nullptr;
    while (std::getline(lines, line)) {
        ++rows;
        ASSERT_GT(line.size(), 32u) << line;
        std::string keyword = line.substr(0, 22), state = line.substr(22, 10);
        keyword.erase(keyword.find_last_not_of(' ') + 1);
        state.erase(state.find_last_not_of(' ') + 1);
        const TransformationEntry* e = find_transformation(keyword);
        ASSERT_TRUE(e) << line;
        EXPECT_EQ(e->keyword, keyword);  // the alias is not a row
        EXPECT_EQ(line.substr(32), e->display_name);
        EXPECT_EQ(state, e->module ? "built" : "not-built") << line;
        if (!e->module && !unbuilt) unbuilt = e;
    }
    EXPECT_EQ(rows, registry_size);

    r = run({"--describe", "gaussian_blur"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Gaussian Blur (gaussian_blur)\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("  radius            integer, written %d, default 3\n"
                         "                    range 0 .. 256; a value outside is moved to the "
                         "nearer end\n"
                         "                    label: \"Radius:\" (pixels)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("values: 0 All Channels, 1 Chrominance Only"), std::string::npos);
    const std::string tail = "Default command line:\n  " + default_line("gaussian_blur") + "\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail);
    if (unbuilt) {
        r = run({"--describe", unbuilt->keyword});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("Not built yet"), std::string::npos) << r.out;
    }

    r = run({"--describe", "Gaussian_Blur"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "Error: No such transformation: Gaussian_Blur (tessaly-cli --list shows them "
              "all)\n");
    EXPECT_EQ(run({"--describe"}).status, 2);
    // Asking about the transformations leaves no settings behind.
    EXPECT_FALSE(fs::exists(dir.file("settings")));
}

}  // namespace
}  // namespace tessaly::testing
