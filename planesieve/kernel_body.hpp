// The body of every SIMD kernel, written once over a lane type. A kernel's
// file defines KERNEL_TARGET (its target attribute) and a lane type V with
//
//   kLanes, kGroups (registers of boxes taken together), Reg (kLanes
//   doubles), Lanes (a set of lanes, in the CPU's own form)
//   broadcast(double), mul, add, max (the x86 max: the second operand when
//   either is NaN);
//   atLeast(v, limit) and isNan(v) as Lanes; all(), both, either, butNot,
//   isEmpty(Lanes), bits(Lanes) (one bit a lane);
//   addIn(a, b, Lanes): a + b in the lanes given, a elsewhere;
//   load<Width>(rows, x, y, z): the first three values of kLanes rows,
//   gather(first, stride): first[lane * stride] in each lane,
//   transposeSquare(first, stride, columns): columns[k] = first[lane * stride + k]
//     for k < kLanes,
//
// then includes this file, inside an anonymous namespace of its own.
//
// Points: kLanes points side by side, the same value and comparison as the
// scalar kernel. Point tables: one table a lane. Boxes: one box a lane, each
// taking the larger of its two products per term, as the reference does. Where a product is NaN the
// kernel may keep the NaN instead of the number, and then the value is NaN.
// A value that is not NaN decides exactly as the reference; a lane whose
// value is NaN is left undecided here and its box is decided by the
// reference.

// One bit a lane (or a plane).
using LaneBits = std::uint64_t;

template <class V, int Width>
KERNEL_TARGET bool anyPointInsideOfWidth(const double* plane, const double* points, Index count,
                                         double limit) {
    using Reg = typename V::Reg;
    const Reg a = V::broadcast(plane[0]), b = V::broadcast(plane[1]);
    const Reg c = V::broadcast(plane[2]), d = V::broadcast(plane[3]);
    const Reg bound = V::broadcast(limit);
    // Two registers of points a step, one branch for both.
    Index j = 0;
    for (; j + 2 * V::kLanes <= count; j += 2 * V::kLanes) {
        Reg x0, y0, z0, x1, y1, z1;
        V::template load<Width>(points + j * Width, x0, y0, z0);
        V::template load<Width>(points + (j + V::kLanes) * Width, x1, y1, z1);
        const Reg v0 = V::add(V::add(V::add(V::mul(a, x0), V::mul(b, y0)), V::mul(c, z0)), d);
        const Reg v1 = V::add(V::add(V::add(V::mul(a, x1), V::mul(b, y1)), V::mul(c, z1)), d);
        if (!V::isEmpty(V::either(V::atLeast(v0, bound), V::atLeast(v1, bound)))) {
            return true;
        }
    }
    for (; j + V::kLanes <= count; j += V::kLanes) {
        Reg x, y, z;
        V::template load<Width>(points + j * Width, x, y, z);
        const Reg v = V::add(V::add(V::add(V::mul(a, x), V::mul(b, y)), V::mul(c, z)), d);
        if (!V::isEmpty(V::atLeast(v, bound))) {
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

// A small table's points stay in registers while every plane is tested;
// a larger one is read again for each plane.
constexpr Index kHeldChunks = 4;

template <class V, int Width>
KERNEL_TARGET Index firstCullingPlaneOfWidth(const double* planes, Index planeCount, const double* points,
                                             Index count, double limit) {
    using Reg = typename V::Reg;
    const Index chunks = count / V::kLanes;
    const double* plane = planes;
    if (chunks > kHeldChunks) {
        for (Index i = 0; i < planeCount; ++i, plane += 4) {
            if (!anyPointInsideOfWidth<V, Width>(plane, points, count, limit)) {
                return i;
            }
        }
        return kNotCulled;
    }
    Reg xs[kHeldChunks], ys[kHeldChunks], zs[kHeldChunks];
    for (Index k = 0; k < chunks; ++k) {
        V::template load<Width>(points + k * V::kLanes * Width, xs[k], ys[k], zs[k]);
    }
    const Reg bound = V::broadcast(limit);
    for (Index i = 0; i < planeCount; ++i, plane += 4) {
        const Reg a = V::broadcast(plane[0]), b = V::broadcast(plane[1]);
        const Reg c = V::broadcast(plane[2]), d = V::broadcast(plane[3]);
        bool inside = false;
        for (Index k = 0; k < chunks && !inside; ++k) {
            const Reg v = V::add(V::add(V::add(V::mul(a, xs[k]), V::mul(b, ys[k])), V::mul(c, zs[k])), d);
            inside = !V::isEmpty(V::atLeast(v, bound));
        }
        for (Index j = chunks * V::kLanes; j < count && !inside; ++j) {
            inside = isInside(plane, points + j * Width, limit);
        }
        if (!inside) {
            return i;
        }
    }
    return kNotCulled;
}

template <class V>
KERNEL_TARGET Index firstCullingPlaneSimd(const double* planes, Index planeCount, const double* points,
                                          Index count, Index width, double limit) {
    return width == 3 ? firstCullingPlaneOfWidth<V, 3>(planes, planeCount, points, count, limit)
                      : firstCullingPlaneOfWidth<V, 4>(planes, planeCount, points, count, limit);
}

// The larger of a term's two products. For boxes whose lows are at most
// their highs, it is the product with the high coordinate when the factor
// is not negative and with the low one otherwise (rounding is monotone), so
// one product does; a NaN factor gives NaN either way.
template <class V, bool Ordered>
struct Term {
    typename V::Reg factor;
    bool takesHigh;

    KERNEL_TARGET explicit Term(double value) : factor(V::broadcast(value)), takesHigh(value >= 0.0) {}

    KERNEL_TARGET typename V::Reg largerProduct(typename V::Reg low, typename V::Reg high) const {
        if (Ordered) {
            return V::mul(factor, takesHigh ? high : low);
        }
        return V::max(V::mul(factor, low), V::mul(factor, high));
    }
};

// Boxes are taken Groups registers at a time, so that each plane's scalar
// work (its factors and their signs) serves Groups * kLanes boxes. Lane bits
// run group after group in one mask.

template <class V, int Groups>
struct LaneBoxes {
    typename V::Reg low[Groups][3];
    typename V::Reg high[Groups][3];
};

// Inlined into the block loop (KESTREL_INLINE_STEP: called, the boxes'
// registers went through memory, a third of the AVX-512 kernel's time at
// 10^4 boxes), as is cullLaneBoxes.
//
// Verdicts of the boxes held, without a branch per box: a box's verdict is
// the number of planes it was inside before the first that culls it, so
// each lane counts the planes it has passed, and a lane still undecided
// after the last plane is not culled. Each lane also sums the values it
// was decided by, so that a NaN among them shows at the end (an infinity
// may make the sum NaN too, which only costs an exact look). Returns the
// lanes whose sum is NaN, which the reference decides.
template <class V, int Groups, bool Ordered>
KERNEL_TARGET KESTREL_INLINE_STEP LaneBits decideLanes(const BoxJob& job, const LaneBoxes<V, Groups>& boxes,
                                                       Index* verdicts) {
    using Reg = typename V::Reg;
    using Lanes = typename V::Lanes;
    const Reg bound = V::broadcast(job.limit);
    const Reg one = V::broadcast(1.0);
    Lanes undecided[Groups];
    Reg passed[Groups], values[Groups];
    for (int g = 0; g < Groups; ++g) {
        undecided[g] = V::all();
        passed[g] = values[g] = V::broadcast(0.0);
    }
    const double* plane = job.planes;
    for (Index i = 0; i < job.planeCount; ++i, plane += 4) {
        const Term<V, Ordered> a(plane[0]), b(plane[1]), c(plane[2]);
        const Reg offset = V::broadcast(plane[3]);
        Lanes anyUndecided = V::butNot(V::all(), V::all());
        for (int g = 0; g < Groups; ++g) {
            const Reg px = a.largerProduct(boxes.low[g][0], boxes.high[g][0]);
            const Reg py = b.largerProduct(boxes.low[g][1], boxes.high[g][1]);
            const Reg pz = c.largerProduct(boxes.low[g][2], boxes.high[g][2]);
            const Reg v = V::add(V::add(V::add(px, py), pz), offset);
            values[g] = V::addIn(values[g], v, undecided[g]);
            undecided[g] = V::both(undecided[g], V::atLeast(v, bound));
            passed[g] = V::addIn(passed[g], one, undecided[g]);
            anyUndecided = V::either(anyUndecided, undecided[g]);
        }
        if (V::isEmpty(anyUndecided)) {
            break;
        }
    }
    LaneBits exact = 0;
    for (int g = 0; g < Groups; ++g) {
        double counts[V::kLanes];
        V::store(counts, passed[g]);
        const LaneBits open = V::bits(undecided[g]);
        for (int lane = 0; lane < V::kLanes; ++lane) {
            verdicts[g * V::kLanes + lane] =
                (open >> lane & 1) != 0 ? kNotCulled : static_cast<Index>(counts[lane]);
        }
        exact |= LaneBits(V::bits(V::isNan(values[g]))) << (g * V::kLanes);
    }
    return exact;
}

template <class V, int Groups, int LowWidth, int HighWidth>
KERNEL_TARGET KESTREL_INLINE_STEP LaneBits cullLaneBoxes(const BoxJob& job, Index box, Index* verdicts) {
    LaneBoxes<V, Groups> boxes;
    typename V::Lanes ordered = V::all();
    for (int g = 0; g < Groups; ++g) {
        const Index first = box + g * V::kLanes;
        V::template load<LowWidth>(job.lows + first * LowWidth, boxes.low[g][0], boxes.low[g][1], boxes.low[g][2]);
        V::template load<HighWidth>(job.highs + first * HighWidth, boxes.high[g][0], boxes.high[g][1],
                                    boxes.high[g][2]);
        for (int axis = 0; axis < 3; ++axis) {
            ordered = V::both(ordered, V::atLeast(boxes.high[g][axis], boxes.low[g][axis]));
        }
    }
    if (V::bits(ordered) == V::bits(V::all())) {
        return decideLanes<V, Groups, true>(job, boxes, verdicts);
    }
    return decideLanes<V, Groups, false>(job, boxes, verdicts);
}

template <class V, int Groups, int LowWidth, int HighWidth>
KERNEL_TARGET Index cullBlocks(const BoxJob& job, Index box, Index end) {
    constexpr Index kBlock = Groups * V::kLanes;
    for (; box + kBlock <= end; box += kBlock) {
        Index* const verdicts = job.verdicts + box;
        for (LaneBits needExact = cullLaneBoxes<V, Groups, LowWidth, HighWidth>(job, box, verdicts);
             needExact != 0; needExact &= needExact - 1) {
            const int lane = __builtin_ctzll(needExact);
            verdicts[lane] = exactBoxVerdict(job, box + lane);
        }
    }
    return box;
}

// Blocks of V::kGroups registers (as many as the CPU's registers hold
// with everything else a plane needs), then single registers, then the
// reference for the last few boxes.
template <class V, int LowWidth, int HighWidth>
KERNEL_TARGET void cullBoxesOfWidths(const BoxJob& job, Index begin, Index end) {
    Index box = cullBlocks<V, V::kGroups, LowWidth, HighWidth>(job, begin, end);
    box = cullBlocks<V, 1, LowWidth, HighWidth>(job, box, end);
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

// Tables of a few points each (a box's 8 corners, say): one table a lane,
// so that a plane's test serves kLanes tables with no reduction across
// lanes. The kLanes tables' values are first turned into columns, column k
// holding value k of each table, a square of kLanes columns at a time
// (the last square overlapping the one before it, so that nothing past a
// table is read). Verdicts are counted as for boxes: a lane counts the
// planes it passed.
constexpr Index kMostTableValues = (kSimdMinPoints - 1) * 4;

// A plane stops early once every table still undecided has a point inside,
// which is looked at after the first point and then every kCheckEvery
// points: a test after every point costs more in mispredicted branches than
// the points it saves.
constexpr Index kCheckEvery = 4;

template <class V>
KERNEL_TARGET void tableColumns(const double* values, Index valueCount, typename V::Reg* columns) {
    if (valueCount < V::kLanes) {
        for (Index k = 0; k < valueCount; ++k) {
            columns[k] = V::gather(values + k, valueCount);
        }
        return;
    }
    for (Index k = 0;; k += V::kLanes) {
        const Index start = k + V::kLanes <= valueCount ? k : valueCount - V::kLanes;
        V::transposeSquare(values + start, valueCount, columns + start);
        if (start + V::kLanes == valueCount) {
            return;
        }
    }
}

template <class V, int Width>
KERNEL_TARGET void cullTableLanes(const TableJob& job, Index first) {
    using Reg = typename V::Reg;
    using Lanes = typename V::Lanes;
    const Index valueCount = job.pointCount * Width;
    Reg columns[kMostTableValues];
    tableColumns<V>(job.values + first * valueCount, valueCount, columns);
    const Reg bound = V::broadcast(job.limit);
    const Reg one = V::broadcast(1.0);
    Lanes undecided = V::all();
    Reg passed = V::broadcast(0.0);
    const double* plane = job.planes;
    for (Index i = 0; i < job.planeCount; ++i, plane += 4) {
        const Reg a = V::broadcast(plane[0]), b = V::broadcast(plane[1]);
        const Reg c = V::broadcast(plane[2]), d = V::broadcast(plane[3]);
        Lanes inside = V::butNot(V::all(), V::all());
        const Reg* point = columns;
        for (Index q = 0; q < job.pointCount; ++q, point += Width) {
            const Reg v = V::add(V::add(V::add(V::mul(a, point[0]), V::mul(b, point[1])), V::mul(c, point[2])), d);
            inside = V::either(inside, V::atLeast(v, bound));
            if (q % kCheckEvery == 0 && V::isEmpty(V::butNot(undecided, inside))) {
                break;
            }
        }
        undecided = V::both(undecided, inside);
        passed = V::addIn(passed, one, undecided);
        if (V::isEmpty(undecided)) {
            break;
        }
    }
    double counts[V::kLanes];
    V::store(counts, passed);
    const LaneBits open = V::bits(undecided);
    for (int lane = 0; lane < V::kLanes; ++lane) {
        job.verdicts[first + lane] = (open >> lane & 1) != 0 ? kNotCulled : static_cast<Index>(counts[lane]);
    }
}

// Tables of fewer than kSimdMinPoints points.
template <class V, int Width>
KERNEL_TARGET void cullTablesOfWidth(const TableJob& job, Index begin, Index end) {
    Index n = begin;
    for (; n + V::kLanes <= end; n += V::kLanes) {
        cullTableLanes<V, Width>(job, n);
    }
    cullTablesOneByOne(job, n, end);
}

template <class V>
KERNEL_TARGET void cullTablesSimd(const TableJob& job, Index begin, Index end) {
    if (job.width == 3) {
        cullTablesOfWidth<V, 3>(job, begin, end);
    } else {
        cullTablesOfWidth<V, 4>(job, begin, end);
    }
}
