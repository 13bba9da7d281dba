#include "core/text_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <utility>

#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

TEST(TextFile, EncodingIsTakenFromTheStart) {
    using E = TextEncoding;
    const std::pair<std::string, TextEncoding> cases[] = {
        {{'\xEF', '\xBB', '\xBF', 'a'}, E::utf8},
        {{'\xFF', '\xFE', 'a', 0}, E::utf16le},
        {{'\xFE', '\xFF', 0, 'a'}, E::utf16be},
        {{'a', 0, 'b', 0}, E::utf16le},
        {{0, 'a', 0, 'b'}, E::utf16be},
        {"ab", E::utf8},
        {{'\xFF', '\xFE', 0, 0, 'a', 0, 0, 0}, E::utf32},
        {{0, 0, '\xFE', '\xFF'}, E::utf32}};
    for (const auto& [text, encoding] : cases) EXPECT_EQ(detect_text_encoding(text), encoding);

    std::string out = "unchanged";
    EXPECT_TRUE(decode_text(cases[6].first, out) && out == "unchanged");
    // U+2033 and U+1F600 (a surrogate pair) in UTF-16 big-endian with a mark.
    EXPECT_FALSE(
        decode_text(std::string{'\xFE', '\xFF', 0x20, 0x33, '\xD8', 0x3D, '\xDE', 0}, out));
    EXPECT_EQ(out, "\u2033\U0001F600");
    EXPECT_FALSE(decode_text(std::string{'k', 0, ' ', 0, '1', 0}, out));
    EXPECT_EQ(out, "k 1");
}

TEST(TextFile, WriterReaderLineEndsAndAtomicWrites) {
    testing::TempDir dir;
    const std::string path = dir.file("x.curve");
    LineWriter writer;
    for (const char* line : {"Curve 1.0", "name \u2033a b\u2033", "end"}) writer.line(line);
    ASSERT_FALSE(writer.save(path));
    std::string raw;
    ASSERT_FALSE(read_file_bytes(path, raw));
    EXPECT_EQ(raw, "\xEF\xBB\xBF" + std::string("Curve 1.0\r\nname \u2033a b\u2033\r\nend\r\n"));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"x.curve"});

    LineReader reader;
    ASSERT_FALSE(reader.open(path));
    testing::RecordingScope scope;
    EXPECT_FALSE(read_versioned_header(reader, "Curve", 1.0, "Curve", true));
    ArgumentList line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line.tokens(), (std::vector<std::string>{"name", "a b"}));
    EXPECT_EQ(reader.line_text(), "name \u2033a b\u2033");
    ASSERT_TRUE(reader.next(line));
    EXPECT_TRUE(line[0] == "end" && !reader.next(line));
    EXPECT_TRUE(scope.recorder.messages.empty());
    // Empty lines are skipped; CR LF, CR and LF all end a line.
    reader.open_text("\n\nA 1.0\r\n\r\n  \t\nb 2\rc 3\nend");
    std::vector<std::string> first;
    while (reader.next(line)) first.emplace_back(line[0]);
    EXPECT_EQ(first, (std::vector<std::string>{"A", "b", "c", "end"}));

    // Replacing works; a missing folder or a folder as the target fails and leaves no
    // temporary file; a missing file cannot be read and leaves the bytes alone.
    ASSERT_FALSE(write_file_atomic(path, "new contents"));
    EXPECT_TRUE(write_file_atomic(dir.file("missing/x.txt"), "x"));
    std::filesystem::create_directory(dir.file("folder"));
    EXPECT_TRUE(write_file_atomic(dir.file("folder"), "x"));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"folder", "x.curve"}));
    EXPECT_TRUE(dir.names("folder").empty());
    ASSERT_FALSE(read_file_bytes(path, raw));
    EXPECT_TRUE(read_file_bytes(dir.file("nothing-here"), raw) && raw == "new contents");
}

// Two processes replacing one file 20 times each, with links planted at the names a writer of
// fixed temporary names would use: both succeed, the file is one whole version, nothing else is
// left and nothing outside is touched. Permissions of a replaced file are kept, and a link at
// the target itself is replaced, never written through.
TEST(TextFile, AtomicWritesUnderContentionAndPlantedLinks) {
    namespace fs = std::filesystem;
    testing::TempDir dir;
    const std::string path = dir.file("shared.state"), victim = dir.file("victim");
    ASSERT_FALSE(write_file_atomic(victim, "keep me"));
    for (const char* name : {"shared.state.tmp", "shared.tmp", "dangling.tmp"}) {
        fs::create_symlink(name[0] == 'd' ? dir.file("nothing") : victim, dir.file(name));
    }
    const std::string a(1 << 20, 'a'), b(1 << 20, 'b');
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = ::fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
            int failures = 0;
            for (int i = 0; i < 20; ++i) failures += write_file_atomic(path, k ? b : a) ? 1 : 0;
            ::_exit(failures);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::string got, kept;
    ASSERT_FALSE(read_file_bytes(path, got) || read_file_bytes(victim, kept));
    EXPECT_TRUE(got == a || got == b);
    EXPECT_EQ(kept, "keep me");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"dangling.tmp", "shared.state",
                                                     "shared.state.tmp", "shared.tmp", "victim"}));

    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_FALSE(write_file_atomic(path, "x"));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // A name as long as a folder takes still leaves room for the file written beside it.
    const std::string longest = std::string(249, 'n') + "\u00e9";  // 251 bytes
    EXPECT_FALSE(write_file_atomic(dir.file(longest + ".txt"), "x"));
    fs::remove(dir.file(longest + ".txt"));
    fs::create_symlink(victim, dir.file("link.state"));
    ASSERT_FALSE(write_file_atomic(dir.file("link.state"), "new"));
    EXPECT_FALSE(fs::is_symlink(dir.file("link.state")));
    ASSERT_FALSE(read_file_bytes(victim, kept));
    EXPECT_EQ(kept, "keep me");
}

// A writer killed at random moments leaves the old file or the new one, whole, and nothing else.
TEST(TextFile, KilledWritesLeaveTheOldOrTheNewFileAndNothingElse) {
    testing::TempDir dir;
    const std::string path = dir.file("big.state");
    const std::size_t size = 16u << 20;
    ASSERT_FALSE(write_file_atomic(path, std::string(size, '0')));
    std::mt19937 random(7);
    for (int round = 1; round <= 10; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string bytes(size, static_cast<char>('0' + round));
            for (;;) (void)write_file_atomic(path, bytes);
        }
        ::usleep(static_cast<useconds_t>(std::uniform_int_distribution<int>(0, 40000)(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::string got;
        ASSERT_FALSE(read_file_bytes(path, got));
        ASSERT_EQ(got.size(), size);
        EXPECT_EQ(got.find_first_not_of(got[0]), std::string::npos) << round;
        EXPECT_EQ(dir.names(), std::vector<std::string>{"big.state"}) << round;
    }
}

}  // namespace
}  // namespace tessaly
