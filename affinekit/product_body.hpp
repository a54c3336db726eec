// The body every product kernel shares, written over M, whose multiply(a, b,
// p) forms p = a . b with every row in registers before p is written (so p
// may be a or b). Included by each kernel file inside its own anonymous
// namespace, after KERNEL_TARGET and M are defined.

KERNEL_TARGET inline void copyMatrix(const double* from, double* to) {
    if (from != to) {
        std::memcpy(to, from, kValues * sizeof(double));
    }
}

template <class M>
KERNEL_TARGET void chainOf(const double* const* factors, int count, double* out) {
    if (count == 1) {
        copyMatrix(factors[0], out);
        return;
    }
    M::multiply(factors[0], factors[1], out);
    for (int k = 2; k < count; ++k) {
        M::multiply(out, factors[k], out);
    }
}

template <class M>
KERNEL_TARGET void worldOf(const WorldJob& job) {
    for (Index n = 0; n < job.count; ++n) {
        const Index parent = job.parents[n];
        const double* const forward = job.forwards + n * kValues;
        double* const world = job.world + n * kValues;
        if (parent < 0) {
            copyMatrix(forward, world);
        } else {
            M::multiply(forward, job.world + parent * kValues, world);
        }
        if (job.inverses == nullptr) {
            continue;
        }
        const double* const inverse = job.inverses + n * kValues;
        double* const worldInverse = job.worldInverse + n * kValues;
        if (parent < 0) {
            copyMatrix(inverse, worldInverse);
        } else {
            M::multiply(job.worldInverse + parent * kValues, inverse, worldInverse);
        }
    }
}
