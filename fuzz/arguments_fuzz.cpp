// Command lines and text files come from users and other programs: splitting, the key readers,
// the version check and the text decoder must take any bytes without crashing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/arguments.h"
#include "core/format.h"
#include "core/text_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessaly::fuzz::silence_messages();
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string text;
    if (tessaly::decode_text(bytes, text)) return 0;
    tessaly::PlainSeparators plain;
    tessaly::LineReader reader;
    reader.open_text(text);
    tessaly::ArgumentList line;
    while (reader.next(line)) {
        std::int32_t i = 0;
        double d = 0;
        std::uint8_t c1 = 0, c2 = 0, c3 = 0;
        bool none = false;
        std::string s;
        std::size_t length = 0;
        for (int k = 0; k < line.count(); ++k) {
            std::string key(line[k]);
            (void)tessaly::read_integer(line, key, i);
            (void)tessaly::read_real(line, key, d);
            (void)tessaly::read_colour(line, key, c1, c2, c3);
            (void)tessaly::read_optional_colour_and_reals(line, key, c1, c2, c3, none, d, d);
            (void)tessaly::read_string(line, key, s, 7);
            (void)tessaly::value_length(line, key, length);
        }
        if (line.count() > 1) (void)tessaly::version_check(line[1], 1.0, line[0]);
        (void)tessaly::formatted(line[0], i, d, s);  // a hostile format string
    }
    return 0;
}
