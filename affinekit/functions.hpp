// The Python-visible functions, each file of this folder holding one group,
// and what they share: the product kernel chosen at import.
#ifndef KESTREL_AFFINEKIT_FUNCTIONS_HPP
#define KESTREL_AFFINEKIT_FUNCTIONS_HPP

#include "../common/numpy_module.hpp"
#include "products.hpp"

namespace affinekit {

// single.cpp: one transform.
PyObject* transMatrix(PyObject*, PyObject* args);
PyObject* scaleMatrix(PyObject*, PyObject* args);
PyObject* rotMatrix(PyObject*, PyObject* args);
extern const char kTransMatrixDoc[];
extern const char kScaleMatrixDoc[];
extern const char kRotMatrixDoc[];

// tables.cpp: a table of one kind of transform.
PyObject* transMatrices(PyObject*, PyObject* args, PyObject* keywords);
PyObject* scaleMatrices(PyObject*, PyObject* args, PyObject* keywords);
PyObject* rotMatrices(PyObject*, PyObject* args, PyObject* keywords);
extern const char kTransMatricesDoc[];
extern const char kScaleMatricesDoc[];
extern const char kRotMatricesDoc[];

// nodes.cpp: the full transform of scene nodes.
PyObject* transformMatrix(PyObject*, PyObject* args, PyObject* keywords);
PyObject* transformMatrices(PyObject*, PyObject* args, PyObject* keywords);
extern const char kTransformMatrixDoc[];
extern const char kTransformMatricesDoc[];

// hierarchy.cpp: world matrices over a hierarchy of nodes.
PyObject* worldMatrices(PyObject*, PyObject* args, PyObject* keywords);
extern const char kWorldMatricesDoc[];

// boxes.cpp: boxes moved by matrices.
PyObject* transformBoxes(PyObject*, PyObject* args, PyObject* keywords);
extern const char kTransformBoxesDoc[];

// The kernel every product uses, chosen once at import (module.cpp).
const affinekit_kernels::Kernel& productKernel();

// Beyond this many rows a computation lets other interpreter threads run;
// the arrays involved stay referenced until the call returns.
constexpr npy_intp kReleaseGilRows = 1000;

}  // namespace affinekit

#endif
