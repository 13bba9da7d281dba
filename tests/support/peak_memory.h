// How much memory a piece of work makes resident, measured in a child process so that the
// test process itself is not touched by it.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

namespace tessaly::testing {

// Under the address sanitizer a large block, even one never touched, makes an eighth of its
// size resident as shadow memory: memory checks of claimed sizes allow for it.
#if defined(__SANITIZE_ADDRESS__)
constexpr int sanitizer_shadow_mib = 200;
#else
constexpr int sanitizer_shadow_mib = 0;
#endif

// How far the resident memory of a child process running f rises above its start, in MiB
// (at most 255).
inline int peak_growth_mib(const std::function<void()>& f) {
    const pid_t child = ::fork();
    if (child == 0) {
        auto status_kib = [](const std::string& key) {
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
            }
            return 0L;
        };
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
        const long start = status_kib("VmRSS:");
        f();
        ::_exit(static_cast<int>(std::clamp((status_kib("VmHWM:") - start) / 1024, 0L, 255L)));
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 255;
    return WEXITSTATUS(status);
}

}  // namespace tessaly::testing
