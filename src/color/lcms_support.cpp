#include "color/lcms_support.h"

#include <lcms2_plugin.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "core/builtin_profiles.h"

namespace tessaly {

// One bounded context: what lives in it and what it may hold.
struct BoundedSlot {
    cmsContext context = nullptr;
    std::atomic<std::uint64_t> live{0};
    std::atomic<std::uint64_t> limit{~std::uint64_t{0}};
    std::uint64_t idle = 0;  // what the empty context holds of its own
    bool claimed = false;    // under the pool's lock
};

namespace {

// What a transform needs beside its profiles' own tables (the optimiser's grids and curves are a
// few megabytes at most), and how many times its size a profile may take: its copy, tables
// widened from 8 to 16 bits, the tag objects made from them.
constexpr std::uint64_t transform_bytes_allowed = std::uint64_t{16} << 20;
constexpr std::uint64_t bytes_per_profile_byte = 4;

// Each block carries its size and its slot in front of it, so a free needs no lookup.
struct alignas(16) BlockHeader {
    std::uint64_t size;
    BoundedSlot* slot;
};

BoundedSlot* slot_of(cmsContext context) {
    return static_cast<BoundedSlot*>(cmsGetContextUserData(context));
}

bool take(BoundedSlot* slot, std::uint64_t size) {
    const std::uint64_t before = slot->live.fetch_add(size);
    if (before + size <= slot->limit.load()) return true;
    slot->live.fetch_sub(size);
    return false;
}

void* bounded_malloc(cmsContext context, cmsUInt32Number size) {
    BoundedSlot* slot = slot_of(context);
    if (!slot || !take(slot, size)) return nullptr;
    auto* block = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (!block) {
        slot->live.fetch_sub(size);
        return nullptr;
    }
    *block = {size, slot};
    return block + 1;
}

void bounded_free(cmsContext, void* pointer) {
    if (!pointer) return;
    BlockHeader* block = static_cast<BlockHeader*>(pointer) - 1;
    block->slot->live.fetch_sub(block->size);
    std::free(block);
}

void* bounded_realloc(cmsContext context, void* pointer, cmsUInt32Number size) {
    if (!pointer) return bounded_malloc(context, size);
    BlockHeader* block = static_cast<BlockHeader*>(pointer) - 1;
    BoundedSlot* slot = block->slot;
    const std::uint64_t old_size = block->size;
    if (size > old_size && !take(slot, size - old_size)) return nullptr;
    auto* moved = static_cast<BlockHeader*>(std::realloc(block, sizeof(BlockHeader) + size));
    if (!moved) {
        if (size > old_size) slot->live.fetch_sub(size - old_size);
        return nullptr;
    }
    if (size < old_size) slot->live.fetch_sub(old_size - size);
    moved->size = size;
    return moved + 1;
}

cmsPluginMemHandler memory_plugin = {{cmsPluginMagicNumber, 2000, cmsPluginMemHandlerSig, nullptr},
                                     bounded_malloc,
                                     bounded_free,
                                     bounded_realloc,
                                     nullptr,
                                     nullptr,
                                     nullptr};

// The slots live as long as the process: profiles and transforms anywhere may still point into
// their contexts at exit.
struct Pool {
    std::mutex lock;
    std::vector<std::unique_ptr<BoundedSlot>> slots;
};

Pool& pool() {
    static Pool* p = new Pool;
    return *p;
}

BoundedSlot* claim_slot(std::uint64_t profile_bytes) {
    Pool& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    BoundedSlot* slot = nullptr;
    for (const auto& s : p.slots) {
        if (!s->claimed && s->live.load() == s->idle) {
            slot = s.get();
            break;
        }
    }
    if (!slot) {
        auto made = std::make_unique<BoundedSlot>();
        made->context = cmsCreateContext(&memory_plugin, made.get());
        if (!made->context) return nullptr;
        made->idle = made->live.load();
        p.slots.push_back(std::move(made));
        slot = p.slots.back().get();
    }
    slot->claimed = true;
    const std::uint64_t room = profile_bytes > (std::uint64_t{1} << 40)
                                   ? std::uint64_t{1} << 42
                                   : profile_bytes * bytes_per_profile_byte;
    slot->limit.store(slot->idle + transform_bytes_allowed + room);
    return slot;
}

}  // namespace

BoundedContext::BoundedContext(std::uint64_t profile_bytes) : slot_(claim_slot(profile_bytes)) {}

BoundedContext::~BoundedContext() {
    if (!slot_) return;
    std::lock_guard<std::mutex> guard(pool().lock);
    slot_->claimed = false;
}

BoundedContext::BoundedContext(BoundedContext&& other) noexcept : slot_(other.slot_) {
    other.slot_ = nullptr;
}

BoundedContext& BoundedContext::operator=(BoundedContext&& other) noexcept {
    if (this != &other) {
        BoundedContext gone(std::move(*this));
        slot_ = other.slot_;
        other.slot_ = nullptr;
    }
    return *this;
}

cmsContext BoundedContext::get() const {
    return slot_ ? slot_->context : nullptr;
}

std::size_t bounded_context_count() {
    Pool& p = pool();
    std::lock_guard<std::mutex> guard(p.lock);
    return p.slots.size();
}

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

ProfileHandle open_profile_in(cmsContext context, const std::uint8_t* bytes, std::uint32_t size) {
    if (!context || !bytes || size == 0) return ProfileHandle();
    return ProfileHandle(cmsOpenProfileFromMemTHR(context, bytes, size));
}

ProfileHandle open_profile(const std::uint8_t* bytes, std::uint32_t size) {
    // The claim ends here; what the profile holds keeps the context from being reused.
    BoundedContext context(size);
    return open_profile_in(context.get(), bytes, size);
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
