// Shared by the fuzz targets: messages are dropped so that nothing prints per input.
#pragma once

#include "core/interaction.h"

namespace tessaly::fuzz {

class SilentInteraction : public StderrInteraction {
  public:
    Answer message(MessageKind, std::string_view, std::string_view) override { return Answer::ok; }
    Answer ask(std::string_view, std::string_view, Buttons, Answer a) override { return a; }
    int choose(std::string_view, std::string_view, const std::vector<std::string>&) override {
        return -1;
    }
};

inline void silence_messages() {
    static SilentInteraction silent;
    set_interaction(&silent);
}

}  // namespace tessaly::fuzz
