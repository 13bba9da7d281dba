// tessaly-cli end to end: the program is started with real files, scripts and snippets, and the
// files it writes, its messages and its exit status are checked.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/format.h"
#include "core/text_file.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "framework/registry.h"
#include "support/fileio_builders.h"
#include "support/image_helpers.h"
#include "support/module_helpers.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

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
    Outcome run(const std::vector<std::string>& args) {
        return run_program(std::string(TESSALY_BIN_DIR) + "/tessaly-cli", args);
    }

    // Runs the program through the shell, every argument single-quoted.
    Outcome run_program(const std::string& program, const std::vector<std::string>& args) {
        std::string command = program;
        for (const std::string& a : args) {
            command += " '";
            for (char c : a) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
            command += "'";
        }
        const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
        const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
        Outcome r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        (void)read_file_bytes(out, r.out), (void)read_file_bytes(err, r.err);
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
    ScopedEnv settings_root{"TESSALY_SETTINGS_ROOT", dir.file("settings").c_str()};
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The first transformation of the registry that is not built, if any.
const TransformationEntry* unbuilt_entry() {
    for (const TransformationEntry& e : registry_rows()) {
        if (e.keyword && !e.module) return &e;
    }
    return nullptr;
}

TEST_F(Cli, OpensImagesAppliesASnippetAndSavesWithItsScript) {
    const std::string a = make_png("a.png", 40, 20), b = make_png("b c.png", 8, 8);
    const std::string snippet =
        write_script("half.snip", "\xEF\xBB\xBFsnippet",
                     node_lines(5, "Resize", 0, "resize 0 percent 50 set 14 method 2"));
    Outcome r = run({b, a, "--insert-snippet", snippet, "--save", dir.file("out.tif"),
                     "--save-workspace", dir.file("all.workspace")});
    EXPECT_TRUE(r.status == 0 && r.err.empty() && r.out == dir.file("out.tif") + "\n") << r.err;
    Image saved = read_image(dir.file("out.tif"));
    EXPECT_TRUE(saved.width == 20u && saved.height == 10u);
    // The workspace holds both images in order and the inserted Resize; loading it in a second
    // run rebuilds the same picture.
    const std::string text = text_of(dir.file("all.workspace"));
    EXPECT_LT(text.find("b c.png"), text.find("a.png"));
    r = run({dir.file("all.workspace"), "exit_when_done", "--save", dir.file("again.png")});
    EXPECT_TRUE(r.status == 0 && read_image(dir.file("again.png")).width == 20u) << r.err;
    // The session's state is kept in the settings root; a normal end leaves no recovery file.
    EXPECT_TRUE(fs::exists(dir.file("settings/Workspace Scripts/Previous.workspace")) &&
                !fs::exists(dir.file("settings/Crash Recovery.workspace")));
}

TEST_F(Cli, BatchRunsTheSelectedFilesOfTheLoadedLists) {
    make_png("a.png", 4, 4);
    make_png("b.png", 6, 4);
    ASSERT_FALSE(write_file_atomic(dir.file("broken.png"), "\x89PNG\r\n\x1a\n but no more"));
    const std::string list =
        write_script("list.workspace", "workspace_script",
                     node_lines(1, "list", -1, file_list({"a.png", "broken.png", "b.png"})));
    Outcome r = run({list, "--batch", "--save", dir.file("last.png")});
    EXPECT_TRUE(r.status == 1 && contains(r.err, "Status: Batch Completed") &&
                contains(r.err, "Error: Error reading file: " + dir.file("broken.png")))
        << r.err;
    EXPECT_EQ(read_image(dir.file("last.png")).width, 6u);  // the list's last file stays shown
    // Test mode asks after each file; answering Cancel terminates after the first.
    r = run({"--answer", "cancel", list, "--test-mode", "--batch"});
    EXPECT_TRUE(contains(r.err,
                         "File Open: Press OK to continue, Cancel to stop -> Cancel\n"
                         "Status: Batch Terminated\n"))
        << r.err;
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
    EXPECT_TRUE(r.status == 1 && contains(r.err, "Error: Cannot create folder: " + sub)) << r.err;
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
    ASSERT_TRUE(r.status == 0 && r.err.empty()) << r.err;
    // The same lines run by the engine on the picture as the program opened it.
    Node nodes[4];
    nodes[0].image = read_image(dir.file("opened.bmp"));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(run_line(&nodes[i], &nodes[i + 1], chain[i]), 0) << chain[i];
    const Image written = read_image(dir.file("chain.png"));
    // Turned upright first, then made 320 wide.
    EXPECT_TRUE(written.width == 320u && written.height == 512u);
    EXPECT_TRUE(same_pixels(nodes[3].image, written));
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
}

TEST_F(Cli, FailuresNameTheirCauseSetTheExitStatusAndStopWhatFollows) {
    const std::string a = make_png("a.png", 6, 4), out = dir.file("out.png");
    const std::string nothing = dir.file("nothing.tif");
    const std::string bad_script =
        write_script("bad.script", "script",
                     node_lines(1, "a", -1, file_list({"a.png"})) +
                         node_lines(2, "Resize", 1, "resize 0 method 9"));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;  // the start of the error output; all of it when it ends the line
    } failures[] = {
        // A missing file: the start-up's message and File Open's, not a third from the node.
        {{nothing},
         1,
         "Error: Cannot open file: " + nothing + "\nError: File does not exist: " + nothing + "\n"},
        {{"--frobnicate"}, 2, "Error: Unknown option: --frobnicate\nusage: tessaly-cli"},
        {{"--save"}, 2, "Error: Missing value after --save\n"},
        {{"--describe"}, 2, "Error: Missing value after --describe\n"},
        {{"--describe", "Gaussian_Blur"},
         2,
         "Error: No such transformation: Gaussian_Blur (tessaly-cli --list shows them all)\n"},
        {{"--save", out}, 1, "Error: No image to save\n"},
        // A node that fails inside a script names itself.
        {{bad_script}, 1, "Error: Resize: Illegal Resize command line\n"},
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
        EXPECT_EQ(f.err.back() == '\n' ? r.err : r.err.substr(0, f.err.size()), f.err);
    }
    EXPECT_FALSE(fs::exists(out));
    // A message of a screen's length or more keeps its start and end.
    const std::string huge = "--" + std::string(3000, 'x') + "end";
    Outcome r = run({huge});
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "Error: Unknown option: --" +
                                                     std::string(1382, 'x') + " \u2026 " +
                                                     std::string(497, 'x') + "end");
    const TransformationEntry* unbuilt = unbuilt_entry();
    if (!unbuilt) GTEST_SKIP() << "every transformation is built";
    r = run({a, "--apply", std::string(unbuilt->keyword) + " 0", "--save-script",
             dir.file("kept.script")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("Error: ") + unbuilt->display_name +
                         ": Transformation not available: " + unbuilt->keyword + "\n");
    EXPECT_TRUE(contains(text_of(dir.file("kept.script")),
                         std::string("command \u2034") + unbuilt->keyword + " 0\u2034"));
}

// --settings-root holds everything the program writes: nothing lands in the home folder.
TEST_F(Cli, SettingsRootHoldsEverythingItWrites) {
    const std::string a = make_png("a.png", 6, 4), home = dir.file("home");
    fs::create_directory(home);
    ScopedEnv no_root{"TESSALY_SETTINGS_ROOT", nullptr}, home_env{"HOME", home.c_str()},
        data{"XDG_DATA_HOME", nullptr}, documents{"XDG_DOCUMENTS_DIR", nullptr};
    const Outcome r = run({"--settings-root", dir.file("root"), a, "--apply", "invert 0", "--save",
                           dir.file("b.png")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(home));
    EXPECT_TRUE(fs::exists(dir.file("root/Workspace Scripts/Autosave.workspace")));
}

TEST_F(Cli, ListAndDescribeComeFromTheRegistryAndTheDeclarations) {
    Outcome r = run({"--list"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int rows = 0;
    auto pad = [](std::string s, std::size_t n) {
        return s.append(n - std::min(n, s.size()), ' ');
    };
    for (std::string line; std::getline(lines, line); ++rows) {
        const TransformationEntry* e = find_transformation(line.substr(0, line.find(' ')));
        ASSERT_TRUE(e) << line;  // and below, the alias is not a row
        EXPECT_EQ(line, pad(e->keyword, 22) + pad(e->module ? "built" : "not-built", 10) +
                            e->display_name);
    }
    EXPECT_EQ(rows, registry_size);
    r = run({"--describe", "gaussian_blur"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("Gaussian Blur (gaussian_blur)\n")) << r.out;
    EXPECT_TRUE(contains(r.out,
                         "  radius            integer, written %d, default 3\n"
                         "                    range 0 .. 256; a value outside is moved "
                         "to the nearer end\n"
                         "                    label: \"Radius:\" (pixels)\n"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "values: 0 All Channels, 1 Chrominance Only"));
    EXPECT_TRUE(
        r.out.ends_with("Default command line:\n  " + default_line("gaussian_blur") + "\n"));
    if (const TransformationEntry* unbuilt = unbuilt_entry()) {
        r = run({"--describe", unbuilt->keyword});
        EXPECT_TRUE(r.status == 0 && contains(r.out, "Not built yet")) << r.out;
    }
    // Asking about the transformations leaves no settings behind.
    EXPECT_FALSE(fs::exists(dir.file("settings")));
}

// A worker workspace: a File Open list (its own file is replaced by --files-from), a quarter-size
// resize, and an Export naming its files by sequence (or by the original with a version number
// added when taken) into folder.
std::string worker_nodes(const std::string& folder, bool by_original) {
    fs::create_directories(folder);
    return node_lines(1, "Photos", -1, file_list({wallpaper("Kite")})) +
           node_lines(2, "Resize", 1, "resize 0 percent 25 set 14 method 2") +
           node_lines(3, "Export", 2,
                      formatted("export 0 file_type 2 file_name %d first_file_name ″shot″ "
                                "if_exists %d jpeg_ask 0 jpeg_metadata 0 jpeg_quality 90 "
                                "which_folder 1 folder ″%s″",
                                by_original ? 0 : 2, by_original ? 2 : 0, folder));
}

std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Three workers each take a third of one list: every photograph is exported once, numbered by
// its place in the whole list, with its EXIF; the missing file fails in its own worker (exit 1,
// one line, "failed" in the report) and the others carry on. A rerun with --skip-existing passes
// the finished files by and writes nothing; --jobs runs the same in one command.
TEST_F(Cli, WorkersShareOneListAndARerunResumes) {
    std::vector<std::string> list;
    for (const char* name : {"FallenLeaf", "ColdRipple", "DarkestHour", "Kite", "Path", "Autumn"}) {
        list.push_back(wallpaper(name));
        ASSERT_TRUE(fs::exists(list.back())) << list.back();
    }
    list.insert(list.begin() + 2, dir.file("missing.jpg"));
    std::string text;
    for (const std::string& f : list) text += f + "\n";
    ASSERT_FALSE(write_file_atomic(dir.file("files.txt"), text));
    const std::string out = dir.file("out");
    const std::string workspace =
        write_script("worker.workspace", "workspace_script", worker_nodes(out, false));
    std::string reports;
    for (int k = 1; k <= 3; ++k) {
        const std::string report = dir.file(formatted("r%d.json", k));
        const Outcome r = run({"--files-from", dir.file("files.txt"), "--shard",
                               formatted("%d/3", k), "--report", report, workspace, "--batch"});
        // 7 files in thirds: [0, 2), [2, 4), [4, 7); the missing one is the third.
        EXPECT_EQ(r.status, k == 2 ? 1 : 0) << k << r.err;
        EXPECT_EQ(count_of(r.err, "missing.jpg"), k == 2 ? 1u : 0u) << r.err;
        std::string json;
        ASSERT_FALSE(read_file_bytes(report, json));
        reports += json;
    }
    const std::vector<std::string> expected = {"shot 1.jpg", "shot 2.jpg", "shot 4.jpg",
                                               "shot 5.jpg", "shot 6.jpg", "shot 7.jpg"};
    EXPECT_EQ(files_in(out), expected);
    EXPECT_EQ(count_of(reports, "\"status\": \"done\""), 6u) << reports;
    EXPECT_EQ(count_of(reports, "\"status\": \"failed\""), 1u);
    EXPECT_TRUE(contains(reports, "\"outputs\": [\"" + out + "/shot 4.jpg\"]")) << reports;
    // Every report reads as JSON (Python's parser is the judge) with a number of seconds.
    for (int k = 1; k <= 3; ++k) {
        const Outcome parsed = run_program(
            "python3", {"-c",
                        "import json, sys; r = json.load(open(sys.argv[1])); "
                        "assert all(isinstance(e['seconds'], float) for e in r); print(len(r))",
                        dir.file(formatted("r%d.json", k))});
        EXPECT_EQ(parsed.status, 0) << parsed.err;
    }
    Outcome tags = run_program("exiftool", {"-s3", "-Model", out + "/shot 5.jpg"});
    EXPECT_EQ(tags.out, "E-M1\n") << tags.err;  // Path's camera

    const auto stamp = fs::last_write_time(out + "/shot 1.jpg");
    const Outcome again = run({"--files-from", dir.file("files.txt"), "--skip-existing", "--jobs",
                               "2", "--report", dir.file("again.json"), workspace, "--batch"});
    EXPECT_EQ(again.status, 1) << again.err;
    std::string json;
    ASSERT_FALSE(read_file_bytes(dir.file("again.json"), json));
    EXPECT_EQ(count_of(json, "\"status\": \"skipped\""), 6u) << json;
    EXPECT_EQ(count_of(json, "\"file\": "), 7u);
    // In the list's order, as the slices are.
    EXPECT_LT(json.find("FallenLeaf"), json.find("missing.jpg"));
    EXPECT_LT(json.find("missing.jpg"), json.find("Autumn"));
    EXPECT_EQ(fs::last_write_time(out + "/shot 1.jpg"), stamp);
    EXPECT_EQ(files_in(out), expected);
}

// Usage errors end at once with status 2 and say why; a NUL-separated list is read as such.
TEST_F(Cli, WorkerOptionsRefuseBadShardsAndMissingLists) {
    const std::string workspace =
        write_script("worker.workspace", "workspace_script", worker_nodes(dir.file("out"), false));
    for (const char* shard : {"0/4", "5/4", "2", "a/b"}) {
        const Outcome r = run({"--shard", shard, workspace, "--batch"});
        EXPECT_TRUE(r.status == 2 && contains(r.err, "Illegal shard")) << shard << r.err;
    }
    Outcome r = run({"--files-from", dir.file("none.txt"), workspace, "--batch"});
    EXPECT_TRUE(r.status == 2 && contains(r.err, "none.txt")) << r.err;
    r = run({"--jobs", "0", workspace, "--batch"});
    EXPECT_EQ(r.status, 2) << r.err;
    const std::string nul_list = wallpaper("Kite") + std::string(1, '\0') + wallpaper("Autumn");
    ASSERT_FALSE(write_file_atomic(dir.file("nul.txt"), nul_list));
    r = run({"--files-from", dir.file("nul.txt"), "-0", workspace, "--batch"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files_in(dir.file("out")), (std::vector<std::string>{"shot 1.jpg", "shot 2.jpg"}));
}

// Two workers writing the same names into one folder at once with Add Version Number: each file
// claims its name, so none overwrites another.
TEST_F(Cli, AddVersionNumberNeverHandsOneNameToTwoWorkers) {
    std::string text;
    for (int i = 0; i < 4; ++i) text += wallpaper("Kite") + "\n";
    ASSERT_FALSE(write_file_atomic(dir.file("same.txt"), text));
    const std::string out = dir.file("versions");
    const std::string workspace =
        write_script("versions.workspace", "workspace_script", worker_nodes(out, true));
    const Outcome r =
        run({"--files-from", dir.file("same.txt"), "--jobs", "2", workspace, "--batch"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files_in(out), (std::vector<std::string>{"640x480 v1.jpg", "640x480 v2.jpg",
                                                       "640x480 v3.jpg", "640x480.jpg"}));
    for (const std::string& name : files_in(out)) {
        EXPECT_GT(fs::file_size(out + "/" + name), 1000u) << name;
    }
}

}  // namespace
}  // namespace tessaly::testing
