#include "framework/console_interaction.h"

#include <unistd.h>

namespace tessaly {

namespace {
const char* answer_name(Answer a) {
    switch (a) {
        case Answer::ok:
            return "OK";
        case Answer::cancel:
            return "Cancel";
        case Answer::yes:
            return "Yes";
        case Answer::no:
            return "No";
    }
    return "";
}
}  // namespace

bool parse_answer_policy(const std::string& text, AnswerPolicy& policy) {
    if (text == "yes") {
        policy = AnswerPolicy::yes;
    } else if (text == "no") {
        policy = AnswerPolicy::no;
    } else if (text == "cancel") {
        policy = AnswerPolicy::cancel;
    } else if (text == "default") {
        policy = AnswerPolicy::defaults;
    } else {
        return true;
    }
    return false;
}

ConsoleInteraction::ConsoleInteraction(std::FILE* out)
    : out_(out), progress_bar_(isatty(fileno(out)) != 0) {}

void ConsoleInteraction::write(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fflush(out_);
}

Answer ConsoleInteraction::message(MessageKind kind, std::string_view caption,
                                   std::string_view text) {
    if (kind == MessageKind::error) {
        ++errors_;
        shown_errors_.emplace(text);
    }
    if (quiet_ && kind != MessageKind::error) return Answer::ok;
    std::string line(caption);
    line += ": ";
    line += text;
    line += '\n';
    write(line);
    return Answer::ok;
}

Answer ConsoleInteraction::policy_answer(AnswerPolicy policy, Buttons buttons,
                                         Answer default_answer) {
    bool yes_no = buttons == Buttons::yes_no || buttons == Buttons::yes_no_cancel;
    switch (policy) {
        case AnswerPolicy::defaults:
            return default_answer;
        case AnswerPolicy::yes:
            return yes_no ? Answer::yes : Answer::ok;
        case AnswerPolicy::no:
            if (yes_no) return Answer::no;
            return buttons == Buttons::ok ? Answer::ok : Answer::cancel;
        case AnswerPolicy::cancel:
            if (buttons == Buttons::yes_no) return Answer::no;
            return buttons == Buttons::ok ? Answer::ok : Answer::cancel;
    }
    return default_answer;
}

Answer ConsoleInteraction::ask(std::string_view caption, std::string_view text, Buttons buttons,
                               Answer default_answer) {
    Answer a = policy_answer(policy_, buttons, default_answer);
    if (!quiet_) {
        std::string line(caption);
        line += ": ";
        line += text;
        line += " -> ";
        line += answer_name(a);
        line += '\n';
        write(line);
    }
    return a;
}

int ConsoleInteraction::choose(std::string_view caption, std::string_view text,
                               const std::vector<std::string>&) {
    if (!quiet_) {
        std::string line(caption);
        line += ": ";
        line += text;
        line += " -> Cancel\n";
        write(line);
    }
    return -1;
}

std::optional<std::string> ConsoleInteraction::choose_open_file(const FileChoice&) {
    return std::nullopt;
}

std::optional<std::string> ConsoleInteraction::choose_save_file(const FileChoice&) {
    return std::nullopt;
}

void ConsoleInteraction::status(std::string_view) {}

void ConsoleInteraction::progress_begin(std::string_view title, std::int64_t total) {
    progress_title_ = title;
    progress_total_ = total;
    progress_drawn_ = -1;
    progress_update(0);
}

void ConsoleInteraction::progress_update(std::int64_t done) {
    if (!progress_bar_ || quiet_ || progress_total_ <= 0) return;
    int percent = static_cast<int>(done * 100 / progress_total_);
    if (percent > 100) percent = 100;
    if (percent == progress_drawn_) return;
    progress_drawn_ = percent;
    constexpr int width = 30;
    int filled = percent * width / 100;
    std::string bar = "\r" + progress_title_ + " [";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), ' ');
    bar += "] " + std::to_string(percent) + "%";
    write(bar);
}

void ConsoleInteraction::progress_end() {
    if (progress_bar_ && !quiet_ && progress_drawn_ >= 0) write("\n");
    progress_drawn_ = -1;
    progress_total_ = 0;
}

}  // namespace tessaly
