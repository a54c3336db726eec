#include "arguments.hpp"

#include "matrices.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace affinekit {

namespace {

const char kNotATable[] = "%s takes a table of rows (N x K), not None";
const char kMatricesShapeError[] = "%s must be %s, not of shape %s";
const char kMatricesExpected[] = "an (N, 4, 4) table of matrices";
const char kMatrixOrMatricesExpected[] = "a (4, 4) matrix or an (N, 4, 4) table of matrices";
constexpr int kMatrixTableDepth = 3;
constexpr int kTableDepth = 2;

// The first min(length, K) elements of a one-dimensional double array.
template <std::size_t K>
void copyLeading(PyObject* array, std::array<double, K>& components) {
    const npy_intp count = std::min<npy_intp>(PyArray_DIM(kestrel_native::asArray(array), 0), K);
    std::copy_n(kestrel_native::doubleData(array), count, components.begin());
}

// Components of an exact list or tuple of exact floats and ints, or of a
// ready double array; false (components untouched or partly written) when
// the argument needs numpy's conversion. Every item is checked, read or not,
// because numpy's conversion would refuse the whole sequence for any of them.
template <std::size_t K>
bool readVectorDirectly(PyObject* object, std::array<double, K>& components) {
    if (kestrel_native::isPlainSequence(object)) {
        PyObject** const items = PySequence_Fast_ITEMS(object);
        const Py_ssize_t count = PySequence_Fast_GET_SIZE(object);
        for (Py_ssize_t i = 0; i < count; ++i) {
            double value;
            if (!kestrel_native::readPlainNumber(items[i], value)) {
                return false;
            }
            if (i < static_cast<Py_ssize_t>(K)) {
                components[i] = value;
            }
        }
        return true;
    }
    if (kestrel_native::isReadyDoubleArray(object, 0)) {
        return true;
    }
    if (kestrel_native::isReadyDoubleArray(object, 1)) {
        copyLeading(object, components);
        return true;
    }
    return false;
}

// Components from numpy's conversion of the argument.
template <std::size_t K>
bool readVectorConverted(PyObject* object, std::array<double, K>& components) {
    const OwnedRef array = kestrel_native::toDoubleArray(object, 0, 1);
    if (!array) {
        return false;
    }
    if (PyArray_NDIM(kestrel_native::asArray(array.get())) == 1) {
        copyLeading(array.get(), components);
    }
    return true;
}

// Storage for a copy of count values; false with MemoryError set.
bool allocateCopy(RowTable& table, std::size_t count) {
    table.copy.reset(new (std::nothrow) double[count == 0 ? 1 : count]);
    if (!table.copy) {
        PyErr_NoMemory();
        return false;
    }
    return true;
}

void useArray(PyObject* array, RowTable& table) {
    PyArrayObject* const view = kestrel_native::asArray(array);
    table.values = kestrel_native::doubleData(array);
    table.rows = PyArray_DIM(view, 0);
    table.width = PyArray_DIM(view, 1);
}

bool isMatrixShape(PyArrayObject* view, int firstSide) {
    return PyArray_DIM(view, firstSide) == kMatrixSide && PyArray_DIM(view, firstSide + 1) == kMatrixSide;
}

}  // namespace

bool singleArgument(PyObject* args, PyObject*& object) {
    if (PyTuple_GET_SIZE(args) == 1) {
        object = PyTuple_GET_ITEM(args, 0);
        return true;
    }
    return PyArg_ParseTuple(args, "O", &object) != 0;
}

template <std::size_t K>
VectorArgument readVector(PyObject* object, const std::array<double, K>& defaults,
                          std::array<double, K>& components) {
    if (object == Py_None) {
        return VectorArgument::IsNone;
    }
    components = defaults;
    if (readVectorDirectly(object, components)) {
        return VectorArgument::Read;
    }
    components = defaults;
    return readVectorConverted(object, components) ? VectorArgument::Read : VectorArgument::Failed;
}

template VectorArgument readVector<3>(PyObject*, const std::array<double, 3>&, std::array<double, 3>&);
template VectorArgument readVector<4>(PyObject*, const std::array<double, 4>&, std::array<double, 4>&);

std::size_t tableBytes(const RowTable& table) {
    return static_cast<std::size_t>(table.rows * table.width) * sizeof(double);
}

bool copyValues(RowTable& table) {
    const std::size_t count = static_cast<std::size_t>(table.rows * table.width);
    if (!allocateCopy(table, count)) {
        return false;
    }
    std::copy_n(table.values, count, table.copy.get());
    table.values = table.copy.get();
    return true;
}

bool readRowTable(PyObject* object, const char* functionName, RowTable& table) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, kNotATable, functionName);
        return false;
    }
    if (kestrel_native::isReadyDoubleArray(object, kTableDepth)) {
        useArray(object, table);
        return true;
    }
    Py_ssize_t rows = 0;
    Py_ssize_t width = 0;
    if (kestrel_native::plainRowsShape(object, rows, width)) {
        if (!allocateCopy(table, static_cast<std::size_t>(rows * width))) {
            return false;
        }
        if (kestrel_native::readPlainRows(object, rows, width, table.copy.get())) {
            table.values = table.copy.get();
            table.rows = rows;
            table.width = width;
            return true;
        }
    }
    table.converted = kestrel_native::toDoubleArray(object, kTableDepth, kTableDepth);
    if (!table.converted) {
        return false;
    }
    useArray(table.converted.get(), table);
    return true;
}

bool readMatrices(PyObject* object, const char* name, MatrixTable& table, bool oneForAll) {
    const char* const expected = oneForAll ? kMatrixOrMatricesExpected : kMatricesExpected;
    PyObject* array = object;
    if (!kestrel_native::isReadyDoubleArray(object, kMatrixTableDepth)) {
        table.converted = kestrel_native::toDoubleArray(object, 0, 0);
        if (!table.converted) {
            kestrel_native::nameArgumentError(name, expected);
            return false;
        }
        array = table.converted.get();
    }
    PyArrayObject* const view = kestrel_native::asArray(array);
    const int depth = PyArray_NDIM(view);
    table.single = oneForAll && depth == kMatrixTableDepth - 1 && isMatrixShape(view, 0);
    if (!table.single && (depth != kMatrixTableDepth || !isMatrixShape(view, 1))) {
        PyErr_Format(PyExc_TypeError, kMatricesShapeError, name, expected, kestrel_native::shapeText(view).c_str());
        return false;
    }
    table.values = kestrel_native::doubleData(array);
    table.count = table.single ? 1 : PyArray_DIM(view, 0);
    return true;
}

bool copyMatrices(MatrixTable& table) {
    const std::size_t count = static_cast<std::size_t>(table.count) * kMatrixValues;
    table.copy.reset(new (std::nothrow) double[count == 0 ? 1 : count]);
    if (!table.copy) {
        PyErr_NoMemory();
        return false;
    }
    std::memcpy(table.copy.get(), table.values, count * sizeof(double));
    table.values = table.copy.get();
    return true;
}

}  // namespace affinekit
