#include "results.hpp"

#include <cstring>

namespace affinekit {

namespace {

const char kOutPairError[] = "out must be a pair of float64 arrays (forward, inverse)";
const char kOutShapeError[] = "out arrays must have shape (%ld, 4, 4)";
const char kOutLayoutError[] = "out arrays must be writeable, C-contiguous and aligned";
const char kOutSharedError[] = "out arrays must not share memory";
const char kOutNoInverseError[] = "out must be a pair (forward, None) when there are no inverses";
constexpr int kMatrixTableDepth = 3;

PyArrayObject* matrixTableOf(PyObject* object) {
    return PyArray_Check(object) ? kestrel_native::asArray(object) : nullptr;
}

OwnedRef newMatrixTable(npy_intp rows) {
    npy_intp dims[3] = {rows, kMatrixSide, kMatrixSide};
    OwnedRef table(PyArray_SimpleNew(kMatrixTableDepth, dims, NPY_DOUBLE));
    if (!table) {
        PyErr_SetString(PyExc_MemoryError, kMatrixCreationFailed);
    }
    return table;
}

bool checkOutTable(PyObject* array, npy_intp rows) {
    PyArrayObject* const view = matrixTableOf(array);
    if (view == nullptr || PyArray_TYPE(view) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(view)) {
        PyErr_SetString(PyExc_TypeError, kOutPairError);
        return false;
    }
    if (PyArray_NDIM(view) != kMatrixTableDepth || PyArray_DIM(view, 0) != rows ||
        PyArray_DIM(view, 1) != kMatrixSide || PyArray_DIM(view, 2) != kMatrixSide) {
        PyErr_Format(PyExc_ValueError, kOutShapeError, static_cast<long>(rows));
        return false;
    }
    if (!PyArray_ISCARRAY(view)) {
        PyErr_SetString(PyExc_ValueError, kOutLayoutError);
        return false;
    }
    return true;
}

}  // namespace

const char kMatrixCreationFailed[] = "Could not create new matrix object";

PyObject* newMatrix(const MatrixValues& values) {
    npy_intp dims[2] = {kMatrixSide, kMatrixSide};
    PyObject* matrix = PyArray_SimpleNew(2, dims, NPY_DOUBLE);
    if (matrix == nullptr) {
        PyErr_SetString(PyExc_MemoryError, kMatrixCreationFailed);
        return nullptr;
    }
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(matrix)), values.data(), sizeof(MatrixValues));
    return matrix;
}

PyObject* matrixPair(const MatrixValues& forward, const MatrixValues& inverse) {
    OwnedRef first(newMatrix(forward));
    if (!first) {
        return nullptr;
    }
    return kestrel_native::pairOf(std::move(first), OwnedRef(newMatrix(inverse)));
}

PyObject* nonePair() {
    return kestrel_native::pairOf(kestrel_native::newReference(Py_None), kestrel_native::newReference(Py_None));
}

double* matrixData(PyObject* array) {
    return static_cast<double*>(PyArray_DATA(kestrel_native::asArray(array)));
}

std::size_t matrixBytes(npy_intp rows) {
    return static_cast<std::size_t>(rows) * sizeof(MatrixValues);
}

bool matrixTables(PyObject* out, npy_intp rows, OwnedRef& forward, OwnedRef& inverse, bool noInverse) {
    if (out == Py_None) {
        forward = newMatrixTable(rows);
        if (!forward) {
            return false;
        }
        inverse = noInverse ? kestrel_native::newReference(Py_None) : newMatrixTable(rows);
        return static_cast<bool>(inverse);
    }
    if (!PyTuple_Check(out) || PyTuple_GET_SIZE(out) != 2) {
        PyErr_SetString(PyExc_TypeError, noInverse ? kOutNoInverseError : kOutPairError);
        return false;
    }
    PyObject* const given[2] = {PyTuple_GET_ITEM(out, 0), PyTuple_GET_ITEM(out, 1)};
    if (noInverse && given[1] != Py_None) {
        PyErr_SetString(PyExc_TypeError, kOutNoInverseError);
        return false;
    }
    if (!checkOutTable(given[0], rows) || (!noInverse && !checkOutTable(given[1], rows))) {
        return false;
    }
    if (!noInverse && rows > 0 &&
        kestrel_native::overlaps(matrixData(given[0]), matrixBytes(rows), matrixData(given[1]), matrixBytes(rows))) {
        PyErr_SetString(PyExc_ValueError, kOutSharedError);
        return false;
    }
    forward = kestrel_native::newReference(given[0]);
    inverse = kestrel_native::newReference(given[1]);
    return true;
}

}  // namespace affinekit
