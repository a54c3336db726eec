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
#include <tuple>
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

// Builds both matrices from one builder, forward first, so that a failure of
// the inverse releases the forward matrix; the tuple becomes their only owner.
template <typename Builder, typename... Args>
PyObject* buildPair(Builder build, const std::tuple<Args...>& forwardArgs,
                    const std::tuple<Args...>& inverseArgs) {
    OwnedRef forward(std::apply(build, forwardArgs));
    if (!forward) {
        return nullptr;
    }
    return kestrel_native::pairOf(std::move(forward), OwnedRef(std::apply(build, inverseArgs)));
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

// ------------------------------------------------------------ translation

PyObject* newTransMatrix(double x, double y, double z) {
    return newMatrix({1.0, 0.0, 0.0, 0.0,
                      0.0, 1.0, 0.0, 0.0,
                      0.0, 0.0, 1.0, 0.0,
                      x,   y,   z,   1.0});
}

PyObject* translationPair(const std::array<double, 3>& v) {
    const double x = v[0], y = v[1], z = v[2];
    if (x == 0.0 && y == 0.0 && z == 0.0) {
        return nonePair();
    }
    return buildPair(newTransMatrix, std::make_tuple(x, y, z), std::make_tuple(-x, -y, -z));
}

const char kTransMatrixDoc[] =
    "transMatrix( [x,y,z] )\n"
    "C accellerator for kestrel.kestrel97.transformmatrix.transMatrix\n"
    "x,y,z -- Python object compatible with Numeric double array\n"
    "\n"
    "returns a 4x4 translation matrix for the given translation and\n"
    "the inverse of the translation.";

PyObject* transMatrix(PyObject*, PyObject* args) {
    return withVector(args, kTransDefaults, translationPair);
}

// ------------------------------------------------------------------ scale

PyObject* newScaleMatrix(double x, double y, double z) {
    return newMatrix({x,   0.0, 0.0, 0.0,
                      0.0, y,   0.0, 0.0,
                      0.0, 0.0, z,   0.0,
                      0.0, 0.0, 0.0, 1.0});
}

// Only an exact zero (either sign) is replaced; tiny, infinite and NaN
// factors are inverted as they are.
double invertFactor(double factor) {
    return 1.0 / (factor == 0.0 ? kZeroScaleGuard : factor);
}

PyObject* scalePair(const std::array<double, 3>& v) {
    const double x = v[0], y = v[1], z = v[2];
    if (x == 1.0 && y == 1.0 && z == 1.0) {
        return nonePair();
    }
    return buildPair(newScaleMatrix, std::make_tuple(x, y, z),
                     std::make_tuple(invertFactor(x), invertFactor(y), invertFactor(z)));
}

const char kScaleMatrixDoc[] =
    "scaleMatrix( [x,y,z] )\n"
    "C accellerator for kestrel.kestrel97.transformmatrix.scaleMatrix\n"
    "x,y,z -- Python object compatible with Numeric double array\n"
    "\n"
    "returns a 4x4 scale matrix for the given scale factors and\n"
    "the inverse of the scale, in which a zero factor counts as 1e-300.";

PyObject* scaleMatrix(PyObject*, PyObject* args) {
    return withVector(args, kScaleDefaults, scalePair);
}

// --------------------------------------------------------------- rotation

// Takes a unit axis and the cosine and sine of the angle. Products are
// formed left to right, so the entries mirrored across the diagonal share one
// product and differ only in the sign of their sine term.
PyObject* newRotMatrix(double x, double y, double z, double c, double s) {
    const double t = 1.0 - c;
    return newMatrix({t * x * x + c,     t * x * y + s * z, t * x * z - s * y, 0.0,
                      t * x * y - s * z, t * y * y + c,     t * y * z + s * x, 0.0,
                      t * x * z + s * y, t * y * z - s * x, t * z * z + c,     0.0,
                      0.0,               0.0,               0.0,               1.0});
}

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

PyObject* rotationPair(const std::array<double, 4>& v) {
    double x = v[0], y = v[1], z = v[2];
    const double a = v[3];
    if (isNoRotation(a)) {
        return nonePair();
    }
    if (!normaliseAxis(x, y, z)) {
        PyErr_SetString(PyExc_ValueError, kZeroLengthAxis);
        return nullptr;
    }
    // The inverse is the rotation by -a: cosine is even and sine odd, to the
    // bit, so one evaluation of each serves both matrices.
    const double c = std::cos(a);
    const double s = std::sin(a);
    return buildPair(newRotMatrix, std::make_tuple(x, y, z, c, s), std::make_tuple(x, y, z, c, -s));
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
    return withVector(args, kRotDefaults, rotationPair);
}

// ----------------------------------------------------------------- module

PyMethodDef kMethods[] = {
    {"transMatrix", transMatrix, METH_VARARGS, kTransMatrixDoc},
    {"scaleMatrix", scaleMatrix, METH_VARARGS, kScaleMatrixDoc},
    {"rotMatrix", rotMatrix, METH_VARARGS, kRotMatrixDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

KESTREL_DEFINE_MODULE(affinekit, kMethods)
