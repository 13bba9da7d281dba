#include "color/lcms_support.h"

#include "core/builtin_profiles.h"

namespace tessaly {

const char* rendering_intent_name(std::int32_t code) {
    static const char* const names[rendering_intent_count] = {
        "Maintain Full Gamut", "Preserve Saturation", "Preserve Identical Colors",
        "Preserve Identical Colors and White Point",
        "Preserve Identical Colors + Black Point Compensation"};
    return code >= 0 && code < rendering_intent_count ? names[code] : names[0];
}

LcmsIntent lcms_intent(std::int32_t code) {
    switch (code) {
        case 1:
            return {INTENT_SATURATION, cmsFLAGS_NOCACHE};
        case 2:
            return {INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE};
        case 3:
            return {INTENT_ABSOLUTE_COLORIMETRIC, cmsFLAGS_NOCACHE};
        case 4:
            return {INTENT_RELATIVE_COLORIMETRIC,
                    cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION};
        default:
            return {INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE};
    }
}

cmsUInt32Number lcms_format(std::uint32_t image_type) {
    switch (image_type) {
        case image_gray8:
            return TYPE_GRAY_8;
        case image_color24:
            return TYPE_BGR_8;
        case image_gray16:
            return TYPE_GRAY_16;
        case image_color48:
            return TYPE_BGR_16;
        default:
            return 0;
    }
}

ProfileHandle open_profile(const std::uint8_t* bytes, std::uint32_t size) {
    if (!bytes || size == 0) return ProfileHandle();
    return ProfileHandle(cmsOpenProfileFromMem(bytes, size));
}

ProfileHandle fallback_profile(std::uint32_t image_type) {
    if (image_type == image_gray8 || image_type == image_gray16) {
        ProfileBytes gray = builtin_gray_profile();
        return open_profile(gray.data, gray.size);
    }
    return ProfileHandle(cmsCreate_sRGBProfile());
}

ProfileHandle image_profile_or_fallback(const Image& image) {
    if (image.profile && image.profile_size > 0) {
        ProfileHandle own = open_profile(image.profile, image.profile_size);
        if (own) return own;
    }
    return fallback_profile(image.type);
}

std::string profile_description(const std::uint8_t* bytes, std::uint32_t size) {
    ProfileHandle profile = open_profile(bytes, size);
    if (!profile) return {};
    char text[501] = {};
    cmsUInt32Number n =
        cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text, sizeof text);
    if (n == 0) return {};
    return std::string(text);
}

}  // namespace tessaly
