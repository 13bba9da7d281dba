// A recording Interaction for tests: keeps every message, question, status text and progress
// report, and answers from a queue (or the question's default when the queue is empty).
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/interaction.h"

namespace tessaly::testing {

struct RecordedMessage {
    MessageKind kind;
    std::string caption;
    std::string text;
};

class RecordingInteraction : public Interaction {
  public:
    std::vector<RecordedMessage> messages;
    std::vector<std::string> questions;     // "caption: text"
    std::vector<std::string> choices;       // "caption: text"
    std::vector<std::string> file_dialogs;  // titles
    std::vector<std::string> statuses;
    std::vector<std::string> progress_titles;
    std::vector<std::int64_t> progress_totals;
    std::vector<std::int64_t> progress_updates;
    int progress_ends = 0;
    int busy_count = 0;

    std::deque<Answer> answers;                    // answers to questions, in order
    std::deque<int> choice_answers;                // answers to choose
    std::deque<std::optional<std::string>> files;  // answers to file dialogs
    bool cancel_progress = false;                  // progress_cancelled answers this

    Answer message(MessageKind kind, std::string_view caption, std::string_view text) override {
        messages.push_back({kind, std::string(caption), std::string(text)});
        return Answer::ok;
    }
    Answer ask(std::string_view caption, std::string_view text, Buttons,
               Answer default_answer) override {
        questions.push_back(std::string(caption) + ": " + std::string(text));
        if (answers.empty()) return default_answer;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    int choose(std::string_view caption, std::string_view text,
               const std::vector<std::string>&) override {
        choices.push_back(std::string(caption) + ": " + std::string(text));
        if (choice_answers.empty()) return -1;
        int a = choice_answers.front();
        choice_answers.pop_front();
        return a;
    }
    std::optional<std::string> choose_open_file(const FileChoice& choice) override {
        return next_file(choice);
    }
    std::optional<std::string> choose_save_file(const FileChoice& choice) override {
        return next_file(choice);
    }
    void status(std::string_view text) override { statuses.emplace_back(text); }
    void progress_begin(std::string_view title, std::int64_t total) override {
        progress_titles.emplace_back(title);
        progress_totals.push_back(total);
    }
    void progress_update(std::int64_t done) override { progress_updates.push_back(done); }
    bool progress_cancelled() override { return cancel_progress; }
    void progress_end() override { ++progress_ends; }
    void busy(bool on) override {
        if (on) ++busy_count;
    }

    // The texts of all messages of one kind, in order.
    std::vector<std::string> texts(MessageKind kind) const {
        std::vector<std::string> out;
        for (const auto& m : messages) {
            if (m.kind == kind) out.push_back(m.text);
        }
        return out;
    }
    std::vector<std::string> errors() const { return texts(MessageKind::error); }
    std::vector<std::string> warnings() const { return texts(MessageKind::warning); }

  private:
    std::optional<std::string> next_file(const FileChoice& choice) {
        file_dialogs.push_back(choice.title);
        if (files.empty()) return std::nullopt;
        auto f = files.front();
        files.pop_front();
        return f;
    }
};

// Installs a RecordingInteraction for the lifetime of a test.
class RecordingScope {
  public:
    RecordingScope() : scope_(recorder) {}
    RecordingInteraction recorder;

  private:
    ScopedInteraction scope_;
};

}  // namespace tessaly::testing
