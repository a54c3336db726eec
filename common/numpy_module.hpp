// The frame both extension modules share: the interpreter and numpy headers,
// the exported entry point, module creation with numpy's API attached, and
// the conversion of an argument to a contiguous double array.
#ifndef KESTREL_NATIVE_NUMPY_MODULE_HPP
#define KESTREL_NATIVE_NUMPY_MODULE_HPP

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
// Every file of a module shares one table of numpy's API (hidden, like every
// symbol but the entry point); the file that defines the module says so
// with KESTREL_MODULE_FILE, and fills the table at import.
#define PY_ARRAY_UNIQUE_SYMBOL kestrel_native_ARRAY_API
#ifndef KESTREL_MODULE_FILE
#define NO_IMPORT_ARRAY
#endif
#include <Python.h>
#include <numpy/arrayobject.h>

#include "owned_ref.hpp"

#include <cstdio>
#include <string>

// Defines the module's entry point, its only exported symbol (everything else
// is built with hidden visibility): PyInit_<name> on Python 3, init<name> on
// Python 2. The module has no docstring.
// KESTREL_DEFINE_MODULE_WITH_SETUP also runs setup(module) once numpy is
// attached; when it returns false (with an error set) the import fails.
#if PY_MAJOR_VERSION >= 3
#define KESTREL_DEFINE_MODULE_WITH_SETUP(name, methods, setup)                                 \
    static PyModuleDef name##Definition = {                                                    \
        PyModuleDef_HEAD_INIT, #name, nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr}; \
    extern "C" __attribute__((visibility("default"))) PyObject* PyInit_##name() {              \
        return kestrel_native::createModule(&name##Definition, setup);                        \
    }
#else
#define KESTREL_DEFINE_MODULE_WITH_SETUP(name, methods, setup)                                 \
    extern "C" __attribute__((visibility("default"))) void init##name() {                     \
        kestrel_native::createModule(#name, methods, setup);                                   \
    }
#endif
#define KESTREL_DEFINE_MODULE(name, methods) KESTREL_DEFINE_MODULE_WITH_SETUP(name, methods, nullptr)

namespace kestrel_native {

#ifdef KESTREL_MODULE_FILE

const char kNumpyImportFailed[] = "numpy.core.multiarray failed to import";

// numpy's import step (import_array) with its standard failure handling: the
// pending error printed, ImportError raised. Written out rather than taken
// from the macro so that the message is the same with every numpy.
static inline bool attachNumpy() {
    if (_import_array() < 0) {
        PyErr_Print();
        PyErr_SetString(PyExc_ImportError, kNumpyImportFailed);
        return false;
    }
    return true;
}

using ModuleSetup = bool (*)(PyObject* module);

#if PY_MAJOR_VERSION >= 3

static inline PyObject* createModule(PyModuleDef* definition, ModuleSetup setup) {
    PyObject* const module = PyModule_Create(definition);
    if (module == nullptr) {
        return nullptr;
    }
    if (!attachNumpy() || (setup != nullptr && !setup(module))) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

#else

// The interpreter API version the modules are written against (Python 2.6+).
constexpr int kPythonApiVersion = 1013;

// Creates the module and binds numpy's array API; on failure the import fails
// with the error set.
static inline void createModule(const char* name, PyMethodDef* methods, ModuleSetup setup) {
    PyObject* const module = Py_InitModule4(name, methods, nullptr, nullptr, kPythonApiVersion);
    if (module != nullptr && attachNumpy() && setup != nullptr) {
        setup(module);
    }
}

#endif
#endif

#if PY_MAJOR_VERSION >= 3
static inline PyObject* newInt(long value) { return PyLong_FromLong(value); }
static inline PyObject* newString(const char* text) { return PyUnicode_FromString(text); }
static inline PyObject* newIndex(Py_ssize_t value) { return PyLong_FromSsize_t(value); }
#else
static inline PyObject* newInt(long value) { return PyInt_FromLong(value); }
static inline PyObject* newString(const char* text) { return PyString_FromString(text); }
static inline PyObject* newIndex(Py_ssize_t value) { return PyInt_FromSsize_t(value); }
#endif

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
// (float() of the item). Subclasses such as bool, and ints beyond a C long
// (whose conversion numpy may refuse), are left to numpy.
static inline bool readPlainNumber(PyObject* item, double& value) {
    if (PyFloat_CheckExact(item)) {
        value = PyFloat_AS_DOUBLE(item);
        return true;
    }
#if PY_MAJOR_VERSION >= 3
    if (PyLong_CheckExact(item)) {
        int overflow = 0;
        const long whole = PyLong_AsLongAndOverflow(item, &overflow);
        if (overflow != 0) {
            return false;
        }
        value = static_cast<double>(whole);
        return true;
    }
#else
    if (PyInt_CheckExact(item)) {
        value = static_cast<double>(PyInt_AS_LONG(item));
        return true;
    }
#endif
    return false;
}

// A non-empty exact list or tuple whose first row is an exact list or tuple
// of non-zero width: the start of a table the direct reader may take
// (readPlainRows checks the rest).
static inline bool plainRowsShape(PyObject* object, Py_ssize_t& rowCount, Py_ssize_t& width) {
    if (!isPlainSequence(object)) {
        return false;
    }
    rowCount = PySequence_Fast_GET_SIZE(object);
    if (rowCount == 0) {
        return false;
    }
    PyObject* const first = PySequence_Fast_ITEMS(object)[0];
    if (!isPlainSequence(first)) {
        return false;
    }
    width = PySequence_Fast_GET_SIZE(first);
    return width != 0;
}

// The values of rows that are all exact lists or tuples of the given width
// holding exact floats and ints, row after row: exactly the nested sequences
// numpy turns into a two-dimensional double array without fail. False
// (values partly written) for anything else.
static inline bool readPlainRows(PyObject* object, Py_ssize_t rowCount, Py_ssize_t width, double* values) {
    PyObject** const rows = PySequence_Fast_ITEMS(object);
    for (Py_ssize_t i = 0; i < rowCount; ++i) {
        PyObject* const row = rows[i];
        if (!isPlainSequence(row) || PySequence_Fast_GET_SIZE(row) != width) {
            return false;
        }
        PyObject** const items = PySequence_Fast_ITEMS(row);
        for (Py_ssize_t j = 0; j < width; ++j) {
            if (!readPlainNumber(items[j], *values++)) {
                return false;
            }
        }
    }
    return true;
}

// Whether two byte ranges share memory: an out= array that is a view of an
// argument's buffer must not be written while the argument is still read.
static inline bool overlaps(const void* first, std::size_t firstBytes, const void* second,
                            std::size_t secondBytes) {
    const char* const a = static_cast<const char*>(first);
    const char* const b = static_cast<const char*>(second);
    return a < b + secondBytes && b < a + firstBytes;
}

// Runs work, letting other interpreter threads run meanwhile when it is long;
// the caller keeps every array work reads or writes referenced throughout.
template <typename Work>
void runReleasingGil(bool isLong, Work work) {
    if (!isLong) {
        work();
        return;
    }
    Py_BEGIN_ALLOW_THREADS
    work();
    Py_END_ALLOW_THREADS
}

// The shape of an array, as Python prints a tuple.
// (snprintf rather than std::to_string, whose digit table the library would
// export as a unique symbol.)
static inline std::string shapeText(PyArrayObject* view) {
    std::string text = "(";
    for (int d = 0; d < PyArray_NDIM(view); ++d) {
        char number[32];
        std::snprintf(number, sizeof(number), "%s%ld", d == 0 ? "" : ", ", static_cast<long>(PyArray_DIM(view, d)));
        text += number;
    }
    return text + (PyArray_NDIM(view) == 1 ? ",)" : ")");
}

// numpy's conversion errors do not say which argument failed. This puts the
// argument's name and what it had to be in front of a pending TypeError or
// ValueError's message, keeping its type; any other error passes unchanged.
static inline void nameArgumentError(const char* name, const char* expected) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_ValueError)) {
        return;
    }
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    const OwnedRef ownedType(type), ownedValue(value), ownedTraceback(traceback);
    const OwnedRef text(value != nullptr ? PyObject_Str(value) : nullptr);
#if PY_MAJOR_VERSION >= 3
    const char* const message = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
#else
    const char* const message = text ? PyString_AsString(text.get()) : nullptr;
#endif
    if (message == nullptr) {
        PyErr_Clear();
        PyErr_Format(type, "%s must be %s", name, expected);
        return;
    }
    PyErr_Format(type, "%s must be %s (%s)", name, expected, message);
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
