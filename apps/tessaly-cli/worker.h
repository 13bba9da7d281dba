// tessaly-cli as one worker of a larger batch: the files it takes (--files-from, --shard), what it
// leaves (--skip-existing), how many it runs at once (--jobs) and what it reports (--report).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch.h"

namespace tessaly::cli {

struct WorkerOptions {
    BatchShare share;
    std::string files_from;  // "" none; "-" standard input
    bool nul = false;        // -0: the list is NUL-separated
    std::string report;      // "" none
    std::int32_t jobs = 1;

    bool narrows() const { return !files_from.empty() || share.shards > 0 || share.skip_existing; }
};

// "K/N" with 1 <= K <= N; true when it is not.
bool parse_shard(std::string_view text, std::int32_t& shard, std::int32_t& shards);

// The paths of a list file (one a line, or NUL-separated); empty entries are passed over. true
// (after the message) when it cannot be read or names no file.
bool read_file_list(const std::string& path, bool nul, std::vector<std::string>& files);

// The results of a batch as JSON: an array of {"file", "outputs", "status", "seconds"}, one
// object a line. true (after the message) when it cannot be written.
bool write_report(const std::string& path, const std::vector<BatchFileResult>& results);

// Runs the same command in `jobs` processes of this program, each with its own slice of the
// share (slices of slices, so the union is the share), and merges their reports. The exit status
// is the worst of theirs.
int run_jobs(const std::vector<std::string>& args, const WorkerOptions& options);

}  // namespace tessaly::cli
