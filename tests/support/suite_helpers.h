// Small helpers shared by the engine suites: raw file bytes, curves from points and, where
// Little CMS is at hand, profiles made on the fly.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/curve.h"

#if __has_include(<lcms2.h>)
#include <lcms2.h>
#endif

namespace tessaly::testing {

using Bytes = std::vector<std::uint8_t>;

// Writes bytes exactly (no mark, no line-end translation), creating nothing else.
inline void put_file(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void put_file(const std::string& path, const Bytes& bytes) {
    put_file(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// A file's bytes; empty when it cannot be read.
inline std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file's bytes as a byte vector; empty for an empty path or a file that cannot be read.
inline Bytes file_bytes(const std::string& path) {
    const std::string text = path.empty() ? std::string() : file_text(path);
    return Bytes(text.begin(), text.end());
}

inline Curve make_curve(int style, std::initializer_list<std::pair<int, int>> points) {
    Curve c;
    c.style = style;
    c.npts = static_cast<int>(points.size());
    int i = 0;
    for (auto [x, y] : points) c.x[i] = x, c.y[i] = y, ++i;
    return c;
}

#if __has_include(<lcms2.h>)
// The profile's bytes with a description and device class. The header's creation date is fixed:
// Little CMS stamps the current time, so two profiles made a second apart would differ.
inline Bytes profile_bytes(cmsHPROFILE p, const char* description,
                           cmsProfileClassSignature device_class = cmsSigDisplayClass) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(mlu, "en", "US", description);
    cmsWriteTag(p, cmsSigProfileDescriptionTag, mlu);
    cmsMLUfree(mlu);
    cmsSetDeviceClass(p, device_class);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    Bytes bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    const std::uint8_t date[12] = {0x07, 0xE4, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};  // 2020-01-01
    if (bytes.size() >= 36) std::copy(date, date + 12, bytes.begin() + 24);
    return bytes;
}

// sRGB-like primaries, or wide (Adobe RGB-like) ones, with one gamma for all channels.
inline Bytes rgb_profile(const char* description, bool wide = false, double gamma_value = 2.2,
                         cmsProfileClassSignature device_class = cmsSigDisplayClass) {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE narrow = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    const cmsCIExyYTRIPLE broad = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, gamma_value);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, wide ? &broad : &narrow, curves);
    cmsFreeToneCurve(gamma);
    return profile_bytes(p, description, device_class);
}

inline Bytes gray_profile(const char* description, double gamma_value = 2.2,
                          cmsProfileClassSignature device_class = cmsSigDisplayClass) {
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, gamma_value);
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
    cmsFreeToneCurve(gamma);
    return profile_bytes(p, description, device_class);
}
#endif

}  // namespace tessaly::testing
