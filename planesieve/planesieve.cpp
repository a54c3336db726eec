// planesieve: view-frustum culling of a point table against a plane table,
// and of whole sets of boxes or point tables in one call.
//
// A point (x, y, z) is inside plane (a, b, c, d) when a*x + b*y + c*z + d is
// at least -tolerance (tolerance 0 unless given). The first plane that has
// every point outside culls them.
#define KESTREL_MODULE_FILE
#include "../common/kernel_choice.hpp"
#include "../common/numpy_module.hpp"
#include "../common/result_blocks.hpp"
#include "../common/tables.hpp"
#include "functions.hpp"
#include "kernels.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using kestrel_native::OwnedRef;
using kestrel_native::Table;
using kestrel_native::TableArgument;
using kestrel_native::readTable;
namespace kernels = planesieve_kernels;

constexpr npy_intp kPlaneWidth = 4;
constexpr npy_intp kNoCullingPlane = planesieve_kernels::kNotCulled;

const char kPlaneWidthError[] = "Frustum must be an x*4 array, second dimension was %ld";
const char kPointWidthError[] = "Points must be an x*3 or x*4 array, second dimension was %ld";
const char kNanToleranceError[] = "planeCull tolerance must be a number, not NaN";

// ----------------------------------------------------------- the kernels

// The kernel every scan uses, chosen once at import (chooseKernel).
const kernels::Kernel* gKernel = &kernels::kScalarKernel;

npy_intp firstCullingPlane(const Table& planes, const double* points, npy_intp pointCount,
                           npy_intp pointWidth, double tolerance) {
    if (pointCount < kernels::kSimdMinPoints) {
        return kernels::firstCullingPlaneOfPoints(planes.rows, planes.count, points, pointCount, pointWidth,
                                                  -tolerance);
    }
    return gKernel->firstCullingPlane(planes.rows, planes.count, points, pointCount, pointWidth, -tolerance);
}

bool checkPlaneWidth(const Table& planes) {
    if (planes.width != kPlaneWidth) {
        PyErr_Format(PyExc_TypeError, kPlaneWidthError, static_cast<long>(planes.width));
        return false;
    }
    return true;
}

// message has one %ld for the width.
bool checkPointWidth(npy_intp width, const char* message) {
    if (kestrel_native::isPointWidth(width)) {
        return true;
    }
    PyErr_Format(PyExc_TypeError, message, static_cast<long>(width));
    return false;
}

bool checkWidths(const Table& planes, const Table& points) {
    return checkPlaneWidth(planes) && checkPointWidth(points.width, kPointWidthError);
}

bool isNumberTolerance(double tolerance, const char* nanMessage) {
    if (std::isnan(tolerance)) {
        PyErr_SetString(PyExc_ValueError, nanMessage);
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
    return PyArg_ParseTuple(args, "OO|d", &planes, &points, &tolerance) &&
           isNumberTolerance(tolerance, kNanToleranceError);
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
    const Table& pointTable = points.table;
    return cullResult(
        firstCullingPlane(planes.table, pointTable.rows, pointTable.count, pointTable.width, tolerance));
}

// ------------------------------------------------------ many sets at once

const char kBoxesNanTolerance[] = "planeCullBoxes tolerance must be a number, not NaN";
const char kManyNanTolerance[] = "planeCullMany tolerance must be a number, not NaN";
const char kPointTablesWidthError[] =
    "Point tables must be an x*y*3 or x*y*4 array, third dimension was %ld";
const char kOutTypeError[] = "out must be an intp array";
const char kOutShapeError[] = "out must be a one-dimensional array of length %ld";
const char kOutLayoutError[] = "out must be writeable, C-contiguous and aligned";
constexpr int kPointTablesDepth = 3;

// Beyond this many point-plane tests a scan lets other interpreter threads
// run; the argument arrays stay referenced until the call returns.
constexpr npy_intp kReleaseGilTests = 10000;

template <typename Scan>
void scan(npy_intp tests, Scan work) {
    kestrel_native::runReleasingGil(tests > kReleaseGilTests, work);
}

bool overlapsTable(const npy_intp* verdicts, npy_intp count, const double* values, npy_intp valueCount) {
    return kestrel_native::overlaps(verdicts, count * sizeof(npy_intp), values, valueCount * sizeof(double));
}

// The result: out itself when it is a writeable, aligned, C-contiguous intp
// array of the given length, else a new one (out None); null with TypeError
// or ValueError for any other out, before anything is written.
OwnedRef verdictArray(PyObject* out, npy_intp count) {
    if (out == Py_None) {
        const npy_intp dims[1] = {count};
        return kestrel_native::newResultArray(1, dims, NPY_INTP, sizeof(npy_intp));
    }
    if (!PyArray_Check(out) || !PyArray_EquivTypenums(PyArray_TYPE(kestrel_native::asArray(out)), NPY_INTP) ||
        !PyArray_ISNOTSWAPPED(kestrel_native::asArray(out))) {
        PyErr_SetString(PyExc_TypeError, kOutTypeError);
        return OwnedRef();
    }
    PyArrayObject* const array = kestrel_native::asArray(out);
    if (PyArray_NDIM(array) != 1 || PyArray_DIM(array, 0) != count) {
        PyErr_Format(PyExc_ValueError, kOutShapeError, static_cast<long>(count));
        return OwnedRef();
    }
    if (!PyArray_ISCARRAY(array)) {
        PyErr_SetString(PyExc_ValueError, kOutLayoutError);
        return OwnedRef();
    }
    return kestrel_native::newReference(out);
}

npy_intp* verdictData(PyObject* array) {
    return static_cast<npy_intp*>(PyArray_DATA(kestrel_native::asArray(array)));
}

// Writes the verdicts through fill(verdicts) into the result, or, when out
// shares memory with an input (a view of the same buffer), into scratch
// first, so that no input is overwritten while it is still being read.
template <typename Fill>
void fillVerdicts(PyObject* result, npy_intp count, bool sharesInput, Fill fill) {
    if (!sharesInput) {
        fill(verdictData(result));
        return;
    }
    std::vector<npy_intp> scratch(static_cast<std::size_t>(count));
    fill(scratch.data());
    std::memcpy(verdictData(result), scratch.data(), scratch.size() * sizeof(npy_intp));
}

bool sharesTable(PyObject* result, npy_intp count, const Table& table) {
    return overlapsTable(verdictData(result), count, table.rows, table.count * table.width);
}

const char* const kBoxKeywords[] = {"planes", "lows", "highs", "tolerance", "out", nullptr};

const char kPlaneCullBoxesDoc[] =
    "planeCullBoxes( planes[][4], lows[][3], highs[][3], tolerance=0.0, out=None )\n"
    "Do frustum-culling for many axis-aligned boxes at once\n"
    "planes -- Frustum plane equations\n"
    "lows -- each box's lowest corner (x, y, z)\n"
    "highs -- each box's highest corner (x, y, z)\n"
    "tolerance -- a point whose plane value is at least -tolerance is inside\n"
    "out -- an intp array of len(lows) to fill, instead of a new one\n"
    "\n"
    "returns an intp array: for each box, the index of the first plane that\n"
    "has all 8 of its corners outside, or -1 if no plane does";

PyObject* planeCullBoxes(PyObject*, PyObject* args, PyObject* keywords) {
    PyObject *planesObject, *lowsObject, *highsObject, *out = Py_None;
    double tolerance = 0.0;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "OOO|dO:planeCullBoxes",
                                     const_cast<char**>(kBoxKeywords), &planesObject, &lowsObject,
                                     &highsObject, &tolerance, &out) ||
        !isNumberTolerance(tolerance, kBoxesNanTolerance)) {
        return nullptr;
    }
    TableArgument planes, lows, highs;
    if (!readTable(planesObject, planes) ||
        !kestrel_native::readBoxTables(lowsObject, highsObject, lows, highs, false) ||
        !checkPlaneWidth(planes.table) || !kestrel_native::checkBoxTables(lows.table, highs.table)) {
        return nullptr;
    }
    const npy_intp count = lows.table.count;
    OwnedRef result = verdictArray(out, count);
    if (!result) {
        return nullptr;
    }
    const bool sharesInput = sharesTable(result.get(), count, planes.table) ||
                             sharesTable(result.get(), count, lows.table) ||
                             sharesTable(result.get(), count, highs.table);
    fillVerdicts(result.get(), count, sharesInput, [&](npy_intp* verdicts) {
        const kernels::BoxJob job = {planes.table.rows, planes.table.count, lows.table.rows,
                                     lows.table.width,  highs.table.rows,   highs.table.width,
                                     -tolerance,        verdicts};
        scan(count * planes.table.count, [&] { gKernel->cullBoxes(job, 0, count); });
    });
    return result.release();
}

// A table of point tables, (N, Q, 3) or (N, Q, 4).
struct PointTables {
    const double* values = nullptr;
    npy_intp count = 0;
    npy_intp pointCount = 0;
    npy_intp width = 0;
    OwnedRef converted;
};

bool readPointTables(PyObject* object, PointTables& tables) {
    PyObject* array = object;
    if (!kestrel_native::isReadyDoubleArray(object, kPointTablesDepth)) {
        tables.converted = kestrel_native::toDoubleArray(object, kPointTablesDepth, kPointTablesDepth);
        if (!tables.converted) {
            return false;
        }
        array = tables.converted.get();
    }
    PyArrayObject* const view = kestrel_native::asArray(array);
    tables.values = kestrel_native::doubleData(array);
    tables.count = PyArray_DIM(view, 0);
    tables.pointCount = PyArray_DIM(view, 1);
    tables.width = PyArray_DIM(view, 2);
    return true;
}

const char* const kManyKeywords[] = {"planes", "pointTables", "tolerance", "out", nullptr};

const char kPlaneCullManyDoc[] =
    "planeCullMany( planes[][4], pointTables[][][3], tolerance=0.0, out=None )\n"
    "Do frustum-culling for many point tables at once\n"
    "planes -- Frustum plane equations\n"
    "pointTables -- one table of points (x, y, z) for each body\n"
    "tolerance -- a point whose plane value is at least -tolerance is inside\n"
    "out -- an intp array of len(pointTables) to fill, instead of a new one\n"
    "\n"
    "returns an intp array: for each point table, the index of the first\n"
    "plane that has all of its points outside, or -1 if no plane does";

PyObject* planeCullMany(PyObject*, PyObject* args, PyObject* keywords) {
    PyObject *planesObject, *tablesObject, *out = Py_None;
    double tolerance = 0.0;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "OO|dO:planeCullMany",
                                     const_cast<char**>(kManyKeywords), &planesObject, &tablesObject,
                                     &tolerance, &out) ||
        !isNumberTolerance(tolerance, kManyNanTolerance)) {
        return nullptr;
    }
    TableArgument planes;
    PointTables tables;
    if (!readTable(planesObject, planes) || !readPointTables(tablesObject, tables) ||
        !checkPlaneWidth(planes.table) || !checkPointWidth(tables.width, kPointTablesWidthError)) {
        return nullptr;
    }
    const npy_intp count = tables.count;
    OwnedRef result = verdictArray(out, count);
    if (!result) {
        return nullptr;
    }
    const npy_intp tableValues = tables.pointCount * tables.width;
    const bool sharesInput = sharesTable(result.get(), count, planes.table) ||
                             overlapsTable(verdictData(result.get()), count, tables.values, count * tableValues);
    fillVerdicts(result.get(), count, sharesInput, [&](npy_intp* verdicts) {
        scan(count * tables.pointCount * planes.table.count, [&] {
            if (tables.pointCount < kernels::kSimdMinPoints) {
                const kernels::TableJob job = {planes.table.rows, planes.table.count, tables.values, tables.pointCount,
                                               tables.width,      -tolerance,         verdicts};
                gKernel->cullTables(job, 0, count);
                return;
            }
            for (npy_intp n = 0; n < count; ++n) {
                verdicts[n] = firstCullingPlane(planes.table, tables.values + n * tableValues,
                                                tables.pointCount, tables.width, tolerance);
            }
        });
    });
    return result.release();
}

// --------------------------------------------------------- kernel choice

// PLANESIEVE_KERNEL names a kernel to use instead of the best this CPU
// supports (for tests and comparisons).
bool chooseKernel(PyObject* module) {
    const kestrel_native::KernelsByTarget<kernels::Kernel> byTarget = {
#if defined(__x86_64__)
        &kernels::kScalarKernel, &kernels::kSse2Kernel, &kernels::kAvx2Kernel, &kernels::kAvx512Kernel,
#else
        &kernels::kScalarKernel, nullptr, nullptr, nullptr,
#endif
    };
    return kestrel_native::chooseKernel(module, "PLANESIEVE_KERNEL", byTarget, gKernel);
}

PyMethodDef kMethods[] = {
    {"planeCull", planeCull, METH_VARARGS, kPlaneCullDoc},
    {"planeCullBoxes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(planeCullBoxes)),
     METH_VARARGS | METH_KEYWORDS, kPlaneCullBoxesDoc},
    {"planeCullMany", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(planeCullMany)),
     METH_VARARGS | METH_KEYWORDS, kPlaneCullManyDoc},
    {"frustumPlanes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(planesieve::frustumPlanes)),
     METH_VARARGS | METH_KEYWORDS, planesieve::kFrustumPlanesDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

KESTREL_DEFINE_MODULE_WITH_SETUP(planesieve, kMethods, chooseKernel)
