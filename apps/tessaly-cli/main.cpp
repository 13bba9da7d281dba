// tessaly-cli: Tessaly without a window. The arguments are processed in order, the way the
// desktop program processes its command line, with options that save and batch in between.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "apply.h"
#include "batch/batch.h"
#include "batch/engine.h"
#include "batch/export.h"
#include "catalogue.h"
#include "color/color_transform.h"
#include "core/arguments.h"
#include "core/format.h"
#include "core/process_memory.h"
#include "core/runner.h"
#include "fileio/save.h"
#include "fileio/save_options.h"
#include "framework/console_interaction.h"
#include "framework/settings_files.h"
#include "tree/run_node.h"
#include "tree/tree.h"
#include "worker.h"
#include "workspace/script_files.h"
#include "workspace/startup.h"

namespace {

using namespace tessaly;

// --quiet also drops the names of the files written on stdout.
bool quiet_console = false;

const char* usage =
    "usage: tessaly-cli [options and files, processed in order]\n"
    "\n"
    "Files:\n"
    "  IMAGE                   opened as a new top level image (File Open)\n"
    "  FILE.script             loaded and run; workspaces are accepted as well\n"
    "  FILE.workspace          loaded and run\n"
    "  exit_when_done          accepted for compatibility: tessaly-cli always ends when done\n"
    "\n"
    "Options:\n"
    "  --apply \"COMMAND LINE\"  insert the transformation of the command line after the current\n"
    "                          image and run it (as its dialog's OK would), for example\n"
    "                          --apply \"gaussian_blur 0 radius 5\"\n"
    "  --insert-snippet FILE   insert a .snip after the current image and run it\n"
    "  --save PATH             save the current image (format from the extension, the stored\n"
    "                          save options of the preferences)\n"
    "  --save-script PATH      save the current image's script (with image names)\n"
    "  --save-workspace PATH   save the whole workspace (with image names)\n"
    "  --batch                 run a batch over the File Open lists of what is loaded\n"
    "  --test-mode             make the following --batch a test run (writes no files)\n"
    "  --files-from FILE       the batch's files: one path a line (- reads standard input);\n"
    "                          they replace the files of the first File Open list\n"
    "  -0                      the --files-from list is NUL-separated\n"
    "  --shard K/N             take only the K-th of N equal slices of the files (1 <= K <= N);\n"
    "                          Sequence names then number files by their place in the whole list\n"
    "  --skip-existing         pass over files whose Export outputs all exist (a rerun resumes)\n"
    "  --jobs N                run the batch in N processes at once, each a slice of the files\n"
    "  --report FILE           write what happened to each file as JSON (file, outputs, status,\n"
    "                          seconds)\n"
    "  --export-folder DIR     make the Export nodes loaded so far write their files into DIR\n"
    "                          (created when missing)\n"
    "  --settings-root DIR     the folder of settings, preferences and workspace scripts\n"
    "                          (taken before anything else is read)\n"
    "  --threads N             worker threads for pixel loops (default: the processor count)\n"
    "  --answer POLICY         how questions are answered: default (each question's own\n"
    "                          default button; the default policy), yes, no or cancel\n"
    "  --quiet                 show errors only\n"
    "  --version               print the version and exit\n"
    "  --help                  print this text and exit\n"
    "\n"
    "About the transformations (each prints and exits, reading no settings):\n"
    "  --list                  one line per transformation: the keyword (columns 1-22), \"built\"\n"
    "                          or \"not-built\" (columns 23-32), the display name (from 33)\n"
    "  --describe KEYWORD      what a transformation accepts, does and writes: its settings\n"
    "                          with their defaults and ranges, and its default command line\n"
    "  --reference             the reference page of every transformation, in markdown\n"
    "                          (docs/transformations.md)\n"
    "  --write-fuzz-seeds DIR  (for developers) write the command-line fuzz target's seeds\n"
    "\n"
    "Messages go to stderr as \"Error: ...\", \"Warning: ...\". The exit status is 0 when no\n"
    "error was shown (a batch file that failed is one), 1 otherwise, 2 for a usage error.\n";

// Options that take a value.
bool takes_value(const std::string& arg) {
    static const char* const with_value[] = {"--insert-snippet",
                                             "--save",
                                             "--save-script",
                                             "--save-workspace",
                                             "--threads",
                                             "--answer",
                                             "--settings-root",
                                             "--export-folder",
                                             "--apply",
                                             "--describe",
                                             "--write-fuzz-seeds",
                                             "--files-from",
                                             "--shard",
                                             "--report",
                                             "--jobs"};
    for (const char* option : with_value) {
        if (arg == option) return true;
    }
    return false;
}

// Nodes that failed while running report their own error text once: silent runs show nothing
// themselves. Failures that only follow from a failed input, and texts the run already showed
// (a missing file), are not repeated.
void report_node_errors(std::unordered_set<const Node*>& reported,
                        const ConsoleInteraction& console) {
    walk([&](Node* node) {
        if (node->error && !reported.count(node) && node->error_text != bad_input_image &&
            !node->error_text.empty() && !console.has_shown_error(node->error_text)) {
            show_error("%s: %s", node->caption, node->error_text);
        }
        if (node->error) reported.insert(node);
        return false;
    });
}

// The folder is made absolute, so that the workspace saved later still names it.
bool redirect_exports(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::absolute(folder, error);
    if (!error) std::filesystem::create_directories(path, error);
    if (error) {
        show_error("Cannot create folder: %s", folder);
        return true;
    }
    if (export_redirect_all(path.lexically_normal().string()) == 0) {
        show_warning("No Export node writes files");
    }
    return false;
}

bool save_current(const std::string& target) {
    Node* node = current_node();
    if (!node) {
        show_error("No image to save");
        return true;
    }
    const Node* shown = effective_image_node(node);
    if (!shown->image.has_pixels()) {
        // Name the node that failed, not those that only had no input because of it.
        while (shown->error_text == bad_input_image && shown->parent && !is_top_level(shown)) {
            shown = effective_image_node(shown->parent);
        }
        show_error("No image to save: %s failed", shown->caption);
        return true;
    }
    std::string path = target;
    std::int32_t format = save_format_of(path);
    if (check_save_extension(path, format)) return true;
    if (save_image_file(path, node, format, false)) return true;
    if (!quiet_console) std::fprintf(stdout, "%s\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    tune_process_memory(argv);
    init_locale_separators();
    ConsoleInteraction console;
    ScopedInteraction scope(console);

    std::vector<std::string> args(argv + 1, argv + argc);
    cli::WorkerOptions worker;
    // First pass: what must be known before anything is read.
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--version") {
            std::printf("%s\n", version_string().c_str());
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--list" || arg == "--reference") {
            std::fputs((arg == "--list" ? cli::list_text() : cli::reference_page()).c_str(),
                       stdout);
            return 0;
        }
        if (takes_value(arg)) {
            if (i + 1 >= args.size()) {
                show_error("Missing value after %s", arg);
                return 2;
            }
            const std::string& value = args[i + 1];
            if (arg == "--settings-root") set_settings_root(value);
            if (arg == "--describe") {
                std::string text;
                if (!cli::describe_keyword(value, text)) {
                    show_error("No such transformation: %s (tessaly-cli --list shows them all)",
                               value);
                    return 2;
                }
                std::fputs(text.c_str(), stdout);
                return 0;
            }
            if (arg == "--write-fuzz-seeds") return cli::write_fuzz_seeds(value) ? 1 : 0;
            if (arg == "--shard" &&
                cli::parse_shard(value, worker.share.shard, worker.share.shards)) {
                show_error("Illegal shard: %s (K/N with 1 <= K <= N)", value);
                return 2;
            }
            if (arg == "--jobs" && (parse_integer(value, worker.jobs) || worker.jobs < 1)) {
                show_error("Illegal job count: %s", value);
                return 2;
            }
            if (arg == "--files-from") worker.files_from = value;
            if (arg == "--report") worker.report = value;
            if (arg == "--apply" && value.find_first_not_of(" \t") == std::string::npos) {
                show_error("Missing command line after --apply");
                return 2;
            }
            ++i;
        } else if (arg == "-0") {
            worker.nul = true;
        } else if (arg == "--skip-existing") {
            worker.share.skip_existing = true;
        } else if (arg.rfind("--", 0) == 0 && arg != "--batch" && arg != "--test-mode" &&
                   arg != "--quiet") {
            show_error("Unknown option: %s", arg);
            std::fputs(usage, stderr);
            return 2;
        }
    }

    if (!worker.files_from.empty()) {
        std::vector<std::string> files;
        if (cli::read_file_list(worker.files_from, worker.nul, files)) return 2;
        worker.share.files = std::move(files);
    }
    if (worker.jobs > 1) {
        if (worker.files_from == "-") {
            // The workers cannot all read standard input: they get the list in a file.
            char name[] = "/tmp/tessaly-files-XXXXXX";
            const int fd = ::mkstemp(name);
            std::string list;
            for (const std::string& f : *worker.share.files) list += f + '\0';
            const bool written = fd >= 0 && ::write(fd, list.data(), list.size()) ==
                                                static_cast<ssize_t>(list.size());
            if (fd >= 0) ::close(fd);
            if (!written) {
                show_error("Cannot keep the file list for the workers");
                return 1;
            }
            for (std::size_t i = 0; i + 1 < args.size(); ++i) {
                if (args[i] == "--files-from") args[i + 1] = name;
            }
            args.push_back("-0");
            const int status = cli::run_jobs(args, worker);
            ::unlink(name);
            return status;
        }
        return cli::run_jobs(args, worker);
    }

    install_engine();
    create_program_folders();
    load_saved_state();

    std::unordered_set<const Node*> reported;
    bool test_mode = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::string value = takes_value(arg) ? args[++i] : std::string();
        if (arg == "--quiet") {
            console.set_quiet(true);
            quiet_console = true;
        } else if (arg == "--threads") {
            std::int32_t n = 0;
            if (parse_integer(value, n) || n < 1) {
                show_error("Illegal thread count: %s", value);
                return 2;
            }
            set_processor_count(n);
        } else if (arg == "--answer") {
            AnswerPolicy policy;
            if (parse_answer_policy(value, policy)) {
                show_error("Illegal answer policy: %s", value);
                return 2;
            }
            console.set_policy(policy);
        } else if (arg == "--settings-root" || arg == "--files-from" || arg == "--shard" ||
                   arg == "--jobs" || arg == "--report" || arg == "-0" ||
                   arg == "--skip-existing") {
            // Taken in the first pass.
        } else if (arg == "--apply") {
            (void)cli::apply_command_line(value);
        } else if (arg == "--insert-snippet") {
            (void)insert_snippet(value);
        } else if (arg == "--save") {
            (void)save_current(value);
        } else if (arg == "--save-script") {
            (void)save_script(current_node(), value, ImageNames::with_names);
        } else if (arg == "--save-workspace") {
            (void)save_workspace(value, ImageNames::with_names, false, true);
        } else if (arg == "--export-folder") {
            // Writing into the workspace's own folders instead would surprise.
            if (redirect_exports(value)) return 1;
        } else if (arg == "--test-mode") {
            test_mode = true;
        } else if (arg == "--batch") {
            if (!worker.narrows() || !share_batch(worker.share)) {
                (void)run_batch_over_loaded(test_mode ? 2 : 1);
                if (!worker.report.empty()) (void)cli::write_report(worker.report, batch_results());
            }
            test_mode = false;
        } else {
            (void)process_command_token(arg);
            if (!tree_root().children.empty()) autosave_workspace();
        }
        report_node_errors(reported, console);
    }
    finish_session();
    close_all_images();
    return console.error_count() == 0 ? 0 : 1;
}
