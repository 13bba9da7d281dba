#include "builtin_profiles.h"

#include <lcms2.h>

#include <cstdlib>

namespace tessaly {

// The profiles are generated here rather than stored: Little CMS writes its own tag layout, so
// their sizes differ from the profiles of the same names that other programs carry, while the
// colorimetry (primaries, white, curves) is the same.

namespace {

constexpr double gamma_2_2 = 563.0 / 256.0;  // the value a u8Fixed8 curve stores for 2.2

// Owns the serialised bytes for the life of the program.
struct SavedProfile {
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;

    explicit SavedProfile(cmsHPROFILE profile) {
        if (!profile) return;
        cmsUInt32Number bytes = 0;
        if (cmsSaveProfileToMem(profile, nullptr, &bytes) && bytes > 0) {
            data = static_cast<std::uint8_t*>(std::malloc(bytes));
            if (data && cmsSaveProfileToMem(profile, data, &bytes)) {
                size = bytes;
            } else {
                std::free(data);
                data = nullptr;
            }
        }
        cmsCloseProfile(profile);
    }
    ~SavedProfile() { std::free(data); }
    SavedProfile(const SavedProfile&) = delete;
    SavedProfile& operator=(const SavedProfile&) = delete;

    ProfileBytes bytes() const { return {data, size}; }
};

bool set_text(cmsHPROFILE profile, cmsTagSignature tag, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    if (!mlu) return false;
    bool ok = cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
    cmsMLUfree(mlu);
    return ok;
}

// Closes the profile and gives nullptr when a tag cannot be written.
cmsHPROFILE describe(cmsHPROFILE profile, const char* description) {
    if (!profile) return nullptr;
    if (!set_text(profile, cmsSigProfileDescriptionTag, description) ||
        !set_text(profile, cmsSigCopyrightTag, "No copyright, use freely")) {
        cmsCloseProfile(profile);
        return nullptr;
    }
    return profile;
}

cmsHPROFILE make_srgb() {
    return describe(cmsCreate_sRGBProfile(), "sRGB IEC61966-2.1");
}

cmsHPROFILE make_gray() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma_2_2);
    if (!curve) return nullptr;
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    if (!profile) return nullptr;
    // Version 2 stores the gamma as one u8Fixed8 curve entry, exactly 563/256.
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    return describe(profile, "Gray Gamma 2.2");
}

cmsHPROFILE make_adobe_rgb() {
    // The D65 chromaticity of the published encoding rather than a computed black body.
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {
        {0.6400, 0.3300, 1.0},
        {0.2100, 0.7100, 1.0},
        {0.1500, 0.0600, 1.0},
    };
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma_2_2);
    if (!curve) return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (!profile) return nullptr;
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    return describe(profile, "Adobe RGB (1998)");
}

}  // namespace

// Function-local statics: made once, on first use, safely from any thread.
ProfileBytes builtin_srgb_profile() {
    static const SavedProfile profile(make_srgb());
    return profile.bytes();
}

ProfileBytes builtin_gray_profile() {
    static const SavedProfile profile(make_gray());
    return profile.bytes();
}

ProfileBytes builtin_adobe_rgb_profile() {
    static const SavedProfile profile(make_adobe_rgb());
    return profile.bytes();
}

}  // namespace tessaly
