// What every colour transform of Tessaly shares: the rendering intent codes, the pixel formats
// of the image types, and owners that close Little CMS profiles and transforms however a run
// ends.
#pragma once

#include <lcms2.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/image.h"

namespace tessaly {

// Rendering intent codes: 0 "Maintain Full Gamut" (perceptual), 1 "Preserve Saturation",
// 2 "Preserve Identical Colors" (relative colorimetric), 3 "Preserve Identical Colors and White
// Point" (absolute colorimetric), 4 relative colorimetric with black point compensation.
constexpr int rendering_intent_count = 5;
const char* rendering_intent_name(std::int32_t code);
// The Little CMS intent and flags of a code (codes out of range count as 0). The no-cache flag
// is always part of the flags: transforms run on several threads at once.
struct LcmsIntent {
    cmsUInt32Number intent = INTENT_PERCEPTUAL;
    cmsUInt32Number flags = cmsFLAGS_NOCACHE;
};
LcmsIntent lcms_intent(std::int32_t code);

// The pixel format of an image type: gray 8-bit (2), blue-green-red 8-bit (3), gray 16-bit (4),
// blue-green-red 16-bit (5); 0 for the other types.
cmsUInt32Number lcms_format(std::uint32_t image_type);

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using ProfileHandle = std::unique_ptr<void, ProfileCloser>;
using TransformHandle = std::unique_ptr<void, TransformDeleter>;

// Little CMS allocates the tables a profile declares before it reads them, so a few bytes can
// claim gigabytes (grid points to the power of the inputs, times the outputs). Profiles read from
// bytes therefore live in contexts whose allocations may not exceed a budget sized from the
// bytes; a transform made from such a profile allocates in its context, within the same budget.
// A profile beyond its budget fails to open or to give a transform, like a damaged one.
// Contexts are kept for the whole run and reused once nothing allocated in them lives.
struct BoundedSlot;
class BoundedContext {
  public:
    // Claims an empty context with room for profiles of profile_bytes bytes in all and the
    // transforms between them; get() is null when none can be made.
    explicit BoundedContext(std::uint64_t profile_bytes);
    BoundedContext() = default;
    ~BoundedContext();
    BoundedContext(BoundedContext&& other) noexcept;
    BoundedContext& operator=(BoundedContext&& other) noexcept;
    BoundedContext(const BoundedContext&) = delete;
    BoundedContext& operator=(const BoundedContext&) = delete;

    cmsContext get() const;

  private:
    BoundedSlot* slot_ = nullptr;
};

// How many bounded contexts the run has made: the most that were in use at one time.
std::size_t bounded_context_count();

// Opens profile bytes (null when they do not parse), in a bounded context of its own.
ProfileHandle open_profile(const std::uint8_t* bytes, std::uint32_t size);
// The same in a context the caller claimed (null when they do not parse).
ProfileHandle open_profile_in(cmsContext context, const std::uint8_t* bytes, std::uint32_t size);
// The profile an image of a type converts from or to when it carries none: the built-in gray
// profile for gray types, Little CMS's own sRGB profile for colour types.
ProfileHandle fallback_profile(std::uint32_t image_type);
// The image's own profile, else the fallback of its type.
ProfileHandle image_profile_or_fallback(const Image& image);

// The description ("desc" tag, at most 500 characters) of profile bytes; "" when absent.
std::string profile_description(const std::uint8_t* bytes, std::uint32_t size);

}  // namespace tessaly
