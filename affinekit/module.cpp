// affinekit: 4x4 transformation matrices and their inverses.
//
// Layout: row-major doubles, row-vector convention (a point is the row
// (x, y, z, 1) on the left of the matrix), so a translation sits in row 3.
// Every function returns (forward, inverse), or (None, None) when the
// requested transform is the identity.
//
// This folder keeps one concern a file: matrices.hpp (the elementary
// transforms), arguments (the readers), results (new matrices and out=),
// products*.cpp and boxes_scalar.cpp (the kernels: products and boxes), and
// the Python-visible functions in single.cpp, tables.cpp, nodes.cpp,
// hierarchy.cpp and boxes.cpp.
#define KESTREL_MODULE_FILE
#include "../common/kernel_choice.hpp"
#include "../common/numpy_module.hpp"
#include "functions.hpp"

namespace affinekit {

namespace {

namespace kernels = affinekit_kernels;

const kernels::Kernel* gKernel = &kernels::kScalarKernel;

// AFFINEKIT_KERNEL names a kernel to use instead of the best this CPU
// supports (for tests and comparisons).
bool chooseKernel(PyObject* module) {
    const kestrel_native::KernelsByTarget<kernels::Kernel> byTarget = {
#if defined(__x86_64__)
        &kernels::kScalarKernel, &kernels::kSse2Kernel, &kernels::kAvx2Kernel, &kernels::kAvx512Kernel,
#else
        &kernels::kScalarKernel, nullptr, nullptr, nullptr,
#endif
    };
    return kestrel_native::chooseKernel(module, "AFFINEKIT_KERNEL", byTarget, gKernel);
}

PyCFunction withKeywords(PyObject* (*function)(PyObject*, PyObject*, PyObject*)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kKeywords = METH_VARARGS | METH_KEYWORDS;

PyMethodDef kMethods[] = {
    {"transMatrix", transMatrix, METH_VARARGS, kTransMatrixDoc},
    {"scaleMatrix", scaleMatrix, METH_VARARGS, kScaleMatrixDoc},
    {"rotMatrix", rotMatrix, METH_VARARGS, kRotMatrixDoc},
    {"transMatrices", withKeywords(transMatrices), kKeywords, kTransMatricesDoc},
    {"scaleMatrices", withKeywords(scaleMatrices), kKeywords, kScaleMatricesDoc},
    {"rotMatrices", withKeywords(rotMatrices), kKeywords, kRotMatricesDoc},
    {"transformMatrix", withKeywords(transformMatrix), kKeywords, kTransformMatrixDoc},
    {"transformMatrices", withKeywords(transformMatrices), kKeywords, kTransformMatricesDoc},
    {"worldMatrices", withKeywords(worldMatrices), kKeywords, kWorldMatricesDoc},
    {"transformBoxes", withKeywords(transformBoxes), kKeywords, kTransformBoxesDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

const kernels::Kernel& productKernel() {
    return *gKernel;
}

}  // namespace affinekit

using affinekit::kMethods;
using affinekit::chooseKernel;
KESTREL_DEFINE_MODULE_WITH_SETUP(affinekit, kMethods, chooseKernel)
