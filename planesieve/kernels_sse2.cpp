// The SSE2 kernel: two lanes, which every x86-64 has.
#include "kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

namespace planesieve_kernels {

namespace {

#define KERNEL_TARGET __attribute__((target("sse2")))

struct Sse2Lanes {
    static constexpr int kLanes = 2;
    static constexpr int kGroups = 1;
    using Reg = __m128d;
    using Lanes = __m128d;  // all bits set in a lane of the set

    KERNEL_TARGET static Reg broadcast(double value) { return _mm_set1_pd(value); }
    KERNEL_TARGET static Reg mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
    KERNEL_TARGET static Reg add(Reg a, Reg b) { return _mm_add_pd(a, b); }
    KERNEL_TARGET static Reg max(Reg a, Reg b) { return _mm_max_pd(a, b); }
    KERNEL_TARGET static void store(double* values, Reg a) { _mm_storeu_pd(values, a); }
    KERNEL_TARGET static Lanes atLeast(Reg v, Reg limit) { return _mm_cmpge_pd(v, limit); }
    KERNEL_TARGET static Lanes isNan(Reg v) { return _mm_cmpunord_pd(v, v); }
    KERNEL_TARGET static Lanes all() { return _mm_castsi128_pd(_mm_set1_epi32(-1)); }
    KERNEL_TARGET static Lanes both(Lanes a, Lanes b) { return _mm_and_pd(a, b); }
    KERNEL_TARGET static Lanes either(Lanes a, Lanes b) { return _mm_or_pd(a, b); }
    KERNEL_TARGET static Lanes butNot(Lanes a, Lanes b) { return _mm_andnot_pd(b, a); }
    KERNEL_TARGET static unsigned bits(Lanes a) { return static_cast<unsigned>(_mm_movemask_pd(a)); }
    KERNEL_TARGET static bool isEmpty(Lanes a) { return _mm_movemask_pd(a) == 0; }
    KERNEL_TARGET static Reg addIn(Reg a, Reg b, Lanes lanes) {
        return _mm_add_pd(a, _mm_and_pd(b, lanes));
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

const Kernel kSse2Kernel = {"sse2", firstCullingPlaneSimd<Sse2Lanes>, cullBoxesSimd<Sse2Lanes>,
                            // Two tables a register do not pay for turning them into columns.
                            cullTablesOneByOne};

}  // namespace planesieve_kernels

#endif
