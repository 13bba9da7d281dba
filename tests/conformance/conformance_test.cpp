// Every built transformation module against what the framework and the run contract promise,
// whatever the module: its declaration (defaults, ranges, rules), the image types it accepts,
// clean failures, the amount and its mask, and a recorded checksum of its default result on a
// real photograph. A module added later is covered without touching this file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/image_convert.h"
#include "core/runner.h"
#include "fileio/image_file.h"
#include "fileio/image_write.h"
#include "fileio/save.h"
#include "framework/module.h"
#include "framework/registry.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {

// Test names and failures name the module, not its address.
void PrintTo(const TransformationModule* m, std::ostream* os) {
    *os << m->keyword();
}

namespace {

using testing::AllocationFailureScope;

// --- pictures --------------------------------------------------------------------------------

constexpr std::uint32_t test_width = 37, test_height = 29;

std::size_t pixel_bytes_of_row(const Image& im) {
    if (im.type == image_binary) return (im.width + 7) / 8;
    return static_cast<std::size_t>(image_pixel_bytes(im.type)) * im.width;
}

// A picture of any type with a repeatable busy pattern (floats between 0 and 1).
Image pattern_image(std::uint32_t type, std::uint32_t width = test_width,
                    std::uint32_t height = test_height) {
    Image im;
    EXPECT_FALSE(image_alloc(im, type, width, height, 150.0));
    if (type == image_float_gray || type == image_float_color) {
        std::uint32_t state = 7;
        for (std::uint32_t r = 0; r < height; ++r) {
            auto* row = reinterpret_cast<float*>(im.rows[r]);
            for (std::uint32_t i = 0; i < width * (type == image_float_gray ? 1 : 3); ++i) {
                state = state * 1103515245u + 12345u;
                row[i] = static_cast<float>(state >> 8) / 16777216.0f;
            }
        }
    } else {
        testing::fill_pattern(im, static_cast<std::uint32_t>(pixel_bytes_of_row(im)), type);
    }
    return im;
}

// 8-bit gray: black left half, white right half.
Image half_mask(std::uint32_t width, std::uint32_t height) {
    Image mask;
    EXPECT_FALSE(image_alloc(mask, image_gray8, width, height, 150.0));
    for (std::uint32_t r = 0; r < height; ++r) {
        for (std::uint32_t x = width / 2; x < width; ++x) mask.rows[r][x] = 255;
    }
    return mask;
}

// Pixel bytes of columns x0 .. x1 - 1 (all of them by default) equal, padding ignored.
::testing::AssertionResult same_pixels(const Image& a, const Image& b, std::uint32_t x0 = 0,
                                       std::uint32_t x1 = UINT32_MAX) {
    if (a.type != b.type || a.width != b.width || a.height != b.height) {
        return ::testing::AssertionFailure()
               << "type " << a.type << " " << a.width << "x" << a.height << " against type "
               << b.type << " " << b.width << "x" << b.height;
    }
    if (!a.has_pixels() || !b.has_pixels()) {
        return ::testing::AssertionFailure() << "no pixels";
    }
    const std::size_t bpp = image_pixel_bytes(a.type);
    const std::size_t from = bpp * x0;
    const std::size_t to = x1 >= a.width ? pixel_bytes_of_row(a) : bpp * x1;
    for (std::uint32_t r = 0; r < a.height; ++r) {
        for (std::size_t i = from; i < to; ++i) {
            if (a.rows[r][i] != b.rows[r][i]) {
                return ::testing::AssertionFailure()
                       << "row " << r << " byte " << i << ": " << int(a.rows[r][i]) << " against "
                       << int(b.rows[r][i]);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// FNV-1a over type, size and pixel bytes (bits past a binary row's width cleared).
std::uint64_t checksum(const Image& im) {
    std::uint64_t h = 14695981039346656037ull;
    auto add = [&h](std::uint8_t byte) {
        h ^= byte;
        h *= 1099511628211ull;
    };
    for (std::uint32_t v : {im.type, im.width, im.height}) {
        for (int k = 0; k < 4; ++k) add(static_cast<std::uint8_t>(v >> (8 * k)));
    }
    const std::size_t n = pixel_bytes_of_row(im);
    for (std::uint32_t r = 0; im.has_pixels() && r < im.height; ++r) {
        for (std::size_t i = 0; i < n; ++i) {
            std::uint8_t byte = im.rows[r][i];
            if (im.type == image_binary && i == n - 1 && im.width % 8) {
                byte &= static_cast<std::uint8_t>(0xFF00u >> (im.width % 8));
            }
            add(byte);
        }
    }
    return h;
}

// --- running a module --------------------------------------------------------------------------

struct Outcome {
    std::uint8_t error = 0;
    bool flag = false;
    std::string text;
    Image image;
    bool result() const { return error == 0 && !flag && image.has_pixels(); }
    // What a failed run must leave: the flag, and no picture.
    bool clean_failure() const { return error != 0 && flag && image.empty() && !image.rows; }
};

// Runs line through the module's run entry on an input node holding a copy of input (none when
// null); every mask slot of the registry row holds mask when one is given. The node starts
// with a stale picture, so that a failure must clear it. fail_after: allocations of the run
// that succeed before all fail (-1: none fails).
Outcome run(const TransformationModule& m, const std::string& line, const Image* input,
            const Image* mask = nullptr, long fail_after = -1) {
    Node in, node;
    in.parent = &tree_root();
    node.parent = input ? &in : &tree_root();
    if (input) {
        EXPECT_FALSE(image_copy(*input, in.image));
    }
    const TransformationEntry* row = find_transformation(m.keyword());
    for (int k = 0; mask && row && k < row->max_masks; ++k) {
        node.masks.push_back(std::make_unique<MaskSettings>());
        EXPECT_FALSE(image_copy(*mask, node.masks.back()->image));
    }
    EXPECT_FALSE(image_alloc(node.image, image_gray8, 3, 3, 72.0));
    const ArgumentList args = split(line);
    Outcome o;
    {
        AllocationFailureScope restore;
        image_fail_allocations_after(fail_after);
        o.error = m.run(input ? &in : nullptr, &node, args);
    }
    o.flag = node.error;
    o.text = node.error_text;
    o.image = std::move(node.image);
    return o;
}

std::string describe(const Outcome& o) {
    std::ostringstream s;
    s << "error " << int(o.error) << " flag " << o.flag << " text \"" << o.text << "\" image type "
      << o.image.type << " " << o.image.width << "x" << o.image.height
      << (o.image.has_pixels() ? " with pixels" : " without pixels");
    return s.str();
}

// What a command line means to the module; nullopt when it does not parse.
std::optional<std::string> normalise(const TransformationModule& m, const std::string& line,
                                     Node* input = nullptr) {
    std::string out;
    if (m.normalise(split(line), input, nullptr, out)) return std::nullopt;
    return out;
}

// line with key's value replaced (from its default text), or the pair appended when the
// default line does not write the key.
std::string with_value(const std::string& line, const SettingInfo& s, const std::string& value) {
    const std::string pair = " " + s.key + " " + s.default_text;
    std::size_t at = line.find(pair);
    while (at != std::string::npos && at + pair.size() < line.size() &&
           line[at + pair.size()] != ' ') {
        at = line.find(pair, at + 1);
    }
    if (at == std::string::npos) return line + " " + s.key + " " + value;
    return line.substr(0, at) + " " + s.key + " " + value + line.substr(at + pair.size());
}

bool is_filter(ModuleKind k) {
    return k == ModuleKind::point || k == ModuleKind::area || k == ModuleKind::image;
}
// A module whose command line is its keyword alone passes its input through: the image tree
// copies the input into its node, and its run has nothing to produce.
// Keyword-only lines that are not sources of their own (Paste makes a picture from the clipboard).
bool passes_through(const TransformationModule& m) {
    return m.version().empty() && m.kind() != ModuleKind::generator;
}
bool numeric(SettingKind k) {
    return k == SettingKind::integer || k == SettingKind::flag || k == SettingKind::choice ||
           k == SettingKind::real || k == SettingKind::count;
}

// A value just outside each bound of a ranged number (none past the int32 ends), with the bound.
struct Side {
    double value, bound;
};
std::vector<Side> sides_outside(const SettingInfo& s) {
    std::vector<Side> sides;
    if (!s.ranged || !numeric(s.kind)) return sides;
    const bool whole = s.kind != SettingKind::real;
    const double step = whole ? 1.0 : (s.max - s.min) / 4 + 0.125;
    if (s.min > INT32_MIN + 1.0) sides.push_back({s.min - step, s.min});
    if (!whole || s.max < INT32_MAX - 1.0) sides.push_back({s.max + step, s.max});
    return sides;
}

std::string text_of(double v, SettingKind kind) {
    if (kind != SettingKind::real) return std::to_string(static_cast<long long>(std::llround(v)));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

// The working input type a module's operation sees for an input of type t.
std::uint32_t seen_type(const TransformationModule& m, std::uint32_t t) {
    return t == image_binary && !m.reads_binary() ? image_gray8 : t;
}

// The integer types a mask can weigh, most common first.
constexpr std::uint32_t integer_types[] = {image_color24, image_gray16, image_color48, image_gray8};

// --- the suite -----------------------------------------------------------------------------------

class Conformance : public ::testing::TestWithParam<const TransformationModule*> {
  protected:
    static void SetUpTestSuite() {
        root_ = new testing::TempDir;
        setenv("TESSALY_SETTINGS_ROOT", root_->path().c_str(), 1);
        reset_settings_folders();
    }
    static void TearDownTestSuite() {
        unsetenv("TESSALY_SETTINGS_ROOT");
        reset_settings_folders();
        delete root_;
    }
    const TransformationModule& m() const { return *GetParam(); }
    std::string line() const { return m().default_command_line(); }
    // The 24-bit picture when the module takes it, else the first type it takes.
    std::uint32_t working_type() const {
        for (std::uint32_t t : integer_types) {
            if (m().types() & type_bit(t)) return t;
        }
        return image_color24;
    }

    // The default line with the first amount's values replaced (its mode, label and caption
    // kept).
    std::string amount_line(const char* black, const char* white) const {
        for (const SettingInfo& s : m().describe()) {
            if (s.kind != SettingKind::amount) continue;
            const ArgumentList parts = split(s.default_text);
            EXPECT_EQ(parts.count(), 6) << s.default_text;
            if (parts.count() != 6) break;
            return with_value(line(), s,
                              std::string(black) + " " + white + " " + std::string(parts[2]) +
                                  " 1 \u2033" + std::string(parts[4]) + "\u2033 \u2033" +
                                  std::string(parts[5]) + "\u2033");
        }
        return line();
    }

    testing::RecordingScope scope_;
    static testing::TempDir* root_;
};
testing::TempDir* Conformance::root_ = nullptr;

template <class Applies>
std::vector<const TransformationModule*> modules_where(Applies applies) {
    std::vector<const TransformationModule*> out;
    for (const TransformationModule* m : built_modules()) {
        if (applies(*m)) out.push_back(m);
    }
    return out;
}

// One suite per group of checks, over the built modules they apply to as their declarations
// tell: a module added later joins every group it belongs to, and no check skips a module.
#define CONFORMANCE_SUITE(Suite, ...)                                                         \
    class Suite : public Conformance {};                                                      \
    GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Suite);                                     \
    INSTANTIATE_TEST_SUITE_P(Modules, Suite, ::testing::ValuesIn(modules_where(__VA_ARGS__)), \
                             [](const auto& p) { return std::string(p.param->keyword()); })

using ModuleRef = const TransformationModule&;
CONFORMANCE_SUITE(Declarations, [](ModuleRef) { return true; });
CONFORMANCE_SUITE(PassThroughs, passes_through);
CONFORMANCE_SUITE(RangedSettings, [](ModuleRef m) {
    const std::vector<SettingInfo> settings = m.describe();
    return std::any_of(settings.begin(), settings.end(),
                       [](const SettingInfo& s) { return !sides_outside(s).empty(); });
});
CONFORMANCE_SUITE(Pictures, [](ModuleRef m) { return !passes_through(m); });
CONFORMANCE_SUITE(PixelLoops, [](ModuleRef m) {
    return !passes_through(m) && m.kind() != ModuleKind::generator;
});
CONFORMANCE_SUITE(Amounts, [](ModuleRef m) { return m.amount_count() > 0; });

TEST_P(Declarations, DefaultLineRoundTripsAndDefaultsLieInTheirRanges) {
    const std::string d = line();
    ASSERT_EQ(normalise(m(), d), d);
    ASSERT_EQ(normalise(m(), *normalise(m(), d)), d);
    // Defaults that follow the input are written back the same once taken.
    Node input;
    input.parent = &tree_root();
    input.image = pattern_image(working_type());
    const auto once = normalise(m(), d, &input);
    ASSERT_TRUE(once.has_value());
    EXPECT_EQ(normalise(m(), *once, &input), once);

    for (const SettingInfo& s : m().describe()) {
        if (!s.ranged || !numeric(s.kind) || s.kind == SettingKind::count) continue;
        double v = 0.0;
        ASSERT_FALSE(parse_real(s.default_text, v)) << s.key << " default " << s.default_text;
        EXPECT_TRUE(v >= s.min && v <= s.max)
            << s.key << " default " << v << " outside " << s.min << " .. " << s.max;
        if (s.kind == SettingKind::choice) {
            ASSERT_LT(v, static_cast<double>(s.choices.size())) << s.key;
            EXPECT_FALSE(s.choices[static_cast<std::size_t>(v)].empty()) << s.key;
        }
    }
}

TEST_P(RangedSettings, ValuesOutsideARangeFollowTheDeclaredRule) {
    const std::string d = line();
    const Image input = pattern_image(working_type());
    for (const SettingInfo& s : m().describe()) {
        for (const Side& side : sides_outside(s)) {
            const std::string outside = with_value(d, s, text_of(side.value, s.kind));
            SCOPED_TRACE(outside);
            const auto got = normalise(m(), outside);
            switch (s.rule) {
                case OutOfRange::reject: {
                    EXPECT_FALSE(got.has_value());
                    const Outcome o = run(m(), outside, &input);
                    EXPECT_TRUE(o.clean_failure()) << describe(o);
                    EXPECT_EQ(o.text, "Illegal " + m().settings_name().name + " command line");
                    continue;
                }
                case OutOfRange::clamp:
                    EXPECT_EQ(got, normalise(m(), with_value(d, s, text_of(side.bound, s.kind))));
                    break;
                case OutOfRange::reset:
                    EXPECT_EQ(got, d);
                    break;
                case OutOfRange::accept: {
                    ASSERT_TRUE(got.has_value());
                    const ArgumentList args = split(*got);
                    double kept = 0.0;
                    EXPECT_FALSE(read_real(args, s.key, kept));
                    EXPECT_NEAR(kept, side.value, 1e-3 * std::max(1.0, std::fabs(side.value)));
                    break;
                }
            }
            // Whatever the line became, the run copes: a result, or a clean failure.
            if (!passes_through(m())) {
                const Outcome o = run(m(), outside, &input);
                EXPECT_TRUE(o.result() || o.clean_failure()) << describe(o);
            }
        }
    }
}

// The image tree copies the input into the node; the run only clears the node's error.
TEST_P(PassThroughs, RunLeavesTheNodeAsItIs) {
    const Image input = pattern_image(working_type());
    const Outcome o = run(m(), line(), &input);
    EXPECT_TRUE(o.error == 0 && !o.flag && o.image.width == 3) << describe(o);
}

TEST_P(Pictures, EveryImageTypeGivesAResultOrIllegalInputType) {
    const ModuleKind kind = m().kind();
    std::optional<std::uint64_t> generated;
    std::optional<std::string> generated_failure;
    if (kind == ModuleKind::generator) {
        // The main input is not read: with no input at all, the outcome is the same.
        const Outcome o = run(m(), line(), nullptr);
        if (o.result()) {
            generated = checksum(o.image);
        } else {
            EXPECT_TRUE(o.clean_failure()) << describe(o);
            generated_failure = o.text;
        }
    }
    for (std::uint32_t t = image_binary; t <= image_float_color; ++t) {
        SCOPED_TRACE(std::string("input type ") + std::to_string(t));
        const Image input = pattern_image(t);
        const Outcome o = run(m(), line(), &input);
        if (kind == ModuleKind::generator) {
            if (generated) {
                ASSERT_TRUE(o.result()) << describe(o);
                EXPECT_EQ(checksum(o.image), *generated);
            } else {
                EXPECT_TRUE(o.clean_failure()) << describe(o);
                EXPECT_EQ(o.text, generated_failure);
            }
            continue;
        }
        const std::uint32_t seen = seen_type(m(), t);
        if (!(m().types() & type_bit(seen))) {
            EXPECT_TRUE(o.clean_failure()) << describe(o);
            EXPECT_EQ(o.text, illegal_input_type);
            continue;
        }
        ASSERT_TRUE(o.result()) << describe(o);
        if (is_filter(kind) || kind == ModuleKind::geometry) {
            EXPECT_EQ(o.image.type, seen);
        }
        if (is_filter(kind)) {
            EXPECT_EQ(o.image.width, input.width);
            EXPECT_EQ(o.image.height, input.height);
            EXPECT_EQ(o.image.dpi, input.dpi);
        }
        // Silent runs ask and show nothing.
        EXPECT_TRUE(scope_.recorder.messages.empty()) << scope_.recorder.messages[0].text;
        EXPECT_TRUE(scope_.recorder.questions.empty()) << scope_.recorder.questions[0];
    }
}

TEST_P(PixelLoops, ResultsDoNotDependOnTheNumberOfThreads) {
    const int processors = processor_count();
    for (std::uint32_t t = image_gray8; t <= image_color48; ++t) {
        if (!(m().types() & type_bit(t))) continue;
        const Image input = pattern_image(t, 41, 67);
        set_processor_count(1);
        const Outcome one = run(m(), line(), &input);
        for (int threads : {2, 3, 7}) {
            set_processor_count(threads);
            const Outcome many = run(m(), line(), &input);
            EXPECT_TRUE(same_pixels(many.image, one.image))
                << "type " << t << ", " << threads << " threads";
        }
    }
    set_processor_count(processors);
}

TEST_P(Pictures, AllocationFailuresAndABatchAbortLeaveACleanFailure) {
    const Image input = pattern_image(working_type());
    const Image mask = half_mask(input.width, input.height);
    // The default line, and where there is an amount, a mixed and a masked one.
    std::vector<std::pair<std::string, const Image*>> lines = {{line(), nullptr}};
    if (m().amount_count() > 0) {
        lines.emplace_back(amount_line("0.25", "-1"), nullptr);
        lines.emplace_back(amount_line("0", "1"), &mask);
    }
    for (const auto& [text, with_mask] : lines) {
        SCOPED_TRACE(text);
        const Outcome whole = run(m(), text, &input, with_mask);
        if (!whole.result()) {  // nothing to make (File Open without a file)
            EXPECT_TRUE(whole.clean_failure()) << describe(whole);
            continue;
        }
        int n = 0;
        for (;; ++n) {
            ASSERT_LT(n, 400) << "still failing after 400 allocations";
            const Outcome o = run(m(), text, &input, with_mask, n);
            if (o.result()) break;
            ASSERT_TRUE(o.clean_failure()) << "failing after " << n << ": " << describe(o);
        }
        EXPECT_GT(n, 0) << "the run allocated nothing";
    }
    if (m().kind() == ModuleKind::generator) return;  // they make a picture, never a pixel loop
    // Test mode: a batch that writes nothing. A run stops at its first tick; settings that
    // leave the input as it is may still copy it.
    set_batch_mode(2);
    set_batch_abort(true);
    const Outcome o = run(m(), line(), &input);
    set_batch_abort(false);
    set_batch_mode(0);
    EXPECT_TRUE(o.clean_failure() || (o.result() && same_pixels(o.image, input))) << describe(o);
}

TEST_P(Amounts, AmountZeroGivesTheInputAndAMaskSplitsTheResult) {
    const Mixing mixing = m().mixing();
    for (std::uint32_t t : integer_types) {
        if (!(m().types() & type_bit(t))) continue;
        SCOPED_TRACE(std::string("type ") + std::to_string(t));
        const Image input = pattern_image(t);
        const Image mask = half_mask(input.width, input.height);
        const std::uint32_t half = input.width / 2;
        if (mixing != Mixing::none) {
            const Outcome zero = run(m(), amount_line("0", "-1"), &input);
            EXPECT_TRUE(same_pixels(zero.image, input)) << describe(zero);
            // Black keeps the input, white takes the full result (set 0 of two sets).
            const Outcome full = run(m(), amount_line("1", "-1"), &input);
            const Outcome split = run(m(), amount_line("0", "1"), &input, &mask);
            ASSERT_TRUE(full.result() && split.result()) << describe(split);
            EXPECT_TRUE(same_pixels(split.image, input, 0, half));
            EXPECT_TRUE(same_pixels(split.image, full.image, half));
        } else {
            // The module weighs by itself: each half as the amount of its mask level alone.
            const Outcome black = run(m(), amount_line("0", "-1"), &input);
            const Outcome white = run(m(), amount_line("1", "-1"), &input);
            const Outcome split = run(m(), amount_line("0", "1"), &input, &mask);
            ASSERT_TRUE(black.result() && white.result() && split.result()) << describe(split);
            EXPECT_TRUE(same_pixels(split.image, black.image, 0, half));
            EXPECT_TRUE(same_pixels(split.image, white.image, half));
        }
    }
}

// --- checksums of the default result on a photograph -------------------------------------------

const char* const photograph = "/usr/share/wallpapers/ColorfulCups/contents/screenshot.jpg";

std::filesystem::path checksum_file() {
    return std::filesystem::path(TESSALY_TEST_DATA).parent_path() / "conformance" / "checksums.txt";
}

// "keyword depth" -> the rest of its line.
std::map<std::string, std::string> read_checksums() {
    std::map<std::string, std::string> out;
    std::ifstream in(checksum_file());
    std::string keyword, depth, rest;
    for (std::string text; std::getline(in, text);) {
        if (text.empty() || text[0] == '#') continue;
        std::istringstream fields(text);
        fields >> keyword >> depth >> std::ws;
        std::getline(fields, rest);
        out[keyword + " " + depth] = rest;
    }
    return out;
}

void write_checksums(const std::map<std::string, std::string>& values) {
    const std::filesystem::path path = checksum_file();
    const std::filesystem::path temporary = path.string() + ".part";
    {
        std::ofstream out(temporary);
        out << "# The default settings of every module, as taken on " << photograph << "\n"
            << "# (8: as read, 16: widened to 48-bit): result type, size and FNV-1a of its "
               "pixels,\n"
            << "# or the failure. Recorded with TESSALY_RECORD_CHECKSUMS=FOLDER conformance_tests\n"
            << "# --gtest_filter='*Checksum*', which also writes the results into FOLDER as PNG\n"
            << "# files to look at; never edited by hand.\n";
        for (const auto& [key, rest] : values) out << key << " " << rest << "\n";
    }
    std::filesystem::rename(temporary, path);
}

std::string outcome_text(const Outcome& o) {
    if (!o.result()) return "fails \"" + o.text + "\"";
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(checksum(o.image)));
    return "type " + std::to_string(o.image.type) + " " + std::to_string(o.image.width) + "x" +
           std::to_string(o.image.height) + " " + hash;
}

TEST_P(Pictures, DefaultResultOnAPhotographMatchesItsChecksum) {
    if (!std::filesystem::exists(photograph)) {
        GTEST_SKIP() << photograph << " is missing: plasma-workspace-wallpapers is not installed "
                     << "(make test installs it)";
    }
    static Image eight, sixteen;
    if (!eight.has_pixels()) {
        Image transparency;
        ASSERT_FALSE(read_image_file(photograph, eight, transparency));
        ASSERT_FALSE(convert_3_to_5(eight, sixteen));
    }
    // Set to a folder, recording also writes each result there as PNG to look at.
    const char* record = std::getenv("TESSALY_RECORD_CHECKSUMS");
    const bool recording = record != nullptr;
    auto recorded = read_checksums();
    for (const auto& [depth, picture] : {std::pair{"8", &eight}, std::pair{"16", &sixteen}}) {
        const std::string key = std::string(m().keyword()) + " " + depth;
        // The keyword and version alone: the defaults, those that follow the picture included.
        Node holder;
        holder.parent = &tree_root();
        ASSERT_FALSE(image_copy(*picture, holder.image));
        const auto taken =
            normalise(m(), std::string(m().keyword()) + " " + std::string(m().version()), &holder);
        ASSERT_TRUE(taken.has_value());
        const Outcome o = run(m(), *taken, picture);
        const std::string got = outcome_text(o);
        if (recording) {
            recorded[key] = got;
            if (o.result() && std::filesystem::is_directory(record)) {
                const std::string png =
                    std::string(record) + "/" + m().keyword() + "-" + depth + ".png";
                EXPECT_EQ(write_image_file(png, o.image, nullptr, save_png, SaveOptions{}),
                          write_done)
                    << png;
            }
            continue;
        }
        const auto it = recorded.find(key);
        if (it == recorded.end()) {
            ADD_FAILURE() << "no recorded checksum for " << key << "-bit (" << got << "); record "
                          << "it and look at the result: TESSALY_RECORD_CHECKSUMS=FOLDER "
                          << "conformance_tests --gtest_filter='*Checksum*/" << m().keyword()
                          << "'";
            continue;
        }
        EXPECT_EQ(got, it->second) << key << "-bit, recorded in " << checksum_file().string();
    }
    if (recording) write_checksums(recorded);
}

}  // namespace
}  // namespace tessaly
