// The frame both extension modules share: the interpreter and numpy headers,
// the exported entry point, module creation with numpy's API attached, and
// the conversion of an argument to a contiguous double array.
#ifndef KESTREL_NATIVE_NUMPY_MODULE_HPP
#define KESTREL_NATIVE_NUMPY_MODULE_HPP

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <Python.h>
#include <numpy/arrayobject.h>

#include "owned_ref.hpp"

// Everything is built with hidden visibility; the entry point alone is seen
// by the interpreter's loader.
#define KESTREL_MODULE_ENTRY extern "C" __attribute__((visibility("default"))) void

namespace kestrel_native {

// The interpreter API version the modules are written against (Python 2.6+).
constexpr int kPythonApiVersion = 1013;

// Creates the module and binds numpy's array API. On failure the import
// fails with the interpreter's error, or with numpy's ImportError after the
// pending error has been printed.
static inline void createModule(const char* name, PyMethodDef* methods) {
    if (Py_InitModule4(name, methods, nullptr, nullptr, kPythonApiVersion) == nullptr) {
        return;
    }
    import_array();
}

// numpy's contiguous conversion: aligned, writeable, C-ordered doubles in a
// base-class array, the same object when it already is one.
static inline OwnedRef toDoubleArray(PyObject* object, int minDepth, int maxDepth) {
    return OwnedRef(PyArray_ContiguousFromObject(object, NPY_DOUBLE, minDepth, maxDepth));
}

static inline PyArrayObject* asArray(PyObject* array) {
    return reinterpret_cast<PyArrayObject*>(array);
}

static inline const double* doubleData(PyObject* array) {
    return static_cast<const double*>(PyArray_DATA(asArray(array)));
}

// ------------------------------------------------------------ fast reads
//
// The readers below skip numpy's conversion only where its outcome is
// certain: the same doubles, no exception, and no reference left changed.
// Anything they do not recognise goes through toDoubleArray.

// An array numpy's contiguous conversion would hand back as it is: exactly
// the base class, native-endian doubles, C-contiguous, aligned, writeable.
static inline bool isReadyDoubleArray(PyObject* object, int dimensions) {
    if (!PyArray_CheckExact(object)) {
        return false;
    }
    PyArrayObject* const array = asArray(object);
    return PyArray_NDIM(array) == dimensions && PyArray_TYPE(array) == NPY_DOUBLE &&
           PyArray_ISNOTSWAPPED(array) && PyArray_ISCARRAY(array);
}

// An exact list or tuple, whose items can be read in place.
static inline bool isPlainSequence(PyObject* object) {
    return PyList_CheckExact(object) || PyTuple_CheckExact(object);
}

// An exact float or exact int, read as numpy's double conversion reads it
// (float() of the item). Subclasses such as bool are left to numpy.
static inline bool readPlainNumber(PyObject* item, double& value) {
    if (PyFloat_CheckExact(item)) {
        value = PyFloat_AS_DOUBLE(item);
        return true;
    }
    if (PyInt_CheckExact(item)) {
        value = static_cast<double>(PyInt_AS_LONG(item));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- results

static inline OwnedRef newReference(PyObject* borrowed) {
    Py_INCREF(borrowed);
    return OwnedRef(borrowed);
}

// A new 2-tuple that takes over both references; fails if either is null or
// the tuple cannot be made, and then nothing is left held.
static inline PyObject* pairOf(OwnedRef first, OwnedRef second) {
    if (!first || !second) {
        return nullptr;
    }
    PyObject* const pair = PyTuple_New(2);
    if (pair == nullptr) {
        return nullptr;
    }
    PyTuple_SET_ITEM(pair, 0, first.release());
    PyTuple_SET_ITEM(pair, 1, second.release());
    return pair;
}

}  // namespace kestrel_native

#endif
