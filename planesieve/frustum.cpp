// frustumPlanes: the six planes of a camera's view volume, ready for every
// culling function.
#include "../common/numpy_module.hpp"
#include "../common/vectors.hpp"
#include "functions.hpp"

#include <cmath>
#include <cstring>

namespace planesieve {

namespace {

using kestrel_native::OwnedRef;

constexpr int kSide = 4;
constexpr int kPlaneCount = 6;
constexpr int kPlaneWidth = 4;

const char kMatrixExpected[] = "a 4x4 matrix";
const char kMatrixShapeError[] = "matrix must be a 4x4 matrix, not of shape %s";
const char kOutTypeError[] = "out must be a float64 array of shape (6, 4)";
const char kOutLayoutError[] = "out must be writeable, C-contiguous and aligned";

// Plane k is column 3 plus (kAdds) or minus column kColumns[k] of the
// matrix (near, with zeroToOne, is column 2 alone).
constexpr int kColumns[kPlaneCount] = {0, 0, 1, 1, 2, 2};
constexpr bool kAdds[kPlaneCount] = {true, false, true, false, true, false};
constexpr int kNear = 4;
constexpr int kW = 3;

// The plane divided by the length of its normal, sqrt((a*a + b*b) + c*c);
// when that square leaves the normal range, all four values are first scaled
// by the same power of two (exactly, unless d then leaves the range). A
// plane with no normal is left as it is.
void normalize(double* plane) {
    if (plane[0] == 0.0 && plane[1] == 0.0 && plane[2] == 0.0) {
        return;
    }
    const double squared = (plane[0] * plane[0] + plane[1] * plane[1]) + plane[2] * plane[2];
    const int exponent = kestrel_native::rangeExponent(plane[0], plane[1], plane[2], squared);
    if (exponent != 0) {
        for (int k = 0; k < kPlaneWidth; ++k) {
            plane[k] = std::ldexp(plane[k], exponent);
        }
    }
    const double length = std::sqrt((plane[0] * plane[0] + plane[1] * plane[1]) + plane[2] * plane[2]);
    for (int k = 0; k < kPlaneWidth; ++k) {
        plane[k] /= length;
    }
}

void fillPlanes(const double* m, bool zeroToOne, bool normalized, double* planes) {
    for (int k = 0; k < kPlaneCount; ++k) {
        double* const plane = planes + k * kPlaneWidth;
        for (int i = 0; i < kSide; ++i) {
            const double* const row = m + i * kSide;
            const double column = row[kColumns[k]];
            plane[i] = (zeroToOne && k == kNear) ? column : kAdds[k] ? row[kW] + column : row[kW] - column;
        }
        if (normalized) {
            normalize(plane);
        }
    }
}

// Anything but a 4x4 matrix of numbers is a TypeError, whatever numpy's
// conversion raised for it (a ValueError for text that is no number).
void asTypeError() {
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) {
        return;
    }
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    const OwnedRef ownedType(type), ownedValue(value), ownedTraceback(traceback);
    PyErr_SetObject(PyExc_TypeError, value);
}

bool readMatrix(PyObject* object, double* values) {
    const OwnedRef array = kestrel_native::toDoubleArray(object, 0, 0);
    if (!array) {
        kestrel_native::nameArgumentError("matrix", kMatrixExpected);
        asTypeError();
        return false;
    }
    PyArrayObject* const view = kestrel_native::asArray(array.get());
    if (PyArray_NDIM(view) != 2 || PyArray_DIM(view, 0) != kSide || PyArray_DIM(view, 1) != kSide) {
        PyErr_Format(PyExc_TypeError, kMatrixShapeError, kestrel_native::shapeText(view).c_str());
        return false;
    }
    std::memcpy(values, kestrel_native::doubleData(array.get()), kSide * kSide * sizeof(double));
    return true;
}

OwnedRef planeArray(PyObject* out) {
    if (out == Py_None) {
        npy_intp dims[2] = {kPlaneCount, kPlaneWidth};
        return OwnedRef(PyArray_SimpleNew(2, dims, NPY_DOUBLE));
    }
    PyArrayObject* const view = PyArray_Check(out) ? kestrel_native::asArray(out) : nullptr;
    if (view == nullptr || PyArray_TYPE(view) != NPY_DOUBLE || !PyArray_ISNOTSWAPPED(view) ||
        PyArray_NDIM(view) != 2 || PyArray_DIM(view, 0) != kPlaneCount || PyArray_DIM(view, 1) != kPlaneWidth) {
        PyErr_SetString(PyExc_TypeError, kOutTypeError);
        return OwnedRef();
    }
    if (!PyArray_ISCARRAY(view)) {
        PyErr_SetString(PyExc_ValueError, kOutLayoutError);
        return OwnedRef();
    }
    return kestrel_native::newReference(out);
}

const char* const kFrustumKeywords[] = {"matrix", "zeroToOne", "normalize", "out", nullptr};

}  // namespace

const char kFrustumPlanesDoc[] =
    "frustumPlanes( matrix[4][4], zeroToOne=False, normalize=True, out=None )\n"
    "The six planes of a camera's view volume\n"
    "matrix -- the camera matrix M in row vectors, clip = (x, y, z, 1) . M\n"
    "\t(for example view . projection)\n"
    "zeroToOne -- clip depth runs from 0 to w (Direct3D, Vulkan, Metal)\n"
    "\tinstead of from -w to w (OpenGL)\n"
    "normalize -- divide each plane by the length of its normal (a, b, c)\n"
    "out -- a (6, 4) float64 array to fill, instead of a new one\n"
    "\n"
    "returns the planes (6, 4) left, right, bottom, top, near, far, each\n"
    "inside where a*x + b*y + c*z + d >= 0: with c_k the k-th column of M,\n"
    "c3 + c0, c3 - c0, c3 + c1, c3 - c1, c3 + c2 (c2 with zeroToOne), c3 - c2";

PyObject* frustumPlanes(PyObject*, PyObject* args, PyObject* keywords) {
    PyObject *matrixObject, *out = Py_None;
    PyObject *zeroToOneObject = Py_False, *normalizeObject = Py_True;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "O|OOO:frustumPlanes", const_cast<char**>(kFrustumKeywords),
                                     &matrixObject, &zeroToOneObject, &normalizeObject, &out)) {
        return nullptr;
    }
    const int zeroToOne = PyObject_IsTrue(zeroToOneObject);
    const int normalized = zeroToOne < 0 ? -1 : PyObject_IsTrue(normalizeObject);
    if (normalized < 0) {
        return nullptr;
    }
    double matrix[kSide * kSide];
    if (!readMatrix(matrixObject, matrix)) {
        return nullptr;
    }
    OwnedRef planes = planeArray(out);
    if (!planes) {
        return nullptr;
    }
    fillPlanes(matrix, zeroToOne != 0, normalized != 0,
               static_cast<double*>(PyArray_DATA(kestrel_native::asArray(planes.get()))));
    return planes.release();
}

}  // namespace planesieve
