// The Interaction of the command-line program: messages on stderr prefixed with their caption
// ("Error: Cannot open file: a.tif"), questions answered by a policy, and a text progress bar
// when stderr is a terminal.
#pragma once

#include <cstdio>
#include <set>
#include <string>

#include "core/interaction.h"

namespace tessaly {

// How questions are answered without a person: with each question's own default, or always
// yes, no or cancel (a Yes/No question asked "cancel" answers No; OK/Cancel asked "yes" is OK).
enum class AnswerPolicy { defaults, yes, no, cancel };

// Reads "yes", "no", "cancel" or "default"; true on failure.
bool parse_answer_policy(const std::string& text, AnswerPolicy& policy);

class ConsoleInteraction : public Interaction {
  public:
    explicit ConsoleInteraction(std::FILE* out = stderr);

    void set_policy(AnswerPolicy policy) { policy_ = policy; }
    // Quiet drops warnings, information and questions' echo; errors are always shown.
    void set_quiet(bool quiet) { quiet_ = quiet; }
    void set_progress_bar(bool on) { progress_bar_ = on; }
    // Errors shown so far (the program's exit status depends on it).
    int error_count() const { return errors_; }
    // Whether an error of exactly this text has been shown (so that it is not repeated).
    bool has_shown_error(std::string_view text) const {
        return shown_errors_.count(std::string(text)) != 0;
    }

    Answer message(MessageKind kind, std::string_view caption, std::string_view text) override;
    Answer ask(std::string_view caption, std::string_view text, Buttons buttons,
               Answer default_answer) override;
    int choose(std::string_view caption, std::string_view text,
               const std::vector<std::string>& options) override;
    std::optional<std::string> choose_open_file(const FileChoice& choice) override;
    std::optional<std::string> choose_save_file(const FileChoice& choice) override;
    void status(std::string_view text) override;
    void progress_begin(std::string_view title, std::int64_t total) override;
    void progress_update(std::int64_t done) override;
    bool progress_cancelled() override { return false; }
    void progress_end() override;
    void busy(bool) override {}

    // The answer the policy gives to a question with these buttons.
    static Answer policy_answer(AnswerPolicy policy, Buttons buttons, Answer default_answer);

  private:
    void write(std::string_view text);

    std::FILE* out_;
    AnswerPolicy policy_ = AnswerPolicy::defaults;
    bool quiet_ = false;
    bool progress_bar_;
    std::string progress_title_;
    std::int64_t progress_total_ = 0;
    int progress_drawn_ = -1;
    int errors_ = 0;
    std::set<std::string> shown_errors_;
};

}  // namespace tessaly
