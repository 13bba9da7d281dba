#include "framework/console_interaction.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

namespace tessaly {
namespace {

std::string contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
    return s;
}

TEST(ConsoleInteraction, MessagesArePrefixedWithTheirCaption) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ConsoleInteraction console(f);
    console.message(MessageKind::error, "Error", "Cannot open file: a.tif");
    console.message(MessageKind::warning, "Warning", "Careful");
    console.set_quiet(true);
    console.message(MessageKind::warning, "Warning", "dropped when quiet");
    console.message(MessageKind::error, "Error", "errors always show");
    EXPECT_EQ(contents(f),
              "Error: Cannot open file: a.tif\nWarning: Careful\nError: errors always show\n");
    std::fclose(f);
}

TEST(ConsoleInteraction, QuestionsAreAnsweredByPolicy) {
    using P = AnswerPolicy;
    using B = Buttons;
    using A = Answer;
    // Policy, buttons, the question's default, and the answer given.
    for (auto [policy, buttons, default_answer, expected] :
         {std::tuple{P::defaults, B::yes_no_cancel, A::no, A::no},
          {P::yes, B::yes_no, A::no, A::yes},
          {P::yes, B::ok_cancel, A::cancel, A::ok},
          {P::no, B::yes_no_cancel, A::yes, A::no},
          {P::no, B::ok_cancel, A::ok, A::cancel},
          {P::cancel, B::yes_no_cancel, A::yes, A::cancel},
          {P::cancel, B::yes_no, A::yes, A::no},
          {P::cancel, B::ok, A::ok, A::ok}}) {
        EXPECT_EQ(ConsoleInteraction::policy_answer(policy, buttons, default_answer), expected);
    }
    AnswerPolicy p;
    EXPECT_FALSE(parse_answer_policy("cancel", p));
    EXPECT_EQ(p, AnswerPolicy::cancel);
    EXPECT_TRUE(parse_answer_policy("maybe", p));

    std::FILE* f = std::tmpfile();
    ConsoleInteraction console(f);
    console.set_policy(AnswerPolicy::yes);
    EXPECT_EQ(console.ask("Alert", "Close all images before loading script?",
                          Buttons::yes_no_cancel, Answer::cancel),
              Answer::yes);
    EXPECT_EQ(contents(f), "Alert: Close all images before loading script? -> Yes\n");
    std::fclose(f);
}

TEST(ConsoleInteraction, ProgressBarOnlyWhenAsked) {
    std::FILE* f = std::tmpfile();
    ConsoleInteraction console(f);  // a file is no terminal: no bar
    console.progress_begin("Resize", 10);
    console.progress_update(5);
    console.progress_end();
    EXPECT_EQ(contents(f), "");
    console.set_progress_bar(true);
    console.progress_begin("Resize", 10);
    console.progress_update(5);
    console.progress_update(5);  // unchanged: not redrawn
    console.progress_end();
    std::string drawn = contents(f);
    EXPECT_NE(drawn.find("Resize [###############               ] 50%"), std::string::npos);
    EXPECT_EQ(drawn.back(), '\n');
    std::fclose(f);
}

}  // namespace
}  // namespace tessaly
