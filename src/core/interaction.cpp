#include "interaction.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace tessaly {

namespace {
StderrInteraction fallback;
std::atomic<Interaction*> current{nullptr};

void write_line(std::string_view caption, std::string_view text) {
    std::string line;
    if (!caption.empty()) {
        line.append(caption);
        line.append(": ");
    }
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
}
}  // namespace

Interaction& interaction() {
    Interaction* i = current.load();
    return i ? *i : fallback;
}

Interaction* set_interaction(Interaction* implementation) {
    return current.exchange(implementation);
}

Answer StderrInteraction::message(MessageKind, std::string_view caption, std::string_view text) {
    write_line(caption, text);
    return Answer::ok;
}

Answer StderrInteraction::ask(std::string_view caption, std::string_view text, Buttons,
                              Answer default_answer) {
    write_line(caption, text);
    return default_answer;
}

int StderrInteraction::choose(std::string_view caption, std::string_view text,
                              const std::vector<std::string>&) {
    write_line(caption, text);
    return -1;
}

std::optional<std::string> StderrInteraction::choose_open_file(const FileChoice&) {
    return std::nullopt;
}

std::optional<std::string> StderrInteraction::choose_save_file(const FileChoice&) {
    return std::nullopt;
}

void StderrInteraction::status(std::string_view) {}
void StderrInteraction::progress_begin(std::string_view, std::int64_t) {}
void StderrInteraction::progress_update(std::int64_t) {}
bool StderrInteraction::progress_cancelled() {
    return false;
}
void StderrInteraction::progress_end() {}
void StderrInteraction::busy(bool) {}

}  // namespace tessaly
