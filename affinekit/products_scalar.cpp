// The portable scalar kernel: the reference every SIMD kernel is held to.
#include "products.hpp"

#include <cstring>

namespace affinekit_kernels {

namespace {

#define KERNEL_TARGET

struct ScalarProduct {
    static void multiply(const double* a, const double* b, double* p) {
        double rows[kValues];
        for (int i = 0; i < 4; ++i) {
            const double* const r = a + 4 * i;
            for (int j = 0; j < 4; ++j) {
                rows[4 * i + j] = ((r[0] * b[j] + r[1] * b[4 + j]) + r[2] * b[8 + j]) + r[3] * b[12 + j];
            }
        }
        std::memcpy(p, rows, sizeof(rows));
    }
};

#include "product_body.hpp"

#undef KERNEL_TARGET

}  // namespace

const Kernel kScalarKernel = {"scalar", ScalarProduct::multiply, chainOf<ScalarProduct>, worldOf<ScalarProduct>,
                                referenceBoxes};

}  // namespace affinekit_kernels
