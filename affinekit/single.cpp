// transMatrix, scaleMatrix and rotMatrix: one transform and its inverse.
#include "arguments.hpp"
#include "functions.hpp"
#include "matrices.hpp"
#include "results.hpp"

namespace affinekit {

namespace {

const char kZeroLengthAxis[] = "Rotation around 0-length vector impossible";

// The pair for the single positional argument: (None, None) for None or the
// identity, the ValueError for a rotation about a zero axis, else two new
// matrices.
template <class Transform>
PyObject* singleTransform(PyObject* args) {
    PyObject* object = nullptr;
    if (!singleArgument(args, object)) {
        return nullptr;
    }
    std::array<double, Transform::kComponents> components;
    switch (readVector(object, Transform::defaults(), components)) {
    case VectorArgument::Failed: return nullptr;
    case VectorArgument::IsNone: return nonePair();
    case VectorArgument::Read: break;
    }
    MatrixValues forward, inverse;
    switch (matrixValues<Transform>(components, forward, inverse)) {
    case Request::Identity: return nonePair();
    case Request::Impossible: PyErr_SetString(PyExc_ValueError, kZeroLengthAxis); return nullptr;
    case Request::Transform: break;
    }
    return matrixPair(forward, inverse);
}

}  // namespace

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

}  // namespace affinekit
