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

// A box's coordinates in one register of four, the fourth lane unused.
struct Avx2Box {
    static constexpr int kRegs = 1;
    using Reg = __m256d;

    KERNEL_TARGET static Reg load(const double* values) { return _mm256_loadu_pd(values); }
    KERNEL_TARGET static Reg broadcast(double value) { return _mm256_set1_pd(value); }
    KERNEL_TARGET static Reg mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
    KERNEL_TARGET static Reg add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
    KERNEL_TARGET static Reg max(Reg a, Reg b) { return _mm256_max_pd(a, b); }
    KERNEL_TARGET static Reg min(Reg a, Reg b) { return _mm256_min_pd(a, b); }
    KERNEL_TARGET static Reg unordered(Reg a, Reg b) { return _mm256_cmp_pd(a, b, _CMP_UNORD_Q); }
    KERNEL_TARGET static Reg either(Reg a, Reg b) { return _mm256_or_pd(a, b); }
    KERNEL_TARGET static bool anyOf(const Reg* masks) { return (_mm256_movemask_pd(masks[0]) & 0x7) != 0; }
    KERNEL_TARGET static void storeThree(double* to, const Reg* regs, bool mayWriteFourth) {
        if (mayWriteFourth) {
            _mm256_storeu_pd(to, regs[0]);
            return;
        }
        _mm_storeu_pd(to, _mm256_castpd256_pd128(regs[0]));
        _mm_store_sd(to + 2, _mm256_extractf128_pd(regs[0], 1));
    }
};

#include "product_body.hpp"
#include "box_body.hpp"

#undef KERNEL_TARGET

}  // namespace

const Kernel kAvx2Kernel = {"avx2", Avx2Product::multiply, chainOf<Avx2Product>, worldOf<Avx2Product>, boxesOf<Avx2Box>};

}  // namespace affinekit_kernels

#endif
