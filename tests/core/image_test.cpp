#include "core/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include "core/image_convert.h"
#include "core/runner.h"
#include "core/tables.h"
#include "support/image_helpers.h"

namespace tessaly {
namespace {

using testing::fill_pattern;
using testing::is_empty_record;

std::vector<std::uint32_t> tag_numbers(const Image& image) {
    std::vector<std::uint32_t> out;
    for (const MetadataTag* t = image.tags; t; t = t->next) out.push_back(t->tag);
    return out;
}

bool rows_zero(const Image& image) {
    for (std::uint32_t r = 0; r < image.height; ++r) {
        if (std::count(image.rows[r], image.rows[r] + image.row_bytes, 0) != image.row_bytes)
            return false;
    }
    return true;
}

TEST(Image, RowBytesChunksAndLimits) {
    // Rows pad to 4 bytes; exactly 8 MiB fits, one more pixel does not, the widest must not wrap.
    const std::uint32_t cases[][3] = {{image_color24, 5, 16},
                                      {image_binary, 9, 4},
                                      {image_float_gray, 3, 12},
                                      {image_empty, 100, 0},
                                      {image_color24, 2796202, 8388608},
                                      {image_color24, 2796203, 0},
                                      {image_float_color, 0xffffffffu, 0}};
    for (const auto& c : cases) EXPECT_EQ(image_row_bytes(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    Image image;
    ASSERT_FALSE(image_alloc(image, image_color24, 4000, 3000, 72.0));
    // Five chunks, the last one of 204 rows.
    ASSERT_TRUE(image.row_bytes == 12000u && image.rows_per_chunk == 699 && image.chunk_count == 5);
    for (std::uint32_t r = 0; r < image.height; ++r)
        ASSERT_EQ(image.rows[r], image.chunks[r / 699] + (r % 699) * 12000u) << r;
    EXPECT_TRUE(rows_zero(image));
    // One block may exceed the chunk size; the top row comes first when asked.
    ASSERT_FALSE(image_alloc_single_block(image, image_color24, 2000, 1500, 96.0, true));
    EXPECT_EQ(std::tuple(image.chunk_count, image.rows[0], image.rows[1499]),
              std::tuple(1, image.chunks[0] + 1499u * 6000u, image.chunks[0]));
    // No rows for a width or height of 0 or an unknown type; the fields stay.
    const std::uint32_t shapes[3][3] = {{image_gray8, 0, 10}, {image_color24, 10, 0}, {9, 5, 5}};
    for (const auto& s : shapes) {
        ASSERT_FALSE(image_alloc(image, s[0], s[1], s[2], 1.0));
        EXPECT_TRUE(image.type == s[0] && image.height == s[2] && image.rows == nullptr) << s[0];
    }
    // A row longer than one chunk cannot be stored.
    EXPECT_TRUE(image_alloc(image, image_color24, 2796203, 1, 1.0));
    EXPECT_TRUE(is_empty_record(image));
    ASSERT_FALSE(image_alloc(image, image_color24, 2796202, 2, 1.0));
    EXPECT_TRUE(image.rows_per_chunk == 1 && image.chunk_count == 2);
    // The memory limit counts rows and row addresses; 48 GiB is computed without wrapping.
    const std::uint64_t saved = image_memory_limit();
    const std::uint64_t needed = 100 * (400 + sizeof(std::uint8_t*));
    image_set_memory_limit(needed - 1);
    EXPECT_TRUE(image_alloc(image, image_gray8, 400, 100, 1.0) && is_empty_record(image));
    image_set_memory_limit(needed);
    EXPECT_FALSE(image_alloc(image, image_gray8, 400, 100, 1.0));
    image_set_memory_limit(std::uint64_t{1} << 30);
    EXPECT_TRUE(image_alloc(image, image_binary, 8, 0xffffffffu, 1.0));
    image_set_memory_limit(saved);
}

TEST(Image, TagsProfilesAndTheAllocAsRule) {
    Image image;
    const std::uint32_t rational[2] = {72, 1};
    ASSERT_FALSE(image_add_tag(image, 282, 5, 1, rational));
    ASSERT_FALSE(image_add_tag(image, 270, 2, 3, "abc"));  // text without its terminator
    ASSERT_FALSE(image_add_tag(image, 282, 5, 1, rational));
    EXPECT_EQ(tag_numbers(image), (std::vector<std::uint32_t>{282, 270, 282}));
    EXPECT_TRUE(std::memcmp(image.tags->data, rational, 8) == 0 && image.tags->data[8] == 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(image.tags->next->data), "abc");
    ASSERT_FALSE(image_copy_tags(image, image.tags));  // onto itself: each tag once more
    EXPECT_EQ(tag_numbers(image).size(), 6u);
    // Re-allocating with the Image's own profile and tags.
    const std::uint8_t profile[5] = {9, 8, 7, 6, 5};
    ASSERT_FALSE(image_set_profile(image, profile, 5));
    ASSERT_FALSE(image_alloc_with(image, image_gray16, 4, 4, 2.0, image.profile, image.profile_size,
                                  image.tags));
    ASSERT_EQ(image.profile_size, 5u);
    EXPECT_TRUE(std::memcmp(image.profile, profile, 5) == 0 && tag_numbers(image).size() == 6u);
    ASSERT_FALSE(image_set_profile(image, image.profile + 1, 3));
    EXPECT_EQ(image.profile[0], 8);
    // Re-allocating in the same layout keeps nothing of the old contents.
    for (std::uint32_t r = 0; r < 4; ++r) std::memset(image.rows[r], 0xab, image.row_bytes);
    ASSERT_FALSE(image_alloc(image, image_gray16, 4, 4, 2.0));
    EXPECT_TRUE(image.profile == nullptr && image.tags == nullptr && rows_zero(image));
    // image_alloc_as: the source's profile within gray or within colour, the working profile
    // across (none while it is unset); resolution and tags carried over.
    const std::uint8_t own = 1, rgb = 2, gray = 3;
    auto profile_of = [](const Image& i) { return i.profile_size == 0 ? -1 : i.profile[0]; };
    Image gray8, color48, binary, target;
    ASSERT_FALSE(image_alloc_with(gray8, image_gray8, 8, 6, 200.0, &own, 1, nullptr));
    ASSERT_FALSE(image_add_tag(gray8, 274, 3, 1, "\x06\x00"));
    ASSERT_FALSE(image_alloc_with(color48, image_color48, 2, 2, 1.0, &own, 1, nullptr));
    ASSERT_FALSE(image_alloc_with(binary, image_binary, 2, 2, 1.0, &own, 1, nullptr));
    ASSERT_FALSE(image_alloc_as(gray8, target, image_color24));
    EXPECT_TRUE(profile_of(target) == -1 && target.dpi == 200.0 &&
                tag_numbers(target) == std::vector<std::uint32_t>{274});
    set_rgb_working_profile(&rgb, 1);
    set_gray_working_profile(&gray, 1);
    const std::tuple<Image*, std::uint32_t, int> rules[] = {
        {&gray8, image_color24, 2},   {&gray8, image_gray16, 1},  {&gray8, image_float_gray, 1},
        {&color48, image_color24, 1}, {&color48, image_gray8, 3}, {&binary, image_gray8, 3},
        {&binary, image_color24, 2}};
    for (auto [source, type, expected] : rules) {
        ASSERT_FALSE(image_alloc_as(*source, 3, 2, target, type));
        EXPECT_EQ(profile_of(target), expected) << source->type << " -> " << type;
    }
    ASSERT_FALSE(image_alloc_as(gray8, gray8, image_color48));  // the source as its own target
    EXPECT_TRUE(profile_of(gray8) == 2 && tag_numbers(gray8) == std::vector<std::uint32_t>{274});
    set_rgb_working_profile(nullptr, 0);
    set_gray_working_profile(nullptr, 0);
}

TEST(Image, CopyAndEqual) {
    set_processor_count(4);
    const std::uint8_t profile[6] = {1, 2, 3, 4, 5, 6};
    Image source, copy;
    ASSERT_FALSE(image_alloc_with(source, image_color24, 5, 1001, 300.0, profile, 6, nullptr));
    ASSERT_FALSE(image_add_tag(source, 305, 2, 4, "abc"));
    fill_pattern(source, 15);
    source.rows[500][15] = 0x5a;  // padding is copied and compared too
    ASSERT_FALSE(image_alloc(copy, image_gray8, 3, 3, 1.0));
    ASSERT_FALSE(image_copy(source, copy));
    set_processor_count(0);
    EXPECT_EQ(tag_numbers(copy), (std::vector<std::uint32_t>{305}));
    EXPECT_TRUE(image_equal(source, copy));  // its own failures are checked below
    ASSERT_FALSE(image_add_tag(copy, 1, 1, 1, "z"));
    EXPECT_TRUE(image_equal(source, copy));  // tags are not compared
    // Any other difference counts; undoing it makes the two equal again.
    auto differs = [&](auto change) {
        change();
        const bool equal = image_equal(source, copy);
        change();
        return !equal && image_equal(source, copy);
    };
    EXPECT_TRUE(differs([&] { copy.dpi = copy.dpi == 300.0 ? 300.0000001 : 300.0; }));
    EXPECT_TRUE(differs([&] { copy.profile[5] ^= 1; }));
    EXPECT_TRUE(differs([&] { copy.rows[1000][14] ^= 1; }));
    EXPECT_TRUE(differs([&] { copy.rows[0][15] ^= 1; }));  // padding
    Image floats, empty_a, empty_b;
    ASSERT_FALSE(image_alloc(floats, image_float_gray, 4, 1001, 300.0));  // also 16 bytes a row
    EXPECT_FALSE(image_equal(floats, copy));
    empty_b.dpi = 5.0;
    EXPECT_TRUE(image_equal(empty_a, empty_b));
    ASSERT_FALSE(image_copy(empty_a, copy));
    EXPECT_TRUE(is_empty_record(copy));
}

TEST(Image, GrayViewAndDisplayCopy) {
    Image gray, scratch, binary;
    ASSERT_FALSE(image_alloc(gray, image_gray8, 4, 2, 1.0));
    ASSERT_FALSE(image_alloc(scratch, image_gray8, 9, 9, 1.0));
    EXPECT_TRUE(gray_view(gray, scratch) == &gray && is_empty_record(scratch));
    ASSERT_FALSE(image_alloc(binary, image_binary, 10, 2, 150.0));
    binary.rows[0][0] = 0xa5;  // 1010 0101
    bit_set(binary.rows[0], 9);
    ASSERT_EQ(gray_view(binary, scratch), &scratch);
    EXPECT_EQ(scratch.type, image_gray8);
    const std::uint8_t row0[10] = {255, 0, 255, 0, 0, 255, 0, 255, 0, 255};
    EXPECT_EQ(std::memcmp(scratch.rows[0], row0, 10), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(scratch.rows[1], scratch.rows[1] + 12),
              std::vector<std::uint8_t>(12, 0));
    // The display copy: 8 bits a sample, a rectangle of the picture and of its transparency.
    const std::uint8_t profile[2] = {4, 2};
    Image color, alpha, target, alpha_target;
    ASSERT_FALSE(image_alloc_with(color, image_color48, 4, 3, 180.0, profile, 2, nullptr));
    fill_pattern(color, 24);
    ASSERT_FALSE(image_alloc(alpha, image_gray8, 4, 3, 180.0));
    fill_pattern(alpha, 4, 2);
    ASSERT_FALSE(image_display_copy(color, 1, 1, 2, 2, target, &alpha, &alpha_target));
    EXPECT_TRUE(target.type == image_color24 && target.width == 2u && target.profile_size == 2u);
    for (std::uint32_t r = 0; r < 2; ++r) {
        for (std::uint32_t i = 0; i < 6; ++i)
            EXPECT_EQ(target.rows[r][i], to8[sample16(color.rows[r + 1], i + 3)]);
        EXPECT_EQ(std::memcmp(alpha_target.rows[r], alpha.rows[r + 1] + 1, 2), 0);
    }
    ASSERT_FALSE(image_display_copy(binary, 8, 0, 9, 0, target, nullptr, nullptr));
    EXPECT_TRUE(target.type == image_gray8 && target.rows[0][0] == 0 && target.rows[0][1] == 255);
    Image floats;
    ASSERT_FALSE(image_alloc(floats, image_float_gray, 2, 2, 1.0));
    EXPECT_TRUE(image_display_copy(floats, 0, 0, 1, 1, target, nullptr, nullptr) &&
                is_empty_record(target));
    EXPECT_STREQ(image_display_copy_failure, "Internal error: missing input image");
    EXPECT_TRUE(image_display_copy(color, 0, 0, 4, 2, target, nullptr, nullptr));  // x1 outside
    EXPECT_TRUE(image_display_copy(color, 2, 0, 1, 2, target, nullptr, nullptr));  // x0 > x1
    EXPECT_TRUE(image_display_copy(alpha, 0, 0, 1, 1, target, &color, &alpha_target));
    EXPECT_TRUE(is_empty_record(alpha_target));
}

// For every n each operation fails after n allocations or succeeds; each failure must leave
// the targets empty, and AddressSanitizer checks that nothing leaks. Out of memory for a tag or
// profile empties the Image like every other.
TEST(Image, AllocationFailuresLeaveEmptyImages) {
    testing::AllocationFailureScope restore;
    const std::uint8_t profile[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Image tagged, image, copy, as, display, alpha, alpha_target, scratch, binary;
    ASSERT_FALSE(image_add_tag(tagged, 1, 2, 2, "a") || image_add_tag(tagged, 2, 2, 2, "b"));
    ASSERT_FALSE(image_alloc(alpha, image_gray8, 4000, 1500, 1.0) ||
                 image_alloc(binary, image_binary, 8, 8, 1.0));
    // The allocations needed: a profile, 2 tags of 2 blocks, rows, chunk array and 3 chunks for
    // the first; gray_view's are the built-in gray profile, rows, chunk array and chunk.
    const std::tuple<Image*, std::function<bool()>, int> cases[] = {
        {&image,
         [&] {
             return image_alloc_with(image, image_color24, 4000, 1500, 1.0, profile, 8,
                                     tagged.tags);
         },
         10},
        {&copy, [&] { return image_copy(image, copy); }, 10},
        {&as, [&] { return image_alloc_as(image, 9, 9, as, 5); }, 8},
        {&scratch, [&] { return gray_view(binary, scratch) == nullptr; }, 4},
        {&as, [&] { return image_add_tag(as, 3, 4, 2, "12345678"); }, 2},
        {&as, [&] { return image_set_profile(as, profile, 8); }, 1},
        {&display,  // last: its alpha target must stay empty with the picture
         [&] {
             return image_display_copy(image, 0, 0, 3999, 1499, display, &alpha, &alpha_target);
         },
         13}};
    for (const auto& [target, op, needed] : cases) {
        int n = 0;
        for (; n < 100; ++n) {
            image_fail_allocations_after(n);
            const bool failed = op();
            image_fail_allocations_after(-1);
            if (!failed) break;
            EXPECT_TRUE(is_empty_record(*target) && is_empty_record(alpha_target))
                << needed << " after " << n;
        }
        EXPECT_EQ(n, needed);
    }
}

}  // namespace
}  // namespace tessaly
