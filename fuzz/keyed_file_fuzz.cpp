// Preferences, session state and theme files are edited by hand and survive crashes half
// written: any bytes must read without harm, and what was read must write and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "fuzz_support.h"
#include "workspace/preferences.h"
#include "workspace/session_state.h"
#include "workspace/theme.h"

using namespace tessaly;

namespace {

template <typename Record, typename Read, typename Write, typename Lines>
void round_trip(const std::string& input, const std::string& output, Read read, Write write,
                Lines lines) {
    Record first;
    read(input, first);
    if (write(output, first)) std::abort();
    Record second;
    read(output, second);
    const std::vector<std::string> a = lines(first), b = lines(second);
    if (a != b) {
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            if (a[i] != b[i])
                std::fprintf(stderr, "read: %s\nagain: %s\n", a[i].c_str(), b[i].c_str());
        }
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_messages();
    if (size == 0) return 0;
    const std::string folder = fuzz::scratch_folder();
    const std::string input = folder + "/in.txt", output = folder + "/out.txt";
    // The first byte picks the kind of file, the rest is its content.
    if (write_file_atomic(input,
                          std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1))) {
        std::abort();
    }
    switch (data[0] % 3) {
        case 0: {
            struct Both {
                Preferences preferences;
                SaveOptions options;
            };
            round_trip<Both>(
                input, output,
                [](const std::string& p, Both& b) {
                    (void)read_preferences(p, b.preferences, b.options);
                },
                [](const std::string& p, const Both& b) {
                    return write_preferences(p, b.preferences, b.options);
                },
                [](const Both& b) { return preferences_lines(b.preferences, b.options); });
            break;
        }
        case 1:
            round_trip<SessionState>(
                input, output,
                [](const std::string& p, SessionState& s) { (void)read_session_state(p, s); },
                [](const std::string& p, const SessionState& s) {
                    return write_session_state(p, s);
                },
                [](const SessionState& s) { return session_state_lines(s); });
            break;
        default:
            round_trip<Theme>(
                input, output, [](const std::string& p, Theme& t) { (void)read_theme(p, t); },
                [](const std::string& p, const Theme& t) { return write_theme(p, t); },
                [](const Theme& t) { return theme_lines(t); });
            break;
    }
    return 0;
}
