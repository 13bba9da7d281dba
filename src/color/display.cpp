#include "color/display.h"

#include <cstring>

#include "core/builtin_profiles.h"
#include "core/format.h"
#include "core/runner.h"
#include "core/tables.h"

namespace tessaly {

namespace {

bool present(const std::uint8_t* bytes, std::uint32_t size) {
    return bytes && size > 0;
}

ProfileHandle source_profile(cmsContext context, const Image& image) {
    if (present(image.profile, image.profile_size)) {
        ProfileHandle own = open_profile_in(context, image.profile, image.profile_size);
        if (own) return own;
    }
    if (display_copy_type(image.type) == image_gray8) {
        const ProfileBytes gray = builtin_gray_profile();
        return open_profile_in(context, gray.data, gray.size);
    }
    return ProfileHandle(cmsCreate_sRGBProfileTHR(context));
}

}  // namespace

std::uint32_t display_copy_type(std::uint32_t image_type) {
    switch (image_type) {
        case image_binary:
        case image_gray8:
        case image_gray16:
            return image_gray8;
        case image_color24:
        case image_color48:
            return image_color24;
        default:
            return 0;
    }
}

bool build_display_transform(const Image& image, const DisplaySettings& settings,
                             DisplayTransform& result) {
    result = DisplayTransform();
    const std::uint32_t input_type = display_copy_type(image.type);
    // Profiles of a display transform live in its own context.
    const std::uint64_t profile_bytes = std::uint64_t{image.profile ? image.profile_size : 0} +
                                        settings.monitor_profile_size +
                                        settings.proofing_profile_size;
    BoundedContext context(profile_bytes);
    if (input_type == 0 || !context.get()) {
        show_error(display_transform_failure);
        return true;
    }
    cmsContext ctx = context.get();
    ProfileHandle source = source_profile(ctx, image);
    ProfileHandle monitor =
        present(settings.monitor_profile, settings.monitor_profile_size)
            ? open_profile_in(ctx, settings.monitor_profile, settings.monitor_profile_size)
            : ProfileHandle(cmsCreate_sRGBProfileTHR(ctx));
    const cmsUInt32Number in_format = lcms_format(input_type);
    const LcmsIntent intent = lcms_intent(settings.intent);
    TransformHandle transform;
    if (source && monitor) {
        if (settings.proofing &&
            present(settings.proofing_profile, settings.proofing_profile_size)) {
            ProfileHandle proof =
                open_profile_in(ctx, settings.proofing_profile, settings.proofing_profile_size);
            cmsUInt32Number flags = intent.flags | cmsFLAGS_SOFTPROOFING;
            if (settings.gamut_alarm) {
                flags |= cmsFLAGS_GAMUTCHECK;
                // Alarm codes are in the output's colorant order, red first.
                cmsUInt16Number codes[cmsMAXCHANNELS] = {};
                for (int c = 0; c < 3; ++c) codes[c] = to16[settings.alarm_color[c]];
                cmsSetAlarmCodesTHR(ctx, codes);
            }
            if (proof) {
                transform.reset(cmsCreateProofingTransformTHR(
                    ctx, source.get(), in_format, monitor.get(), TYPE_BGR_8, proof.get(),
                    intent.intent, lcms_intent(settings.proofing_intent).intent, flags));
            }
        } else {
            transform.reset(cmsCreateTransformTHR(ctx, source.get(), in_format, monitor.get(),
                                                  TYPE_BGR_8, intent.intent, intent.flags));
        }
    }
    if (!transform) {
        show_error(display_transform_failure);
        return true;
    }
    result.context = std::move(context);
    result.transform = std::move(transform);
    result.input_type = input_type;
    return false;
}

bool display_convert(const Image& image, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                     std::uint32_t y1, const DisplayTransform* transform,
                     const MonitorCurveTables* curves, Image& buffer) {
    image_free(buffer);
    Image copy;
    if (image_display_copy(image, x0, y0, x1, y1, copy, nullptr, nullptr)) {
        show_error(image_display_copy_failure);
        return true;
    }
    const cmsHTRANSFORM t = transform && !transform->empty() ? transform->transform.get() : nullptr;
    if (t && transform->input_type != copy.type) {
        show_error(display_conversion_failure);
        return true;
    }
    const bool calibrate = curves && curves->red && curves->green && curves->blue;
    if (!t && !calibrate && copy.type == image_color24) {
        buffer = std::move(copy);
        return false;
    }
    if (image_alloc(buffer, image_color24, copy.width, copy.height, copy.dpi)) {
        show_error(display_conversion_failure);
        return true;
    }
    if (!buffer.rows) return false;
    const std::uint32_t width = copy.width;
    const bool gray = copy.type == image_gray8;
    const MonitorCurveTables tables = calibrate ? *curves : MonitorCurveTables();
    const std::uint8_t result = run_rows(
        [=](const Image* in, Image* out, int first, int last, Progress&) -> std::uint8_t {
            for (int r = first; r <= last; ++r) {
                const std::uint8_t* src = in->rows[r];
                std::uint8_t* dst = out->rows[r];
                if (t) {
                    cmsDoTransform(t, src, dst, width);
                } else if (gray) {
                    for (std::uint32_t x = 0; x < width; ++x)
                        dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
                } else {
                    std::memcpy(dst, src, std::size_t{3} * width);
                }
                if (calibrate) {
                    for (std::uint32_t x = 0; x < width; ++x) {
                        dst[3 * x] = tables.blue[dst[3 * x]];
                        dst[3 * x + 1] = tables.green[dst[3 * x + 1]];
                        dst[3 * x + 2] = tables.red[dst[3 * x + 2]];
                    }
                }
            }
            return 0;
        },
        {}, &copy, &buffer);
    if (result != 0) {
        image_free(buffer);
        show_error(display_conversion_failure);
        return true;
    }
    return false;
}

bool display_image(const Image& image, std::uint32_t x0, std::uint32_t y0, std::uint32_t x1,
                   std::uint32_t y1, const DisplaySettings& settings,
                   const MonitorCurveTables* curves, Image& buffer) {
    DisplayTransform transform;
    if (settings.color_management &&
        present(settings.monitor_profile, settings.monitor_profile_size)) {
        // A transform that cannot be built has shown its message; the picture still shows.
        if (build_display_transform(image, settings, transform)) transform = DisplayTransform();
    }
    return display_convert(image, x0, y0, x1, y1, &transform, curves, buffer);
}

}  // namespace tessaly
