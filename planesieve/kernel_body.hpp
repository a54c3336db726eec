// The body of every SIMD kernel, written once over a lane type. A kernel's
// file defines KERNEL_TARGET (its target attribute) and a lane type V with
//
//   kLanes, Reg, Mask (one bit a lane), kAllLanes
//   broadcast(double), mul, add, max (the x86 max: the second operand when
//   either is NaN), atLeast(v, limit) and isNan(v) as masks, and
//   load<Width>(rows, x, y, z): the first three values of kLanes rows,
//
// then includes this file, inside an anonymous namespace of its own.
//
// Points: kLanes points side by side, the same value and comparison as the
// scalar kernel. Boxes: one box a lane. Each takes the larger of its two
// products per term, as the reference does; where a product is NaN the x86
// max may keep the NaN instead of the number, and then the value is NaN. A
// value that is not NaN decides exactly as the reference; a lane whose value
// is NaN is left undecided here and its box is decided by the reference.

template <class V, int Width>
KERNEL_TARGET bool anyPointInsideOfWidth(const double* plane, const double* points, Index count,
                                         double limit) {
    using Reg = typename V::Reg;
    const Reg a = V::broadcast(plane[0]), b = V::broadcast(plane[1]);
    const Reg c = V::broadcast(plane[2]), d = V::broadcast(plane[3]);
    const Reg bound = V::broadcast(limit);
    Index j = 0;
    for (; j + V::kLanes <= count; j += V::kLanes) {
        Reg x, y, z;
        V::template load<Width>(points + j * Width, x, y, z);
        const Reg v = V::add(V::add(V::add(V::mul(a, x), V::mul(b, y)), V::mul(c, z)), d);
        if (V::atLeast(v, bound) != 0) {
            return true;
        }
    }
    for (; j < count; ++j) {
        if (isInside(plane, points + j * Width, limit)) {
            return true;
        }
    }
    return false;
}

template <class V>
KERNEL_TARGET bool anyPointInsideSimd(const double* plane, const double* points, Index count,
                                      Index width, double limit) {
    return width == 3 ? anyPointInsideOfWidth<V, 3>(plane, points, count, limit)
                      : anyPointInsideOfWidth<V, 4>(plane, points, count, limit);
}

// Verdicts of the kLanes boxes from box on; lanes whose value turned NaN
// before their verdict are returned in needExact.
template <class V, int LowWidth, int HighWidth>
KERNEL_TARGET void cullLaneBoxes(const BoxJob& job, Index box, Index* verdicts,
                                 typename V::Mask& needExact) {
    using Reg = typename V::Reg;
    using Mask = typename V::Mask;
    Reg lowX, lowY, lowZ, highX, highY, highZ;
    V::template load<LowWidth>(job.lows + box * LowWidth, lowX, lowY, lowZ);
    V::template load<HighWidth>(job.highs + box * HighWidth, highX, highY, highZ);
    const Reg bound = V::broadcast(job.limit);
    Mask undecided = V::kAllLanes;
    const double* plane = job.planes;
    for (Index i = 0; i < job.planeCount && undecided != 0; ++i, plane += 4) {
        const Reg a = V::broadcast(plane[0]), b = V::broadcast(plane[1]);
        const Reg c = V::broadcast(plane[2]), d = V::broadcast(plane[3]);
        const Reg px = V::max(V::mul(a, lowX), V::mul(a, highX));
        const Reg py = V::max(V::mul(b, lowY), V::mul(b, highY));
        const Reg pz = V::max(V::mul(c, lowZ), V::mul(c, highZ));
        const Reg v = V::add(V::add(V::add(px, py), pz), d);
        const Mask inside = V::atLeast(v, bound);
        const Mask nan = V::isNan(v);
        needExact |= nan & undecided;
        for (Mask culled = undecided & ~inside & ~nan; culled != 0; culled &= culled - 1) {
            verdicts[__builtin_ctzll(culled)] = i;
        }
        undecided &= inside;
    }
}

template <class V, int LowWidth, int HighWidth>
KERNEL_TARGET void cullBoxesOfWidths(const BoxJob& job, Index begin, Index end) {
    Index box = begin;
    for (; box + V::kLanes <= end; box += V::kLanes) {
        Index* const verdicts = job.verdicts + box;
        for (int lane = 0; lane < V::kLanes; ++lane) {
            verdicts[lane] = kNotCulled;
        }
        typename V::Mask needExact = 0;
        cullLaneBoxes<V, LowWidth, HighWidth>(job, box, verdicts, needExact);
        for (; needExact != 0; needExact &= needExact - 1) {
            const int lane = __builtin_ctzll(needExact);
            verdicts[lane] = exactBoxVerdict(job, box + lane);
        }
    }
    for (; box < end; ++box) {
        job.verdicts[box] = exactBoxVerdict(job, box);
    }
}

template <class V>
KERNEL_TARGET void cullBoxesSimd(const BoxJob& job, Index begin, Index end) {
    if (job.lowWidth == 3) {
        if (job.highWidth == 3) {
            cullBoxesOfWidths<V, 3, 3>(job, begin, end);
        } else {
            cullBoxesOfWidths<V, 3, 4>(job, begin, end);
        }
    } else if (job.highWidth == 3) {
        cullBoxesOfWidths<V, 4, 3>(job, begin, end);
    } else {
        cullBoxesOfWidths<V, 4, 4>(job, begin, end);
    }
}
