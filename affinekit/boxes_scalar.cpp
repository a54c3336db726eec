// The reference for boxes moved by matrices, which every kernel is held to.
//
// For one coordinate, a corner's value is ((px + py) + pz) + M[3][j], with
// px one of the two products M[0][j]*low[0] and M[0][j]*high[0], and so for
// y and z. Rounded addition is monotone wherever it is not NaN, so among the
// corners whose value is not NaN the largest takes, term by term, the larger
// product, and the smallest the smaller one: when that value is not NaN it
// is the answer (up to the sign of a zero, where two products tie). When it
// is NaN (a NaN product chosen, or +inf meeting -inf on the way), the box is
// taken corner by corner.
#include "products.hpp"

#include <cmath>
#include <initializer_list>
#include <limits>

namespace affinekit_kernels {

namespace {

constexpr int kAxes = 3;
constexpr int kRowWidth = 4;
constexpr int kOffsetRow = 3;

// As the x86 max and min choose: the first only when it is strictly larger
// (smaller), so the second when either is NaN or they are equal.
inline double larger(double p, double q) {
    return p > q ? p : q;
}

inline double smaller(double p, double q) {
    return p < q ? p : q;
}

double cornerValue(const double* m, int j, double x, double y, double z) {
    return ((x * m[j] + y * m[kRowWidth + j]) + z * m[2 * kRowWidth + j]) + m[kOffsetRow * kRowWidth + j];
}

// The smallest and largest corner values of coordinate j, NaN ones left out.
void cornerRange(const double* m, int j, const double* low, const double* high, double& least, double& most) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    least = most = nan;
    for (const double x : {low[0], high[0]}) {
        for (const double y : {low[1], high[1]}) {
            for (const double z : {low[2], high[2]}) {
                const double v = cornerValue(m, j, x, y, z);
                if (std::isnan(v)) {
                    continue;
                }
                if (std::isnan(least) || v < least) {
                    least = v;
                }
                if (std::isnan(most) || v > most) {
                    most = v;
                }
            }
        }
    }
}

}  // namespace

void referenceBox(const BoxJob& job, Index box) {
    const double* const m = job.matrices + box * job.matrixStride;
    const double* const low = job.lows + box * job.lowWidth;
    const double* const high = job.highs + box * job.highWidth;
    double* const worldLow = job.worldLows + box * kAxes;
    double* const worldHigh = job.worldHighs + box * kAxes;
    bool anyNan = false;
    for (int j = 0; j < kAxes; ++j) {
        double least = 0.0, most = 0.0;
        for (int axis = 0; axis < kAxes; ++axis) {
            const double factor = m[axis * kRowWidth + j];
            const double p = factor * low[axis], q = factor * high[axis];
            least = axis == 0 ? smaller(p, q) : least + smaller(p, q);
            most = axis == 0 ? larger(p, q) : most + larger(p, q);
        }
        worldLow[j] = least + m[kOffsetRow * kRowWidth + j];
        worldHigh[j] = most + m[kOffsetRow * kRowWidth + j];
        anyNan = anyNan || std::isnan(worldLow[j]) || std::isnan(worldHigh[j]);
    }
    if (!anyNan) {
        return;
    }
    for (int j = 0; j < kAxes; ++j) {
        cornerRange(m, j, low, high, worldLow[j], worldHigh[j]);
    }
}

void referenceBoxes(const BoxJob& job, Index begin, Index end) {
    for (Index box = begin; box < end; ++box) {
        referenceBox(job, box);
    }
}

}  // namespace affinekit_kernels
