"""Arguments of the exact built-in types may be read without numpy's conversion.

A trivial subclass of list, tuple or ndarray always takes numpy's conversion,
so f(exact) and f(Subclass(exact)) must agree to the bit: the same result,
or the same exception with the same message, and no reference left changed.
"""
import sys

import numpy
import pytest

import affinekit
from planesieve import planeCull

NAN = float('nan')
LONG = int if sys.version_info[0] >= 3 else long  # noqa: F821 (Python 2's long)
INF = float('inf')


class ListSubclass(list):
    pass


class TupleSubclass(tuple):
    pass


class ArraySubclass(numpy.ndarray):
    pass


def generic_twin(value):
    """The same value in a type that numpy's conversion must handle."""
    if type(value) is list:
        return ListSubclass(generic_twin(item) for item in value)
    if type(value) is tuple:
        return TupleSubclass(generic_twin(item) for item in value)
    if type(value) is numpy.ndarray:
        return value.view(ArraySubclass)
    return value


def outcome(function, *args):
    try:
        result = function(*args)
    except Exception as error:  # the exception is part of what is compared
        return 'raised', type(error), str(error)
    return 'returned', fingerprint(result)


def fingerprint(result):
    if isinstance(result, tuple):
        return tuple(fingerprint(item) for item in result)
    if isinstance(result, numpy.ndarray):
        return (type(result), result.dtype.str, result.shape, result.tobytes())
    return (type(result), result)


def unaligned(values):
    raw = numpy.zeros(len(values) * 8 + 1, dtype=numpy.uint8)
    array = numpy.frombuffer(raw.data, dtype=numpy.float64, count=len(values), offset=1)
    array[...] = values
    assert not array.flags['ALIGNED']
    return array


def read_only(values):
    array = numpy.array(values, dtype=numpy.float64)
    array.flags['WRITEABLE'] = False
    return array


VECTORS = [
    [], (), [1.5], (1.5, -2.0, 3.0), [0.3, -1.2, 2.5, 0.8], [0.3, -1.2, 2.5, 0.8, 99.0],
    [1, 2, 3], (0, 0, 1, 1), [1, -2.5, 3, 7], [-0.0, 0.0, -0.0, 1e-300], [NAN, INF, -INF, 0.5],
    [5e-324, 1e308, -1e308, 2.0], [2 ** 53 + 1, -(2 ** 53) - 1, sys.maxsize, -sys.maxsize - 1],
    [0, 0, 0, 1], [0.0, 0.0, 0.0, 6.2831853071796],
    # items numpy converts but the direct reader leaves to it
    [True, False, True, 0.5], [numpy.float64(1.5), 2.0, 3.0], [numpy.int32(2), 1, 1, 1],
    [2 ** 70, 1.0, 1.0, 1.0], [LONG(3), 1.0, 2.0], ['1.5', 2.0, 3.0], [None, 1.0, 2.0, 3.0],
    [1.0, 2.0, 3.0, 4.0, None], [1.0, 2.0, 3.0, 4.0, 'x'],
    # refused by numpy
    ['x', 1.0], [1.0, 2.0, 3.0, 4.0, [5.0]], [[1.0, 2.0, 3.0, 4.0]], [1.0, {}], [1.0, 2.0, 1j],
    # arrays
    numpy.array([1.5, -2.0, 3.0, 0.7]), numpy.array([], dtype=float), numpy.array(2.5),
    numpy.array([0.0, 0.0, 1.0, 0.5], dtype=numpy.float32), numpy.array([3, 4, 0, 1]),
    numpy.array([0.0, 0.0, 1.0, 0.5], dtype='>f8'), numpy.array(0.5, dtype='>f8'),
    numpy.arange(12.0)[::3], numpy.arange(8.0)[::-2], read_only([0.0, 1.0, 0.0, 0.25]),
    unaligned([0.25, 0.5, 1.0, 2.0]), numpy.ones((2, 4)), numpy.ones((1, 4)),
    numpy.array([1.0, 2.0, 3.0, 4.0], dtype=complex), numpy.array([1, 2, 3, 4], dtype=object),
    numpy.array([True, False, True, True]),
]


def vector_id(value):
    return '%s:%r' % (type(value).__name__, value)[:60]


@pytest.mark.parametrize('function', [affinekit.transMatrix, affinekit.scaleMatrix,
                                      affinekit.rotMatrix], ids=lambda f: f.__name__)
@pytest.mark.parametrize('vector', VECTORS, ids=vector_id)
def test_vector_reader_matches_numpy_conversion(function, vector):
    twin = generic_twin(vector)
    before = sys.getrefcount(vector), sys.getrefcount(twin)
    direct = outcome(function, vector)
    converted = outcome(function, twin)
    assert direct == converted
    assert (sys.getrefcount(vector), sys.getrefcount(twin)) == before


def fortran(rows):
    return numpy.asfortranarray(numpy.array(rows, dtype=float))


PLANES = [
    [[1.0, 0.0, 0.0, 1.0], [-1.0, 0.0, 0.0, 1.0], [0.0, 0.0, -1.0, 1.0]],
    [(1, 0, 0, 1), (-1, 0, 0, 1), (0, 0, -1, 1)],
    ([1, 0.0, 0, 1.0], (-1, 0, 0, 1)),
    [[1.0, 0.0, 0.0, -0.0]],
    [[NAN, 0.0, 0.0, 1.0], [0.0, 0.0, -1.0, 1.0]],
    [[True, 0, 0, 1]], [[numpy.float64(1.0), 0.0, 0.0, 1.0]], [[2 ** 70, 0, 0, 1]],
    [[1.0, 0.0, 0.0]], [[1.0, 0.0, 0.0, 1.0], [1.0, 0.0]], [[]], [], [[1.0, 0.0, 0.0, 'x']],
    [1.0, 0.0, 0.0, 1.0], [[[1.0, 0.0, 0.0, 1.0]]],
    [[float(i), 0.0, 0.0, 1.0] for i in range(70)],   # beyond the local capacity
    numpy.array([[1.0, 0, 0, 1], [0, 0, -1, 1]]), fortran([[1.0, 0, 0, 1], [0, 0, -1, 1]]),
    numpy.array([[1.0, 0, 0, 1], [9, 9, 9, 9], [0, 0, -1, 1]])[::2],
    numpy.array([[1, 0, 0, 1], [0, 0, -1, 1]], dtype='>f8'),
    numpy.array([[1, 0, 0, 1], [0, 0, -1, 1]], dtype=numpy.float32),
    numpy.zeros((0, 4)), numpy.zeros((3, 3)), numpy.zeros((2, 2, 4)),
    read_only([[1.0, 0, 0, 1], [0, 0, -1, 1]]),
    unaligned([1.0, 0, 0, 1, 0, 0, -1, 1]).reshape(2, 4),
]

POINTS = [
    [[0.0, 0.0, 2.0], [0.5, 0.5, 3.0]],
    [(0, 0, 0), (1, 1, 1), (-2, 0, 0), (0, 0, 5)],
    [[0.0, 0.0, 2.0, 1.0], [0.5, 0.5, 3.0, 1.0]],
    [[NAN, 0.0, 0.0]], [[-0.0, 0.0, 0.0]],
    [[0.0, 0.0, 2.0], [0.5, 0.5]], [[0.0, 0.0]], [[0.0, 0.0, 2.0, 1.0, 0.0]], [[0.0, 0.0, None]],
    [[False, 0, 3]], [[0.0, 0.0, 'x']], [], [[]],
    [[float(i), 0.0, 2.0] for i in range(100)],
    numpy.array([[0.0, 0.0, 2.0], [0.5, 0.5, 3.0]]), fortran([[0.0, 0.0, 2.0], [0.5, 0.5, 3.0]]),
    numpy.arange(24.0).reshape(4, 6)[:, ::2], numpy.zeros((0, 3)), numpy.zeros((2, 2)),
    numpy.array([[0, 0, 2], [1, 1, 3]], dtype='>f8'), numpy.array([[0, 0, 2]], dtype=int),
    numpy.zeros(3), read_only([[0.0, 0.0, 2.0]]), unaligned([0.0, 0.0, 2.0, 0.5, 0.5, 3.0]).reshape(2, 3),
]


@pytest.mark.parametrize('planes', PLANES, ids=vector_id)
def test_table_reader_matches_numpy_conversion(planes):
    for points in POINTS:
        for extra in [(), (0.5,)]:
            twins = generic_twin(planes), generic_twin(points)
            watched = (planes, points) + twins
            before = [sys.getrefcount(o) for o in watched]
            direct = outcome(planeCull, planes, points, *extra)
            converted = outcome(planeCull, twins[0], twins[1], *extra)
            assert direct == converted, (points, extra)
            assert [sys.getrefcount(o) for o in watched] == before
