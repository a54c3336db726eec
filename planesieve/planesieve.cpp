// planesieve: view-frustum culling of a point table against a plane table.
//
// A point (x, y, z) is inside plane (a, b, c, d) when a*x + b*y + c*z + d is
// at least -tolerance (tolerance 0 unless given). The first plane that has
// every point outside culls them.
#include "../common/numpy_module.hpp"

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

Table tableOf(const OwnedRef& array) {
    PyArrayObject* const view = kestrel_native::asArray(array);
    return {kestrel_native::doubleData(array), PyArray_DIM(view, 0), PyArray_DIM(view, 1)};
}

// Summed in a fixed order, never fused, so that a point exactly on a plane
// is decided the same way on every build.
inline double planeValue(const double* plane, const double* point) {
    return ((plane[0] * point[0] + plane[1] * point[1]) + plane[2] * point[2]) + plane[3];
}

// The comparison is false for NaN, so a point whose value is NaN is outside.
bool anyPointInside(const double* plane, const Table& points, double tolerance) {
    const double* point = points.rows;
    for (npy_intp j = 0; j < points.count; ++j, point += points.width) {
        if (planeValue(plane, point) >= -tolerance) {
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

PyObject* planeCull(PyObject*, PyObject* args) {
    PyObject* planesObject = nullptr;
    PyObject* pointsObject = nullptr;
    double tolerance = 0.0;
    if (!PyArg_ParseTuple(args, "OO|d", &planesObject, &pointsObject, &tolerance)) {
        return nullptr;
    }
    if (std::isnan(tolerance)) {
        PyErr_SetString(PyExc_ValueError, kNanToleranceError);
        return nullptr;
    }
    const OwnedRef planesArray = kestrel_native::toDoubleArray(planesObject, kTableDepth, kTableDepth);
    if (!planesArray) {
        return nullptr;
    }
    const OwnedRef pointsArray = kestrel_native::toDoubleArray(pointsObject, kTableDepth, kTableDepth);
    if (!pointsArray) {
        return nullptr;
    }
    const Table planes = tableOf(planesArray);
    const Table points = tableOf(pointsArray);
    if (!checkWidths(planes, points)) {
        return nullptr;
    }
    const npy_intp culling = firstCullingPlane(planes, points, tolerance);
    if (culling == kNoCullingPlane) {
        return Py_BuildValue("(iO)", 0, Py_None);
    }
    // "n" keeps the whole index; for an index that fits an int it is the
    // same Python int as "i".
    return Py_BuildValue("(in)", 1, static_cast<Py_ssize_t>(culling));
}

PyMethodDef kMethods[] = {
    {"planeCull", planeCull, METH_VARARGS, kPlaneCullDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

KESTREL_MODULE_ENTRY initplanesieve() { kestrel_native::createModule("planesieve", kMethods); }
