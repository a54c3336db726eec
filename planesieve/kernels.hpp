// The culling kernels: one portable scalar kernel, which is the reference,
// and SIMD kernels for x86-64 (SSE2, AVX2, AVX-512F) in files of their own,
// each built for its target with per-function target attributes and chosen
// once at import. Every kernel gives the same verdicts as the reference: the
// same operations in the same order, never fused.
#ifndef KESTREL_PLANESIEVE_KERNELS_HPP
#define KESTREL_PLANESIEVE_KERNELS_HPP

#include "../common/kernel_step.hpp"

#include <cstddef>
#include <cstdint>

namespace planesieve_kernels {

using Index = std::ptrdiff_t;

// The verdict of a box that no plane culls.
constexpr Index kNotCulled = -1;

// A table of fewer points is scanned by the scalar code, inline, when it is
// one (its first point alone decides most planes of a visible box, and a
// short scan does not pay for the kernel's call), and by cullTables, one
// table a lane, when many come at once.
constexpr Index kSimdMinPoints = 16;

// A point (x, y, z) is inside plane (a, b, c, d) when the value below is at
// least limit (minus the tolerance). Summed in this order, never fused; the
// comparison is false for NaN, so a point whose value is NaN is outside.
inline double planeValue(const double* plane, double x, double y, double z) {
    return ((plane[0] * x + plane[1] * y) + plane[2] * z) + plane[3];
}

inline bool isInside(const double* plane, const double* point, double limit) {
    return planeValue(plane, point[0], point[1], point[2]) >= limit;
}

// The scalar scan, inline so that short tables skip the kernel's call.
//
// The first point decides most planes (a visible box has its corners inside
// most of them), so it is tested alone; the rest are taken four at a time,
// their values computed side by side. The decision is the same as one point
// at a time, since no value has an effect of its own.
constexpr Index kPointsPerStep = 4;

inline bool anyPointInside(const double* plane, const double* points, Index count, Index width, double limit) {
    if (count == 0) {
        return false;
    }
    if (isInside(plane, points, limit)) {
        return true;
    }
    const double* point = points + width;
    Index j = 1;
    for (; j + kPointsPerStep <= count; j += kPointsPerStep, point += kPointsPerStep * width) {
        // Summed rather than or-ed: all four are evaluated, with no branch between.
        if (isInside(plane, point, limit) + isInside(plane, point + width, limit) +
                isInside(plane, point + 2 * width, limit) + isInside(plane, point + 3 * width, limit) !=
            0) {
            return true;
        }
    }
    for (; j < count; ++j, point += width) {
        if (isInside(plane, point, limit)) {
            return true;
        }
    }
    return false;
}

inline Index firstCullingPlaneOfPoints(const double* planes, Index planeCount, const double* points, Index count,
                                       Index width, double limit) {
    const double* plane = planes;
    for (Index i = 0; i < planeCount; ++i, plane += 4) {
        if (!anyPointInside(plane, points, count, width, limit)) {
            return i;
        }
    }
    return kNotCulled;
}

// Axis-aligned boxes, box n given by row n of lows and of highs (3 or 4
// values a row, the first three read); verdicts[n] is the first plane that
// has all 8 corners outside, or kNotCulled.
struct BoxJob {
    const double* planes;
    Index planeCount;
    const double* lows;
    Index lowWidth;
    const double* highs;
    Index highWidth;
    double limit;
    Index* verdicts;
};

// Tables of points, table n holding pointCount points (rows of width 3 or
// 4) from values + n * pointCount * width; verdicts[n] is the first plane
// that has all of table n's points outside, or kNotCulled.
struct TableJob {
    const double* planes;
    Index planeCount;
    const double* values;
    Index pointCount;
    Index width;
    double limit;
    Index* verdicts;
};

struct Kernel {
    const char* name;
    // The first of planeCount planes (rows of 4) that has all count points
    // (rows of width 3 or 4) outside, or kNotCulled.
    Index (*firstCullingPlane)(const double* planes, Index planeCount, const double* points, Index count,
                               Index width, double limit);
    // Fills job.verdicts[begin, end).
    void (*cullBoxes)(const BoxJob& job, Index begin, Index end);
    // Fills job.verdicts[begin, end), for tables of fewer than kSimdMinPoints points.
    void (*cullTables)(const TableJob& job, Index begin, Index end);
};

// The reference for tables, one at a time (kernels_scalar.cpp).
void cullTablesOneByOne(const TableJob& job, Index begin, Index end);

// The reference verdict of one box, exact for every input (kernels_scalar.cpp).
Index exactBoxVerdict(const BoxJob& job, Index box);

extern const Kernel kScalarKernel;
#if defined(__x86_64__)
extern const Kernel kSse2Kernel;
extern const Kernel kAvx2Kernel;
extern const Kernel kAvx512Kernel;
#endif

}  // namespace planesieve_kernels

#endif
