// The SSE2 kernel: each row of the product as two registers of two.
#include "products.hpp"

#if defined(__x86_64__)

#include <cstring>
#include <emmintrin.h>

namespace affinekit_kernels {

namespace {

#define KERNEL_TARGET __attribute__((target("sse2")))

struct Sse2Product {
    KERNEL_TARGET static void multiply(const double* a, const double* b, double* p) {
        __m128d low[4], high[4];
        for (int k = 0; k < 4; ++k) {
            low[k] = _mm_loadu_pd(b + 4 * k);
            high[k] = _mm_loadu_pd(b + 4 * k + 2);
        }
        __m128d rows[8];
        for (int i = 0; i < 4; ++i) {
            const double* const r = a + 4 * i;
            const __m128d r0 = _mm_set1_pd(r[0]), r1 = _mm_set1_pd(r[1]);
            const __m128d r2 = _mm_set1_pd(r[2]), r3 = _mm_set1_pd(r[3]);
            rows[2 * i] = _mm_add_pd(
                _mm_add_pd(_mm_add_pd(_mm_mul_pd(r0, low[0]), _mm_mul_pd(r1, low[1])), _mm_mul_pd(r2, low[2])),
                _mm_mul_pd(r3, low[3]));
            rows[2 * i + 1] = _mm_add_pd(
                _mm_add_pd(_mm_add_pd(_mm_mul_pd(r0, high[0]), _mm_mul_pd(r1, high[1])), _mm_mul_pd(r2, high[2])),
                _mm_mul_pd(r3, high[3]));
        }
        for (int k = 0; k < 8; ++k) {
            _mm_storeu_pd(p + 2 * k, rows[k]);
        }
    }
};

// A box's coordinates as two registers of two: (x, y) and (z, unused).
struct Sse2Box {
    static constexpr int kRegs = 2;
    using Reg = __m128d;

    KERNEL_TARGET static Reg load(const double* values) { return _mm_loadu_pd(values); }
    KERNEL_TARGET static Reg broadcast(double value) { return _mm_set1_pd(value); }
    KERNEL_TARGET static Reg mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
    KERNEL_TARGET static Reg add(Reg a, Reg b) { return _mm_add_pd(a, b); }
    KERNEL_TARGET static Reg max(Reg a, Reg b) { return _mm_max_pd(a, b); }
    KERNEL_TARGET static Reg min(Reg a, Reg b) { return _mm_min_pd(a, b); }
    KERNEL_TARGET static Reg unordered(Reg a, Reg b) { return _mm_cmpunord_pd(a, b); }
    KERNEL_TARGET static Reg either(Reg a, Reg b) { return _mm_or_pd(a, b); }
    KERNEL_TARGET static bool anyOf(const Reg* masks) {
        return (_mm_movemask_pd(masks[0]) | (_mm_movemask_pd(masks[1]) & 1)) != 0;
    }
    KERNEL_TARGET static void storeThree(double* to, const Reg* regs, bool) {
        _mm_storeu_pd(to, regs[0]);
        _mm_store_sd(to + 2, regs[1]);
    }
};

#include "product_body.hpp"
#include "box_body.hpp"

#undef KERNEL_TARGET

}  // namespace

const Kernel kSse2Kernel = {"sse2", Sse2Product::multiply, chainOf<Sse2Product>, worldOf<Sse2Product>, boxesOf<Sse2Box>};

}  // namespace affinekit_kernels

#endif
