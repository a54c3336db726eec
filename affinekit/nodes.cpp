// transformMatrix and transformMatrices: the full transform of a scene node
// (translation, rotation, scale, scale orientation, center), as 3-D scene
// formats define it, with its inverse; one node, or a table of them.
//
// In row vectors, with (T, T') the translation's pair, (C, C') the center's,
// (R, R') the rotation's, (S, S') the scale's and (O, O') the scale
// orientation's:
//     forward = C' . O' . S . O . R . C . T
//     inverse = T' . C' . R' . O' . S' . O . C
// a factor whose single function gives (None, None) left out, the products
// taken left to right by the product kernel.
#include "arguments.hpp"
#include "functions.hpp"
#include "matrices.hpp"
#include "results.hpp"

#include <cstring>

namespace affinekit {

namespace {

const char kZeroLengthAxisField[] = "Rotation around 0-length vector impossible (%s)";
const char kZeroLengthAxisFieldRow[] = "Rotation around 0-length vector impossible (%s, row %ld)";
const char kNoTable[] =
    "transformMatrices takes at least one table (translations, rotations, scales, scaleOrientations or centers)";
const char kRowCountError[] = "%s has %ld rows and %s %ld: every table must have the same number of rows";

// The fields of a node; a field not given is at its defaults, which are the
// identity, so that it is left out like any other identity factor.
struct NodeFields {
    std::array<double, 3> translation = kTransDefaults;
    std::array<double, 4> rotation = kRotDefaults;
    std::array<double, 3> scale = kScaleDefaults;
    std::array<double, 4> scaleOrientation = kRotDefaults;
    std::array<double, 3> center = kTransDefaults;
};

constexpr int kMostFactors = 7;

// One chain of factors, the identities left out.
struct Chain {
    const double* factors[kMostFactors];
    int count = 0;

    void add(bool present, const MatrixValues& factor) {
        if (present) {
            factors[count++] = factor.data();
        }
    }
};

// The factors' matrices, and the chains that multiply them.
struct NodeFactors {
    MatrixValues translation, translationInverse, rotation, rotationInverse, scale, scaleInverse;
    MatrixValues orientation, orientationInverse, center, centerInverse;
    Chain forward, inverse;
};

// Sets up both chains for the node's fields (no rotation among them
// refused); false when every factor is the identity.
bool nodeChains(const NodeFields& fields, NodeFactors& f) {
    const bool t = matrixValues<Translation>(fields.translation, f.translation, f.translationInverse) ==
                   Request::Transform;
    const bool c = matrixValues<Translation>(fields.center, f.center, f.centerInverse) == Request::Transform;
    const bool r = matrixValues<Rotation>(fields.rotation, f.rotation, f.rotationInverse) == Request::Transform;
    const bool s = matrixValues<Scale>(fields.scale, f.scale, f.scaleInverse) == Request::Transform;
    const bool o = matrixValues<Rotation>(fields.scaleOrientation, f.orientation, f.orientationInverse) ==
                   Request::Transform;
    // forward = C' . O' . S . O . R . C . T
    f.forward.count = 0;
    f.forward.add(c, f.centerInverse);
    f.forward.add(o, f.orientationInverse);
    f.forward.add(s, f.scale);
    f.forward.add(o, f.orientation);
    f.forward.add(r, f.rotation);
    f.forward.add(c, f.center);
    f.forward.add(t, f.translation);
    // inverse = T' . C' . R' . O' . S' . O . C
    f.inverse.count = 0;
    f.inverse.add(t, f.translationInverse);
    f.inverse.add(c, f.centerInverse);
    f.inverse.add(r, f.rotationInverse);
    f.inverse.add(o, f.orientationInverse);
    f.inverse.add(s, f.scaleInverse);
    f.inverse.add(o, f.orientation);
    f.inverse.add(c, f.center);
    return f.forward.count != 0;
}

// The node's matrices into forward and inverse (16 values each; inverse
// null when not wanted); false, and nothing written, when the node is the
// identity.
bool nodeMatrices(const NodeFields& fields, const affinekit_kernels::Kernel& kernel, double* forward,
                  double* inverse) {
    NodeFactors factors;
    if (!nodeChains(fields, factors)) {
        return false;
    }
    kernel.chain(factors.forward.factors, factors.forward.count, forward);
    if (inverse != nullptr) {
        kernel.chain(factors.inverse.factors, factors.inverse.count, inverse);
    }
    return true;
}

// ------------------------------------------------------------- one node

struct FieldArgument {
    const char* name;
    const char* expected;
};

const FieldArgument kTranslationField = {"translation", "a vector x,y,z of numbers, or None"};
const FieldArgument kRotationField = {"rotation", "a vector x,y,z,a of numbers, or None"};
const FieldArgument kScaleField = {"scale", "a vector x,y,z of numbers, or None"};
const FieldArgument kOrientationField = {"scaleOrientation", "a vector x,y,z,a of numbers, or None"};
const FieldArgument kCenterField = {"center", "a vector x,y,z of numbers, or None"};

// Reads one field as its single function reads its argument; None leaves
// the defaults. False with the error naming the field.
template <std::size_t K>
bool readField(PyObject* object, const FieldArgument& field, const std::array<double, K>& defaults,
               std::array<double, K>& components) {
    if (readVector(object, defaults, components) != VectorArgument::Failed) {
        return true;
    }
    kestrel_native::nameArgumentError(field.name, field.expected);
    return false;
}

bool refusesRotation(const std::array<double, 4>& rotation, const char* name) {
    if (Rotation::refuses(rotation)) {
        PyErr_Format(PyExc_ValueError, kZeroLengthAxisField, name);
        return true;
    }
    return false;
}

const char* const kNodeKeywords[] = {"translation", "rotation", "scale", "scaleOrientation", "center", nullptr};

// ---------------------------------------------------------- node tables

struct FieldTable {
    const char* name;
    const char* expected;
    PyObject* object = Py_None;
    RowTable table;
    bool given = false;
};

constexpr int kFieldTables = 5;
enum FieldIndex { kTranslations, kRotations, kScales, kOrientations, kCenters };

bool readFieldTables(FieldTable (&fields)[kFieldTables]) {
    for (FieldTable& field : fields) {
        field.given = field.object != Py_None;
        if (field.given && !readRowTable(field.object, "transformMatrices", field.table)) {
            kestrel_native::nameArgumentError(field.name, field.expected);
            return false;
        }
    }
    return true;
}

// The number of rows every given table has; -1 with the error set when
// none is given or two differ.
npy_intp commonRowCount(const FieldTable (&fields)[kFieldTables]) {
    const FieldTable* first = nullptr;
    for (const FieldTable& field : fields) {
        if (!field.given) {
            continue;
        }
        if (first == nullptr) {
            first = &field;
        } else if (field.table.rows != first->table.rows) {
            PyErr_Format(PyExc_ValueError, kRowCountError, first->name, static_cast<long>(first->table.rows),
                         field.name, static_cast<long>(field.table.rows));
            return -1;
        }
    }
    if (first == nullptr) {
        PyErr_SetString(PyExc_TypeError, kNoTable);
        return -1;
    }
    return first->table.rows;
}

// The first row either rotation table refuses, naming the table (rotations
// before scaleOrientations on the same row); false with the error set.
bool refusesNoRow(const FieldTable (&fields)[kFieldTables]) {
    const FieldTable* refusing = nullptr;
    npy_intp firstRow = -1;
    for (const FieldIndex index : {kRotations, kOrientations}) {
        const FieldTable& field = fields[index];
        const npy_intp row = field.given ? firstRefusedRow<Rotation>(field.table) : -1;
        if (row >= 0 && (firstRow < 0 || row < firstRow)) {
            firstRow = row;
            refusing = &field;
        }
    }
    if (refusing == nullptr) {
        return true;
    }
    PyErr_Format(PyExc_ValueError, kZeroLengthAxisFieldRow, refusing->name, static_cast<long>(firstRow));
    return false;
}

NodeFields rowFields(const FieldTable (&fields)[kFieldTables], npy_intp row) {
    NodeFields node;
    if (fields[kTranslations].given) {
        node.translation = rowComponents<Translation>(fields[kTranslations].table, row);
    }
    if (fields[kRotations].given) {
        node.rotation = rowComponents<Rotation>(fields[kRotations].table, row);
    }
    if (fields[kScales].given) {
        node.scale = rowComponents<Scale>(fields[kScales].table, row);
    }
    if (fields[kOrientations].given) {
        node.scaleOrientation = rowComponents<Rotation>(fields[kOrientations].table, row);
    }
    if (fields[kCenters].given) {
        node.center = rowComponents<Translation>(fields[kCenters].table, row);
    }
    return node;
}

// inverse null: the forward matrices alone.
void fillNodes(const FieldTable (&fields)[kFieldTables], npy_intp rows, double* forward, double* inverse) {
    const affinekit_kernels::Kernel& kernel = productKernel();
    for (npy_intp row = 0; row < rows; ++row, forward += kMatrixValues) {
        double* const rowInverse = inverse != nullptr ? inverse + row * kMatrixValues : nullptr;
        if (!nodeMatrices(rowFields(fields, row), kernel, forward, rowInverse)) {
            std::memcpy(forward, kIdentity.data(), sizeof(MatrixValues));
            if (rowInverse != nullptr) {
                std::memcpy(rowInverse, kIdentity.data(), sizeof(MatrixValues));
            }
        }
    }
}

// A table that shares memory with out is copied first, so that no row is
// overwritten before it is read.
bool copyTablesSharedWith(FieldTable (&fields)[kFieldTables], const double* forward, const double* inverse,
                          npy_intp rows) {
    const std::size_t outBytes = matrixBytes(rows);
    const std::size_t inverseBytes = inverse != nullptr ? outBytes : 0;
    for (FieldTable& field : fields) {
        const std::size_t bytes = tableBytes(field.table);
        if (field.given && (kestrel_native::overlaps(forward, outBytes, field.table.values, bytes) ||
                            kestrel_native::overlaps(inverse, inverseBytes, field.table.values, bytes)) &&
            !copyValues(field.table)) {
            return false;
        }
    }
    return true;
}

const char* const kNodeTableKeywords[] = {"translations", "rotations", "scales",   "scaleOrientations",
                                          "centers",      "out",       "inverses", nullptr};

}  // namespace

const char kTransformMatrixDoc[] =
    "transformMatrix( translation=None, rotation=None, scale=None, scaleOrientation=None, center=None )\n"
    "The full transform of a scene node and its inverse\n"
    "translation -- x,y,z, read as transMatrix reads its argument\n"
    "rotation -- x,y,z,a (a in radians), read as rotMatrix reads its argument\n"
    "scale -- x,y,z, read as scaleMatrix reads its argument\n"
    "scaleOrientation -- x,y,z,a, the rotation the scale is applied in\n"
    "center -- x,y,z, the point that rotation and scale keep in place\n"
    "\n"
    "returns (forward, inverse), two 4x4 matrices: in row vectors,\n"
    "forward = C' O' S O R C T and inverse = T' C' R' O' S' O C, where each\n"
    "factor and its inverse (') is the single function's pair, a factor it\n"
    "gives (None, None) for left out; (None, None) when every factor is.";

PyObject* transformMatrix(PyObject*, PyObject* args, PyObject* keywords) {
    PyObject* objects[5] = {Py_None, Py_None, Py_None, Py_None, Py_None};
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "|OOOOO:transformMatrix", const_cast<char**>(kNodeKeywords),
                                     &objects[0], &objects[1], &objects[2], &objects[3], &objects[4])) {
        return nullptr;
    }
    NodeFields fields;
    if (!readField(objects[0], kTranslationField, kTransDefaults, fields.translation) ||
        !readField(objects[1], kRotationField, kRotDefaults, fields.rotation) ||
        !readField(objects[2], kScaleField, kScaleDefaults, fields.scale) ||
        !readField(objects[3], kOrientationField, kRotDefaults, fields.scaleOrientation) ||
        !readField(objects[4], kCenterField, kTransDefaults, fields.center) ||
        refusesRotation(fields.rotation, kRotationField.name) ||
        refusesRotation(fields.scaleOrientation, kOrientationField.name)) {
        return nullptr;
    }
    MatrixValues forward, inverse;
    if (!nodeMatrices(fields, productKernel(), forward.data(), inverse.data())) {
        return nonePair();
    }
    return matrixPair(forward, inverse);
}

const char kTransformMatricesDoc[] =
    "transformMatrices( translations=None, rotations=None, scales=None, scaleOrientations=None, centers=None, out=None,\n"
    "\tinverses=True )\n"
    "The full transforms of a table of scene nodes and their inverses\n"
    "translations -- one translation x,y,z a row, or None\n"
    "rotations -- one rotation x,y,z,a a row (a in radians), or None\n"
    "scales -- one set of scale factors x,y,z a row, or None\n"
    "scaleOrientations -- one rotation x,y,z,a a row, or None\n"
    "centers -- one center x,y,z a row, or None\n"
    "out -- a pair of (N, 4, 4) float64 arrays to fill, instead of new ones\n"
    "\t(the second None when inverses is false)\n"
    "inverses -- false to make the forward matrices alone\n"
    "\n"
    "returns (forward, inverse), two (N, 4, 4) arrays whose matrix n is what\n"
    "transformMatrix gives for row n of each table given, the identity where\n"
    "it gives (None, None); every table given has the same N rows, read as\n"
    "the single functions' tables are, and at least one is given. inverse is\n"
    "None when inverses is false.";

PyObject* transformMatrices(PyObject*, PyObject* args, PyObject* keywords) {
    FieldTable fields[kFieldTables];
    const FieldArgument names[kFieldTables] = {
        {"translations", "a table of translations x,y,z (N x K) of numbers, or None"},
        {"rotations", "a table of rotations x,y,z,a (N x K) of numbers, or None"},
        {"scales", "a table of scale factors x,y,z (N x K) of numbers, or None"},
        {"scaleOrientations", "a table of rotations x,y,z,a (N x K) of numbers, or None"},
        {"centers", "a table of centers x,y,z (N x K) of numbers, or None"},
    };
    for (int i = 0; i < kFieldTables; ++i) {
        fields[i].name = names[i].name;
        fields[i].expected = names[i].expected;
    }
    PyObject* out = Py_None;
    PyObject* inversesObject = Py_True;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "|OOOOOOO:transformMatrices",
                                     const_cast<char**>(kNodeTableKeywords), &fields[0].object, &fields[1].object,
                                     &fields[2].object, &fields[3].object, &fields[4].object, &out, &inversesObject)) {
        return nullptr;
    }
    const int withInverses = PyObject_IsTrue(inversesObject);
    if (withInverses < 0 || !readFieldTables(fields)) {
        return nullptr;
    }
    const npy_intp rows = commonRowCount(fields);
    if (rows < 0 || !refusesNoRow(fields)) {
        return nullptr;
    }
    OwnedRef forward, inverse;
    if (!matrixTables(out, rows, forward, inverse, withInverses == 0)) {
        return nullptr;
    }
    double* const forwardData = matrixData(forward.get());
    double* const inverseData = withInverses != 0 ? matrixData(inverse.get()) : nullptr;
    if (!copyTablesSharedWith(fields, forwardData, inverseData, rows)) {
        return nullptr;
    }
    kestrel_native::runReleasingGil(rows >= kReleaseGilRows,
                                    [&] { fillNodes(fields, rows, forwardData, inverseData); });
    return kestrel_native::pairOf(std::move(forward), std::move(inverse));
}

}  // namespace affinekit
