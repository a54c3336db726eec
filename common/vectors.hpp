// The length of a three-vector without overflow or underflow, as the
// rotation axis and the frustum planes are normalised.
#ifndef KESTREL_NATIVE_VECTORS_HPP
#define KESTREL_NATIVE_VECTORS_HPP

#include <algorithm>
#include <cmath>

namespace kestrel_native {

// When the squared length of a finite, non-zero vector leaves the normal
// double range, the plain formula would refuse it or collapse it to zero.
// Scaling every component by the same power of two is exact and brings the
// largest one into [0.5, 1), so the squared length is normal. Returns the
// power of two to scale by (its exponent negated), 0 when none is needed.
inline int rangeExponent(double x, double y, double z, double squaredLength) {
    const int kind = std::fpclassify(squaredLength);
    const bool outOfRange = kind == FP_ZERO || kind == FP_SUBNORMAL || kind == FP_INFINITE;
    if (!outOfRange || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
        return 0;
    }
    const double largest = std::max({std::fabs(x), std::fabs(y), std::fabs(z)});
    if (largest == 0.0) {
        return 0;
    }
    int exponent = 0;
    std::frexp(largest, &exponent);
    return -exponent;
}

inline void rescaleIfOutOfRange(double& x, double& y, double& z, double squaredLength) {
    const int exponent = rangeExponent(x, y, z, squaredLength);
    if (exponent != 0) {
        x = std::ldexp(x, exponent);
        y = std::ldexp(y, exponent);
        z = std::ldexp(z, exponent);
    }
}

}  // namespace kestrel_native

#endif
