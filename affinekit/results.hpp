// The results: new 4x4 matrices, (forward, inverse) pairs, (None, None),
// (N, 4, 4) tables of matrices and (N, 3) tables of box corners, new or
// given as out=.
#ifndef KESTREL_AFFINEKIT_RESULTS_HPP
#define KESTREL_AFFINEKIT_RESULTS_HPP

#include "../common/numpy_module.hpp"
#include "matrices.hpp"

namespace affinekit {

using kestrel_native::OwnedRef;

extern const char kMatrixCreationFailed[];

// A new 4x4 double array holding values; null with MemoryError set.
PyObject* newMatrix(const MatrixValues& values);

// (forward, inverse) as two new matrices, the forward one made first so
// that a failure of the inverse releases it.
PyObject* matrixPair(const MatrixValues& forward, const MatrixValues& inverse);

PyObject* nonePair();

double* matrixData(PyObject* array);

std::size_t matrixBytes(npy_intp rows);

// out: None for two new (N, 4, 4) arrays, else a pair of existing
// writeable, aligned, C-contiguous float64 arrays of that shape that do not
// share memory, checked before anything is written. With noInverse, the
// second of the pair is None (and must be None in out).
bool matrixTables(PyObject* out, npy_intp rows, OwnedRef& forward, OwnedRef& inverse, bool noInverse = false);

// The same for the (N, 3) tables of world boxes (worldLows, worldHighs).
constexpr npy_intp kBoxColumns = 3;
bool boxTables(PyObject* out, npy_intp rows, OwnedRef& worldLows, OwnedRef& worldHighs);

}  // namespace affinekit

#endif
