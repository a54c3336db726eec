// The AVX2 kernel: four lanes.
#include "kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

namespace planesieve_kernels {

namespace {

#define KERNEL_TARGET __attribute__((target("avx2")))

struct Avx2Lanes {
    static constexpr int kLanes = 4;
    static constexpr int kGroups = 1;
    using Reg = __m256d;
    using Lanes = __m256d;  // all bits set in a lane of the set

    KERNEL_TARGET static Reg broadcast(double value) { return _mm256_set1_pd(value); }
    KERNEL_TARGET static Reg mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
    KERNEL_TARGET static Reg add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
    KERNEL_TARGET static Reg max(Reg a, Reg b) { return _mm256_max_pd(a, b); }
    KERNEL_TARGET static void store(double* values, Reg a) { _mm256_storeu_pd(values, a); }
    KERNEL_TARGET static Lanes atLeast(Reg v, Reg limit) { return _mm256_cmp_pd(v, limit, _CMP_GE_OQ); }
    KERNEL_TARGET static Lanes isNan(Reg v) { return _mm256_cmp_pd(v, v, _CMP_UNORD_Q); }
    KERNEL_TARGET static Lanes all() { return _mm256_castsi256_pd(_mm256_set1_epi32(-1)); }
    KERNEL_TARGET static Lanes both(Lanes a, Lanes b) { return _mm256_and_pd(a, b); }
    KERNEL_TARGET static Lanes either(Lanes a, Lanes b) { return _mm256_or_pd(a, b); }
    KERNEL_TARGET static Lanes butNot(Lanes a, Lanes b) { return _mm256_andnot_pd(b, a); }
    KERNEL_TARGET static unsigned bits(Lanes a) { return static_cast<unsigned>(_mm256_movemask_pd(a)); }
    KERNEL_TARGET static bool isEmpty(Lanes a) { return _mm256_testz_pd(a, a) != 0; }
    KERNEL_TARGET static Reg addIn(Reg a, Reg b, Lanes lanes) {
        return _mm256_add_pd(a, _mm256_and_pd(b, lanes));
    }

    KERNEL_TARGET static Reg gather(const double* first, Index stride) {
        return _mm256_set_pd(first[3 * stride], first[2 * stride], first[stride], first[0]);
    }
    KERNEL_TARGET KESTREL_INLINE_STEP static void transposeSquare(const double* first, Index stride,
                                                                  Reg* columns) {
        const Reg r0 = _mm256_loadu_pd(first), r1 = _mm256_loadu_pd(first + stride);
        const Reg r2 = _mm256_loadu_pd(first + 2 * stride), r3 = _mm256_loadu_pd(first + 3 * stride);
        const Reg even01 = _mm256_unpacklo_pd(r0, r1), odd01 = _mm256_unpackhi_pd(r0, r1);
        const Reg even23 = _mm256_unpacklo_pd(r2, r3), odd23 = _mm256_unpackhi_pd(r2, r3);
        columns[0] = _mm256_permute2f128_pd(even01, even23, 0x20);
        columns[1] = _mm256_permute2f128_pd(odd01, odd23, 0x20);
        columns[2] = _mm256_permute2f128_pd(even01, even23, 0x31);
        columns[3] = _mm256_permute2f128_pd(odd01, odd23, 0x31);
    }

    template <int Width>
    KERNEL_TARGET static void load(const double* rows, Reg& x, Reg& y, Reg& z) {
        if (Width == 3) {
            // [x0 y0 z0 x1] [y1 z1 x2 y2] [z2 x3 y3 z3]: two blends put each
            // coordinate's four values in one register, a permute orders them.
            const Reg r0 = _mm256_loadu_pd(rows), r1 = _mm256_loadu_pd(rows + 4);
            const Reg r2 = _mm256_loadu_pd(rows + 8);
            x = _mm256_permute4x64_pd(_mm256_blend_pd(_mm256_blend_pd(r0, r1, 0x4), r2, 0x2), 0x6c);
            y = _mm256_permute4x64_pd(_mm256_blend_pd(_mm256_blend_pd(r0, r1, 0x9), r2, 0x4), 0xb1);
            z = _mm256_permute4x64_pd(_mm256_blend_pd(_mm256_blend_pd(r0, r1, 0x2), r2, 0x9), 0xc6);
        } else {
            // Four rows of four: a transpose, the fourth column dropped.
            const Reg r0 = _mm256_loadu_pd(rows), r1 = _mm256_loadu_pd(rows + 4);
            const Reg r2 = _mm256_loadu_pd(rows + 8), r3 = _mm256_loadu_pd(rows + 12);
            const Reg xz01 = _mm256_unpacklo_pd(r0, r1), xz23 = _mm256_unpacklo_pd(r2, r3);
            const Reg yw01 = _mm256_unpackhi_pd(r0, r1), yw23 = _mm256_unpackhi_pd(r2, r3);
            x = _mm256_permute2f128_pd(xz01, xz23, 0x20);
            y = _mm256_permute2f128_pd(yw01, yw23, 0x20);
            z = _mm256_permute2f128_pd(xz01, xz23, 0x31);
        }
    }
};

#include "kernel_body.hpp"

}  // namespace

const Kernel kAvx2Kernel = {"avx2", firstCullingPlaneSimd<Avx2Lanes>, cullBoxesSimd<Avx2Lanes>,
                            cullTablesSimd<Avx2Lanes>};

}  // namespace planesieve_kernels

#endif
