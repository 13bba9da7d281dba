#include "transformations/rotref.h"

#include "core/image_orient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/runner.h"
#include "framework/registry.h"
#include "framework/settings_files.h"
#include "support/module_helpers.h"
#include "support/image_helpers.h"
#include "support/recording_interaction.h"
#include "support/temp_dir.h"

namespace tessaly {
namespace {

// A picture as a person sees it: rows top first, one small number per pixel.
using Seen = std::vector<std::vector<int>>;

const std::uint32_t all_types[] = {image_binary, image_gray8, image_color24, image_gray16,
                                   image_color48};

// Every channel of every type gets a value of its own, so swapped channels or bytes show.
void put(Image& im, std::uint32_t x, std::uint32_t y, int v) {
    std::uint8_t* r = im.rows[y];
    const auto u = static_cast<std::uint16_t>(v);
    switch (im.type) {
        case image_binary:
            if (v) bit_set(r, x);
            break;
        case image_gray8:
            r[x] = static_cast<std::uint8_t>(v);
            break;
        case image_color24:
            r[3 * x] = static_cast<std::uint8_t>(v);
            r[3 * x + 1] = static_cast<std::uint8_t>(v + 100);
            r[3 * x + 2] = static_cast<std::uint8_t>(v + 200);
            break;
        case image_gray16:
            set_sample16(r, x, static_cast<std::uint16_t>(0x1200 + 0x0101 * u));
            break;
        case image_color48:
            set_sample16(r, 3 * x, static_cast<std::uint16_t>(0x1000 + u));
            set_sample16(r, 3 * x + 1, static_cast<std::uint16_t>(0x2001 + 0x100 * u));
            set_sample16(r, 3 * x + 2, static_cast<std::uint16_t>(0x3000 + u));
            break;
    }
}

int get(const Image& im, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* r = im.rows[y];
    switch (im.type) {
        case image_binary:
            return bit_get(r, x) ? 1 : 0;
        case image_gray8:
        case image_color24:
            return r[(im.type == image_gray8 ? 1 : 3) * x];
        case image_gray16:
            return (sample16(r, x) - 0x1200) / 0x0101;
        default:
            return sample16(r, 3 * x) - 0x1000;
    }
}

Image make(std::uint32_t type, const Seen& seen, double dpi = 72.0) {
    Image im;
    const auto h = static_cast<std::uint32_t>(seen.size());
    EXPECT_FALSE(image_alloc(im, type, static_cast<std::uint32_t>(seen[0].size()), h, dpi));
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) put(im, x, y, seen[h - 1 - y][x]);
    }
    return im;
}

Seen seen(const Image& im) {
    Seen out(im.height, std::vector<int>(im.width));
    for (std::uint32_t y = 0; y < im.height; ++y) {
        for (std::uint32_t x = 0; x < im.width; ++x) out[im.height - 1 - y][x] = get(im, x, y);
    }
    return out;
}

// Every byte of every row, padding included, as the encoding of the expected picture.
void expect_picture(const Image& im, std::uint32_t type, const Seen& expected) {
    ASSERT_EQ(im.type, type);
    EXPECT_EQ(seen(im), expected);
    Image want = make(type, expected);
    ASSERT_EQ(im.row_bytes, want.row_bytes);
    for (std::uint32_t y = 0; y < im.height; ++y) {
        EXPECT_EQ(std::memcmp(im.rows[y], want.rows[y], im.row_bytes), 0) << "row " << y;
    }
}

Seen from_bits(const std::vector<std::string>& rows) {
    Seen out;
    for (const auto& r : rows) {
        out.emplace_back();
        for (char c : r) out.back().push_back(c == '1');
    }
    return out;
}

class RotrefRun : public ::testing::Test {
  protected:
    void SetUp() override { input.parent = &tree_root(); }

    // Runs through the registry, as a re-run of the node would.
    std::uint8_t run(const std::string& line) {
        node.parent = &input;
        return find_transformation("rotref")->run(&input, &node, split(line));
    }
    Node input, node;
};

// 1 2 3      codes as seen:  1: 4 1   3: 3 6   5: 1 4   7: 6 3
// 4 5 6                         5 2      2 5      2 5      5 2
//                               6 3      1 4      3 6      4 1
TEST_F(RotrefRun, EveryCodeOnEveryTypeAsSeen) {
    const Seen start = {{1, 2, 3}, {4, 5, 6}};
    const Seen expected[orientation_count] = {
        {{1, 2, 3}, {4, 5, 6}},    // unchanged
        {{4, 1}, {5, 2}, {6, 3}},  // clockwise
        {{6, 5, 4}, {3, 2, 1}},    // half turn
        {{3, 6}, {2, 5}, {1, 4}},  // counterclockwise
        {{3, 2, 1}, {6, 5, 4}},    // left to right
        {{1, 4}, {2, 5}, {3, 6}},  // transpose
        {{4, 5, 6}, {1, 2, 3}},    // top to bottom
        {{6, 3}, {5, 2}, {4, 1}},  // transverse
    };
    // Binary: pixels 1, 4 and 5 white, an L that looks different in all eight orientations.
    auto bits = [](const Seen& s) {
        Seen out = s;
        for (auto& row : out) {
            for (int& v : row) v = (v == 1 || v == 4 || v == 5);
        }
        return out;
    };
    for (std::uint32_t type : all_types) {
        input.image = make(type, type == image_binary ? bits(start) : start);
        for (int code = 0; code < orientation_count; ++code) {
            SCOPED_TRACE(::testing::Message() << "type " << type << " code " << code);
            ASSERT_EQ(run("rotref 0 orientation " + std::to_string(code) + " display 1"), 0);
            EXPECT_FALSE(node.error);
            expect_picture(node.image, type,
                           type == image_binary ? bits(expected[code]) : expected[code]);
        }
    }
}

TEST_F(RotrefRun, BinaryWidthsNotAMultipleOfEightAndSinglePixelSides) {
    input.image = make(image_binary, from_bits({"1100000001", "0010000000", "0000000011"}));
    const std::vector<std::string> expected[orientation_count] = {
        {"1100000001", "0010000000", "0000000011"},
        {"001", "001", "010", "000", "000", "000", "000", "000", "100", "101"},
        {"1100000000", "0000000100", "1000000011"},
        {"101", "001", "000", "000", "000", "000", "000", "010", "100", "100"},
        {"1000000011", "0000000100", "1100000000"},
        {"100", "100", "010", "000", "000", "000", "000", "000", "001", "101"},
        {"0000000011", "0010000000", "1100000001"},
        {"101", "100", "000", "000", "000", "000", "000", "010", "001", "001"},
    };
    for (int code = 0; code < orientation_count; ++code) {
        SCOPED_TRACE(code);
        ASSERT_EQ(run("rotref 0 orientation " + std::to_string(code)), 0);
        expect_picture(node.image, image_binary, from_bits(expected[code]));
    }
    // A 1 x 9 column becomes a 9 x 1 row; a single pixel stays itself.
    input.image = make(image_binary, from_bits({"1", "0", "1", "1", "0", "0", "0", "0", "1"}));
    ASSERT_EQ(run("rotref 0 orientation 1"), 0);
    expect_picture(node.image, image_binary, from_bits({"100001101"}));
    ASSERT_EQ(run("rotref 0 orientation 3"), 0);
    expect_picture(node.image, image_binary, from_bits({"101100001"}));
    input.image = make(image_color48, {{7}});
    for (int code = 0; code < orientation_count; ++code) {
        ASSERT_EQ(run("rotref 0 orientation " + std::to_string(code)), 0);
        expect_picture(node.image, image_color48, {{7}});
    }
}

// Larger sides than one band of rows, several workers, every type: each source pixel must land
// where the orientation table puts it.
TEST(Rotref, LargerImagesFollowTheTableOnSeveralThreads) {
    using Dest = std::function<void(int W, int H, int x, int y, int& dx, int& dy)>;
    const Dest table[orientation_count] = {
        [](int, int, int x, int y, int& dx, int& dy) { dx = x, dy = y; },
        [](int W, int, int x, int y, int& dx, int& dy) { dx = y, dy = W - 1 - x; },
        [](int W, int H, int x, int y, int& dx, int& dy) { dx = W - 1 - x, dy = H - 1 - y; },
        [](int, int H, int x, int y, int& dx, int& dy) { dx = H - 1 - y, dy = x; },
        [](int W, int, int x, int y, int& dx, int& dy) { dx = W - 1 - x, dy = y; },
        [](int W, int H, int x, int y, int& dx, int& dy) { dx = H - 1 - y, dy = W - 1 - x; },
        [](int, int H, int x, int y, int& dx, int& dy) { dx = x, dy = H - 1 - y; },
        [](int, int, int x, int y, int& dx, int& dy) { dx = y, dy = x; },
    };
    const int previous = processor_count();
    for (int threads : {1, 3}) {
        set_processor_count(threads);
        for (std::uint32_t type : all_types) {
            Image src;
            ASSERT_FALSE(image_alloc(src, type, 101, 37, 300.0));
            for (std::uint32_t y = 0; y < 37; ++y) {
                for (std::uint32_t x = 0; x < 101; ++x)
                    put(src, x, y,
                        type == image_binary ? (x * 7 + y * 3) % 5 < 2 : (x + 2 * y) % 40 + 1);
            }
            for (int code = 0; code < orientation_count; ++code) {
                Image out;
                ASSERT_FALSE(image_orient(src, out, code));
                Image want;
                const bool swap = orientation_swaps_sides(code);
                ASSERT_FALSE(image_alloc(want, type, swap ? 37 : 101, swap ? 101 : 37, 300.0));
                for (int y = 0; y < 37; ++y) {
                    for (int x = 0; x < 101; ++x) {
                        int dx, dy;
                        table[code](101, 37, x, y, dx, dy);
                        put(want, dx, dy, get(src, x, y));
                    }
                }
                // Padding included: it must stay zero.
                EXPECT_TRUE(image_equal(out, want))
                    << "threads " << threads << " type " << type << " code " << code;
            }
        }
    }
    set_processor_count(previous);
}

// Each button's table must agree with the pixels: pressing it on the result of a code gives the
// result of the code the table names.
TEST(Rotref, ButtonTablesAgreeWithThePixels) {
    const std::int32_t button_code[4] = {orientation_rotate_cw, orientation_rotate_ccw,
                                         orientation_mirror_left_right,
                                         orientation_mirror_top_bottom};
    Image src = make(image_color24, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
    for (int button = 0; button < 4; ++button) {
        for (int code = 0; code < orientation_count; ++code) {
            Image current, pressed, named;
            ASSERT_FALSE(image_orient(src, current, code));
            ASSERT_FALSE(image_orient(current, pressed, button_code[button]));
            ASSERT_FALSE(image_orient(src, named, rotref_apply_button(button, code)));
            EXPECT_EQ(seen(pressed), seen(named)) << "button " << button << " code " << code;
        }
    }
    std::int32_t code = 0;
    for (int i = 0; i < 4; ++i) code = rotref_apply_button(rotref_button_rotate_cw, code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(rotref_apply_button(rotref_button_reflect_horizontal,
                                  rotref_apply_button(rotref_button_reflect_horizontal, 3)),
              3);
    EXPECT_EQ(rotref_apply_button(rotref_button_reflect_horizontal, orientation_rotate_cw),
              orientation_transpose);

    // The diagonal mirrors undo themselves, in place too.
    for (std::int32_t diagonal : {orientation_transpose, orientation_transverse}) {
        Image im = make(image_gray16, {{1, 2, 3}, {4, 5, 6}});
        ASSERT_FALSE(image_orient(im, im, diagonal));
        EXPECT_EQ(im.width, 2u);
        ASSERT_FALSE(image_orient(im, im, diagonal));
        EXPECT_EQ(seen(im), (Seen{{1, 2, 3}, {4, 5, 6}}));
    }
}

TEST(Rotref, KeepsResolutionProfileAndTagsAndHandlesEmptySides) {
    const std::uint8_t profile[] = {1, 2, 3, 4, 5};
    Image src = make(image_gray8, {{1, 2}, {3, 4}, {5, 6}}, 240.0);
    ASSERT_FALSE(image_set_profile(src, profile, sizeof profile));
    ASSERT_FALSE(image_add_tag(src, 306, 2, 5, "2026:"));
    for (int code : {0, 1, 6}) {
        Image out;
        ASSERT_FALSE(image_orient(src, out, code));
        EXPECT_EQ(out.dpi, 240.0);
        ASSERT_EQ(out.profile_size, sizeof profile);
        EXPECT_EQ(std::memcmp(out.profile, profile, sizeof profile), 0);
        ASSERT_NE(out.tags, nullptr);
        EXPECT_EQ(out.tags->tag, 306u);
    }
    Image flat, out;
    ASSERT_FALSE(image_alloc(flat, image_color24, 0, 5, 72.0));
    ASSERT_FALSE(image_rotate_cw(flat, out));
    EXPECT_EQ(out.width, 5u);
    EXPECT_EQ(out.height, 0u);
    ASSERT_FALSE(image_rotate_180(flat, out));
    EXPECT_EQ(out.rows, nullptr);
}

TEST(Rotref, OrientationOutsideTheEightCodesIsRefused) {
    // Unreadable keys keep their defaults and unknown keys are ignored; a code out of 0..7 is not.
    EXPECT_EQ(testing::normalised("rotref 0 display 0 orientation 2x frobnicate 3"),
              "rotref 0 orientation 0 display 0");
    EXPECT_EQ(testing::normalised("rotref 0 orientation 8"), "");
    EXPECT_EQ(testing::normalised("rotref 0 orientation -1"), "");
}

TEST_F(RotrefRun, FailuresLeaveTheirErrorText) {
    testing::RecordingScope scope;
    input.image = make(image_gray8, {{1, 2}});
    EXPECT_EQ(run("rotref 0 orientation 9"), 1);
    EXPECT_TRUE(node.error);
    EXPECT_EQ(node.error_text, "Illegal Rotate-Mirror command line");

    for (std::uint32_t type : {image_float_gray, image_float_color, image_empty}) {
        node.error_text.clear();
        if (type != image_empty)
            ASSERT_FALSE(image_alloc(input.image, type, 2, 2, 72.0));
        else
            image_free(input.image);
        EXPECT_EQ(run("rotref 0 orientation 1"), 1);
        EXPECT_EQ(node.error_text, "Illegal input image type");
    }

    input.image = make(image_gray8, {{1, 2}, {3, 4}});
    {
        testing::AllocationFailureScope failing;
        image_fail_allocations_after(0);
        EXPECT_EQ(run("rotref 0 orientation 1"), 1);
        EXPECT_TRUE(node.error);
        EXPECT_TRUE(testing::is_empty_record(node.image));
    }
    // A batch abort stops the pixel loop and the run fails.
    set_run_abort(true);
    EXPECT_EQ(run("rotref 0 orientation 3"), 1);
    set_run_abort(false);
    EXPECT_EQ(run("rotref 0 orientation 3"), 0);
    EXPECT_FALSE(node.error);
    EXPECT_TRUE(scope.recorder.messages.empty());
}

TEST_F(RotrefRun, OnlyTheKeywordTakesTheDefaultSettingsFile) {
    testing::TempDir dir;
    setenv("TESSALY_SETTINGS_ROOT", dir.path().c_str(), 1);
    reset_settings_folders();
    const SettingsName name{"Rotate-Mirror", ".rotate mirror"};
    input.image = make(image_gray8, {{1, 2}});

    ASSERT_EQ(run("rotref"), 0);  // no Default: unchanged
    expect_picture(node.image, image_gray8, {{1, 2}});
    ASSERT_FALSE(save_settings("rotref 0 orientation 4 display 1", std::string("Default"), name));
    EXPECT_TRUE(settings_exist(name, "Default"));
    ASSERT_EQ(run("rotref"), 0);
    expect_picture(node.image, image_gray8, {{2, 1}});
    ASSERT_FALSE(save_settings("rotref 0 orientation 12", std::string("Default"), name));
    EXPECT_EQ(run("rotref"), 1);
    EXPECT_EQ(node.error_text, "Illegal Rotate-Mirror command line");
    unsetenv("TESSALY_SETTINGS_ROOT");
    reset_settings_folders();
}

}  // namespace
}  // namespace tessaly
