// The one door through which the engine talks to a person: messages, questions, file choices,
// status texts and progress. The engine never shows anything itself; the command-line program,
// the desktop program and the tests each install their own implementation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

enum class MessageKind { error, warning, information };

// The buttons a question offers and the answer chosen. A message box with only OK answers ok.
enum class Buttons { ok, ok_cancel, yes_no, yes_no_cancel };
enum class Answer { ok, cancel, yes, no };

// A file dialog's request: title, filter description ("Curve Files"), patterns ("*.curve"),
// the folder to start in and a suggested name.
struct FileChoice {
    std::string title;
    std::string filter_name;
    std::vector<std::string> patterns;
    std::string folder;
    std::string suggested_name;
    // Several files may be chosen: the answer is their paths, one a line.
    bool allow_multiple = false;
};

class Interaction {
  public:
    virtual ~Interaction() = default;

    // A modal message box: caption ("Error", "Warning", ...) and text. Returns the button pressed.
    virtual Answer message(MessageKind kind, std::string_view caption, std::string_view text) = 0;

    // A question with the given buttons; default_answer is the button a non-interactive
    // implementation would press when its policy says so.
    virtual Answer ask(std::string_view caption, std::string_view text, Buttons buttons,
                       Answer default_answer) = 0;

    // One of several named choices (for example "Move to:"); -1 when cancelled.
    virtual int choose(std::string_view caption, std::string_view text,
                       const std::vector<std::string>& options) = 0;

    // File dialogs; no value when cancelled or when there is nobody to ask.
    virtual std::optional<std::string> choose_open_file(const FileChoice& choice) = 0;
    virtual std::optional<std::string> choose_save_file(const FileChoice& choice) = 0;

    // The status line.
    virtual void status(std::string_view text) = 0;

    // A progress window: begin with a title and a total, update with the count done so far,
    // and end. progress_cancelled tells whether the person asked to stop.
    virtual void progress_begin(std::string_view title, std::int64_t total) = 0;
    virtual void progress_update(std::int64_t done) = 0;
    virtual bool progress_cancelled() = 0;
    virtual void progress_end() = 0;

    // A long operation without a progress window (the wait cursor in a desktop program).
    virtual void busy(bool on) = 0;
};

// The process-wide Interaction. Until one is installed, messages go to stderr and every
// question is answered with its default.
Interaction& interaction();
// Installs an Interaction (nullptr restores the stderr fallback) and returns the previous one.
Interaction* set_interaction(Interaction* implementation);

// Installs an Interaction for the lifetime of a scope (tests, the command-line program).
class ScopedInteraction {
  public:
    explicit ScopedInteraction(Interaction& implementation)
        : previous_(set_interaction(&implementation)) {}
    ~ScopedInteraction() { set_interaction(previous_); }
    ScopedInteraction(const ScopedInteraction&) = delete;
    ScopedInteraction& operator=(const ScopedInteraction&) = delete;

  private:
    Interaction* previous_;
};

// The fallback: messages on stderr as "Caption: text", defaults for every question, no files.
class StderrInteraction : public Interaction {
  public:
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
    bool progress_cancelled() override;
    void progress_end() override;
    void busy(bool on) override;
};

}  // namespace tessaly
