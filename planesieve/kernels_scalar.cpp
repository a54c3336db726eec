// The portable scalar kernel: the reference every SIMD kernel is held to.
#include "kernels.hpp"

#include <cmath>
#include <initializer_list>
#include <limits>

namespace planesieve_kernels {

namespace {

Index firstCullingPlaneScalar(const double* planes, Index planeCount, const double* points, Index count,
                              Index width, double limit) {
    return firstCullingPlaneOfPoints(planes, planeCount, points, count, width, limit);
}

// The larger of two products, a NaN one skipped when the other is a number.
inline double largerNumber(double p, double q) {
    return (q > p || std::isnan(p)) ? q : p;
}

// Whether any of the box's 8 corners is inside the plane, each evaluated as
// a point is.
bool anyCornerInside(const double* plane, const double* low, const double* high, double limit) {
    for (const double x : {low[0], high[0]}) {
        for (const double y : {low[1], high[1]}) {
            for (const double z : {low[2], high[2]}) {
                if (planeValue(plane, x, y, z) >= limit) {
                    return true;
                }
            }
        }
    }
    return false;
}

// One plane against one box, deciding as its 8 corners would.
//
// A corner's value is ((a*x + b*y) + c*z) + d with x one of low and high,
// and so for y and z. Rounded addition is monotone wherever it is not NaN,
// so among the corners whose value is not NaN, the largest is the one that
// takes, term by term, the larger product (a NaN product makes a corner NaN,
// so it is skipped): v below. When v is not NaN, some corner is inside
// exactly when v >= limit. When v is NaN, either a term or d is NaN for
// every corner (all are outside), or +inf met -inf on the way: the -inf side
// was a largest term or partial sum, so every corner whose value is not NaN
// is -inf, and it is inside only for a limit of -inf (an infinite
// tolerance). That one case is decided corner by corner.
bool boxInside(const double* plane, const double* low, const double* high, double limit) {
    const double px = largerNumber(plane[0] * low[0], plane[0] * high[0]);
    const double py = largerNumber(plane[1] * low[1], plane[1] * high[1]);
    const double pz = largerNumber(plane[2] * low[2], plane[2] * high[2]);
    const double v = ((px + py) + pz) + plane[3];
    if (!std::isnan(v)) {
        return v >= limit;
    }
    return limit == -std::numeric_limits<double>::infinity() &&
           anyCornerInside(plane, low, high, limit);
}

void cullBoxesScalar(const BoxJob& job, Index begin, Index end) {
    for (Index box = begin; box < end; ++box) {
        job.verdicts[box] = exactBoxVerdict(job, box);
    }
}

}  // namespace

Index exactBoxVerdict(const BoxJob& job, Index box) {
    const double* const low = job.lows + box * job.lowWidth;
    const double* const high = job.highs + box * job.highWidth;
    const double* plane = job.planes;
    for (Index i = 0; i < job.planeCount; ++i, plane += 4) {
        if (!boxInside(plane, low, high, job.limit)) {
            return i;
        }
    }
    return kNotCulled;
}

void cullTablesOneByOne(const TableJob& job, Index begin, Index end) {
    const Index tableValues = job.pointCount * job.width;
    for (Index n = begin; n < end; ++n) {
        job.verdicts[n] = firstCullingPlaneOfPoints(job.planes, job.planeCount, job.values + n * tableValues,
                                                    job.pointCount, job.width, job.limit);
    }
}

const Kernel kScalarKernel = {"scalar", firstCullingPlaneScalar, cullBoxesScalar, cullTablesOneByOne};

}  // namespace planesieve_kernels
