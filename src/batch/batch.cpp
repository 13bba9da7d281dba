#include "batch/batch.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <utility>
#include <vector>

#include "batch/batch_display.h"
#include "batch/export.h"
#include "color/color_open.h"
#include "core/arguments.h"
#include "core/format.h"
#include "core/interaction.h"
#include "fileio/file_open.h"
#include "fileio/image_file.h"
#include "framework/transformation.h"
#include "tree/run_node.h"
#include "tree/tree.h"

namespace tessaly {

namespace {

constexpr std::size_t current_file_characters = 80;

std::int32_t export_count = 0;
bool display_open = false;
// The node whose last batch was terminated and the list index it did not finish: its next batch
// resumes there. Serial numbers are never reused, so a closed node cannot be mistaken.
std::int32_t resume_serial = -1;
std::int32_t resume_index = 0;

// A worker's share (share_batch): Sequence numbers by position, the position of each list entry
// in the whole list (none: its index), and whether finished files are skipped.
bool numbering_by_position = false;
std::vector<std::int32_t> list_positions;
bool skipping_existing = false;
std::int32_t current_position = 0;

std::vector<BatchFileResult> results;
BatchFileResult* current_result = nullptr;

bool names_file_open(const Node* node) {
    if (!node || !node->command_line) return false;
    ArgumentList args = split(*node->command_line);
    return args.count() > 0 && args[0] == "file_open";
}

// The node's File Open settings; false when it is no File Open node or its line is broken.
bool read_file_open(const Node* node, FileOpenSettings& settings) {
    return names_file_open(node) && !file_open_module.parse(split(*node->command_line), settings);
}

std::vector<int> selected_indexes(const FileOpenSettings& s, int from = 0) {
    std::vector<int> out;
    for (int i = from; i < static_cast<int>(s.files.size()); ++i) {
        if (s.files[static_cast<std::size_t>(i)].selected) out.push_back(i);
    }
    return out;
}

void write_command_line(Node* node, const FileOpenSettings& s) {
    node->command_line = file_open_module.format(s);
}

// Makes entry index current and reads its file into the node: true (reported) when the file is
// missing or cannot be read.
bool load_entry(Node* node, FileOpenSettings& s, int index) {
    s.current = index;
    FileOpenEntry& entry = s.files[static_cast<std::size_t>(index)];
    write_command_line(node, s);
    node->name = entry.path;
    node->associated_image_pathname.clear();
    node->associated_original_pathname.clear();
    std::error_code ec;
    if (!std::filesystem::exists(entry.path, ec)) {
        show_error("File does not exist: %s", entry.path);
        (void)fail_node(node, formatted("File does not exist: %s", entry.path));
        return true;
    }
    if (read_image_file(entry.path, node->image, node->transparency)) {
        show_error("Error reading file: %s", entry.path);
        image_free(node->transparency);
        (void)fail_node(node, formatted("Error reading file: %s", entry.path));
        return true;
    }
    switch (color_manage_on_open(node, false, has_raw_extension(entry.path))) {
        case color_open_cancelled:
            show_warning("Profile conversion canceled - original file profile is unchanged");
            (void)fail_node(node, "Profile conversion canceled");
            return true;
        case color_open_failed:
            show_error("Error converting to working color space");
            (void)fail_node(node, "Error converting to working color space");
            return true;
        default:
            break;
    }
    // The time of what was read, so that re-running the node later keeps this picture.
    entry.time = file_time_text(entry.path);
    write_command_line(node, s);
    node->error = false;
    node->error_text.clear();
    return false;
}

// Notices nodes that end their run with an error while it watches.
class FailureWatch : public TreeObserver {
  public:
    FailureWatch() { add_tree_observer(this); }
    ~FailureWatch() override { remove_tree_observer(this); }
    FailureWatch(const FailureWatch&) = delete;
    FailureWatch& operator=(const FailureWatch&) = delete;

    void node_running(Node* node, bool running) override {
        if (!running && node->error) failed = true;
    }
    bool failed = false;
};

// A re-run fails on a cycle or when a node fails; nodes stopped by a termination are no failure.
bool rerun_after(Node* node) {
    FailureWatch watch;
    const bool cycle = rerun_downstream(node, true);
    return cycle || (watch.failed && !batch_abort());
}

// Re-runs everything downstream of several nodes at once, so that a node using more than one of
// them runs once, after all of them.
bool rerun_after_all(const std::vector<Node*>& starts) {
    if (check_cycles()) return true;
    // The relation marks show the Image Browser's selection; borrow them and put them back.
    std::vector<std::pair<Node*, std::int32_t>> marks;
    for (Node* n : all_nodes()) marks.emplace_back(n, n->relation);
    clear_relation_marks();
    for (Node* n : starts) mark_downstream(n);
    for (Node* n : starts) n->relation = relation_none;  // already read
    FailureWatch watch;
    const bool cycle = rerun_marked();
    for (auto& [n, relation] : marks) n->relation = relation;
    return cycle || (watch.failed && !batch_abort());
}

// The File Open list a share narrows: the first top level one.
Node* first_list() {
    for (Node* n : tree_root().children) {
        if (names_file_open(n)) return n;
    }
    return nullptr;
}

// Whether every file the Export nodes would write for the batch file at position exists, so
// that a rerun can pass it by. No: when a name is only known once the picture is made.
bool outputs_exist(const std::string& file, std::int32_t position) {
    bool any = false;
    for (Node* n : all_nodes()) {
        if (!n->command_line) continue;
        const ArgumentList args = split(*n->command_line);
        ExportSettings e;
        if (args.count() == 0 || args[0] != "export" || export_module.parse(args, e)) continue;
        if (e.destination != export_to_file) continue;
        const std::optional<std::string> path = export_predicted_path(e, file, position);
        std::error_code ec;
        if (!path || !std::filesystem::exists(*path, ec)) return false;
        any = true;
    }
    return any;
}

void start_batch(std::int32_t mode, int steps) {
    set_batch_mode(mode);
    set_batch_stop_check(batch_should_stop);
    batch_display().enable_browser(false);
    export_count = 0;
    results.clear();
    current_result = nullptr;
    batch_display().open(steps);
    display_open = true;
    set_batch_abort(false);
}

BatchOutcome finish_batch() {
    batch_display().enable_browser(true);
    batch_display().close();
    display_open = false;
    const bool terminated = batch_abort();
    interaction().message(MessageKind::information, "Status",
                          terminated ? "Batch Terminated" : "Batch Completed");
    set_batch_mode(batch_none);
    set_batch_stop_check(nullptr);
    if (Node* current = current_node(); current && current->dialog) current->dialog->cancel();
    refresh_display();
    return terminated ? BatchOutcome::terminated : BatchOutcome::completed;
}

BatchOutcome single_batch(Node* node, FileOpenSettings& s, std::int32_t mode) {
    if (selected_indexes(s).empty()) {
        show_error("No files selected");
        return BatchOutcome::not_run;
    }
    const int count = static_cast<int>(s.files.size());
    int start = 0;
    if (resume_serial == node->serial && resume_index < count) start = resume_index;
    resume_serial = -1;

    write_command_line(node, s);
    start_batch(mode, static_cast<int>(selected_indexes(s, start).size()));
    BatchDisplay& display = batch_display();
    int last = s.current;
    int done = 0;
    int index = start;
    for (; index < count; ++index) {
        if (batch_abort()) break;
        if (!s.files[static_cast<std::size_t>(index)].selected) continue;
        const std::string path = s.files[static_cast<std::size_t>(index)].path;
        current_position = static_cast<std::size_t>(index) < list_positions.size()
                               ? list_positions[static_cast<std::size_t>(index)]
                               : index;
        const auto started = std::chrono::steady_clock::now();
        results.push_back({path, {}, "failed", 0.0});
        current_result = &results.back();
        set_current_file(path);
        if (skipping_existing && outputs_exist(path, current_position)) {
            current_result->status = "skipped";
        } else if (!load_entry(node, s, index)) {
            show_batch_image("", node->image);
            if (batch_should_stop()) break;
            node_changed(node, true);
            if (rerun_after(node)) {
                show_error("Error processing image: %s", path);
            } else {
                if (batch_abort() || batch_should_stop()) break;
                display.file_list_changed(node);
                last = index;
                current_result->status = "done";
            }
        }
        current_result->seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        current_result = nullptr;
        display.progress(++done);
    }
    // A file the batch stopped in is not reported as processed.
    if (current_result) {
        results.pop_back();
        current_result = nullptr;
    }
    if (batch_abort() && !selected_indexes(s, index).empty()) {
        resume_serial = node->serial;
        resume_index = index;
    }
    s.current = last;
    write_command_line(node, s);
    return finish_batch();
}

struct List {
    Node* node;
    FileOpenSettings settings;
    std::vector<int> selected;
    int original_current;

    // The entry of a step; a list that has run out shows its first file.
    int entry_of(int step) const {
        return step < static_cast<int>(selected.size()) ? selected[static_cast<std::size_t>(step)]
                                                        : 0;
    }
};

// Every top level File Open node holding two or more files, in order.
std::vector<List> multiple_lists() {
    std::vector<List> lists;
    for (Node* n : tree_root().children) {
        FileOpenSettings s;
        if (!read_file_open(n, s) || s.files.size() < 2) continue;
        std::vector<int> selected = selected_indexes(s);
        const int current = s.current;
        lists.push_back({n, std::move(s), std::move(selected), current});
    }
    return lists;
}

BatchOutcome multiple_batch(Node* node, const FileOpenSettings& own, std::int32_t mode) {
    if (selected_indexes(own).empty()) {
        show_error("No files selected");
        return BatchOutcome::not_run;
    }
    std::vector<List> lists = multiple_lists();
    std::size_t steps = lists.front().selected.size();
    bool uneven = false;
    for (const List& l : lists) {
        if (l.selected.size() != steps) uneven = true;
        steps = std::min(steps, l.selected.size());
    }
    if (uneven &&
        interaction().ask("Alert",
                          "Some file lists have more selected files than "
                          "others.\nProcessing will stop when the shortest list runs out.",
                          Buttons::ok_cancel, Answer::ok) != Answer::ok) {
        return BatchOutcome::not_run;
    }
    resume_serial = -1;
    const List* started = nullptr;
    for (const List& l : lists) {
        if (l.node == node) started = &l;
    }
    std::vector<Node*> nodes;
    for (const List& l : lists) nodes.push_back(l.node);

    start_batch(mode, static_cast<int>(steps));
    BatchDisplay& display = batch_display();
    int last_step = -1;
    for (int step = 0; step < static_cast<int>(steps); ++step) {
        const std::string shown =
            started
                ? started->settings.files[static_cast<std::size_t>(started->entry_of(step))].path
                : own.files[static_cast<std::size_t>(own.current)].path;
        set_current_file(shown);
        bool failed = false;
        for (List& l : lists) {
            if (failed || batch_should_stop()) break;
            failed = load_entry(l.node, l.settings, l.entry_of(step));
        }
        if (batch_abort()) break;
        // A step with a missing picture is skipped rather than run on a mix of old and new ones.
        if (!failed) {
            show_batch_image("", node->image);
            if (batch_should_stop()) break;
            for (Node* n : nodes) node_changed(n, true);
            if (rerun_after_all(nodes)) {
                show_error("Error processing images: %s", shown);
            } else {
                for (Node* n : nodes) display.file_list_changed(n);
                refresh_display();
                if (batch_should_stop()) break;
                last_step = step;
            }
        }
        display.progress(step + 1);
    }
    for (List& l : lists) {
        l.settings.current = last_step >= 0 ? l.entry_of(last_step) : l.original_current;
        write_command_line(l.node, l.settings);
    }
    return finish_batch();
}

}  // namespace

std::int32_t batch_export_count() {
    return export_count;
}

void batch_export_written(const std::string& path) {
    ++export_count;
    if (current_result && !path.empty()) current_result->outputs.push_back(path);
}

std::int32_t batch_sequence_number() {
    return numbering_by_position ? current_position : export_count;
}

std::pair<std::size_t, std::size_t> shard_slice(std::size_t count, std::int32_t shard,
                                                std::int32_t shards) {
    if (shards <= 0 || shard < 1 || shard > shards) return {0, count};
    const auto n = static_cast<std::uint64_t>(shards);
    const auto k = static_cast<std::uint64_t>(shard);
    return {static_cast<std::size_t>(count * (k - 1) / n), static_cast<std::size_t>(count * k / n)};
}

bool share_batch(const BatchShare& share) {
    Node* node = first_list();
    FileOpenSettings s;
    if (!node || !read_file_open(node, s)) {
        show_error("No File Open list to take the files");
        return true;
    }
    list_positions.clear();
    if (share.files) {
        const auto [first, last] = shard_slice(share.files->size(), share.shard, share.shards);
        if (last - first > static_cast<std::size_t>(file_open_max_files)) {
            show_error("Too many files");
            return true;
        }
        s.files.clear();
        for (std::size_t i = first; i < last; ++i) {
            s.files.push_back({(*share.files)[i], std::string(), true});
            list_positions.push_back(static_cast<std::int32_t>(i));
        }
    } else if (share.shards > 0) {
        const std::vector<int> selected = selected_indexes(s);
        const auto [first, last] = shard_slice(selected.size(), share.shard, share.shards);
        list_positions.assign(s.files.size(), 0);
        for (std::size_t rank = 0; rank < selected.size(); ++rank) {
            const auto index = static_cast<std::size_t>(selected[rank]);
            list_positions[index] = static_cast<std::int32_t>(rank);
            s.files[index].selected = rank >= first && rank < last;
        }
    }
    s.current = 0;
    write_command_line(node, s);
    numbering_by_position = share.shards > 0;
    skipping_existing = share.skip_existing;
    return false;
}

const std::vector<BatchFileResult>& batch_results() {
    return results;
}

bool batch_should_stop() {
    if (display_open && batch_display().pump()) set_batch_abort(true);
    return batch_abort();
}

void show_batch_image(std::string_view label, const Image& image) {
    BatchDisplay& display = batch_display();
    display.status(label);
    if (image.has_pixels()) display.thumbnail(image);
    if (batch_mode() == batch_test &&
        interaction().ask("File Open", "Press OK to continue, Cancel to stop", Buttons::ok_cancel,
                          Answer::ok) != Answer::ok) {
        set_batch_abort(true);
    }
}

void set_current_file(const std::string& path) {
    BatchDisplay& display = batch_display();
    display.current_file(
        formatted("Current file: %s", shorten_path(path, current_file_characters)));
    display.status("Reading file");
}

std::string shorten_path(std::string_view path, std::size_t limit) {
    if (character_count(path) <= limit) return std::string(path);
    if (limit <= 3) return std::string(limit, '.');
    const std::size_t keep = limit - 3;
    std::size_t pos = path.size();
    for (std::size_t kept = 0; pos > 0 && kept < keep;) {
        --pos;
        if ((static_cast<unsigned char>(path[pos]) & 0xC0) != 0x80) ++kept;
    }
    return "..." + std::string(path.substr(pos));
}

BatchOutcome run_batch(Node* node, std::int32_t mode) {
    if (mode != batch_run && mode != batch_test) {
        show_error("Internal error: illegal batch mode %d", mode);
        return BatchOutcome::not_run;
    }
    if (batch_mode() != batch_none) {
        show_error("Internal error: a batch is already running");
        return BatchOutcome::not_run;
    }
    FileOpenSettings s;
    if (!read_file_open(node, s)) {
        show_error(names_file_open(node) ? "Illegal File Open command line"
                                         : "Internal error: not a File Open node");
        return BatchOutcome::not_run;
    }
    int lists = 0;
    for (Node* n : tree_root().children) {
        FileOpenSettings other;
        if (read_file_open(n, other) && other.files.size() >= 2) ++lists;
    }
    const BatchOutcome outcome =
        s.multiple && lists >= 2 ? multiple_batch(node, s, mode) : single_batch(node, s, mode);
    if (outcome == BatchOutcome::not_run) return outcome;
    set_batch_abort(false);
    batch_display().file_list_changed(node);
    node_changed(node, true);
    return outcome;
}

BatchOutcome run_batch_over_loaded(std::int32_t mode) {
    for (Node* n : tree_root().children) {
        FileOpenSettings s;
        if (read_file_open(n, s) && !selected_indexes(s).empty()) return run_batch(n, mode);
    }
    show_error("No files selected");
    return BatchOutcome::not_run;
}

}  // namespace tessaly
