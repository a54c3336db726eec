// The AVX-512 kernel: eight lanes (AVX-512F only).
#include "kernels.hpp"

#if defined(__x86_64__)

// GCC 12 takes the deliberately undefined register that its AVX-512
// intrinsics start from (_mm512_undefined_pd) for an uninitialised value once
// they are inlined; the header's own lines are exempted from that warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace planesieve_kernels {

namespace {

#define KERNEL_TARGET __attribute__((target("avx512f")))

struct Avx512Lanes {
    static constexpr int kLanes = 8;
    static constexpr int kGroups = 4;
    using Reg = __m512d;
    using Lanes = __mmask8;

    KERNEL_TARGET static Reg broadcast(double value) { return _mm512_set1_pd(value); }
    KERNEL_TARGET static Reg mul(Reg a, Reg b) { return _mm512_mul_pd(a, b); }
    KERNEL_TARGET static Reg add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
    KERNEL_TARGET static Reg max(Reg a, Reg b) { return _mm512_max_pd(a, b); }
    KERNEL_TARGET static void store(double* values, Reg a) { _mm512_storeu_pd(values, a); }
    KERNEL_TARGET static Lanes atLeast(Reg v, Reg limit) { return _mm512_cmp_pd_mask(v, limit, _CMP_GE_OQ); }
    KERNEL_TARGET static Lanes isNan(Reg v) { return _mm512_cmp_pd_mask(v, v, _CMP_UNORD_Q); }
    KERNEL_TARGET static Lanes all() { return 0xff; }
    KERNEL_TARGET static Lanes both(Lanes a, Lanes b) { return a & b; }
    KERNEL_TARGET static Lanes either(Lanes a, Lanes b) { return a | b; }
    KERNEL_TARGET static Lanes butNot(Lanes a, Lanes b) { return a & ~b; }
    KERNEL_TARGET static unsigned bits(Lanes a) { return a; }
    KERNEL_TARGET static bool isEmpty(Lanes a) { return a == 0; }
    KERNEL_TARGET static Reg addIn(Reg a, Reg b, Lanes lanes) {
        return _mm512_mask_add_pd(a, lanes, a, b);
    }

    // Lane i of a permute index picks element i of the first source (0-7)
    // or of the second (8-15).
    KERNEL_TARGET static __m512i lanes(long long e0, long long e1, long long e2, long long e3,
                                       long long e4, long long e5, long long e6, long long e7) {
        return _mm512_set_epi64(e7, e6, e5, e4, e3, e2, e1, e0);
    }

    KERNEL_TARGET static Reg gather(const double* first, Index stride) {
        return _mm512_set_pd(first[7 * stride], first[6 * stride], first[5 * stride], first[4 * stride],
                             first[3 * stride], first[2 * stride], first[stride], first[0]);
    }

    // Rows paired (value k of rows 2i and 2i + 1 side by side), then pairs
    // of pairs (128-bit blocks), then the halves.
    KERNEL_TARGET KESTREL_INLINE_STEP static void transposeSquare(const double* first, Index stride,
                                                                  Reg* columns) {
        Reg rows[8], pairs[8], quads[8];
        for (int r = 0; r < 8; ++r) {
            rows[r] = _mm512_loadu_pd(first + r * stride);
        }
        for (int r = 0; r < 8; r += 2) {
            pairs[r] = _mm512_unpacklo_pd(rows[r], rows[r + 1]);
            pairs[r + 1] = _mm512_unpackhi_pd(rows[r], rows[r + 1]);
        }
        const __m512i lowBlocks = lanes(0, 1, 8, 9, 4, 5, 12, 13), highBlocks = lanes(2, 3, 10, 11, 6, 7, 14, 15);
        for (int r = 0; r < 8; r += 4) {
            quads[r] = _mm512_permutex2var_pd(pairs[r], lowBlocks, pairs[r + 2]);
            quads[r + 1] = _mm512_permutex2var_pd(pairs[r + 1], lowBlocks, pairs[r + 3]);
            quads[r + 2] = _mm512_permutex2var_pd(pairs[r], highBlocks, pairs[r + 2]);
            quads[r + 3] = _mm512_permutex2var_pd(pairs[r + 1], highBlocks, pairs[r + 3]);
        }
        const __m512i lowHalves = lanes(0, 1, 2, 3, 8, 9, 10, 11), highHalves = lanes(4, 5, 6, 7, 12, 13, 14, 15);
        for (int k = 0; k < 4; ++k) {
            columns[k] = _mm512_permutex2var_pd(quads[k], lowHalves, quads[k + 4]);
            columns[k + 4] = _mm512_permutex2var_pd(quads[k], highHalves, quads[k + 4]);
        }
    }

    template <int Width>
    KERNEL_TARGET static void load(const double* rows, Reg& x, Reg& y, Reg& z) {
        if (Width == 3) {
            // 24 values in three registers: each coordinate's first five or
            // six values come from the first two, the rest from the third.
            const Reg r0 = _mm512_loadu_pd(rows), r1 = _mm512_loadu_pd(rows + 8);
            const Reg r2 = _mm512_loadu_pd(rows + 16);
            x = _mm512_permutex2var_pd(_mm512_permutex2var_pd(r0, lanes(0, 3, 6, 9, 12, 15, 0, 0), r1),
                                       lanes(0, 1, 2, 3, 4, 5, 10, 13), r2);
            y = _mm512_permutex2var_pd(_mm512_permutex2var_pd(r0, lanes(1, 4, 7, 10, 13, 0, 0, 0), r1),
                                       lanes(0, 1, 2, 3, 4, 8, 11, 14), r2);
            z = _mm512_permutex2var_pd(_mm512_permutex2var_pd(r0, lanes(2, 5, 8, 11, 14, 0, 0, 0), r1),
                                       lanes(0, 1, 2, 3, 4, 9, 12, 15), r2);
        } else {
            // Two rows a register: x and y of four rows from each pair of
            // registers, then the halves joined.
            const Reg r0 = _mm512_loadu_pd(rows), r1 = _mm512_loadu_pd(rows + 8);
            const Reg r2 = _mm512_loadu_pd(rows + 16), r3 = _mm512_loadu_pd(rows + 24);
            const __m512i xy = lanes(0, 4, 8, 12, 1, 5, 9, 13);
            const __m512i zw = lanes(2, 6, 10, 14, 3, 7, 11, 15);
            const Reg xy0 = _mm512_permutex2var_pd(r0, xy, r1), xy1 = _mm512_permutex2var_pd(r2, xy, r3);
            const Reg zw0 = _mm512_permutex2var_pd(r0, zw, r1), zw1 = _mm512_permutex2var_pd(r2, zw, r3);
            const __m512i lowHalves = lanes(0, 1, 2, 3, 8, 9, 10, 11);
            const __m512i highHalves = lanes(4, 5, 6, 7, 12, 13, 14, 15);
            x = _mm512_permutex2var_pd(xy0, lowHalves, xy1);
            y = _mm512_permutex2var_pd(xy0, highHalves, xy1);
            z = _mm512_permutex2var_pd(zw0, lowHalves, zw1);
        }
    }
};

#include "kernel_body.hpp"

}  // namespace

const Kernel kAvx512Kernel = {"avx512", firstCullingPlaneSimd<Avx512Lanes>, cullBoxesSimd<Avx512Lanes>,
                              cullTablesSimd<Avx512Lanes>};

}  // namespace planesieve_kernels

#endif
