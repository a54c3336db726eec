// The SSE2 kernel: two lanes, which every x86-64 has.
#include "kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

namespace planesieve_kernels {

namespace {

#define KERNEL_TARGET __attribute__((target("sse2")))

struct Sse2Lanes {
    static constexpr int kLanes = 2;
    using Reg = __m128d;
    using Mask = unsigned;
    static constexpr Mask kAllLanes = 0x3;

    KERNEL_TARGET static Reg broadcast(double value) { return _mm_set1_pd(value); }
    KERNEL_TARGET static Reg mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
    KERNEL_TARGET static Reg add(Reg a, Reg b) { return _mm_add_pd(a, b); }
    KERNEL_TARGET static Reg max(Reg a, Reg b) { return _mm_max_pd(a, b); }
    KERNEL_TARGET static Mask atLeast(Reg v, Reg limit) {
        return static_cast<Mask>(_mm_movemask_pd(_mm_cmpge_pd(v, limit)));
    }
    KERNEL_TARGET static Mask isNan(Reg v) {
        return static_cast<Mask>(_mm_movemask_pd(_mm_cmpunord_pd(v, v)));
    }

    // Rows of 3: [x0 y0] [z0 x1] [y1 z1]; rows of 4: [x0 y0] [z0 w0] [x1 y1] [z1 w1].
    template <int Width>
    KERNEL_TARGET static void load(const double* rows, Reg& x, Reg& y, Reg& z) {
        if (Width == 3) {
            const Reg r0 = _mm_loadu_pd(rows), r1 = _mm_loadu_pd(rows + 2), r2 = _mm_loadu_pd(rows + 4);
            x = _mm_shuffle_pd(r0, r1, 0x2);
            y = _mm_shuffle_pd(r0, r2, 0x1);
            z = _mm_shuffle_pd(r1, r2, 0x2);
        } else {
            const Reg r0 = _mm_loadu_pd(rows), r1 = _mm_loadu_pd(rows + 2);
            const Reg r2 = _mm_loadu_pd(rows + 4), r3 = _mm_loadu_pd(rows + 6);
            x = _mm_unpacklo_pd(r0, r2);
            y = _mm_unpackhi_pd(r0, r2);
            z = _mm_unpacklo_pd(r1, r3);
        }
    }
};

#include "kernel_body.hpp"

}  // namespace

const Kernel kSse2Kernel = {"sse2", anyPointInsideSimd<Sse2Lanes>, cullBoxesSimd<Sse2Lanes>};

}  // namespace planesieve_kernels

#endif
