// The program as people start it: one instance per settings root, a second start handing its
// files to the first, and exit_when_done ending it.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const std::string program = std::string(TESSALY_BIN_DIR) + "/tessaly";
const std::string photo = "/usr/share/wallpapers/Path/contents/images/2560x1600.jpg";

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Started {
    explicit Started(const fs::path& root) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TESSALY_SETTINGS_ROOT", QString::fromStdString(root.string()));
        process.setProcessEnvironment(env);
    }
    ~Started() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    void start(const QStringList& args) { process.start(QString::fromStdString(program), args); }
    QProcess process;
};

TEST(Instance, ASecondStartHandsItsFilesToTheFirstAndEnds) {
    if (!fs::exists(photo)) GTEST_SKIP() << photo << " is missing";
    const fs::path root =
        fs::temp_directory_path() / ("tessaly-instance-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root);

    Started first(root);
    first.start({});
    ASSERT_TRUE(first.process.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(root / "Tessaly.mutex"); }, 20000));

    Started second(root);
    second.start({QString::fromStdString(photo)});
    ASSERT_TRUE(second.process.waitForFinished(20000));
    EXPECT_EQ(second.process.exitCode(), 1);

    // The first instance opened the photograph: its autosave names it.
    const fs::path autosave = root / "Workspace Scripts" / "Autosave.workspace";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return fs::exists(autosave) &&
                   read_all(autosave).find("2560x1600.jpg") != std::string::npos;
        },
        20000))
        << "the first instance did not open the handed-over file";
    EXPECT_EQ(first.process.state(), QProcess::Running);

    // exit_when_done handed over ends the first instance without questions, and the session
    // it ends normally leaves no recovery file behind.
    Started third(root);
    third.start({"exit_when_done"});
    ASSERT_TRUE(third.process.waitForFinished(20000));
    EXPECT_EQ(third.process.exitCode(), 1);
    ASSERT_TRUE(first.process.waitForFinished(30000)) << "exit_when_done did not end the program";
    EXPECT_EQ(first.process.exitCode(), 0);
    EXPECT_FALSE(fs::exists(root / "Crash Recovery.workspace"));
    EXPECT_TRUE(fs::exists(root / "Session State" / "Session.state"));
    fs::remove_all(root);
}

}  // namespace
