// The floor the native functions are measured against: the work no
// implementation can avoid, and nothing else. floorPair takes one argument
// and returns two new 4x4 double arrays, each filled by one 128-byte copy;
// floorCull takes two arguments and returns (0, None).
#include "../common/numpy_module.hpp"

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

PyMethodDef kMethods[] = {
    {"floorPair", floorPair, METH_VARARGS, nullptr},
    {"floorCull", floorCull, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

KESTREL_DEFINE_MODULE(benchfloor, kMethods)
