// The AVX-512 kernel: two rows of the product in one register of eight
// (AVX-512F only).
#include "products.hpp"

#if defined(__x86_64__)

#include <cstring>

// GCC 12 takes the deliberately undefined register that its AVX-512
// intrinsics start from (_mm512_undefined_pd) for an uninitialised value once
// they are inlined; the header's own lines are exempted from that warning.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace affinekit_kernels {

namespace {

#define KERNEL_TARGET __attribute__((target("avx512f")))

// Element K of each 256-bit half, in all four of its lanes (an immediate,
// hence a template parameter).
template <int K>
KERNEL_TARGET inline __m512d everyLane(__m512d pair) {
    return _mm512_permutex_pd(pair, K * 0x55);
}

struct Avx512Product {
    KERNEL_TARGET static void multiply(const double* a, const double* b, double* p) {
        // b's row k in both halves, so that one register serves two rows of a.
        __m512d rowsOfB[4];
        for (int k = 0; k < 4; ++k) {
            rowsOfB[k] = _mm512_broadcast_f64x4(_mm256_loadu_pd(b + 4 * k));
        }
        __m512d rows[2];
        for (int i = 0; i < 2; ++i) {
            const __m512d pair = _mm512_loadu_pd(a + 8 * i);
            rows[i] = _mm512_add_pd(
                _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(everyLane<0>(pair), rowsOfB[0]),
                                            _mm512_mul_pd(everyLane<1>(pair), rowsOfB[1])),
                              _mm512_mul_pd(everyLane<2>(pair), rowsOfB[2])),
                _mm512_mul_pd(everyLane<3>(pair), rowsOfB[3]));
        }
        _mm512_storeu_pd(p, rows[0]);
        _mm512_storeu_pd(p + 8, rows[1]);
    }
};

#include "box_lanes256.hpp"
#include "product_body.hpp"
#include "box_body.hpp"

#undef KERNEL_TARGET

}  // namespace

const Kernel kAvx512Kernel = {"avx512", Avx512Product::multiply, chainOf<Avx512Product>,
                              worldOf<Avx512Product>, boxesOf<Box256>};

}  // namespace affinekit_kernels

#endif
