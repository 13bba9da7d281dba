#include "framework/console_interaction.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

namespace tessaly {
namespace {

// The console writes into a temporary file; written() gives what it wrote so far.
class ConsoleTest : public ::testing::Test {
  protected:
    ~ConsoleTest() override { std::fclose(file_); }
    std::string written() {
        std::fflush(file_);
        std::rewind(file_);
        std::string s;
        char buffer[256];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;)
            s.append(buffer, n);
        return s;
    }
    std::FILE* file_ = std::tmpfile();
    ConsoleInteraction console_{file_};
};

TEST_F(ConsoleTest, MessagesArePrefixedWithTheirCaptionAndQuietKeepsErrors) {
    console_.message(MessageKind::error, "Error", "Cannot open file: a.tif");
    console_.message(MessageKind::warning, "Warning", "Careful");
    console_.set_quiet(true);
    console_.message(MessageKind::warning, "Warning", "dropped when quiet");
    console_.message(MessageKind::error, "Error", "errors always show");
    EXPECT_EQ(written(),
              "Error: Cannot open file: a.tif\nWarning: Careful\nError: errors always show\n");
}

TEST_F(ConsoleTest, QuestionsAreAnsweredByPolicy) {
    using P = AnswerPolicy;
    using B = Buttons;
    using A = Answer;
    // Policy, buttons, the question's default, and the answer given.
    const std::tuple<P, B, A, A> cases[] = {{P::defaults, B::yes_no_cancel, A::no, A::no},
                                            {P::yes, B::yes_no, A::no, A::yes},
                                            {P::yes, B::ok_cancel, A::cancel, A::ok},
                                            {P::no, B::yes_no_cancel, A::yes, A::no},
                                            {P::no, B::ok_cancel, A::ok, A::cancel},
                                            {P::cancel, B::yes_no_cancel, A::yes, A::cancel},
                                            {P::cancel, B::yes_no, A::yes, A::no},
                                            {P::cancel, B::ok, A::ok, A::ok}};
    for (auto [policy, buttons, default_answer, expected] : cases) {
        EXPECT_EQ(ConsoleInteraction::policy_answer(policy, buttons, default_answer), expected);
    }
    AnswerPolicy p;
    EXPECT_FALSE(parse_answer_policy("cancel", p));
    EXPECT_EQ(p, AnswerPolicy::cancel);
    EXPECT_TRUE(parse_answer_policy("maybe", p));

    console_.set_policy(AnswerPolicy::yes);
    EXPECT_EQ(console_.ask("Alert", "Close all images before loading script?",
                           Buttons::yes_no_cancel, Answer::cancel),
              Answer::yes);
    EXPECT_EQ(written(), "Alert: Close all images before loading script? -> Yes\n");
}

TEST_F(ConsoleTest, ProgressBarOnlyWhenAsked) {
    for (bool bar : {false, true}) {  // a file is no terminal: no bar unless asked
        console_.set_progress_bar(bar);
        console_.progress_begin("Resize", 10);
        console_.progress_update(5);
        console_.progress_update(5);  // unchanged: not redrawn
        console_.progress_end();
        if (!bar) {
            EXPECT_EQ(written(), "");
        }
    }
    const std::string drawn = written();
    EXPECT_NE(drawn.find("Resize [###############               ] 50%"), std::string::npos);
    EXPECT_EQ(drawn.back(), '\n');
}

}  // namespace
}  // namespace tessaly
