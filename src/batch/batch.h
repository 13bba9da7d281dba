// Batch processing: replaying an image tree once for every selected file of a File Open node's
// list. Single Batch walks one list; Multiple Batch walks every top level File Open list in step,
// so that the i-th selected files of all lists are processed together. Run mode lets Export
// nodes write; test mode shows each file and asks whether to go on.
//
// One batch runs at a time, on the calling thread. Its state is process-wide: the mode and the
// terminate flag are the framework's batch_mode() and batch_abort() (the flag also stops running
// pixel loops); the export sequence counter and the progress display live here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/image.h"
#include "framework/node.h"

namespace tessaly {

enum : std::int32_t { batch_none = 0, batch_run = 1, batch_test = 2 };

// --- the process-wide state ---

// Files written by Export in this batch. Reset when the progress display opens.
std::int32_t batch_export_count();
// Export tells the batch each file it wrote: counted, and listed with the file being processed.
void batch_export_written(const std::string& path = {});

// The number Export's Sequence naming gives the next file (its name ends in this number + 1):
// the export count, or, for a worker of a distributed batch, the position of the file being
// processed in the whole list, so that workers never hand out one name twice.
std::int32_t batch_sequence_number();

// Lets the progress display dispatch its messages (its Terminate button), then returns the
// terminate flag. Checked between the steps of a batch and before each node of a re-run.
bool batch_should_stop();

// The status line shows the label and the thumbnail the image; in test mode the person is then
// asked whether to go on, and Cancel terminates the batch.
void show_batch_image(std::string_view label, const Image& image);

// "Current file: %s" with the name shortened to 80 characters, and the status "Reading file".
void set_current_file(const std::string& path);

// The path itself when it has at most limit characters, else "..." and its last characters, so
// that the file name stays visible.
std::string shorten_path(std::string_view path, std::size_t limit);

// --- running ---

enum class BatchOutcome { not_run, completed, terminated };

// Runs the batch of a File Open node in mode batch_run or batch_test: Multiple Batch when the
// node's "Multiple Batch" choice is set and at least two top level File Open nodes hold two or
// more files, else Single Batch. not_run when nothing was processed because nothing could start
// (no files selected, not a File Open node, the question about uneven lists cancelled).
//
// Afterwards the node's current file is the last one fully processed, so that its command line
// agrees with the picture the tree shows. A terminated batch remembers the file it did not
// finish, and the next batch of the same node resumes there; any other batch starts with the
// list's first file.
[[nodiscard]] BatchOutcome run_batch(Node* file_open_node, std::int32_t mode);

// The batch of what is loaded, for the command-line program: the first top level File Open node
// with a selected file runs, as if its Run button had been pressed (with "Multiple Batch" set on
// it, that covers every list). Further lists are not walked one after another, since a later
// list would re-run trees that take the earlier lists' images as inputs with stale pictures.
// "No files selected" and not_run when no list has a selected file.
[[nodiscard]] BatchOutcome run_batch_over_loaded(std::int32_t mode);

// --- a worker's share of a larger batch (tessaly-cli on many machines) ---

// How a worker narrows the first top level File Open list before its batch. With `files` the
// list becomes those files (all selected) instead of its own; with a shard, only the shard-th
// (1-based) of `shards` equal, contiguous slices of the selected files stays selected, and
// Sequence names number each file by its position in the whole list. With skip_existing a file
// whose Export outputs can be named in advance and all exist is not processed again.
struct BatchShare {
    std::optional<std::vector<std::string>> files;
    std::int32_t shard = 0, shards = 0;
    bool skip_existing = false;
};

// The slice [first, last) of count items that shard (1-based) of shards takes.
std::pair<std::size_t, std::size_t> shard_slice(std::size_t count, std::int32_t shard,
                                                std::int32_t shards);

// Applies a share to the loaded lists; true (after the message) when there is no File Open list
// to apply it to. Stays in force for the batches that follow.
[[nodiscard]] bool share_batch(const BatchShare& share);

// What happened to each file of the last batch, in order.
struct BatchFileResult {
    std::string file;
    std::vector<std::string> outputs;  // the files Export wrote for it
    std::string status;                // "done", "failed" or "skipped"
    double seconds = 0.0;
};
const std::vector<BatchFileResult>& batch_results();

}  // namespace tessaly
