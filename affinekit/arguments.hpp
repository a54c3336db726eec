// The arguments: one vector of components (the single functions and the
// fields of a node transform) and tables of such vectors, one a row. Exact
// lists and tuples of plain numbers and ready double arrays are read
// directly; anything else goes through numpy's conversion, with the same
// values and exceptions.
#ifndef KESTREL_AFFINEKIT_ARGUMENTS_HPP
#define KESTREL_AFFINEKIT_ARGUMENTS_HPP

#include "../common/numpy_module.hpp"

#include <array>
#include <memory>

namespace affinekit {

using kestrel_native::OwnedRef;

enum class VectorArgument { Failed, IsNone, Read };

// The interpreter's parser is asked only when the count is wrong, for its
// error message.
bool singleArgument(PyObject* args, PyObject*& object);

// Reads object into K components. Missing trailing components keep their
// defaults, surplus ones are ignored, and a bare number (no dimensions)
// leaves every default in place.
template <std::size_t K>
VectorArgument readVector(PyObject* object, const std::array<double, K>& defaults,
                          std::array<double, K>& components);

// A table of rows and whatever keeps its values alive: the caller's own
// ready array, a copy of plain nested sequences, or numpy's conversion.
struct RowTable {
    const double* values = nullptr;
    npy_intp rows = 0;
    npy_intp width = 0;
    OwnedRef converted;
    std::unique_ptr<double[]> copy;
};

// A two-dimensional table; None is a TypeError that names the function.
bool readRowTable(PyObject* object, const char* functionName, RowTable& table);

// Keeps its own copy of the values (when an output shares memory with them).
bool copyValues(RowTable& table);

std::size_t tableBytes(const RowTable& table);

// A table of 4x4 matrices, (N, 4, 4), or with oneForAll also a single (4, 4)
// matrix (single, count 1), and whatever keeps its values alive.
struct MatrixTable {
    const double* values = nullptr;
    npy_intp count = 0;
    bool single = false;
    OwnedRef converted;
    std::unique_ptr<double[]> copy;
};

// False with TypeError (or numpy's conversion error) naming the argument.
bool readMatrices(PyObject* object, const char* name, MatrixTable& table, bool oneForAll = false);

// Keeps its own copy of the values (when an output shares memory with them).
bool copyMatrices(MatrixTable& table);

// Row n's components, the defaults standing in for the columns the table
// lacks. Element by element rather than a copy of a run-time length, which
// the compiler makes a library call whose wide stores the reads of the
// components then wait for.
template <class Transform>
std::array<double, Transform::kComponents> rowComponents(const RowTable& table, npy_intp row) {
    constexpr std::array<double, Transform::kComponents> kDefaults = Transform::defaults();
    const double* const values = table.values + row * table.width;
    std::array<double, Transform::kComponents> components;
    for (std::size_t i = 0; i < Transform::kComponents; ++i) {
        components[i] = static_cast<npy_intp>(i) < table.width ? values[i] : kDefaults[i];
    }
    return components;
}

// The first row the single function refuses, or -1.
template <class Transform>
npy_intp firstRefusedRow(const RowTable& table) {
    for (npy_intp row = 0; row < table.rows; ++row) {
        if (Transform::refuses(rowComponents<Transform>(table, row))) {
            return row;
        }
    }
    return -1;
}

extern template VectorArgument readVector<3>(PyObject*, const std::array<double, 3>&, std::array<double, 3>&);
extern template VectorArgument readVector<4>(PyObject*, const std::array<double, 4>&, std::array<double, 4>&);

}  // namespace affinekit

#endif
