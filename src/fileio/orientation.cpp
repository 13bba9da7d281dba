#include <utility>

#include "core/image_orient.h"
#include "fileio/image_file.h"

namespace tessaly {

namespace {

// Orientation tag values 1..8 as the rearrangement that turns the picture upright.
constexpr std::int32_t upright_code[9] = {
    orientation_unchanged,          // 0: not a valid value
    orientation_unchanged,          // 1
    orientation_mirror_left_right,  // 2
    orientation_rotate_180,         // 3
    orientation_mirror_top_bottom,  // 4
    orientation_transpose,          // 5
    orientation_rotate_cw,          // 6
    orientation_transverse,         // 7
    orientation_rotate_ccw,         // 8
};

// The tag keeps its field type; its first value becomes 1.
void mark_upright(Image& picture) {
    for (MetadataTag* t = picture.tags; t; t = t->next) {
        const bool whole_number = t->field_type == 1 || t->field_type == 3 || t->field_type == 4 ||
                                  t->field_type == 8 || t->field_type == 9;
        if (t->tag != 274 || !whole_number || t->count == 0 || !t->data) continue;
        const std::uint32_t unit = tag_unit_size(t->field_type);
        for (std::uint32_t i = 0; i < unit; ++i) t->data[i] = 0;
        t->data[0] = 1;
    }
}

}  // namespace

bool apply_orientation(Image& picture, int orientation) {
    // Values outside 1..8 (cameras write 0) carry no turn; the picture is taken as it is.
    const std::int32_t code =
        orientation >= 1 && orientation <= 8 ? upright_code[orientation] : orientation_unchanged;
    if (code != orientation_unchanged && !picture.empty()) {
        // Built in a scratch Image and moved back: the rearrangement cannot work in place.
        Image turned;
        if (image_orient(picture, turned, code)) return true;
        picture = std::move(turned);
    }
    mark_upright(picture);
    return false;
}

}  // namespace tessaly
