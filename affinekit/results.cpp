#include "results.hpp"

#include "../common/result_blocks.hpp"

#include <cstring>

namespace affinekit {

namespace {

const char kOutLayoutError[] = "out arrays must be writeable, C-contiguous and aligned";
const char kOutSharedError[] = "out arrays must not share memory";
const char kOutNoInverseError[] = "out must be a pair (forward, None) when there are no inverses";
constexpr int kMatrixTableDepth = 3;

// Tables of rows, each row of the given shape (one or two dimensions).
struct TableShape {
    int depth;
    npy_intp rowDims[2];
    const char* pairError;   // TypeError: out is not a pair of such arrays
    const char* shapeError;  // ValueError, with %ld for the row count
};

const TableShape kMatrixTableShape = {kMatrixTableDepth, {kMatrixSide, kMatrixSide},
                                      "out must be a pair of float64 arrays (forward, inverse)",
                                      "out arrays must have shape (%ld, 4, 4)"};
const TableShape kBoxTableShape = {2, {kBoxColumns, 0},
                                   "out must be a pair of float64 arrays (worldLows, worldHighs)",
                                   "out arrays must have shape (%ld, 3)"};

std::size_t tableBytes(const TableShape& shape, npy_intp rows) {
    std::size_t values = static_cast<std::size_t>(rows);
    for (int d = 1; d < shape.depth; ++d) {
        values *= static_cast<std::size_t>(shape.rowDims[d - 1]);
    }
    return values * sizeof(double);
}

OwnedRef newTable(const TableShape& shape, npy_intp rows) {
    const npy_intp dims[3] = {rows, shape.rowDims[0], shape.rowDims[1]};
    OwnedRef table = kestrel_native::newResultArray(shape.depth, dims, NPY_DOUBLE, sizeof(double));
    if (!table) {
        PyErr_SetString(PyExc_MemoryError, kMatrixCreationFailed);
    }
    return table;
}

bool checkOutTable(PyObject* array, const TableShape& shape, npy_intp rows) {
    PyArrayObject* const view = PyArray_Check(array) ? kestrel_native::asArray(array) : nullptr;
    if (view == nullptr || PyArray_TYPE(view) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(view)) {
        PyErr_SetString(PyExc_TypeError, shape.pairError);
        return false;
    }
    bool shapeMatches = PyArray_NDIM(view) == shape.depth && PyArray_DIM(view, 0) == rows;
    for (int d = 1; shapeMatches && d < shape.depth; ++d) {
        shapeMatches = PyArray_DIM(view, d) == shape.rowDims[d - 1];
    }
    if (!shapeMatches) {
        PyErr_Format(PyExc_ValueError, shape.shapeError, static_cast<long>(rows));
        return false;
    }
    if (!PyArray_ISCARRAY(view)) {
        PyErr_SetString(PyExc_ValueError, kOutLayoutError);
        return false;
    }
    return true;
}

// out: None for two new tables, else a pair of existing writeable, aligned,
// C-contiguous float64 arrays of that shape that do not share memory,
// checked before anything is written. With noSecond, the second of the
// pair is None (and must be None in out).
bool tablePair(PyObject* out, const TableShape& shape, npy_intp rows, OwnedRef& first, OwnedRef& second,
               bool noSecond) {
    if (out == Py_None) {
        first = newTable(shape, rows);
        if (!first) {
            return false;
        }
        second = noSecond ? kestrel_native::newReference(Py_None) : newTable(shape, rows);
        return static_cast<bool>(second);
    }
    if (!PyTuple_Check(out) || PyTuple_GET_SIZE(out) != 2) {
        PyErr_SetString(PyExc_TypeError, noSecond ? kOutNoInverseError : shape.pairError);
        return false;
    }
    PyObject* const given[2] = {PyTuple_GET_ITEM(out, 0), PyTuple_GET_ITEM(out, 1)};
    if (noSecond && given[1] != Py_None) {
        PyErr_SetString(PyExc_TypeError, kOutNoInverseError);
        return false;
    }
    if (!checkOutTable(given[0], shape, rows) || (!noSecond && !checkOutTable(given[1], shape, rows))) {
        return false;
    }
    const std::size_t bytes = tableBytes(shape, rows);
    if (!noSecond && rows > 0 && kestrel_native::overlaps(matrixData(given[0]), bytes, matrixData(given[1]), bytes)) {
        PyErr_SetString(PyExc_ValueError, kOutSharedError);
        return false;
    }
    first = kestrel_native::newReference(given[0]);
    second = kestrel_native::newReference(given[1]);
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
    return tablePair(out, kMatrixTableShape, rows, forward, inverse, noInverse);
}

bool boxTables(PyObject* out, npy_intp rows, OwnedRef& worldLows, OwnedRef& worldHighs) {
    return tablePair(out, kBoxTableShape, rows, worldLows, worldHighs, false);
}

}  // namespace affinekit
