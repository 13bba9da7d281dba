// Numeric routines shared by every subsystem: rounding and the repeatable random numbers.
#pragma once

#include <cstdint>

namespace tessaly {

// Rounds half away from zero; every computed size, coordinate or level becomes an integer
// through this. Values beyond the 32-bit range are clamped.
std::int32_t round_to_int(double value);

// The process-wide pseudo-random generator: x <- 41358 x mod (2^31 - 1). Shared by worker
// threads, so every step is one atomic update.
constexpr std::int32_t random_repeatable_seed = 1234567;
// Sets the state (transformations that must reproduce their noise use random_repeatable_seed).
void random_set_state(std::int32_t state);
std::int32_t random_state();
// Mixes the state with the time of day (hours, minutes, seconds, milliseconds) for fresh noise.
void random_mix_with_time();
// Advances the state and returns it (1 .. 2^31 - 2 for a state in that range).
std::int32_t random_int();
// Advances the state and returns it divided by 2^31.
double random_real();
// One step of the generator without touching the shared state.
std::int32_t random_step(std::int32_t x);

}  // namespace tessaly
