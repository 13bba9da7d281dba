// tessaly-cli end to end: the program is started with real files, scripts and snippets, and the
// files it writes, its messages and its exit status are checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "core/format.h"
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
    std::string out, err;
};

// One node of a script: its lines up to end_image.
std::string node_lines(int index, const std::string& caption, int parent,
                       const std::string& command, int bypass = 0) {
    return formatted(
        "image index %d caption ″%s″ parent %d bypass %d same_size 0 size_specific 0 "
        "n_inputs 0 n_masks 0 command ‴%s‴\r\nend_image\r\n",
        index, caption, parent, bypass, command);
}

// A File Open command line listing the files, all selected.
std::string file_list(const std::vector<std::string>& files) {
    std::string line = formatted(
        "file_open 0 n_files %d current 0 from_default 0 multiple 0 "
        "prompt ″″",
        static_cast<int>(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i) {
        line += formatted(" file%d ″%s″ time%d ″″ selected%d 1", i + 1, files[i], i + 1, i + 1);
    }
    return line;
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override { setenv("TESSALY_SETTINGS_ROOT", dir.file("settings").c_str(), 1); }
    void TearDown() override { unsetenv("TESSALY_SETTINGS_ROOT"); }

    Outcome run(const std::vector<std::string>& args) {
        return run_program(std::string(TESSALY_BIN_DIR) + "/tessaly-cli", args);
    }

    Outcome run_program(std::string program, std::vector<std::string> args) {
        std::vector<char*> argv{program.data()};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (auto [fd, path] : {std::pair{1, &out}, std::pair{2, &err}}) {
            posix_spawn_file_actions_addopen(&actions, fd, path->c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
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
        EXPECT_FALSE(write_png_file(dir.file(name), image, nullptr, 0));
        return dir.file(name);
    }

    // A script, workspace or snippet file of the given kind holding the nodes' lines.
    std::string write_script(const std::string& name, const std::string& kind,
                             const std::string& nodes) {
        EXPECT_FALSE(write_file_atomic(dir.file(name), kind + " 1.0\r\n" + nodes + "end\r\n"));
        return dir.file(name);
    }

    static Image read_image(const std::string& path) {
        Image picture, alpha;
        EXPECT_FALSE(read_image_file(path, picture, alpha)) << path;
        return picture;
    }

    static std::string text_of(const std::string& path) {
        std::string text;
        EXPECT_FALSE(read_text_file(path, text)) << path;
        return text;
    }

    TempDir dir;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(Cli, OpensImagesAppliesASnippetAndSavesWithItsScript) {
    const std::string a = make_png("a.png", 40, 20), b = make_png("b c.png", 8, 8);
    const std::string snippet =
        write_script("half.snip", "\xEF\xBB\xBFsnippet",
                     node_lines(5, "Resize", 0, "resize 0 percent 50 set 14 method 2"));
    Outcome r = run({b, a, "--insert-snippet", snippet, "--save", dir.file("out.tif"),
                     "--save-workspace", dir.file("all.workspace")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, dir.file("out.tif") + "\n");
    Image saved = read_image(dir.file("out.tif"));
    EXPECT_TRUE(saved.width == 20u && saved.height == 10u);

    // The workspace holds both images in order and the inserted Resize; loading it in a second
    // run rebuilds the same picture.
    const std::string text = text_of(dir.file("all.workspace"));
    EXPECT_LT(text.find("b c.png"), text.find("a.png"));
    EXPECT_TRUE(contains(text, "command ‴resize 0"));
    r = run({dir.file("all.workspace"), "exit_when_done", "--save", dir.file("again.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_image(dir.file("again.png")).width, 20u);

    // The session's state is kept in the settings root; a normal end leaves no recovery file.
    EXPECT_TRUE(fs::exists(dir.file("settings/Workspace Scripts/Previous.workspace")));
    EXPECT_TRUE(fs::exists(dir.file("settings/Workspace Scripts/Autosave1.workspace")));
    EXPECT_FALSE(fs::exists(dir.file("settings/Crash Recovery.workspace")));
}

TEST_F(Cli, ErrorsSetTheExitStatus) {
    Outcome r = run({dir.file("nothing.tif")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Error: Cannot open file: " + dir.file("nothing.tif")));
    r = run({"--frobnicate"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("Error: Unknown option: --frobnicate\n", 0), 0u);
    EXPECT_EQ(run({"--save"}).status, 2);
    r = run({"--save", dir.file("x.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: No image to save\n");

    // A node that fails inside a script names itself.
    make_png("a.png", 4, 4);
    r = run({write_script("bad.script", "script",
                          node_lines(1, "a", -1, file_list({"a.png"})) +
                              node_lines(2, "Resize", 1, "resize 0 method 9"))});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Resize: Illegal Resize command line\n");
}

TEST_F(Cli, BatchRunsTheSelectedFilesOfTheLoadedLists) {
    make_png("a.png", 4, 4);
    make_png("b.png", 6, 4);
    ASSERT_FALSE(write_file_atomic(dir.file("broken.png"), "\x89PNG\r\n\x1a\n but no more"));
    const std::string list =
        write_script("list.workspace", "workspace_script",
                     node_lines(1, "list", -1, file_list({"a.png", "broken.png", "b.png"})));
    Outcome r = run({list, "--batch", "--save", dir.file("last.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Error: Error reading file: " + dir.file("broken.png"))) << r.err;
    EXPECT_TRUE(contains(r.err, "Status: Batch Completed")) << r.err;
    EXPECT_EQ(read_image(dir.file("last.png")).width, 6u);  // the list's last file stays shown

    // Test mode asks after each file; answering Cancel terminates after the first.
    r = run({"--answer", "cancel", list, "--test-mode", "--batch"});
    EXPECT_TRUE(contains(r.err, "Press OK to continue, Cancel to stop")) << r.err;
    EXPECT_TRUE(contains(r.err, "Status: Batch Terminated")) << r.err;
}

// Real photographs with their cameras' EXIF (Debian's plasma-workspace-wallpapers): two of them
// were taken on the same day with the same camera, so the template names collide.
std::string wallpaper(const std::string& name) {
    return "/usr/share/wallpapers/" + name + "/contents/images/640x480.jpg";
}

// Sum of |4p - four neighbours| over the green samples: larger when the picture is sharper.
double edge_energy(const Image& im) {
    double sum = 0.0;
    auto g = [&](std::uint32_t u, std::uint32_t v) { return int{im.rows[v][u * 3 + 1]}; };
    for (std::uint32_t y = 1; y + 1 < im.height; ++y) {
        for (std::uint32_t x = 1; x + 1 < im.width; ++x) {
            sum += std::abs(4 * g(x, y) - g(x - 1, y) - g(x + 1, y) - g(x, y - 1) - g(x, y + 1));
        }
    }
    return sum;
}

TEST_F(Cli, BatchExportsNamedSharpenedPhotographsWithTheirExif) {
    std::vector<std::string> photos;
    for (const char* name : {"FallenLeaf", "ColdRipple", "DarkestHour"}) {
        photos.push_back(wallpaper(name));
        ASSERT_TRUE(fs::exists(photos.back()))
            << photos.back() << " is missing: scripts/install-deps installs it";
    }
    auto workspace = [&](const char* name, int unsharp_bypass) {
        return write_script(
            name, "workspace_script",
            node_lines(1, "Photos", -1, file_list(photos)) +
                node_lines(2, "Unsharp Mask", 1,
                           "unsharp_mask 0 radius 2 thresholdb 0 thresholdw 0 strength 1.5 "
                           "maxovershoot 1 maxundershoot 1",
                           unsharp_bypass) +
                node_lines(3, "Export", 2,
                           "export 0 file_type 2 file_name 3 first_file_name ″\u27EAtaken "
                           "date\u27EB \u27EAcamera model\u27EB″ if_exists 2 dimension 3 length "
                           "1280 jpeg_ask 0 jpeg_metadata 1 jpeg_quality 95 sharpen 0 "
                           "which_folder 1 folder ″/nonexistent″"));
    };
    const std::string web = workspace("web.workspace", 0);
    // --export-folder sends the files elsewhere than the saved folder, creating it.
    Outcome r = run({web, "--export-folder", dir.file("web"), "--batch"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run({workspace("plain.workspace", 1), "--export-folder", dir.file("plain"), "--batch"});
    EXPECT_EQ(r.status, 0) << r.err;

    const std::string canon = "2015-10-29 Canon EOS 70D.jpg";
    const std::string first = "2015-06-21 E-M1.jpg", second = "2015-06-21 E-M1 v1.jpg";
    for (const std::string& name : {canon, first, second}) {
        const std::string path = dir.file("web/" + name);
        ASSERT_TRUE(fs::exists(path)) << name << "\n" << r.err;
        Image sharpened = read_image(path), plain = read_image(dir.file("plain/" + name));
        EXPECT_TRUE(sharpened.width == 1280u && sharpened.height == 800u) << name;
        EXPECT_GT(edge_energy(sharpened), 1.2 * edge_energy(plain)) << name;
    }
    auto count = [&] {
        return std::distance(fs::directory_iterator(dir.file("web")), fs::directory_iterator());
    };
    EXPECT_EQ(count(), 3);

    // The originals' metadata as ExifTool reads it back.
    Outcome tags = run_program(
        "exiftool", {"-s3", "-Model", "-DateTimeOriginal", "-FNumber", dir.file("web/" + canon)});
    EXPECT_EQ(tags.out, "Canon EOS 70D\n2015:10:29 15:44:44\n2.0\n") << tags.err;
    tags = run_program("exiftool", {"-s3", "-DateTimeOriginal", dir.file("web/" + second)});
    EXPECT_EQ(tags.out, "2015:06:21 01:43:36\n");

    // A folder that cannot be made stops the program before anything is written; test mode
    // writes nothing either.
    const std::string sub = dir.file("web/" + canon + "/sub");
    r = run({web, "--export-folder", sub, "--batch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Error: Cannot create folder: " + sub)) << r.err;
    EXPECT_EQ(count(), 3);
    r = run({web, "--export-folder", dir.file("web"), "--test-mode", "--answer", "yes", "--batch"});
    EXPECT_EQ(count(), 3);
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
    // Turned upright first, then made 320 wide.
    EXPECT_TRUE(written.width == 320u && written.height == 512u);
    EXPECT_TRUE(same_pixels(nodes.back()->image, written));

    // The script holds the chain as applied, and replays to the same picture.
    const std::string script = text_of(dir.file("chain.script"));
    std::size_t at = 0;
    for (const std::string& line : chain) {
        at = script.find("command \u2034" + line + "\u2034", at);
        EXPECT_NE(at, std::string::npos) << line << "\n" << script;
    }
    EXPECT_TRUE(contains(script, "caption \u2033Rotate/Mirror\u2033"));
    r = run({dir.file("chain.script"), "--save", dir.file("replayed.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same_pixels(written, read_image(dir.file("replayed.png"))));
    // As after a dialog's OK, the line is kept as the "Previous" settings.
    EXPECT_TRUE(fs::exists(dir.file("settings/Gaussian Blur/Previous.gaussian blur")));

    // The other order makes another picture.
    r = run({photo, "--apply", chain[2], "--apply", chain[1], "--save", dir.file("other.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    const Image other = read_image(dir.file("other.png"));
    EXPECT_TRUE(other.width == 200u && other.height == 320u);
}

TEST_F(Cli, ApplyFailuresNameTheirCauseAndStopWhatFollows) {
    const std::string a = make_png("a.png", 6, 4), out = dir.file("out.png");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } failures[] = {
        {{"--apply", "rotref 0 orientation 1"}, 1, "Error: No image to apply rotref to\n"},
        {{a, "--apply", " ", "--save", out}, 2, "Error: Missing command line after --apply\n"},
        // Read once to decide and once to run, the line is reported once.
        {{a, "--apply", "rotref 0 orientation \u20331"}, 1, "Error: Missing quote\n"},
        // A failed node stays in the chain: what is saved after it is refused, not quietly the
        // picture before it.
        {{a, "--apply", "frobnicate 0", "--apply", "rotref 0", "--save", out},
         1,
         "Error: No such command: frobnicate\nError: No image to save: frobnicate failed\n"},
        {{a, "--apply", "rotref 0 orientation 12", "--apply", "resize 0 percent 50", "--save", out},
         1,
         "Error: Rotate/Mirror: Illegal Rotate-Mirror command line\n"
         "Error: No image to save: Rotate/Mirror failed\n"},
    };
    for (const auto& f : failures) {
        Outcome r = run(f.args);
        EXPECT_EQ(r.status, f.status) << f.err;
        EXPECT_EQ(r.err, f.err);
    }
    EXPECT_FALSE(fs::exists(out));

    const TransformationEntry* unbuilt = nullptr;
    for (const TransformationEntry& e : registry_rows()) {
        if (e.keyword && !e.module && !unbuilt) unbuilt = &e;
    }
    if (!unbuilt) GTEST_SKIP() << "every transformation is built";
    Outcome r = run({a, "--apply", std::string(unbuilt->keyword) + " 0", "--save-script",
                     dir.file("kept.script")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("Error: ") + unbuilt->display_name +
                         ": Transformation not available: " + unbuilt->keyword + "\n");
    EXPECT_TRUE(contains(text_of(dir.file("kept.script")),
                         std::string("command \u2034") + unbuilt->keyword + " 0\u2034"));
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
    EXPECT_TRUE(contains(r.out,
                         "  radius            integer, written %d, default 3\n"
                         "                    range 0 .. 256; a value outside is moved "
                         "to the nearer end\n"
                         "                    label: \"Radius:\" (pixels)\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "values: 0 All Channels, 1 Chrominance Only"));
    const std::string tail = "Default command line:\n  " + default_line("gaussian_blur") + "\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), tail.size())), tail);
    if (unbuilt) {
        r = run({"--describe", unbuilt->keyword});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(contains(r.out, "Not built yet")) << r.out;
    }

    r = run({"--describe", "Gaussian_Blur"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "Error: No such transformation: Gaussian_Blur (tessaly-cli --list shows "
              "them all)\n");
    EXPECT_EQ(run({"--describe"}).status, 2);
    // Asking about the transformations leaves no settings behind.
    EXPECT_FALSE(fs::exists(dir.file("settings")));
}

}  // namespace
}  // namespace tessaly::testing
