// Sole owner of one strong reference to a Python object.
//
// Every early return in the extension functions goes through the destructor,
// so a reference obtained from the interpreter or from numpy cannot be left
// behind on an error path; handing it on is an explicit release().
#ifndef KESTREL_NATIVE_OWNED_REF_HPP
#define KESTREL_NATIVE_OWNED_REF_HPP

#include <Python.h>

namespace kestrel_native {

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    explicit OwnedRef(PyObject* newReference) noexcept : object_(newReference) {}
    ~OwnedRef() { Py_XDECREF(object_); }

    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = other.release();
        }
        return *this;
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Gives the reference away (to a result tuple, to the caller).
    PyObject* release() noexcept {
        PyObject* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    PyObject* object_ = nullptr;
};

}  // namespace kestrel_native

#endif
