// The body of every SIMD box kernel, written over B, a box's coordinates in
// lanes: a matrix row (4 values, the fourth column carried but never used)
// is B::kRegs registers of 4 / B::kRegs lanes, so lane j of a register holds
// coordinate j, and the reference's operations run lane by lane in its
// order. B gives Reg, load, broadcast, mul, add, max and min (the x86 ones,
// as the reference chooses), unordered(a, b) (all bits set in a lane where
// either is NaN), either(a, b), anyOf(masks) over the three coordinates'
// lanes, and storeThree(to, regs, mayWriteFourth). Included by a kernel file
// inside its own anonymous namespace, after KERNEL_TARGET. The per-box steps
// are inlined into the loop (KESTREL_INLINE_STEP).

template <class B>
struct BoxMatrix {
    static constexpr int kLanes = 4 / B::kRegs;
    typename B::Reg rows[4][B::kRegs];

    KERNEL_TARGET KESTREL_INLINE_STEP explicit BoxMatrix(const double* m) {
        for (int i = 0; i < 4; ++i) {
            for (int r = 0; r < B::kRegs; ++r) {
                rows[i][r] = B::load(m + 4 * i + kLanes * r);
            }
        }
    }
};

// Box n by matrix m into the reference's smallest and largest values (when
// one is NaN, the reference takes the box corner by corner instead).
template <class B, int LowWidth, int HighWidth>
KERNEL_TARGET KESTREL_INLINE_STEP void boxOf(const BoxMatrix<B>& m, const BoxJob& job, Index n,
                                             typename B::Reg smallest[], typename B::Reg largest[]) {
    using Reg = typename B::Reg;
    const double* const low = job.lows + n * LowWidth;
    const double* const high = job.highs + n * HighWidth;
    Reg lows[3], highs[3];
    for (int axis = 0; axis < 3; ++axis) {
        lows[axis] = B::broadcast(low[axis]);
        highs[axis] = B::broadcast(high[axis]);
    }
    for (int r = 0; r < B::kRegs; ++r) {
        Reg p = B::mul(m.rows[0][r], lows[0]), q = B::mul(m.rows[0][r], highs[0]);
        Reg least = B::min(p, q), most = B::max(p, q);
        for (int axis = 1; axis < 3; ++axis) {
            p = B::mul(m.rows[axis][r], lows[axis]);
            q = B::mul(m.rows[axis][r], highs[axis]);
            least = B::add(least, B::min(p, q));
            most = B::add(most, B::max(p, q));
        }
        smallest[r] = B::add(least, m.rows[3][r]);
        largest[r] = B::add(most, m.rows[3][r]);
    }
}

// Boxes are checked for NaN a block at a time, so that the common case pays
// one test a block rather than a branch a box; a block with a NaN among its
// values is looked at again box by box.
constexpr Index kNanBlock = 8;

template <class B, bool OneMatrix, int LowWidth, int HighWidth>
KERNEL_TARGET KESTREL_INLINE_STEP void boxInto(const BoxMatrix<B>& shared, const BoxJob& job, Index n,
                                               typename B::Reg smallest[], typename B::Reg largest[]) {
    if (OneMatrix) {
        boxOf<B, LowWidth, HighWidth>(shared, job, n, smallest, largest);
    } else {
        boxOf<B, LowWidth, HighWidth>(BoxMatrix<B>(job.matrices + n * kValues), job, n, smallest, largest);
    }
}

template <class B, bool OneMatrix, int LowWidth, int HighWidth>
KERNEL_TARGET void boxesOfWidths(const BoxJob& job, Index begin, Index end) {
    using Reg = typename B::Reg;
    if (begin >= end) {
        return;  // an empty table of matrices may hold no matrix at all
    }
    // The one matrix for all, or (unused) the first box's.
    const BoxMatrix<B> shared(job.matrices + (OneMatrix ? 0 : begin * kValues));
    for (Index block = begin; block < end; block += kNanBlock) {
        const Index blockEnd = block + kNanBlock < end ? block + kNanBlock : end;
        Reg nan[B::kRegs];
        for (int r = 0; r < B::kRegs; ++r) {
            nan[r] = B::broadcast(0.0);  // no bit set: no lane
        }
        for (Index n = block; n < blockEnd; ++n) {
            Reg smallest[B::kRegs], largest[B::kRegs];
            boxInto<B, OneMatrix, LowWidth, HighWidth>(shared, job, n, smallest, largest);
            for (int r = 0; r < B::kRegs; ++r) {
                nan[r] = B::either(nan[r], B::unordered(smallest[r], largest[r]));
            }
            // A row's fourth value lands on the next row's first, written after it.
            const bool mayWriteFourth = n + 1 < end;
            B::storeThree(job.worldLows + 3 * n, smallest, mayWriteFourth);
            B::storeThree(job.worldHighs + 3 * n, largest, mayWriteFourth);
        }
        if (!B::anyOf(nan)) {
            continue;
        }
        for (Index n = block; n < blockEnd; ++n) {
            Reg smallest[B::kRegs], largest[B::kRegs];
            boxInto<B, OneMatrix, LowWidth, HighWidth>(shared, job, n, smallest, largest);
            for (int r = 0; r < B::kRegs; ++r) {
                nan[r] = B::unordered(smallest[r], largest[r]);
            }
            if (B::anyOf(nan)) {
                referenceBox(job, n);
            }
        }
    }
}

template <class B, bool OneMatrix>
KERNEL_TARGET void boxesOfMatrices(const BoxJob& job, Index begin, Index end) {
    if (job.lowWidth == 3) {
        if (job.highWidth == 3) {
            boxesOfWidths<B, OneMatrix, 3, 3>(job, begin, end);
        } else {
            boxesOfWidths<B, OneMatrix, 3, 4>(job, begin, end);
        }
    } else if (job.highWidth == 3) {
        boxesOfWidths<B, OneMatrix, 4, 3>(job, begin, end);
    } else {
        boxesOfWidths<B, OneMatrix, 4, 4>(job, begin, end);
    }
}

template <class B>
KERNEL_TARGET void boxesOf(const BoxJob& job, Index begin, Index end) {
    if (job.matrixStride == 0) {
        boxesOfMatrices<B, true>(job, begin, end);
    } else {
        boxesOfMatrices<B, false>(job, begin, end);
    }
}
