// The AVX2 kernel: each row of the product in one register of four.
#include "products.hpp"

#if defined(__x86_64__)

#include <cstring>
#include <immintrin.h>

namespace affinekit_kernels {

namespace {

#define KERNEL_TARGET __attribute__((target("avx2")))

struct Avx2Product {
    KERNEL_TARGET static void multiply(const double* a, const double* b, double* p) {
        const __m256d b0 = _mm256_loadu_pd(b), b1 = _mm256_loadu_pd(b + 4);
        const __m256d b2 = _mm256_loadu_pd(b + 8), b3 = _mm256_loadu_pd(b + 12);
        __m256d rows[4];
        for (int i = 0; i < 4; ++i) {
            const double* const r = a + 4 * i;
            rows[i] = _mm256_add_pd(
                _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_broadcast_sd(r), b0),
                                            _mm256_mul_pd(_mm256_broadcast_sd(r + 1), b1)),
                              _mm256_mul_pd(_mm256_broadcast_sd(r + 2), b2)),
                _mm256_mul_pd(_mm256_broadcast_sd(r + 3), b3));
        }
        for (int i = 0; i < 4; ++i) {
            _mm256_storeu_pd(p + 4 * i, rows[i]);
        }
    }
};

#include "box_lanes256.hpp"
#include "product_body.hpp"
#include "box_body.hpp"

#undef KERNEL_TARGET

}  // namespace

const Kernel kAvx2Kernel = {"avx2", Avx2Product::multiply, chainOf<Avx2Product>, worldOf<Avx2Product>,
                            boxesOf<Box256>};

}  // namespace affinekit_kernels

#endif
