#include "core/process_memory.h"

#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace tessaly {

void tune_process_memory([[maybe_unused]] char** argv) {
#ifdef __GLIBC__
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (!tunables || !std::strstr(tunables, "glibc.malloc.hugetlb")) {
        std::ifstream enabled("/sys/kernel/mm/transparent_hugepage/enabled");
        std::string modes;
        if (std::getline(enabled, modes) && modes.find("[madvise]") != std::string::npos) {
            const std::string value =
                (tunables && *tunables ? std::string(tunables) + ":" : std::string()) +
                "glibc.malloc.hugetlb=1";
            if (::setenv("GLIBC_TUNABLES", value.c_str(), 1) == 0) {
                ::execv("/proc/self/exe", argv);
            }
        }
    }
    // Pictures come and go in 8 MB chunks; kept, they are reused, which makes a batch about a
    // quarter faster.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

}  // namespace tessaly
