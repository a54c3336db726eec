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

static inline PyArrayObject* asArray(const OwnedRef& array) {
    return reinterpret_cast<PyArrayObject*>(array.get());
}

static inline const double* doubleData(const OwnedRef& array) {
    return static_cast<const double*>(PyArray_DATA(asArray(array)));
}

}  // namespace kestrel_native

#endif
