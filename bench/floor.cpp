// The floor the native functions are measured against: the work no
// implementation can avoid, and nothing else. floorPair takes one argument
// and returns two new 4x4 double arrays, each filled by one 128-byte copy;
// floorCull takes two arguments and returns (0, None); floorBoxes takes two
// ready (N, 3) double arrays, reads every value once and writes a new intp
// array of N entries; floorTables takes a ready (N, K) double table and a
// flag, makes two new (N, 4, 4) double arrays and writes every entry, with
// one sin and one cos of the row's last value per row when the flag is set.
#define KESTREL_MODULE_FILE
#include "../common/numpy_module.hpp"
#include "../common/result_blocks.hpp"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

const double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

PyObject* newMatrix() {
    npy_intp dims[2] = {4, 4};
    PyObject* matrix = PyArray_SimpleNew(2, dims, NPY_DOUBLE);
    if (matrix != nullptr) {
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(matrix)), kIdentity,
                    sizeof(kIdentity));
    }
    return matrix;
}

bool hasArity(PyObject* args, Py_ssize_t count) {
    if (PyTuple_GET_SIZE(args) == count) {
        return true;
    }
    PyErr_SetString(PyExc_TypeError, "wrong number of arguments");
    return false;
}

// Results are built the way the real functions build theirs.
PyObject* floorPair(PyObject*, PyObject* args) {
    if (!hasArity(args, 1)) {
        return nullptr;
    }
    kestrel_native::OwnedRef forward(newMatrix());
    if (!forward) {
        return nullptr;
    }
    return kestrel_native::pairOf(std::move(forward), kestrel_native::OwnedRef(newMatrix()));
}

PyObject* floorCull(PyObject*, PyObject* args) {
    if (!hasArity(args, 2)) {
        return nullptr;
    }
    return kestrel_native::pairOf(kestrel_native::OwnedRef(kestrel_native::newInt(0)),
                                  kestrel_native::newReference(Py_None));
}

PyObject* floorBoxes(PyObject*, PyObject* args) {
    if (!hasArity(args, 2)) {
        return nullptr;
    }
    PyArrayObject* const lows = reinterpret_cast<PyArrayObject*>(PyTuple_GET_ITEM(args, 0));
    PyArrayObject* const highs = reinterpret_cast<PyArrayObject*>(PyTuple_GET_ITEM(args, 1));
    const npy_intp count = PyArray_DIM(lows, 0);
    // Results are made as the real functions make theirs.
    PyObject* const result = kestrel_native::newResultArray(1, &count, NPY_INTP, sizeof(npy_intp)).release();
    if (result == nullptr) {
        return nullptr;
    }
    const double* const low = static_cast<const double*>(PyArray_DATA(lows));
    const double* const high = static_cast<const double*>(PyArray_DATA(highs));
    npy_intp* const out = static_cast<npy_intp*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(result)));
    for (npy_intp n = 0; n < count; ++n) {
        const double* const l = low + 3 * n;
        const double* const h = high + 3 * n;
        out[n] = ((l[0] + l[1]) + (l[2] + h[0])) + (h[1] + h[2]) < 0.0 ? -1 : 0;
    }
    return result;
}

PyObject* floorTables(PyObject*, PyObject* args) {
    if (!hasArity(args, 2)) {
        return nullptr;
    }
    PyArrayObject* const table = reinterpret_cast<PyArrayObject*>(PyTuple_GET_ITEM(args, 0));
    const bool sinCos = PyObject_IsTrue(PyTuple_GET_ITEM(args, 1)) == 1;
    const npy_intp rows = PyArray_DIM(table, 0);
    const npy_intp width = PyArray_DIM(table, 1);
    const npy_intp dims[3] = {rows, 4, 4};
    kestrel_native::OwnedRef forward = kestrel_native::newResultArray(3, dims, NPY_DOUBLE, sizeof(double));
    kestrel_native::OwnedRef inverse = kestrel_native::newResultArray(3, dims, NPY_DOUBLE, sizeof(double));
    if (!forward || !inverse) {
        return nullptr;
    }
    const double* const values = static_cast<const double*>(PyArray_DATA(table));
    double* f = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(forward.get())));
    double* i = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(inverse.get())));
    for (npy_intp row = 0; row < rows; ++row, f += 16, i += 16) {
        std::memcpy(f, kIdentity, sizeof(kIdentity));
        std::memcpy(i, kIdentity, sizeof(kIdentity));
        if (sinCos) {
            const double angle = values[row * width + width - 1];
            f[1] = std::sin(angle);
            f[0] = std::cos(angle);
        }
    }
    return kestrel_native::pairOf(std::move(forward), std::move(inverse));
}

PyMethodDef kMethods[] = {
    {"floorPair", floorPair, METH_VARARGS, nullptr},
    {"floorCull", floorCull, METH_VARARGS, nullptr},
    {"floorBoxes", floorBoxes, METH_VARARGS, nullptr},
    {"floorTables", floorTables, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

KESTREL_DEFINE_MODULE(benchfloor, kMethods)
