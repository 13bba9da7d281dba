#include "numeric.h"

#include <atomic>
#include <chrono>
#include <ctime>

namespace tessaly {

std::int32_t round_to_int(double value) {
    double r = value >= 0.0 ? value + 0.5 : value - 0.5;
    if (!(r < 2147483647.0)) return value != value ? 0 : 2147483647;  // NaN gives 0
    if (r <= -2147483648.0) return -2147483647 - 1;
    return static_cast<std::int32_t>(r);
}

namespace {
constexpr std::int32_t modulus = 2147483647;  // 2^31 - 1
constexpr std::int32_t multiplier = 41358;
constexpr std::int32_t quotient = modulus / multiplier;   // 51924
constexpr std::int32_t remainder = modulus % multiplier;  // 10855
std::atomic<std::int32_t> state{random_repeatable_seed};
}  // namespace

// Schrage's method keeps every product inside 32 bits.
std::int32_t random_step(std::int32_t x) {
    std::int32_t hi = x / quotient;
    std::int32_t lo = x % quotient;
    std::int32_t t = multiplier * lo - remainder * hi;
    if (t < 0) t += modulus;
    return t;
}

void random_set_state(std::int32_t value) {
    state.store(value);
}
std::int32_t random_state() {
    return state.load();
}

void random_mix_with_time() {
    auto now = std::chrono::system_clock::now();
    std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    // The time of day packed like a clock reading: hours, minutes, seconds, milliseconds.
    std::int32_t mix = static_cast<std::int32_t>(
        ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + ms);
    std::int32_t x = state.load();
    while (!state.compare_exchange_weak(x, x ^ mix)) {
    }
}

std::int32_t random_int() {
    std::int32_t x = state.load();
    std::int32_t next = random_step(x);
    while (!state.compare_exchange_weak(x, next)) next = random_step(x);
    return next;
}

double random_real() {
    return random_int() / 2147483648.0;
}

}  // namespace tessaly
