#include "fileio/exif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/fileio_builders.h"
#include "support/small_exif.h"
#include "test_files.h"

namespace tessaly {
namespace {

using testing::Block;
using testing::Bytes;
using testing::put_number;

Bytes le(std::uint32_t width, const std::vector<std::int64_t>& v) {
    return Block(false).numbers(width, v);
}
std::vector<std::uint8_t> text(const char* s) {
    return std::vector<std::uint8_t>(s, s + std::strlen(s) + 1);
}

struct Tag {
    std::uint32_t tag;
    std::int32_t field_type;
    std::uint32_t count;
    std::vector<std::uint8_t> data;
    bool operator==(const Tag&) const = default;
};

std::vector<Tag> tags_of(const Image& im) {
    std::vector<Tag> out;
    for (const MetadataTag* t = im.tags; t; t = t->next) {
        const std::size_t n = std::size_t{t->count} * tag_unit_size(t->field_type);
        out.push_back({t->tag, t->field_type, t->count, {t->data, t->data + n}});
        EXPECT_EQ(t->data[n], 0) << "tag " << t->tag << " not terminated";
    }
    return out;
}

void PrintTo(const Tag& t, std::ostream* os) {
    *os << "{" << t.tag << ", type " << t.field_type << ", count " << t.count << "}";
}

// Every field type in IFD0, a few tags in the EXIF and GPS IFDs, as the reader gives them.
const std::vector<Tag> every_type_expected = {{254, 4, 1, le(4, {0})},
                                              {271, 2, 6, text("Canon")},
                                              {274, 3, 1, le(2, {1})},
                                              {282, 5, 1, le(4, {300, 1})},
                                              {296, 3, 3, le(2, {1, 300, 65535})},
                                              {320, 4, 2, le(4, {7, 0x89ABCDEF})},
                                              {700, 1, 3, {1, 2, 255}},
                                              {33000, 6, 2, {0xFF, 5}},
                                              {33001, 7, 5, {9, 8, 7, 6, 5}},
                                              {33002, 8, 2, le(2, {-2, 1234})},
                                              {33003, 9, 1, le(4, {-100000})},
                                              {33004, 10, 2, le(4, {-1, 3, 7, -9})},
                                              {33434, 5, 1, le(4, {1, 400})},
                                              {34855, 3, 1, le(2, {100})},
                                              {36867, 2, 20, text("2013:06:23 16:49:15")},
                                              {37380, 10, 1, le(4, {-1, 3})},
                                              {0, 1, 4, {2, 3, 0, 0}},
                                              {1, 2, 2, text("N")},
                                              {2, 5, 3, le(4, {48, 1, 51, 1, 2959, 100})}};

// The block of those tags in either byte order, IFD0 with an orientation of 6, a float, a double
// (neither kept) and the pointers to the EXIF and GPS IFDs as well.
Bytes every_type_block(bool big) {
    Block b(big);
    auto values = [&](std::size_t from, std::size_t to) {
        std::vector<Block::Value> out;
        for (std::size_t i = from; i < to; ++i) {
            const Tag& t = every_type_expected[i];
            const std::size_t width = t.field_type % 5 ? tag_unit_size(t.field_type) : 4;
            Bytes data = t.data;
            for (std::size_t k = 0; big && k < data.size(); k += width)
                std::reverse(data.begin() + long(k), data.begin() + long(k + width));
            out.push_back({std::uint16_t(t.tag), std::uint16_t(t.field_type), t.count, data});
        }
        return out;
    };
    std::vector<Block::Value> ifd0 = values(0, 12);
    ifd0[2].data = b.numbers(2, {6});
    ifd0.insert(ifd0.end(), {{33005, 11, 1, b.numbers(4, {0x3F800000})},
                             {33006, 12, 1, b.numbers(8, {0x3FF0000000000000})},
                             {34665, 4, 1, b.numbers(4, {0})},
                             {34853, 4, 1, b.numbers(4, {0})}});
    const std::uint32_t ifd0_at = b.ifd(ifd0), exif_at = b.ifd(values(12, 16));
    b.patch(ifd0_at, 14, exif_at);
    b.patch(ifd0_at, 15, b.ifd(values(16, 19)));
    return b.bytes;
}

// One read of a block: whether it failed, the orientation and the tags it gave.
struct Read {
    bool failed;
    int orientation = -1;
    std::vector<Tag> tags;
    Image image;
    explicit Read(const std::vector<std::uint8_t>& block, Image im = {}) : image(std::move(im)) {
        failed = exif_read_block(block.data(), block.size(), image, orientation);
        tags = tags_of(image);
    }
};

// Floats and doubles (33005, 33006) and the pointers are not kept.
TEST(Exif, EveryFieldTypeInBothByteOrders) {
    for (bool big : {false, true}) {
        const Read r(every_type_block(big));
        EXPECT_FALSE(r.failed);
        EXPECT_EQ(r.orientation, 6);
        EXPECT_EQ(r.tags, every_type_expected) << big;
    }
}

TEST(Exif, ProfileTagReplacesTheProfileAndTextStopsAtItsFirstZero) {
    for (bool big : {false, true}) {
        Block b(big);
        std::vector<std::int64_t> icc(300);
        for (std::size_t i = 0; i < icc.size(); ++i) icc[i] = std::int64_t(i * 7 % 256);
        b.ifd({{270, 2, 8, b.numbers(1, {'a', 'b', 0, 'c', 'd', 0, 0, 0})},
               {34675, 7, 300, b.numbers(1, icc)}});
        Image im;
        const std::uint8_t old_profile[3] = {1, 2, 3};
        ASSERT_FALSE(image_set_profile(im, old_profile, 3));
        const Read r(b.bytes, std::move(im));
        EXPECT_FALSE(r.failed);
        EXPECT_EQ(r.orientation, 0);
        EXPECT_EQ(Bytes(r.image.profile, r.image.profile + r.image.profile_size),
                  b.numbers(1, icc));
        EXPECT_EQ(r.tags, (std::vector<Tag>{{270, 2, 3, text("ab")}}));
    }
}

// A bad header; IFD0 past the end, inside the header, and at the very end; 1000 entries declared
// and two bytes of room.
TEST(Exif, RefusedBlocksAddNothing) {
    for (const Bytes& bytes : std::vector<Bytes>{{},
                                                 {'I', 'I', 42, 0, 8, 0, 0},
                                                 {'I', 'M', 42, 0, 8, 0, 0, 0, 0, 0},
                                                 {'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0},
                                                 {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF, 0, 0},
                                                 {'I', 'I', 42, 0, 2, 0, 0, 0, 0, 0},
                                                 {'M', 'M', 0, 42, 0, 0, 0, 9, 0, 1},
                                                 {'I', 'I', 42, 0, 8, 0, 0, 0, 0xE8, 0x03, 1, 1}}) {
        const Read r(bytes);
        EXPECT_TRUE(r.failed && r.tags.empty() && r.orientation == 0) << bytes.size();
    }
}

// One IFD whose entries are all wrong but the first.
std::vector<std::uint8_t> hostile_block(bool big) {
    Block b(big);
    const std::uint32_t ifd0 = b.ifd({
        {271, 2, 6, b.numbers(1, {'N', 'i', 'k', 'o', 'n', 0})},
        {272, 2, 40, b.numbers(1, std::vector<std::int64_t>(40, 'x'))},  // offset made bad
        {273, 4, 0xFFFFFFFF, b.numbers(4, {0})},                         // absurd count
        {274, 3, 0x40000000, b.numbers(4, {16})},                        // count x 2 wraps 32 bits
        {305, 0x1234, 1, b.numbers(4, {0})},                             // unknown field type
        {306, 3, 0, {}},                                                 // no values
        {34665, 4, 1, b.numbers(4, {8})},           // the EXIF IFD is IFD0 itself
        {34853, 4, 1, b.numbers(4, {0x7FFFFFF0})},  // GPS IFD past the end
    });
    b.patch(ifd0, 1, 0xFFFFFFF0);
    return b.bytes;
}

TEST(Exif, HostileEntriesAreSkippedAndTheRestKept) {
    for (bool big : {false, true}) {
        const Read r(hostile_block(big));
        EXPECT_FALSE(r.failed);
        EXPECT_EQ(r.orientation, 0);
        EXPECT_EQ(r.tags, (std::vector<Tag>{{271, 2, 6, text("Nikon")}})) << big;
    }
}

// Every prefix of a block: nothing is read past its end (the sanitizer build checks), and a
// longer prefix never knows fewer tags.
TEST(Exif, EveryPrefixOfABlockReadsSafely) {
    for (const auto& [block, tags] : {std::pair{every_type_block(true), every_type_expected.size()},
                                      std::pair{hostile_block(false), std::size_t{1}}}) {
        std::size_t previous = 0;
        for (std::size_t n = 0; n <= block.size(); ++n) {
            const Read r(Bytes(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n)));
            if (r.failed) continue;
            EXPECT_GE(r.tags.size(), previous) << n;
            previous = r.tags.size();
        }
        EXPECT_EQ(previous, tags);
    }
}

TEST(Exif, SubIfdsSharingAnOffsetAreReadOnce) {
    Block b(false);
    const std::uint32_t ifd0 =
        b.ifd({{34665, 4, 1, b.numbers(4, {0})}, {34853, 4, 1, b.numbers(4, {0})}});
    const std::uint32_t sub = b.ifd({{36864, 7, 4, b.numbers(1, {'0', '2', '3', '0'})}});
    b.patch(ifd0, 0, sub);
    b.patch(ifd0, 1, sub);
    EXPECT_EQ(Read(b.bytes).tags, (std::vector<Tag>{{36864, 7, 4, {'0', '2', '3', '0'}}}));
}

// An IFD0 of n entries at offset 8 of the block: entry i gets tag, type and count from entry(i);
// entries of more than 4 bytes all point at the same values behind the IFD.
Bytes ifd_of(
    std::uint32_t n, std::uint32_t shared,
    const std::function<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>(std::uint32_t)>&
        entry) {
    const std::uint32_t values_at = 8 + 2 + 12 * n + 4;
    Bytes b(values_at + shared, 0x41);
    b[0] = b[1] = 'I';
    put_number(b, 2, 42, 2);
    put_number(b, 4, 8);
    put_number(b, 8, n, 2);
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto [tag, type, count] = entry(i);
        const std::size_t at = 10 + 12 * std::size_t{i};
        put_number(b, at, tag, 2);
        put_number(b, at + 2, type, 2);
        put_number(b, at + 4, count);
        put_number(b, at + 8, count * tag_unit_size(std::int32_t(type)) > 4 ? values_at : i);
    }
    put_number(b, values_at - 4, 0);
    return b;
}

// Thousands of entries pointing at the same 40000 bytes: the values kept never exceed the block
// (so two of them), entries whose values sit inside them are all kept, and the child reading it
// stays small instead of holding gigabytes of copies. The largest IFD, 65535 entries, comes back
// whole and in order.
TEST(Exif, EntriesSharingTheirValuesKeepNoMoreThanTheBlock) {
    constexpr std::uint32_t n = 5000, shared = 40000;
    const Bytes block = ifd_of(n, shared, [=](std::uint32_t i) {
        return i < n - 10 ? std::tuple{1000 + i, 7u, shared} : std::tuple{1000 + i, 3u, 1u};
    });
    EXPECT_LT(testing::peak_growth_mib([&] { (void)Read(block); }), 50);
    const Read r(block);
    ASSERT_FALSE(r.failed);
    ASSERT_EQ(r.tags.size(), 12u);
    EXPECT_TRUE(r.tags[0].tag == 1000 && r.tags[1].tag == 1001 && r.tags[0].count == shared &&
                r.tags[0].data == Bytes(shared, 0x41));
    for (std::uint32_t k = 2; k < 12; ++k)
        EXPECT_EQ(r.tags[k], (Tag{n - 12 + k + 1000, 3, 1, le(2, {n - 12 + k})}));

    // Numbers repeat below the pointer and profile tags, which are not kept as tags.
    const Read all(ifd_of(65535, 0, [](std::uint32_t i) { return std::tuple{i % 30000, 4u, 1u}; }));
    ASSERT_FALSE(all.failed);
    ASSERT_EQ(all.tags.size(), 65535u);
    for (std::uint32_t i = 0; i < 65535; i += 4681)
        EXPECT_EQ(all.tags[i], (Tag{i % 30000, 4, 1, le(4, {i})}));
}

// The dpi of the resolution tags: inches (also when no unit is given), centimetres, and none
// for any other unit or a zero denominator.
TEST(Exif, ResolutionOfTheTags) {
    struct Case {
        std::uint32_t num, den;
        std::uint16_t unit;
        double dpi;
    };
    for (const Case& c : {Case{300, 1, 2, 300.0}, Case{720, 2, 0, 360.0}, Case{100, 1, 3, 254.0},
                          Case{300, 1, 1, 0.0}, Case{300, 0, 2, 0.0}}) {
        const Read r(testing::resolution_exif_block(c.num, c.den, c.unit));
        EXPECT_NEAR(exif_resolution_dpi(r.image), c.dpi, 1e-9)
            << c.num << "/" << c.den << " " << c.unit;
    }
}

}  // namespace
}  // namespace tessaly
