// transMatrices, scaleMatrices and rotMatrices: a table of one kind of
// transform, one row each, in one call.
#include "arguments.hpp"
#include "functions.hpp"
#include "matrices.hpp"
#include "results.hpp"

#include <cstring>
#include <string>

namespace affinekit {

namespace {

const char kZeroLengthAxisRow[] = "Rotation around 0-length vector impossible (row %ld)";

template <class Transform>
void fillMatrices(const RowTable& table, double* forward, double* inverse) {
    for (npy_intp row = 0; row < table.rows; ++row, forward += kMatrixValues, inverse += kMatrixValues) {
        MatrixValues forwardValues, inverseValues;
        if (matrixValues<Transform>(rowComponents<Transform>(table, row), forwardValues, inverseValues) ==
            Request::Transform) {
            std::memcpy(forward, forwardValues.data(), sizeof(MatrixValues));
            std::memcpy(inverse, inverseValues.data(), sizeof(MatrixValues));
        } else {
            std::memcpy(forward, kIdentity.data(), sizeof(MatrixValues));
            std::memcpy(inverse, kIdentity.data(), sizeof(MatrixValues));
        }
    }
}

const char* const kTableKeywords[] = {"table", "out", nullptr};

template <class Transform>
PyObject* transformTable(PyObject* args, PyObject* keywords) {
    PyObject* tableObject = nullptr;
    PyObject* out = Py_None;
    const std::string format = std::string("O|O:") + Transform::kTableName;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, format.c_str(), const_cast<char**>(kTableKeywords),
                                     &tableObject, &out)) {
        return nullptr;
    }
    RowTable table;
    if (!readRowTable(tableObject, Transform::kTableName, table)) {
        return nullptr;
    }
    const npy_intp refused = firstRefusedRow<Transform>(table);
    if (refused >= 0) {
        PyErr_Format(PyExc_ValueError, kZeroLengthAxisRow, static_cast<long>(refused));
        return nullptr;
    }
    OwnedRef forward, inverse;
    if (!matrixTables(out, table.rows, forward, inverse)) {
        return nullptr;
    }
    double* const forwardData = matrixData(forward.get());
    double* const inverseData = matrixData(inverse.get());
    const std::size_t outBytes = matrixBytes(table.rows);
    const bool sharesTable =
        kestrel_native::overlaps(forwardData, outBytes, table.values, tableBytes(table)) ||
        kestrel_native::overlaps(inverseData, outBytes, table.values, tableBytes(table));
    if (sharesTable && !copyValues(table)) {
        return nullptr;
    }
    kestrel_native::runReleasingGil(table.rows >= kReleaseGilRows,
                                    [&] { fillMatrices<Transform>(table, forwardData, inverseData); });
    return kestrel_native::pairOf(std::move(forward), std::move(inverse));
}

}  // namespace

const char kTransMatricesDoc[] =
    "transMatrices( table[][3], out=None )\n"
    "Translation matrices and their inverses for a table of translations\n"
    "table -- one translation x,y,z a row, read as transMatrix reads its argument\n"
    "out -- a pair of (N, 4, 4) float64 arrays to fill, instead of new ones\n"
    "\n"
    "returns (forward, inverse), two (N, 4, 4) arrays whose matrix n is what\n"
    "transMatrix gives for row n, the identity where it gives (None, None).";

PyObject* transMatrices(PyObject*, PyObject* args, PyObject* keywords) {
    return transformTable<Translation>(args, keywords);
}

const char kScaleMatricesDoc[] =
    "scaleMatrices( table[][3], out=None )\n"
    "Scale matrices and their inverses for a table of scale factors\n"
    "table -- one set of factors x,y,z a row, read as scaleMatrix reads its argument\n"
    "out -- a pair of (N, 4, 4) float64 arrays to fill, instead of new ones\n"
    "\n"
    "returns (forward, inverse), two (N, 4, 4) arrays whose matrix n is what\n"
    "scaleMatrix gives for row n, the identity where it gives (None, None).";

PyObject* scaleMatrices(PyObject*, PyObject* args, PyObject* keywords) {
    return transformTable<Scale>(args, keywords);
}

const char kRotMatricesDoc[] =
    "rotMatrices( table[][4], out=None )\n"
    "Rotation matrices and their inverses for a table of axes and angles\n"
    "table -- one rotation x,y,z,a a row (a in radians), read as rotMatrix reads its argument\n"
    "out -- a pair of (N, 4, 4) float64 arrays to fill, instead of new ones\n"
    "\n"
    "returns (forward, inverse), two (N, 4, 4) arrays whose matrix n is what\n"
    "rotMatrix gives for row n, the identity where it gives (None, None);\n"
    "a row it refuses (a zero axis) makes the whole call raise its ValueError.";

PyObject* rotMatrices(PyObject*, PyObject* args, PyObject* keywords) {
    return transformTable<Rotation>(args, keywords);
}

}  // namespace affinekit
