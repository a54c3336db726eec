// The matrices: row-major 4x4 doubles in the row-vector convention (a point
// is the row (x, y, z, 1) on the left of the matrix, so a translation sits
// in row 3), and the three elementary transforms.
//
// Each transform is a small set of functions: its defaults, its request
// (what the components ask for: the identity, a transform with the
// arguments of its forward and inverse matrices, or, for a rotation about a
// zero axis, nothing possible) and the builder of a matrix's 16 values from
// those arguments. The single functions, the table functions and the node
// transforms share them, so that every result is, to the bit, what the
// single function gives for the same components.
#ifndef KESTREL_AFFINEKIT_MATRICES_HPP
#define KESTREL_AFFINEKIT_MATRICES_HPP

#include "../common/vectors.hpp"

#include <array>
#include <cmath>
#include <cstddef>

namespace affinekit {

constexpr int kMatrixSide = 4;
constexpr std::size_t kMatrixValues = kMatrixSide * kMatrixSide;
using MatrixValues = std::array<double, kMatrixValues>;

constexpr MatrixValues kIdentity = {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0,
                                    0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0};

// A zero scale factor is inverted as this instead, so that the inverse stays
// finite.
constexpr double kZeroScaleGuard = 1e-300;
// An angle whose remainder modulo this literal (slightly more than 2*pi) is
// below the threshold in magnitude is no rotation at all.
constexpr double kFullTurn = 6.2831853071796;
constexpr double kNoRotationThreshold = 1e-300;

constexpr std::array<double, 3> kTransDefaults = {0.0, 0.0, 0.0};
constexpr std::array<double, 3> kScaleDefaults = {1.0, 1.0, 1.0};
constexpr std::array<double, 4> kRotDefaults = {0.0, 1.0, 0.0, 0.0};

enum class Request { Identity, Transform, Impossible };

template <std::size_t N>
struct BuilderArgs {
    std::array<double, N> forward;
    std::array<double, N> inverse;
};

// ------------------------------------------------------------ translation

struct Translation {
    static constexpr std::size_t kComponents = 3;
    static constexpr std::size_t kBuilderArgs = 3;
    static constexpr const char* kTableName = "transMatrices";

    static constexpr std::array<double, 3> defaults() { return kTransDefaults; }

    static Request request(const std::array<double, 3>& v, BuilderArgs<3>& args) {
        const double x = v[0], y = v[1], z = v[2];
        if (x == 0.0 && y == 0.0 && z == 0.0) {
            return Request::Identity;
        }
        args = {{x, y, z}, {-x, -y, -z}};
        return Request::Transform;
    }

    static bool refuses(const std::array<double, 3>&) { return false; }

    static MatrixValues values(const std::array<double, 3>& a) {
        return {1.0,  0.0,  0.0,  0.0,
                0.0,  1.0,  0.0,  0.0,
                0.0,  0.0,  1.0,  0.0,
                a[0], a[1], a[2], 1.0};
    }
};

// ------------------------------------------------------------------ scale

// Only an exact zero (either sign) is replaced; tiny, infinite and NaN
// factors are inverted as they are.
inline double invertFactor(double factor) {
    return 1.0 / (factor == 0.0 ? kZeroScaleGuard : factor);
}

struct Scale {
    static constexpr std::size_t kComponents = 3;
    static constexpr std::size_t kBuilderArgs = 3;
    static constexpr const char* kTableName = "scaleMatrices";

    static constexpr std::array<double, 3> defaults() { return kScaleDefaults; }

    static Request request(const std::array<double, 3>& v, BuilderArgs<3>& args) {
        const double x = v[0], y = v[1], z = v[2];
        if (x == 1.0 && y == 1.0 && z == 1.0) {
            return Request::Identity;
        }
        args = {{x, y, z}, {invertFactor(x), invertFactor(y), invertFactor(z)}};
        return Request::Transform;
    }

    static bool refuses(const std::array<double, 3>&) { return false; }

    static MatrixValues values(const std::array<double, 3>& a) {
        return {a[0], 0.0,  0.0,  0.0,
                0.0,  a[1], 0.0,  0.0,
                0.0,  0.0,  a[2], 0.0,
                0.0,  0.0,  0.0,  1.0};
    }
};

// --------------------------------------------------------------- rotation

// fmod(a, m) is a itself when |a| < m, so the library call is needed only
// for angles of a full turn or more (and for NaN).
inline bool isNoRotation(double angle) {
    const double magnitude = std::fabs(angle);
    const double remainder = magnitude < kFullTurn ? magnitude : std::fabs(std::fmod(angle, kFullTurn));
    return remainder < kNoRotationThreshold;
}

// Makes the axis unit length; false for an axis of length zero.
inline bool normaliseAxis(double& x, double& y, double& z) {
    kestrel_native::rescaleIfOutOfRange(x, y, z, x * x + y * y + z * z);
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0) {
        return false;
    }
    x /= length;
    y /= length;
    z /= length;
    return true;
}

struct Rotation {
    static constexpr std::size_t kComponents = 4;
    // The unit axis, and the cosine and sine of the angle.
    static constexpr std::size_t kBuilderArgs = 5;
    static constexpr const char* kTableName = "rotMatrices";

    static constexpr std::array<double, 4> defaults() { return kRotDefaults; }

    static Request request(const std::array<double, 4>& v, BuilderArgs<5>& args) {
        double x = v[0], y = v[1], z = v[2];
        const double a = v[3];
        if (isNoRotation(a)) {
            return Request::Identity;
        }
        if (!normaliseAxis(x, y, z)) {
            return Request::Impossible;
        }
        // The inverse is the rotation by -a: cosine is even and sine odd, to
        // the bit, so one evaluation of each serves both matrices.
        const double c = std::cos(a);
        const double s = std::sin(a);
        args = {{x, y, z, c, s}, {x, y, z, c, -s}};
        return Request::Transform;
    }

    // Whether request() finds the rotation impossible, without its sine and
    // cosine: once the angle is a real rotation, the axis has length zero
    // exactly when all three components are zero (any other finite axis is
    // rescaled into range first).
    static bool refuses(const std::array<double, 4>& v) {
        return !isNoRotation(v[3]) && v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0;
    }

    // Products are formed left to right, so the entries mirrored across the
    // diagonal share one product and differ only in the sign of their sine
    // term.
    static MatrixValues values(const std::array<double, 5>& a) {
        const double x = a[0], y = a[1], z = a[2], c = a[3], s = a[4];
        const double t = 1.0 - c;
        return {t * x * x + c,     t * x * y + s * z, t * x * z - s * y, 0.0,
                t * x * y - s * z, t * y * y + c,     t * y * z + s * x, 0.0,
                t * x * z + s * y, t * y * z - s * x, t * z * z + c,     0.0,
                0.0,               0.0,               0.0,               1.0};
    }
};

// The forward and inverse matrices of one transform's components, or the
// request that stands in their place (the identity, an impossible rotation).
template <class Transform>
Request matrixValues(const std::array<double, Transform::kComponents>& components, MatrixValues& forward,
                     MatrixValues& inverse) {
    BuilderArgs<Transform::kBuilderArgs> args;
    const Request request = Transform::request(components, args);
    if (request == Request::Transform) {
        forward = Transform::values(args.forward);
        inverse = Transform::values(args.inverse);
    }
    return request;
}

}  // namespace affinekit

#endif
