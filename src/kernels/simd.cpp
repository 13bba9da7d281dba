#include "kernels/simd.h"

namespace tessaly {

bool tessaly_has_avx2() {
#if TESSALY_AVX2
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

}  // namespace tessaly
