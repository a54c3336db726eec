"""numpy's and the interpreter's C API, reached from Python through ctypes (tests only).

- `converted(obj, min_depth, max_depth)` is numpy's contiguous double
  conversion itself (`PyArray_FromAny` with the requirements the modules use),
  so a test can state "what numpy's conversion yields" without restating it.
- `float_argument(obj)` is the interpreter's PyFloat_AsDouble, which reads a
  "d" argument, errors and their wording included.
- `failing_array_creation(...)` swaps numpy's `PyArray_New` entry for one that
  fails on chosen calls, so that the modules' handling of a failed result
  array can be exercised without any test code in them.
"""
import contextlib
import ctypes
import os
import re
import sys

import numpy

# NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_WRITEABLE | NPY_ARRAY_ENSUREARRAY
CONTIGUOUS_ARRAY_FLAGS = 0x0001 | 0x0100 | 0x0400 | 0x0040
FLOAT64 = numpy.dtype(numpy.float64)


def _api_index(name):
    header = os.path.join(numpy.get_include(), 'numpy', '__multiarray_api.h')
    with open(header) as source:
        text = source.read()
    match = re.search(r'#define %s \\\s*\(\*\([^\n]*\)\s*\\\s*PyArray_API\[(\d+)\]\)' % name, text)
    return int(match.group(1))


def _api_table():
    core = getattr(numpy, '_core', None) or numpy.core  # numpy 2 renamed numpy.core
    capsule = core.multiarray._ARRAY_API
    api = ctypes.pythonapi
    if sys.version_info[0] >= 3:
        api.PyCapsule_GetPointer.restype = ctypes.c_void_p
        api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
        address = api.PyCapsule_GetPointer(capsule, None)
    else:
        api.PyCObject_AsVoidPtr.restype = ctypes.c_void_p
        api.PyCObject_AsVoidPtr.argtypes = [ctypes.py_object]
        address = api.PyCObject_AsVoidPtr(capsule)
    return ctypes.cast(address, ctypes.POINTER(ctypes.c_void_p))


TABLE = _api_table()
FROM_ANY = _api_index('PyArray_FromAny')
NEW = _api_index('PyArray_New')

_from_any = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.py_object, ctypes.c_int,
                              ctypes.c_int, ctypes.c_int, ctypes.c_void_p)(TABLE[FROM_ANY])
_incref = ctypes.pythonapi.Py_IncRef
_incref.argtypes = [ctypes.py_object]


def converted(obj, min_depth, max_depth):
    """numpy's PyArray_ContiguousFromObject(obj, NPY_DOUBLE, min_depth, max_depth)."""
    _incref(FLOAT64)  # the call steals a reference to the descriptor
    return _from_any(obj, FLOAT64, min_depth, max_depth, CONTIGUOUS_ARRAY_FLAGS, None)


float_argument = ctypes.PYFUNCTYPE(ctypes.c_double, ctypes.py_object)(
    ('PyFloat_AsDouble', ctypes.pythonapi))


def conversion_error(obj, min_depth, max_depth):
    """(type, message) of the exception numpy's conversion raises for obj."""
    try:
        converted(obj, min_depth, max_depth)
    except Exception as error:  # whatever numpy raises is what is expected
        return type(error), str(error)
    raise AssertionError('numpy converts %r' % (obj,))


_NEW_SIGNATURE = (ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int,
                  ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_void_p)


@contextlib.contextmanager
def failing_array_creation(fail_on_calls):
    """Makes the given 0-based calls of PyArray_New return NULL; others pass through.

    Yields the list of call numbers seen so far, so a test can tell how many
    arrays were asked for.
    """
    original_address = TABLE[NEW]
    # PYFUNCTYPE: the original is called holding the interpreter lock.
    original = ctypes.PYFUNCTYPE(*_NEW_SIGNATURE)(original_address)
    calls = []

    def replacement(*args):
        number = len(calls)
        calls.append(number)
        if number in fail_on_calls:
            return None
        return original(*args)

    hook = ctypes.CFUNCTYPE(*_NEW_SIGNATURE)(replacement)
    TABLE[NEW] = ctypes.cast(hook, ctypes.c_void_p).value
    try:
        yield calls
    finally:
        TABLE[NEW] = original_address
