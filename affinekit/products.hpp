// The product kernels: 4x4 products in the row-vector convention, chains of
// them, and world matrices over a hierarchy. One portable scalar kernel is
// the reference; SIMD kernels for x86-64 (SSE2, AVX2, AVX-512F) live in
// files of their own, each built for its target with per-function target
// attributes, and one is chosen at import. Every kernel gives the
// reference's bits: each entry of P = A . B is
//     P[i][j] = ((A[i][0]*B[0][j] + A[i][1]*B[1][j]) + A[i][2]*B[2][j]) + A[i][3]*B[3][j],
// never fused, so row i of P is four broadcasts of A's row times B's rows,
// summed in that order, one lane an entry.
#ifndef KESTREL_AFFINEKIT_PRODUCTS_HPP
#define KESTREL_AFFINEKIT_PRODUCTS_HPP

#include "../common/kernel_step.hpp"

#include <cstddef>

namespace affinekit_kernels {

using Index = std::ptrdiff_t;
constexpr Index kValues = 16;

// world[n] = forwards[n] . world[parents[n]] and worldInverse[n] =
// worldInverse[parents[n]] . inverses[n], a root's (parent -1) as given;
// parents[n] < n. inverses and worldInverse are both null or both not. An
// output may be its own input (world the forwards, worldInverse the
// inverses): row n of an input is read before row n of its output is
// written, and never after. No other memory is shared.
struct WorldJob {
    const Index* parents;
    Index count;
    const double* forwards;
    const double* inverses;
    double* world;
    double* worldInverse;
};

// Boxes moved by matrices: box n (row n of lows and of highs, rows of 3 or 4
// values, the first three read) by the matrix at matrices + n *
// matrixStride (16 for one matrix a box, 0 for one matrix for all). Row n
// of worldLows and of worldHighs (rows of 3) receives, for each coordinate
// j, the smallest and the largest over the box's 8 corners (x, y, z) of
//     ((x*M[0][j] + y*M[1][j]) + z*M[2][j]) + M[3][j],
// never fused, corners whose value is NaN left out (NaN when all are). The
// outputs share no memory with the inputs.
struct BoxJob {
    const double* matrices;
    Index matrixStride;
    const double* lows;
    Index lowWidth;
    const double* highs;
    Index highWidth;
    double* worldLows;
    double* worldHighs;
};

// The reference for box n (boxes_scalar.cpp). Each term's larger product
// (and smaller one) is chosen as the x86 max (min) chooses, the second when
// either is NaN, so that every kernel gives the same bits.
void referenceBox(const BoxJob& job, Index box);
void referenceBoxes(const BoxJob& job, Index begin, Index end);

struct Kernel {
    const char* name;
    // p = a . b; p may be a or b.
    void (*multiply)(const double* a, const double* b, double* p);
    // out = factors[0] . factors[1] . ... . factors[count - 1], left to
    // right, count >= 1; out shares no memory with the factors.
    void (*chain)(const double* const* factors, int count, double* out);
    void (*world)(const WorldJob& job);
    // Fills rows [begin, end) of the job's outputs.
    void (*boxes)(const BoxJob& job, Index begin, Index end);
};

extern const Kernel kScalarKernel;
#if defined(__x86_64__)
extern const Kernel kSse2Kernel;
extern const Kernel kAvx2Kernel;
extern const Kernel kAvx512Kernel;
#endif

}  // namespace affinekit_kernels

#endif
