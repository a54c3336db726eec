// worldMatrices: the world matrices of a hierarchy of nodes, each node's
// matrix chained with its parent's, in one call.
#include "arguments.hpp"
#include "functions.hpp"
#include "matrices.hpp"
#include "results.hpp"

#include <vector>

namespace affinekit {

namespace {

namespace kernels = affinekit_kernels;

constexpr int kParentsDepth = 1;

const char kParentsExpected[] = "a one-dimensional table of integers (N,)";
const char kParentsNotIntegers[] = "parents must be %s, not of type %s";
const char kParentError[] = "parents[%ld] is %ld: a parent must be -1 (a root) or an earlier row";
const char kCountError[] = "%s has %ld matrices and parents %ld: they must have the same length";

bool checkCount(const MatrixTable& table, const char* name, npy_intp count) {
    if (table.count != count) {
        PyErr_Format(PyExc_ValueError, kCountError, name, static_cast<long>(table.count), static_cast<long>(count));
        return false;
    }
    return true;
}

// parents as the kernels read them, checked: each -1 or an earlier row.
bool readParents(PyObject* object, std::vector<kernels::Index>& parents) {
    const OwnedRef natural(PyArray_FromAny(object, nullptr, kParentsDepth, kParentsDepth, NPY_ARRAY_CARRAY, nullptr));
    if (!natural) {
        kestrel_native::nameArgumentError("parents", kParentsExpected);
        return false;
    }
    PyArrayObject* const view = kestrel_native::asArray(natural.get());
    const npy_intp count = PyArray_DIM(view, 0);
    // An empty list converts to float64; no values, so nothing is lost.
    const bool integers = PyArray_ISINTEGER(view) && PyArray_CanCastSafely(PyArray_TYPE(view), NPY_INTP);
    if (!integers && count != 0) {
        PyErr_Format(PyExc_TypeError, kParentsNotIntegers, kParentsExpected, PyArray_DESCR(view)->typeobj->tp_name);
        return false;
    }
    const OwnedRef exact(PyArray_FromAny(natural.get(), PyArray_DescrFromType(NPY_INTP), kParentsDepth, kParentsDepth,
                                         NPY_ARRAY_CARRAY | NPY_ARRAY_FORCECAST, nullptr));
    if (!exact) {
        return false;
    }
    const npy_intp* const values = static_cast<const npy_intp*>(PyArray_DATA(kestrel_native::asArray(exact.get())));
    parents.assign(values, values + count);
    for (npy_intp n = 0; n < count; ++n) {
        if (parents[n] < -1 || parents[n] >= n) {
            PyErr_Format(PyExc_ValueError, kParentError, static_cast<long>(n), static_cast<long>(parents[n]));
            return false;
        }
    }
    return true;
}

// An output may be its own input exactly (the kernels read row n of an input
// before they write row n of its output); an input that shares memory with
// an output in any other way is copied first.
bool copyInputsSharedWith(MatrixTable* inputs[2], double* outputs[2], npy_intp count) {
    const std::size_t bytes = matrixBytes(count);
    for (int i = 0; i < 2; ++i) {
        MatrixTable* const input = inputs[i];
        if (input == nullptr) {
            continue;
        }
        for (int o = 0; o < 2; ++o) {
            const bool sameAsOwnOutput = o == i && outputs[o] == input->values;
            if (outputs[o] != nullptr && !sameAsOwnOutput &&
                kestrel_native::overlaps(outputs[o], bytes, input->values, bytes)) {
                if (!copyMatrices(*input)) {
                    return false;
                }
                break;
            }
        }
    }
    return true;
}

const char* const kWorldKeywords[] = {"parents", "forwards", "inverses", "out", nullptr};

}  // namespace

const char kWorldMatricesDoc[] =
    "worldMatrices( parents[], forwards[][4][4], inverses=None, out=None )\n"
    "World matrices of a hierarchy of nodes and their inverses\n"
    "parents -- for each node, the index of its parent, an earlier row, or -1 for a root\n"
    "forwards -- each node's own matrix (N, 4, 4), as transformMatrices gives them\n"
    "inverses -- each node's own inverse (N, 4, 4), or None\n"
    "out -- a pair of (N, 4, 4) float64 arrays to fill (the inputs themselves may\n"
    "\tbe given), the second None when inverses is None\n"
    "\n"
    "returns (world, worldInverse): world[n] = forwards[n] . world[parents[n]]\n"
    "and worldInverse[n] = worldInverse[parents[n]] . inverses[n] in row vectors,\n"
    "a root's as given; worldInverse is None when inverses is None.";

PyObject* worldMatrices(PyObject*, PyObject* args, PyObject* keywords) {
    PyObject *parentsObject, *forwardsObject, *inversesObject = Py_None, *out = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "OO|OO:worldMatrices", const_cast<char**>(kWorldKeywords),
                                     &parentsObject, &forwardsObject, &inversesObject, &out)) {
        return nullptr;
    }
    std::vector<kernels::Index> parents;
    MatrixTable forwards, inverses;
    const bool hasInverses = inversesObject != Py_None;
    if (!readParents(parentsObject, parents) || !readMatrices(forwardsObject, "forwards", forwards) ||
        (hasInverses && !readMatrices(inversesObject, "inverses", inverses))) {
        return nullptr;
    }
    const npy_intp count = static_cast<npy_intp>(parents.size());
    if (!checkCount(forwards, "forwards", count) || (hasInverses && !checkCount(inverses, "inverses", count))) {
        return nullptr;
    }
    OwnedRef world, worldInverse;
    if (!matrixTables(out, count, world, worldInverse, !hasInverses)) {
        return nullptr;
    }
    double* outputs[2] = {matrixData(world.get()), hasInverses ? matrixData(worldInverse.get()) : nullptr};
    MatrixTable* inputs[2] = {&forwards, hasInverses ? &inverses : nullptr};
    if (!copyInputsSharedWith(inputs, outputs, count)) {
        return nullptr;
    }
    const kernels::WorldJob job = {parents.data(), count, forwards.values,
                                   hasInverses ? inverses.values : nullptr, outputs[0], outputs[1]};
    const kernels::Kernel& kernel = productKernel();
    kestrel_native::runReleasingGil(count >= kReleaseGilRows, [&] { kernel.world(job); });
    return kestrel_native::pairOf(std::move(world), std::move(worldInverse));
}

}  // namespace affinekit
