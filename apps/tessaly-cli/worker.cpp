#include "worker.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <sstream>

#include "core/arguments.h"
#include "core/format.h"
#include "core/text_file.h"

extern char** environ;

namespace tessaly::cli {

namespace {

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

bool parse_shard(std::string_view text, std::int32_t& shard, std::int32_t& shards) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) return true;
    return parse_integer(text.substr(0, slash), shard) ||
           parse_integer(text.substr(slash + 1), shards) || shards < 1 || shard < 1 ||
           shard > shards;
}

bool read_file_list(const std::string& path, bool nul, std::vector<std::string>& files) {
    std::string text;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else if (read_file_bytes(path, text)) {
        show_error("Cannot read file list: %s", path);
        return true;
    }
    files.clear();
    std::size_t start = 0;
    const char separator = nul ? '\0' : '\n';
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        std::string entry = text.substr(start, end - start);
        if (!nul && !entry.empty() && entry.back() == '\r') entry.pop_back();
        if (!entry.empty()) files.push_back(std::move(entry));
        start = end + 1;
    }
    if (files.empty()) {
        show_error("The file list names no file: %s", path);
        return true;
    }
    return false;
}

bool write_report(const std::string& path, const std::vector<BatchFileResult>& results) {
    std::string text = "[\n";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const BatchFileResult& r = results[i];
        text += "{\"file\": " + json_string(r.file) + ", \"outputs\": [";
        for (std::size_t o = 0; o < r.outputs.size(); ++o) {
            text += (o ? ", " : "") + json_string(r.outputs[o]);
        }
        // JSON numbers in C's own notation (our formatter writes the program's texts).
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
        text += "], \"status\": " + json_string(r.status) + ", \"seconds\": " + seconds + "}" +
                (i + 1 < results.size() ? ",\n" : "\n");
    }
    text += "]\n";
    if (write_file_atomic(path, text)) {
        show_error("Cannot write report: %s", path);
        return true;
    }
    return false;
}

int run_jobs(const std::vector<std::string>& args, const WorkerOptions& options) {
    const std::int32_t jobs = options.jobs;
    // This process's share is shard k of n (all of it when unsharded); job j takes slice
    // (k - 1) * jobs + j of n * jobs, which together are exactly slice k of n.
    const std::int32_t k = options.share.shards > 0 ? options.share.shard : 1;
    const std::int32_t n = options.share.shards > 0 ? options.share.shards : 1;
    std::vector<pid_t> children;
    std::vector<std::string> parts;
    for (std::int32_t j = 1; j <= jobs; ++j) {
        std::vector<std::string> child = {"/proc/self/exe"};
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--jobs" || args[i] == "--shard" || args[i] == "--report") {
                ++i;
                continue;
            }
            child.push_back(args[i]);
        }
        // Options are taken before the files and commands they apply to.
        const std::vector<std::string> own = {"--shard",
                                              formatted("%d/%d", (k - 1) * jobs + j, n * jobs)};
        child.insert(child.begin() + 1, own.begin(), own.end());
        if (!options.report.empty()) {
            parts.push_back(formatted("%s.part%d", options.report, j));
            child.insert(child.begin() + 1, {"--report", parts.back()});
        }
        std::vector<char*> argv;
        for (std::string& a : child) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ) != 0) {
            show_error("Cannot start worker %d", j);
            continue;
        }
        children.push_back(pid);
    }
    int worst = children.size() == static_cast<std::size_t>(jobs) ? 0 : 1;
    for (pid_t pid : children) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        worst = std::max(worst, code);
    }
    if (!options.report.empty()) {
        // Each part holds one object a line: the merged report keeps the slices' order.
        std::vector<std::string> entries;
        for (const std::string& part : parts) {
            std::string text;
            if (read_file_bytes(part, text)) {
                show_error("A worker wrote no report: %s", part);
                worst = std::max(worst, 1);
                continue;
            }
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("{", 0) != 0) continue;
                if (line.back() == ',') line.pop_back();
                entries.push_back(line);
            }
            std::remove(part.c_str());
        }
        std::string text = "[\n";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            text += entries[i] + (i + 1 < entries.size() ? ",\n" : "\n");
        }
        text += "]\n";
        if (write_file_atomic(options.report, text)) {
            show_error("Cannot write report: %s", options.report);
            worst = std::max(worst, 1);
        }
    }
    return worst;
}

}  // namespace tessaly::cli
