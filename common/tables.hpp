// Tables of rows (points, planes, box corners) as both modules read them:
// a ready double array in place, small nested lists of plain numbers into
// local storage, anything else through numpy's conversion.
#ifndef KESTREL_NATIVE_TABLES_HPP
#define KESTREL_NATIVE_TABLES_HPP

#include "numpy_module.hpp"

#include <array>

namespace kestrel_native {

struct Table {
    const double* rows;
    npy_intp count;
    npy_intp width;
};

// Small tables given as nested lists are read into local storage instead of
// a new array; larger ones are left to numpy, whose cost then is per item.
constexpr std::size_t kLocalTableCapacity = 256;
constexpr int kTableDepth = 2;

// A table argument and whatever keeps its values alive: the caller's own
// ready array, the local copy, or the array numpy's conversion made.
struct TableArgument {
    Table table{nullptr, 0, 0};
    OwnedRef converted;
    std::array<double, kLocalTableCapacity> local;
};

static inline Table tableOfArray(PyObject* array) {
    PyArrayObject* const view = asArray(array);
    return {doubleData(array), PyArray_DIM(view, 0), PyArray_DIM(view, 1)};
}

// Small nested sequences of plain numbers, read into the local storage.
static inline bool readNestedDirectly(PyObject* object, TableArgument& argument) {
    Py_ssize_t rowCount = 0;
    Py_ssize_t width = 0;
    if (!plainRowsShape(object, rowCount, width) || static_cast<std::size_t>(rowCount * width) > kLocalTableCapacity ||
        !readPlainRows(object, rowCount, width, argument.local.data())) {
        return false;
    }
    argument.table = {argument.local.data(), rowCount, width};
    return true;
}

// Reads a table of exactly two dimensions; false with numpy's exception set
// when the argument cannot be converted.
static inline bool readTable(PyObject* object, TableArgument& argument) {
    if (isReadyDoubleArray(object, kTableDepth)) {
        argument.table = tableOfArray(object);
        return true;
    }
    if (readNestedDirectly(object, argument)) {
        return true;
    }
    argument.converted = toDoubleArray(object, kTableDepth, kTableDepth);
    if (!argument.converted) {
        return false;
    }
    argument.table = tableOfArray(argument.converted.get());
    return true;
}

// A table of points or box corners has rows of 3 or 4 values, the first
// three read.
constexpr npy_intp kMinPointWidth = 3;
constexpr npy_intp kMaxPointWidth = 4;

static inline bool isPointWidth(npy_intp width) {
    return width >= kMinPointWidth && width <= kMaxPointWidth;
}

const char kBoxWidthError[] = "%s must be an x*3 or x*4 array, second dimension was %ld";
const char kRowCountError[] = "lows and highs must have the same number of rows, not %ld and %ld";

// lows and highs of a table of boxes, as every function taking boxes reads
// them; false with numpy's conversion error set (named when
// nameConversionErrors).
static inline bool readBoxTables(PyObject* lowsObject, PyObject* highsObject, TableArgument& lows,
                                 TableArgument& highs, bool nameConversionErrors) {
    const char* const names[2] = {"lows", "highs"};
    PyObject* const objects[2] = {lowsObject, highsObject};
    TableArgument* const tables[2] = {&lows, &highs};
    for (int k = 0; k < 2; ++k) {
        if (!readTable(objects[k], *tables[k])) {
            if (nameConversionErrors) {
                nameArgumentError(names[k], "an (N, 3) or (N, 4) table of corners");
            }
            return false;
        }
    }
    return true;
}

// Their widths (TypeError) and row counts (ValueError).
static inline bool checkBoxTables(const Table& lows, const Table& highs) {
    const char* const names[2] = {"lows", "highs"};
    const Table* const tables[2] = {&lows, &highs};
    for (int k = 0; k < 2; ++k) {
        if (!isPointWidth(tables[k]->width)) {
            PyErr_Format(PyExc_TypeError, kBoxWidthError, names[k], static_cast<long>(tables[k]->width));
            return false;
        }
    }
    if (highs.count != lows.count) {
        PyErr_Format(PyExc_ValueError, kRowCountError, static_cast<long>(lows.count), static_cast<long>(highs.count));
        return false;
    }
    return true;
}

}  // namespace kestrel_native

#endif
