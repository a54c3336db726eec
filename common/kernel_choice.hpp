// Kernel choice, one mechanism for both modules: each module keeps one
// kernel per target (the portable scalar reference, and on x86-64 SSE2,
// AVX2 and AVX-512F, each built with per-function target attributes), and
// at import takes the best one this CPU supports, unless an environment
// variable names another. The module's `kernel` attribute names the kernel
// in use and `kernels` all those this CPU supports, the reference first.
#ifndef KESTREL_NATIVE_KERNEL_CHOICE_HPP
#define KESTREL_NATIVE_KERNEL_CHOICE_HPP

#include "numpy_module.hpp"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kestrel_native {

// A module's kernels, one per target; a target the build lacks is null.
template <class Kernel>
struct KernelsByTarget {
    const Kernel* scalar;
    const Kernel* sse2;
    const Kernel* avx2;
    const Kernel* avx512;
};

const char kUnsupportedKernel[] = "%s=%s: not a kernel this CPU supports (it supports %s)";

// The kernels this CPU supports, the reference first and the best last.
template <class Kernel>
std::vector<const Kernel*> supportedKernels(const KernelsByTarget<Kernel>& kernels) {
    std::vector<const Kernel*> supported = {kernels.scalar};
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool hasTarget[] = {true,  // every x86-64 has SSE2
                              __builtin_cpu_supports("avx2") != 0, __builtin_cpu_supports("avx512f") != 0};
    const Kernel* const byTarget[] = {kernels.sse2, kernels.avx2, kernels.avx512};
    for (std::size_t i = 0; i < sizeof(byTarget) / sizeof(byTarget[0]); ++i) {
        if (hasTarget[i] && byTarget[i] != nullptr) {
            supported.push_back(byTarget[i]);
        }
    }
#endif
    return supported;
}

// Sets chosen to the kernel to use: the best supported, or the one the
// variable names; sets the module's kernel and kernels. False, chosen left
// as it was, with ImportError (a kernel the CPU does not support) or another
// error set when the import must fail.
template <class Kernel>
bool chooseKernel(PyObject* module, const char* variable, const KernelsByTarget<Kernel>& kernels,
                  const Kernel*& chosen) {
    const std::vector<const Kernel*> supported = supportedKernels(kernels);
    OwnedRef names(PyTuple_New(static_cast<Py_ssize_t>(supported.size())));
    if (!names) {
        return false;
    }
    std::string listed;
    for (std::size_t i = 0; i < supported.size(); ++i) {
        PyObject* const name = newString(supported[i]->name);
        if (name == nullptr) {
            return false;
        }
        PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name);
        listed += (i == 0 ? "" : ", ") + std::string(supported[i]->name);
    }
    const Kernel* choice = supported.back();
    const char* const forced = std::getenv(variable);
    if (forced != nullptr && forced[0] != '\0') {
        choice = nullptr;
        for (const Kernel* kernel : supported) {
            if (std::strcmp(kernel->name, forced) == 0) {
                choice = kernel;
            }
        }
        if (choice == nullptr) {
            PyErr_Format(PyExc_ImportError, kUnsupportedKernel, variable, forced, listed.c_str());
            return false;
        }
    }
    // PyModule_AddObject takes the reference only when it succeeds.
    if (PyModule_AddObject(module, "kernels", names.get()) != 0) {
        return false;
    }
    names.release();
    if (PyModule_AddStringConstant(module, "kernel", choice->name) != 0) {
        return false;
    }
    chosen = choice;
    return true;
}

}  // namespace kestrel_native

#endif
