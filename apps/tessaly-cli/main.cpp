// tessaly-cli: Tessaly without a window.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/arguments.h"
#include "core/format.h"
#include "core/runner.h"
#include "framework/console_interaction.h"

namespace {

const char* usage =
    "usage: tessaly-cli [options] [FILE...]\n"
    "\n"
    "  --version             print the version and exit\n"
    "  --help                print this text and exit\n"
    "  --threads N           worker threads for pixel loops (default: the processor count)\n"
    "  --answer POLICY       how questions are answered: default (each question's own default\n"
    "                        button), yes, no or cancel\n"
    "  --quiet               show errors only\n"
    "\n"
    "Opening images, scripts and workspaces from the command line is not built yet.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace tessaly;
    init_locale_separators();
    ConsoleInteraction console;
    ScopedInteraction scope(console);

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--version") {
            std::printf("%s\n", version_string().c_str());
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--quiet") {
            console.set_quiet(true);
        } else if (arg == "--threads" || arg == "--answer") {
            if (i + 1 >= argc) {
                show_error("Missing value after %s", arg);
                return 2;
            }
            std::string value = argv[++i];
            if (arg == "--threads") {
                std::int32_t n = 0;
                if (parse_integer(value, n) || n < 1) {
                    show_error("Illegal thread count: %s", value);
                    return 2;
                }
                set_processor_count(n);
            } else {
                AnswerPolicy policy;
                if (parse_answer_policy(value, policy)) {
                    show_error("Illegal answer policy: %s", value);
                    return 2;
                }
                console.set_policy(policy);
            }
        } else if (arg.rfind("--", 0) == 0) {
            show_error("Unknown option: %s", arg);
            std::fputs(usage, stderr);
            return 2;
        } else {
            show_error("Not built yet: opening %s (images, scripts and workspaces)", arg);
            return 2;
        }
    }
    return 0;
}
