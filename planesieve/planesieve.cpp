// planesieve: view-frustum culling of a point table against a plane table.
//
// A point (x, y, z) is inside plane (a, b, c, d) when a*x + b*y + c*z + d is
// at least -tolerance (tolerance 0 unless given). The first plane that has
// every point outside culls them.
#include "../common/numpy_module.hpp"

#include <array>
#include <cmath>

namespace {

using kestrel_native::OwnedRef;

constexpr npy_intp kPlaneWidth = 4;
constexpr npy_intp kMinPointWidth = 3;
constexpr npy_intp kMaxPointWidth = 4;
constexpr npy_intp kNoCullingPlane = -1;
constexpr int kTableDepth = 2;

const char kPlaneWidthError[] = "Frustum must be an x*4 array, second dimension was %ld";
const char kPointWidthError[] = "Points must be an x*3 or x*4 array, second dimension was %ld";
const char kNanToleranceError[] = "planeCull tolerance must be a number, not NaN";

struct Table {
    const double* rows;
    npy_intp count;
    npy_intp width;
};

// Small tables given as nested lists are read into local storage instead of
// a new array; larger ones are left to numpy, whose cost then is per item.
constexpr std::size_t kLocalTableCapacity = 256;

// A table argument and whatever keeps its values alive: the caller's own
// ready array, the local copy, or the array numpy's conversion made.
struct TableArgument {
    Table table{nullptr, 0, 0};
    OwnedRef converted;
    std::array<double, kLocalTableCapacity> local;
};

Table tableOfArray(PyObject* array) {
    PyArrayObject* const view = kestrel_native::asArray(array);
    return {kestrel_native::doubleData(array), PyArray_DIM(view, 0), PyArray_DIM(view, 1)};
}

// A non-empty exact list or tuple of rows, each an exact list or tuple of
// the same non-zero width holding exact floats and ints: exactly the nested
// sequences numpy turns into a two-dimensional double array without fail.
bool readNestedDirectly(PyObject* object, TableArgument& argument) {
    if (!kestrel_native::isPlainSequence(object)) {
        return false;
    }
    const Py_ssize_t rowCount = PySequence_Fast_GET_SIZE(object);
    if (rowCount == 0) {
        return false;
    }
    PyObject** const rows = PySequence_Fast_ITEMS(object);
    if (!kestrel_native::isPlainSequence(rows[0])) {
        return false;
    }
    const Py_ssize_t width = PySequence_Fast_GET_SIZE(rows[0]);
    if (width == 0 || static_cast<std::size_t>(rowCount * width) > kLocalTableCapacity) {
        return false;
    }
    double* value = argument.local.data();
    for (Py_ssize_t i = 0; i < rowCount; ++i) {
        PyObject* const row = rows[i];
        if (!kestrel_native::isPlainSequence(row) || PySequence_Fast_GET_SIZE(row) != width) {
            return false;
        }
        PyObject** const items = PySequence_Fast_ITEMS(row);
        for (Py_ssize_t j = 0; j < width; ++j) {
            if (!kestrel_native::readPlainNumber(items[j], *value++)) {
                return false;
            }
        }
    }
    argument.table = {argument.local.data(), rowCount, width};
    return true;
}

// Reads a table of exactly two dimensions; false with numpy's exception set
// when the argument cannot be converted.
bool readTable(PyObject* object, TableArgument& argument) {
    if (kestrel_native::isReadyDoubleArray(object, kTableDepth)) {
        argument.table = tableOfArray(object);
        return true;
    }
    if (readNestedDirectly(object, argument)) {
        return true;
    }
    argument.converted = kestrel_native::toDoubleArray(object, kTableDepth, kTableDepth);
    if (!argument.converted) {
        return false;
    }
    argument.table = tableOfArray(argument.converted.get());
    return true;
}

// Summed in a fixed order, never fused, so that a point exactly on a plane
// is decided the same way on every build. The comparison is false for NaN,
// so a point whose value is NaN is outside.
inline bool isInside(const double* plane, const double* point, double limit) {
    return ((plane[0] * point[0] + plane[1] * point[1]) + plane[2] * point[2]) + plane[3] >= limit;
}

// The first point decides most planes (a visible box has its corners inside
// most of them), so it is tested alone; the rest are taken four at a time,
// their values computed side by side. The decision is the same as one point
// at a time, since no value has an effect of its own.
constexpr npy_intp kPointsPerStep = 4;

bool anyPointInside(const double* plane, const Table& points, double tolerance) {
    const double limit = -tolerance;
    const npy_intp width = points.width;
    if (points.count == 0) {
        return false;
    }
    if (isInside(plane, points.rows, limit)) {
        return true;
    }
    const double* point = points.rows + width;
    npy_intp j = 1;
    for (; j + kPointsPerStep <= points.count; j += kPointsPerStep, point += kPointsPerStep * width) {
        // Summed rather than or-ed: all four are evaluated, with no branch between.
        if (isInside(plane, point, limit) + isInside(plane, point + width, limit) +
                isInside(plane, point + 2 * width, limit) + isInside(plane, point + 3 * width, limit) !=
            0) {
            return true;
        }
    }
    for (; j < points.count; ++j, point += width) {
        if (isInside(plane, point, limit)) {
            return true;
        }
    }
    return false;
}

npy_intp firstCullingPlane(const Table& planes, const Table& points, double tolerance) {
    const double* plane = planes.rows;
    for (npy_intp i = 0; i < planes.count; ++i, plane += planes.width) {
        if (!anyPointInside(plane, points, tolerance)) {
            return i;
        }
    }
    return kNoCullingPlane;
}

bool checkWidths(const Table& planes, const Table& points) {
    if (planes.width != kPlaneWidth) {
        PyErr_Format(PyExc_TypeError, kPlaneWidthError, static_cast<long>(planes.width));
        return false;
    }
    if (points.width < kMinPointWidth || points.width > kMaxPointWidth) {
        PyErr_Format(PyExc_TypeError, kPointWidthError, static_cast<long>(points.width));
        return false;
    }
    return true;
}

const char kPlaneCullDoc[] =
    "planeCull( planes[][4], points[][4] )\n"
    "Do frustum-culling for plane and points\n"
    "planes -- Frustum plane equations\n"
    "points -- bounding-box points\n"
    "\n"
    "returns (1, cullingPlaneIndex) if culled\n"
    "\t(0,None) if not culled";

// planes, points and the optional tolerance. The interpreter's parser is
// asked only when there are not exactly two arguments.
bool parseArguments(PyObject* args, PyObject*& planes, PyObject*& points, double& tolerance) {
    if (PyTuple_GET_SIZE(args) == 2) {
        planes = PyTuple_GET_ITEM(args, 0);
        points = PyTuple_GET_ITEM(args, 1);
        return true;
    }
    if (!PyArg_ParseTuple(args, "OO|d", &planes, &points, &tolerance)) {
        return false;
    }
    if (std::isnan(tolerance)) {
        PyErr_SetString(PyExc_ValueError, kNanToleranceError);
        return false;
    }
    return true;
}

PyObject* cullResult(npy_intp culling) {
    using kestrel_native::newReference;
    if (culling == kNoCullingPlane) {
        return kestrel_native::pairOf(OwnedRef(kestrel_native::newInt(0)), newReference(Py_None));
    }
    // The whole index, as a Python int: the same object "(ii)" would give
    // for every index that fits an int.
    return kestrel_native::pairOf(OwnedRef(kestrel_native::newInt(1)),
                                  OwnedRef(kestrel_native::newIndex(static_cast<Py_ssize_t>(culling))));
}

PyObject* planeCull(PyObject*, PyObject* args) {
    PyObject* planesObject = nullptr;
    PyObject* pointsObject = nullptr;
    double tolerance = 0.0;
    if (!parseArguments(args, planesObject, pointsObject, tolerance)) {
        return nullptr;
    }
    TableArgument planes;
    TableArgument points;
    if (!readTable(planesObject, planes) || !readTable(pointsObject, points)) {
        return nullptr;
    }
    if (!checkWidths(planes.table, points.table)) {
        return nullptr;
    }
    return cullResult(firstCullingPlane(planes.table, points.table, tolerance));
}

PyMethodDef kMethods[] = {
    {"planeCull", planeCull, METH_VARARGS, kPlaneCullDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

KESTREL_DEFINE_MODULE(planesieve, kMethods)
