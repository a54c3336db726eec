// A box's coordinates in one register of four, the fourth lane unused (a
// box is too narrow for eight lanes): the AVX2 and AVX-512 kernels both
// include this inside their own anonymous namespace, after KERNEL_TARGET,
// for box_body.hpp.
struct Box256 {
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
