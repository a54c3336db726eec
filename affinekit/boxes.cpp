// transformBoxes: the axis-aligned world box around each box moved by its
// matrix, for a whole table of boxes in one call.
#include "../common/tables.hpp"
#include "arguments.hpp"
#include "functions.hpp"
#include "matrices.hpp"
#include "results.hpp"

#include <cstring>
#include <new>

namespace affinekit {

namespace {

namespace kernels = affinekit_kernels;

const char kBoxCountError[] = "matrices has %ld matrices and lows %ld boxes: they must have the same length";

// The world boxes are written to scratch first when out shares memory with
// an input, then copied, so that no input is overwritten while it is read.
struct Scratch {
    std::unique_ptr<double[]> values;

    bool make(npy_intp count) {
        const std::size_t size = static_cast<std::size_t>(count) * 2 * kBoxColumns;
        values.reset(new (std::nothrow) double[size == 0 ? 1 : size]);
        if (!values) {
            PyErr_NoMemory();
            return false;
        }
        return true;
    }
};

std::size_t valueBytes(npy_intp count, npy_intp width) {
    return static_cast<std::size_t>(count * width) * sizeof(double);
}

bool sharesAnInput(const double* output, npy_intp count, const MatrixTable& matrices,
                   const kestrel_native::Table& lows, const kestrel_native::Table& highs) {
    const std::size_t bytes = valueBytes(count, kBoxColumns);
    return kestrel_native::overlaps(output, bytes, matrices.values,
                                    valueBytes(matrices.count, kMatrixValues)) ||
           kestrel_native::overlaps(output, bytes, lows.rows, valueBytes(lows.count, lows.width)) ||
           kestrel_native::overlaps(output, bytes, highs.rows, valueBytes(highs.count, highs.width));
}

const char* const kBoxKeywords[] = {"matrices", "lows", "highs", "out", nullptr};

}  // namespace

const char kTransformBoxesDoc[] =
    "transformBoxes( matrices[][4][4], lows[][3], highs[][3], out=None )\n"
    "Axis-aligned boxes around boxes moved by matrices\n"
    "matrices -- one matrix (4, 4) for every box, or one for each box (N, 4, 4)\n"
    "lows -- each box's lowest corner (x, y, z)\n"
    "highs -- each box's highest corner (x, y, z)\n"
    "out -- a pair of (N, 3) float64 arrays to fill, instead of new ones\n"
    "\n"
    "returns (worldLows, worldHighs): for each box and coordinate j, the\n"
    "smallest and largest over its 8 corners (x, y, z) of\n"
    "((x*M[0][j] + y*M[1][j]) + z*M[2][j]) + M[3][j], corners whose value is\n"
    "NaN left out (NaN when all 8 are)";

PyObject* transformBoxes(PyObject*, PyObject* args, PyObject* keywords) {
    PyObject *matricesObject, *lowsObject, *highsObject, *out = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, keywords, "OOO|O:transformBoxes", const_cast<char**>(kBoxKeywords),
                                     &matricesObject, &lowsObject, &highsObject, &out)) {
        return nullptr;
    }
    MatrixTable matrices;
    kestrel_native::TableArgument lows, highs;
    if (!readMatrices(matricesObject, "matrices", matrices, true) ||
        !kestrel_native::readBoxTables(lowsObject, highsObject, lows, highs, true) ||
        !kestrel_native::checkBoxTables(lows.table, highs.table)) {
        return nullptr;
    }
    const npy_intp count = lows.table.count;
    if (!matrices.single && matrices.count != count) {
        PyErr_Format(PyExc_ValueError, kBoxCountError, static_cast<long>(matrices.count), static_cast<long>(count));
        return nullptr;
    }
    OwnedRef worldLows, worldHighs;
    if (!boxTables(out, count, worldLows, worldHighs)) {
        return nullptr;
    }
    double* const results[2] = {matrixData(worldLows.get()), matrixData(worldHighs.get())};
    const bool shared = sharesAnInput(results[0], count, matrices, lows.table, highs.table) ||
                        sharesAnInput(results[1], count, matrices, lows.table, highs.table);
    Scratch scratch;
    if (shared && !scratch.make(count)) {
        return nullptr;
    }
    const std::size_t tableValues = static_cast<std::size_t>(count) * kBoxColumns;
    const kernels::BoxJob job = {matrices.values,
                                 matrices.single ? 0 : static_cast<kernels::Index>(kMatrixValues),
                                 lows.table.rows,
                                 lows.table.width,
                                 highs.table.rows,
                                 highs.table.width,
                                 shared ? scratch.values.get() : results[0],
                                 shared ? scratch.values.get() + tableValues : results[1]};
    const kernels::Kernel& kernel = productKernel();
    kestrel_native::runReleasingGil(count >= kReleaseGilRows, [&] { kernel.boxes(job, 0, count); });
    if (shared) {
        std::memcpy(results[0], job.worldLows, tableValues * sizeof(double));
        std::memcpy(results[1], job.worldHighs, tableValues * sizeof(double));
    }
    return kestrel_native::pairOf(std::move(worldLows), std::move(worldHighs));
}

}  // namespace affinekit
