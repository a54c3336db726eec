// The Python-visible functions kept in files of their own beside
// planesieve.cpp, which defines the module.
#ifndef KESTREL_PLANESIEVE_FUNCTIONS_HPP
#define KESTREL_PLANESIEVE_FUNCTIONS_HPP

#include "../common/numpy_module.hpp"

namespace planesieve {

// frustum.cpp: the planes of a camera's view volume.
PyObject* frustumPlanes(PyObject*, PyObject* args, PyObject* keywords);
extern const char kFrustumPlanesDoc[];

}  // namespace planesieve

#endif
