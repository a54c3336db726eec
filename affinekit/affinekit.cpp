// affinekit: 4x4 transformation matrices and their inverses.
//
// Layout: row-major doubles, row-vector convention (a point is the row
// (x, y, z, 1) on the left of the matrix), so a translation sits in row 3.
// Every function returns (forward, inverse), or (None, None) when the
// requested transform is the identity.
#include "../common/numpy_module.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace {

using kestrel_native::OwnedRef;

constexpr int kMatrixSide = 4;
using MatrixValues = std::array<double, kMatrixSide * kMatrixSide>;

const char kMatrixCreationFailed[] = "Could not create new matrix object";
const char kZeroLengthAxis[] = "Rotation around 0-length vector impossible";

// A zero scale factor is inverted as this instead, so that the inverse stays
// finite.
constexpr double kZeroScaleGuard = 1e-300;
// An angle whose remainder modulo this literal (slightly more than 2*pi) is
// below the threshold in magnitude is no rotation at all.
constexpr double kFullTurn = 6.2831853071796;
constexpr double kNoRotationThreshold = 1e-300;

constexpr std::array<double, 3> kTransDefaults = {0.0, 0.0, 0.0};
constexpr std::array<double, 3> kScaleDefaults = {1.0, 1.0, 1.0};
constexpr std::array<double, 4> kRotDefaults = {0.0, 1.0, 0.0, 0.0};

// ---------------------------------------------------------------- results

PyObject* newMatrix(const MatrixValues& values) {
    npy_intp dims[2] = {kMatrixSide, kMatrixSide};
    PyObject* matrix = PyArray_SimpleNew(2, dims, NPY_DOUBLE);
    if (matrix == nullptr) {
        PyErr_SetString(PyExc_MemoryError, kMatrixCreationFailed);
        return nullptr;
    }
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(matrix)), values.data(),
                sizeof(MatrixValues));
    return matrix;
}

PyObject* nonePair() {
    return kestrel_native::pairOf(kestrel_native::newReference(Py_None),
                                  kestrel_native::newReference(Py_None));
}

// ----------------------------------------------------------- the argument

enum class VectorArgument { Failed, IsNone, Read };

// The interpreter's parser is asked only when the count is wrong, for its
// error message.
bool singleArgument(PyObject* args, PyObject*& object) {
    if (PyTuple_GET_SIZE(args) == 1) {
        object = PyTuple_GET_ITEM(args, 0);
        return true;
    }
    return PyArg_ParseTuple(args, "O", &object) != 0;
}

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

// Reads the single positional argument into K components. Missing trailing
// components keep their defaults, surplus ones are ignored, and a bare
// number (no dimensions) leaves every default in place.
template <std::size_t K>
VectorArgument readVector(PyObject* args, const std::array<double, K>& defaults,
                          std::array<double, K>& components) {
    PyObject* object = nullptr;
    if (!singleArgument(args, object)) {
        return VectorArgument::Failed;
    }
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

// Runs compute on the components read, or ends the call as the argument
// decides: with the reader's failure, or with (None, None) for None.
template <std::size_t K, typename Compute>
PyObject* withVector(PyObject* args, const std::array<double, K>& defaults, Compute compute) {
    std::array<double, K> components;
    switch (readVector(args, defaults, components)) {
    case VectorArgument::Failed: return nullptr;
    case VectorArgument::IsNone: return nonePair();
    case VectorArgument::Read: break;
    }
    return compute(components);
}

// ------------------------------------------------------------- transforms
//
// Each transform is a small set of file-local functions: its defaults, its
// request (what the components ask for: the identity, a transform with the
// arguments of its forward and inverse matrices, or, for a rotation about a
// zero axis, nothing possible) and the builder of a matrix's 16 values from
// those arguments. The single functions and the table functions share them,
// so that a table's row n is, to the bit, what the single function gives.

enum class Request { Identity, Transform, Impossible };

template <std::size_t N>
struct BuilderArgs {
    std::array<double, N> forward;
    std::array<double, N> inverse;
};

// ------------------------------------------------------------ translation

struct Translation {
    static constexpr std::size_t kComponents = 3;
    static constexpr std::size_t kBuilderArgs = 3;
    static constexpr const char* kTableName = "transMatrices";

    static constexpr std::array<double, 3> defaults() { return kTransDefaults; }

    static Request request(const std::array<double, 3>& v, BuilderArgs<3>& args) {
        const double x = v[0], y = v[1], z = v[2];
        if (x == 0.0 && y == 0.0 && z == 0.0) {
            return Request::Identity;
        }
        args = {{x, y, z}, {-x, -y, -z}};
        return Request::Transform;
    }

    static bool refuses(const std::array<double, 3>&) { return false; }

    static MatrixValues values(const std::array<double, 3>& a) {
        return {1.0,  0.0,  0.0,  0.0,
                0.0,  1.0,  0.0,  0.0,
                0.0,  0.0,  1.0,  0.0,
                a[0], a[1], a[2], 1.0};
    }
};

// ------------------------------------------------------------------ scale

// Only an exact zero (either sign) is replaced; tiny, infinite and NaN
// factors are inverted as they are.
double invertFactor(double factor) {
    return 1.0 / (factor == 0.0 ? kZeroScaleGuard : factor);
}

struct Scale {
    static constexpr std::size_t kComponents = 3;
    static constexpr std::size_t kBuilderArgs = 3;
    static constexpr const char* kTableName = "scaleMatrices";

    static constexpr std::array<double, 3> defaults() { return kScaleDefaults; }

    static Request request(const std::array<double, 3>& v, BuilderArgs<3>& args) {
        const double x = v[0], y = v[1], z = v[2];
        if (x == 1.0 && y == 1.0 && z == 1.0) {
            return Request::Identity;
        }
        args = {{x, y, z}, {invertFactor(x), invertFactor(y), invertFactor(z)}};
        return Request::Transform;
    }

    static bool refuses(const std::array<double, 3>&) { return false; }

    static MatrixValues values(const std::array<double, 3>& a) {
        return {a[0], 0.0,  0.0,  0.0,
                0.0,  a[1], 0.0,  0.0,
                0.0,  0.0,  a[2], 0.0,
                0.0,  0.0,  0.0,  1.0};
    }
};

// --------------------------------------------------------------- rotation

// fmod(a, m) is a itself when |a| < m, so the library call is needed only
// for angles of a full turn or more (and for NaN).
bool isNoRotation(double angle) {
    const double magnitude = std::fabs(angle);
    const double remainder = magnitude < kFullTurn ? magnitude : std::fabs(std::fmod(angle, kFullTurn));
    return remainder < kNoRotationThreshold;
}

// When the squared length of a finite, non-zero axis leaves the normal
// double range, the plain formula would refuse the axis or collapse it to
// zero. Scaling every component by the same power of two is exact and
// brings the largest one into [0.5, 1), so the squared length is normal.
void rescaleIfOutOfRange(double& x, double& y, double& z, double squaredLength) {
    const int kind = std::fpclassify(squaredLength);
    const bool outOfRange = kind == FP_ZERO || kind == FP_SUBNORMAL || kind == FP_INFINITE;
    if (!outOfRange || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
        return;
    }
    const double largest = std::max({std::fabs(x), std::fabs(y), std::fabs(z)});
    if (largest == 0.0) {
        return;
    }
    int exponent = 0;
    std::frexp(largest, &exponent);
    x = std::ldexp(x, -exponent);
    y = std::ldexp(y, -exponent);
    z = std::ldexp(z, -exponent);
}

// Makes the axis unit length; false for an axis of length zero.
bool normaliseAxis(double& x, double& y, double& z) {
    rescaleIfOutOfRange(x, y, z, x * x + y * y + z * z);
    const double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0) {
        return false;
    }
    x /= length;
    y /= length;
    z /= length;
    return true;
}

struct Rotation {
    static constexpr std::size_t kComponents = 4;
    // The unit axis, and the cosine and sine of the angle.
    static constexpr std::size_t kBuilderArgs = 5;
    static constexpr const char* kTableName = "rotMatrices";

    static constexpr std::array<double, 4> defaults() { return kRotDefaults; }

    static Request request(const std::array<double, 4>& v, BuilderArgs<5>& args) {
        double x = v[0], y = v[1], z = v[2];
        const double a = v[3];
        if (isNoRotation(a)) {
            return Request::Identity;
        }
        if (!normaliseAxis(x, y, z)) {
            return Request::Impossible;
        }
        // The inverse is the rotation by -a: cosine is even and sine odd, to
        // the bit, so one evaluation of each serves both matrices.
        const double c = std::cos(a);
        const double s = std::sin(a);
        args = {{x, y, z, c, s}, {x, y, z, c, -s}};
        return Request::Transform;
    }

    // Whether request() finds the rotation impossible, without its sine and
    // cosine: once the angle is a real rotation, the axis has length zero
    // exactly when all three components are zero (any other finite axis is
    // rescaled into range first).
    static bool refuses(const std::array<double, 4>& v) {
        return !isNoRotation(v[3]) && v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0;
    }

    // Products are formed left to right, so the entries mirrored across the
    // diagonal share one product and differ only in the sign of their sine
    // term.
    static MatrixValues values(const std::array<double, 5>& a) {
        const double x = a[0], y = a[1], z = a[2], c = a[3], s = a[4];
        const double t = 1.0 - c;
        return {t * x * x + c,     t * x * y + s * z, t * x * z - s * y, 0.0,
                t * x * y - s * z, t * y * y + c,     t * y * z + s * x, 0.0,
                t * x * z + s * y, t * y * z - s * x, t * z * z + c,     0.0,
                0.0,               0.0,               0.0,               1.0};
    }
};

// ------------------------------------------------------ one transform

// The pair for one vector's components: (None, None) for the identity, the
// ValueError for a rotation about a zero axis, else two new matrices, the
// forward one made first so that a failure of the inverse releases it.
template <class Transform>
PyObject* matrixPair(const std::array<double, Transform::kComponents>& components) {
    BuilderArgs<Transform::kBuilderArgs> args;
    switch (Transform::request(components, args)) {
    case Request::Identity: return nonePair();
    case Request::Impossible: PyErr_SetString(PyExc_ValueError, kZeroLengthAxis); return nullptr;
    case Request::Transform: break;
    }
    OwnedRef forward(newMatrix(Transform::values(args.forward)));
    if (!forward) {
        return nullptr;
    }
    return kestrel_native::pairOf(std::move(forward), OwnedRef(newMatrix(Transform::values(args.inverse))));
}

template <class Transform>
PyObject* singleTransform(PyObject* args) {
    return withVector(args, Transform::defaults(), matrixPair<Transform>);
}

const char kTransMatrixDoc[] =
    "transMatrix( [x,y,z] )\n"
    "C accellerator for kestrel.kestrel97.transformmatrix.transMatrix\n"
    "x,y,z -- Python object compatible with Numeric double array\n"
    "\n"
    "returns a 4x4 translation matrix for the given translation and\n"
    "the inverse of the translation.";

PyObject* transMatrix(PyObject*, PyObject* args) {
    return singleTransform<Translation>(args);
}

const char kScaleMatrixDoc[] =
    "scaleMatrix( [x,y,z] )\n"
    "C accellerator for kestrel.kestrel97.transformmatrix.scaleMatrix\n"
    "x,y,z -- Python object compatible with Numeric double array\n"
    "\n"
    "returns a 4x4 scale matrix for the given scale factors and\n"
    "the inverse of the scale, in which a zero factor counts as 1e-300.";

PyObject* scaleMatrix(PyObject*, PyObject* args) {
    return singleTransform<Scale>(args);
}

const char kRotMatrixDoc[] =
    "rotMatrix( [x,y,z,a] )\n"
    "C accellerator for kestrel.kestrel97.transformmatrix.rotMatrix\n"
    "x,y,z,a -- Python object compatible with Numeric double array\n"
    "\ta is expressed in radians, as normal for Python and KESTREL97\n"
    "\n"
    "returns a 4x4 rotation matrix for a rotation by a around the axis x,y,z\n"
    "and the inverse of the rotation (the rotation by -a).";

PyObject* rotMatrix(PyObject*, PyObject* args) {
    return singleTransform<Rotation>(args);
}

// ----------------------------------------------------------------- tables

const char kNotATable[] = "%s takes a table of rows (N x K), not None";
const char kOutPairError[] = "out must be a pair of float64 arrays (forward, inverse)";
const char kOutShapeError[] = "out arrays must have shape (%ld, 4, 4)";
const char kOutLayoutError[] = "out arrays must be writeable, C-contiguous and aligned";
const char kOutSharedError[] = "out arrays must not share memory";
const char kZeroLengthAxisRow[] = "Rotation around 0-length vector impossible (row %ld)";
constexpr int kTableDepth = 2;
constexpr int kMatrixTableDepth = 3;
constexpr MatrixValues kIdentity = {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0,
                                    0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0};
// Beyond this many rows the computation lets other interpreter threads run;
// the arrays involved stay referenced until the call returns.
constexpr npy_intp kReleaseGilRows = 1000;

// A table of rows and whatever keeps its values alive: the caller's own
// ready array, a copy of plain nested sequences, or numpy's conversion.
struct RowTable {
    const double* values = nullptr;
    npy_intp rows = 0;
    npy_intp width = 0;
    OwnedRef converted;
    std::unique_ptr<double[]> copy;
};

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

// Keeps its own copy of the values (when out shares memory with them).
bool copyValues(RowTable& table) {
    const std::size_t count = static_cast<std::size_t>(table.rows * table.width);
    if (!allocateCopy(table, count)) {
        return false;
    }
    std::copy_n(table.values, count, table.copy.get());
    table.values = table.copy.get();
    return true;
}

bool readRowTable(PyObject* object, const char* name, RowTable& table) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, kNotATable, name);
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

// Element by element rather than a copy of a run-time length, which the
// compiler makes a library call whose wide stores the reads of the
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

template <class Transform>
void fillMatrices(const RowTable& table, double* forward, double* inverse) {
    constexpr npy_intp kValues = kMatrixSide * kMatrixSide;
    for (npy_intp row = 0; row < table.rows; ++row, forward += kValues, inverse += kValues) {
        BuilderArgs<Transform::kBuilderArgs> args;
        if (Transform::request(rowComponents<Transform>(table, row), args) == Request::Transform) {
            const MatrixValues forwardValues = Transform::values(args.forward);
            const MatrixValues inverseValues = Transform::values(args.inverse);
            std::memcpy(forward, forwardValues.data(), sizeof(MatrixValues));
            std::memcpy(inverse, inverseValues.data(), sizeof(MatrixValues));
        } else {
            std::memcpy(forward, kIdentity.data(), sizeof(MatrixValues));
            std::memcpy(inverse, kIdentity.data(), sizeof(MatrixValues));
        }
    }
}

PyArrayObject* matrixTableOf(PyObject* object) {
    return PyArray_Check(object) ? kestrel_native::asArray(object) : nullptr;
}

double* matrixData(PyObject* array) {
    return static_cast<double*>(PyArray_DATA(kestrel_native::asArray(array)));
}

std::size_t matrixBytes(npy_intp rows) {
    return static_cast<std::size_t>(rows) * sizeof(MatrixValues);
}

// out: None for two new (N, 4, 4) arrays, else a pair of existing
// writeable, aligned, C-contiguous float64 arrays of that shape that do not
// share memory, checked before anything is written.
bool matrixTables(PyObject* out, npy_intp rows, OwnedRef& forward, OwnedRef& inverse) {
    if (out == Py_None) {
        npy_intp dims[3] = {rows, kMatrixSide, kMatrixSide};
        forward = OwnedRef(PyArray_SimpleNew(kMatrixTableDepth, dims, NPY_DOUBLE));
        if (forward) {
            inverse = OwnedRef(PyArray_SimpleNew(kMatrixTableDepth, dims, NPY_DOUBLE));
        }
        if (!forward || !inverse) {
            PyErr_SetString(PyExc_MemoryError, kMatrixCreationFailed);
            return false;
        }
        return true;
    }
    if (!PyTuple_Check(out) || PyTuple_GET_SIZE(out) != 2) {
        PyErr_SetString(PyExc_TypeError, kOutPairError);
        return false;
    }
    PyObject* const given[2] = {PyTuple_GET_ITEM(out, 0), PyTuple_GET_ITEM(out, 1)};
    for (PyObject* const array : given) {
        PyArrayObject* const view = matrixTableOf(array);
        if (view == nullptr || PyArray_TYPE(view) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(view)) {
            PyErr_SetString(PyExc_TypeError, kOutPairError);
            return false;
        }
        if (PyArray_NDIM(view) != kMatrixTableDepth || PyArray_DIM(view, 0) != rows ||
            PyArray_DIM(view, 1) != kMatrixSide || PyArray_DIM(view, 2) != kMatrixSide) {
            PyErr_Format(PyExc_ValueError, kOutShapeError, static_cast<long>(rows));
            return false;
        }
        if (!PyArray_ISCARRAY(view)) {
            PyErr_SetString(PyExc_ValueError, kOutLayoutError);
            return false;
        }
    }
    if (rows > 0 &&
        kestrel_native::overlaps(matrixData(given[0]), matrixBytes(rows), matrixData(given[1]), matrixBytes(rows))) {
        PyErr_SetString(PyExc_ValueError, kOutSharedError);
        return false;
    }
    forward = kestrel_native::newReference(given[0]);
    inverse = kestrel_native::newReference(given[1]);
    return true;
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
    const std::size_t tableBytes = static_cast<std::size_t>(table.rows * table.width) * sizeof(double);
    const std::size_t outBytes = matrixBytes(table.rows);
    const bool sharesTable = kestrel_native::overlaps(forwardData, outBytes, table.values, tableBytes) ||
                             kestrel_native::overlaps(inverseData, outBytes, table.values, tableBytes);
    if (sharesTable && !copyValues(table)) {
        return nullptr;
    }
    kestrel_native::runReleasingGil(table.rows >= kReleaseGilRows,
                                    [&] { fillMatrices<Transform>(table, forwardData, inverseData); });
    return kestrel_native::pairOf(std::move(forward), std::move(inverse));
}

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

PyCFunction withKeywords(PyObject* (*function)(PyObject*, PyObject*, PyObject*)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// ----------------------------------------------------------------- module

PyMethodDef kMethods[] = {
    {"transMatrix", transMatrix, METH_VARARGS, kTransMatrixDoc},
    {"scaleMatrix", scaleMatrix, METH_VARARGS, kScaleMatrixDoc},
    {"rotMatrix", rotMatrix, METH_VARARGS, kRotMatrixDoc},
    {"transMatrices", withKeywords(transMatrices), METH_VARARGS | METH_KEYWORDS, kTransMatricesDoc},
    {"scaleMatrices", withKeywords(scaleMatrices), METH_VARARGS | METH_KEYWORDS, kScaleMatricesDoc},
    {"rotMatrices", withKeywords(rotMatrices), METH_VARARGS | METH_KEYWORDS, kRotMatricesDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

KESTREL_DEFINE_MODULE(affinekit, kMethods)
