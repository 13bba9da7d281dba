// Command lines come from scripts, workspaces, settings files and people: every module's reader
// must take any bytes, and what it writes back must read back to the same text, with and without
// an input image (some defaults come from the input).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "batch/engine.h"
#include "core/arguments.h"
#include "core/image.h"
#include "framework/declaration.h"
#include "framework/module.h"
#include "fuzz_support.h"

using namespace tessaly;

namespace {

// Some defaults come from the input image: each line is read without one and with two.
Node colour_input, gray_input;
const std::vector<Node*> inputs = {nullptr, &colour_input, &gray_input};

void setup() {
    fuzz::silence_messages();
    install_engine();
    if (image_alloc(colour_input.image, image_color24, 5, 3, 72.0) ||
        image_alloc(gray_input.image, image_gray16, 5, 3, 72.0)) {
        std::abort();
    }
}

bool is_key(const SettingInfo& s, std::string_view token) {
    const std::size_t n = s.key.find("%d");
    if (n == std::string::npos) return token == s.key;
    // A group member's key: its entry number in place of %d.
    const std::string_view prefix = std::string_view(s.key).substr(0, n);
    const std::string_view suffix = std::string_view(s.key).substr(n + 2);
    if (token.size() <= prefix.size() + suffix.size() || !token.starts_with(prefix) ||
        !token.ends_with(suffix)) {
        return false;
    }
    const std::string_view digits =
        token.substr(prefix.size(), token.size() - prefix.size() - suffix.size());
    return digits.find_first_not_of("0123456789") == std::string_view::npos;
}

bool is_key(const std::vector<SettingInfo>& settings, std::string_view token) {
    for (const SettingInfo& s : settings) {
        if (is_key(s, token) || is_key(s.members, token)) return true;
    }
    return false;
}

// A key's value is the token after the first token equal to the key, quoted or not: a text value
// that spells a key of the same transformation is taken for that key when the line is read
// again. The language cannot write such settings so that they read back the same.
bool text_spells_a_key(const TransformationModule& module, std::string_view line) {
    const std::vector<SettingInfo> settings = module.describe();
    for (std::size_t open = line.find(string_quote); open != std::string_view::npos;) {
        const std::size_t from = open + string_quote.size();
        const std::size_t close = line.find(string_quote, from);
        if (close == std::string_view::npos) return false;
        if (is_key(settings, line.substr(from, close - from))) return true;
        open = line.find(string_quote, close + string_quote.size());
    }
    return false;
}

// A real too large for its written form is written as the formatter's overflow mark, "*",
// which reads as no value: the setting then keeps its default.
bool overflows(std::string_view line) {
    const ArgumentList tokens = split(line);
    for (int i = 0; i < tokens.count(); ++i) {
        if (tokens[i] == "*" || tokens[i] == "-*") return true;
    }
    return false;
}

void check(const TransformationModule& module, const ArgumentList& args) {
    for (Node* input : inputs) {
        std::string once, twice;
        (void)module.normalise(args, input, nullptr, once);
        // A failed parse writes the defaults, which must read as well.
        const bool failed = module.normalise(split(once), input, nullptr, twice);
        if ((!failed && twice == once) || text_spells_a_key(module, once) || overflows(once)) {
            continue;
        }
        std::fprintf(stderr, "%s\nwritten:   %s\nrewritten: %s\n",
                     failed ? "the written line does not read" : "the line changed", once.c_str(),
                     twice.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = (setup(), true);
    (void)ready;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const ArgumentList args = split(text);
    if (const TransformationModule* named = args.empty() ? nullptr : find_module(args[0])) {
        check(*named, args);
        return 0;
    }
    // Anything else: the first byte picks a module, the rest is read as its settings.
    static const std::vector<const TransformationModule*> modules = built_modules();
    if (size == 0 || modules.empty()) return 0;
    const TransformationModule& module = *modules[data[0] % modules.size()];
    std::string line = module.keyword();
    if (!module.version().empty()) line += " " + std::string(module.version());
    check(module, split(line + " " + text.substr(1)));
    return 0;
}
