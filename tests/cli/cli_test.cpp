// tessaly-cli end to end: the program is started with real files, scripts and snippets, and the
// files it writes, its messages and its exit status are checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "support/image_helpers.h"
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
        std::string program = std::string(TESSALY_BIN_DIR) + "/tessaly-cli";
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
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
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

}  // namespace
}  // namespace tessaly::testing
