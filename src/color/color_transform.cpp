#include "color/color_transform.h"

#include <cstring>
#include <memory>
#include <new>

#include "color/lcms_support.h"
#include "core/builtin_profiles.h"
#include "core/image_convert.h"
#include "core/runner.h"

namespace tessaly {

namespace {

bool present(const std::uint8_t* bytes, std::uint32_t size) {
    return bytes && size > 0;
}

ProfileHandle profile_or_fallback(const std::uint8_t* bytes, std::uint32_t size,
                                  std::uint32_t type) {
    // Bytes that do not parse are a failure, not a reason to fall back: the caller named them.
    return present(bytes, size) ? open_profile(bytes, size) : fallback_profile(type);
}

// Little CMS does not promise that a transform may read and write the same buffer, so each
// worker copies a row aside and transforms it back into place.
bool transform_rows_in_place(Image& image, cmsHTRANSFORM transform) {
    const std::size_t used = std::size_t{image_pixel_bytes(image.type)} * image.width;
    const cmsUInt32Number width = image.width;
    return run_rows(
               [=](const Image*, Image* out, int first, int last, Progress&) -> std::uint8_t {
                   std::unique_ptr<std::uint8_t[]> scratch(new (std::nothrow) std::uint8_t[used]);
                   if (!scratch) return 1;
                   for (int r = first; r <= last; ++r) {
                       std::memcpy(scratch.get(), out->rows[r], used);
                       cmsDoTransform(transform, scratch.get(), out->rows[r], width);
                   }
                   return 0;
               },
               {}, &image, &image) != 0;
}

// The seam of the image core: source and target differ in type, target has its size and
// profile already.
bool color_managed_conversion(const Image& source, Image& target) {
    const cmsUInt32Number in_format = lcms_format(source.type);
    const cmsUInt32Number out_format = lcms_format(target.type);
    if (in_format == 0 || out_format == 0 || source.width != target.width ||
        source.height != target.height) {
        return true;
    }
    ProfileHandle from = image_profile_or_fallback(source);
    ProfileHandle to = image_profile_or_fallback(target);
    if (!from || !to) return true;
    const LcmsIntent intent = lcms_intent(0);
    TransformHandle transform(cmsCreateTransform(from.get(), in_format, to.get(), out_format,
                                                 intent.intent, intent.flags));
    if (!transform) return true;
    if (!source.rows || !target.rows) return false;
    cmsHTRANSFORM t = transform.get();
    const cmsUInt32Number width = source.width;
    return run_rows(
               [=](const Image* in, Image* out, int first, int last, Progress&) -> std::uint8_t {
                   for (int r = first; r <= last; ++r)
                       cmsDoTransform(t, in->rows[r], out->rows[r], width);
                   return 0;
               },
               {}, &source, &target) != 0;
}

}  // namespace

bool convert_image_profile(Image& image, const std::uint8_t* from, std::uint32_t from_size,
                           const std::uint8_t* to, std::uint32_t to_size,
                           std::int32_t intent_code) {
    if (present(from, from_size) && present(to, to_size) && from_size == to_size &&
        std::memcmp(from, to, from_size) == 0) {
        return false;
    }
    const cmsUInt32Number format = lcms_format(image.type);
    if (format == 0) return true;
    ProfileHandle source = profile_or_fallback(from, from_size, image.type);
    ProfileHandle target = profile_or_fallback(to, to_size, image.type);
    if (!source || !target) return true;
    const LcmsIntent intent = lcms_intent(intent_code);
    TransformHandle transform(cmsCreateTransform(source.get(), format, target.get(), format,
                                                 intent.intent, intent.flags));
    if (!transform) return true;
    if (image.rows && transform_rows_in_place(image, transform.get())) return true;
    // A missing target stands for the fallback; the image then carries the built-in bytes of it.
    ProfileBytes attached{to, to_size};
    if (!present(to, to_size)) {
        const bool gray = image.type == image_gray8 || image.type == image_gray16;
        attached = gray ? builtin_gray_profile() : builtin_srgb_profile();
    }
    if (attached.data == image.profile && attached.size == image.profile_size) return false;
    return image_set_profile(image, attached.data, attached.size);
}

void install_color_transforms() {
    set_color_managed_conversion(color_managed_conversion);
}

}  // namespace tessaly
