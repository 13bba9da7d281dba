// What the comparison programs share: timing in turns, running a peer's command, and taking a
// libvips result into memory.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <vips/vips.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace tessaly::bench {

inline double elapsed_ms(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

// Each entry runs once to warm up (first touch of pages, lazy initialisation, files in the page
// cache), then the entries take turns, round after round, so that a change of the machine's
// load falls on all of them alike. Medians, in milliseconds.
inline std::vector<double> median_ms(const std::vector<std::function<void()>>& entries, int runs) {
    for (const auto& run : entries) run();
    std::vector<std::vector<double>> times(entries.size());
    for (int i = 0; i < runs; ++i) {
        for (std::size_t e = 0; e < entries.size(); ++e) times[e].push_back(elapsed_ms(entries[e]));
    }
    std::vector<double> medians;
    for (std::vector<double>& t : times) {
        std::sort(t.begin(), t.end());
        medians.push_back(t[t.size() / 2]);
    }
    return medians;
}

inline double median_ms(const std::function<void()>& run, int runs) {
    return median_ms(std::vector<std::function<void()>>{run}, runs)[0];
}

// Reports a libvips failure with its error text and ends the program.
[[noreturn]] inline void vips_fail(const char* program, const std::string& what) {
    std::fprintf(stderr, "%s: %s failed: %s\n", program, what.c_str(), vips_error_buffer());
    std::exit(1);
}

// Computes a libvips image into memory and releases it; the pixels go to out.
inline bool vips_pixels(VipsImage* image, std::vector<std::uint8_t>& out) {
    std::size_t size = 0;
    void* pixels = vips_image_write_to_memory(image, &size);
    g_object_unref(image);
    if (!pixels) return true;
    out.assign(static_cast<std::uint8_t*>(pixels), static_cast<std::uint8_t*>(pixels) + size);
    g_free(pixels);
    return false;
}

// Runs a command (found on PATH) with its output and messages dropped and waits for it; true when
// it failed.
inline bool run_command(const std::vector<std::string>& args) {
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 1, 0);
    pid_t pid = 0;
    int status = 0;
    const bool started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!started) return true;
    return waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0;
}

}  // namespace tessaly::bench
