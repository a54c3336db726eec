"""Arbitrary arguments: every call returns what the plain-Python statement
returns for numpy's conversion of the same input, or raises what that
conversion (or the argument rules) raises; it never crashes, and it leaves
the reference counts of its arguments as it found them.

The everyday run keeps the example count small; `make fuzz` runs these with
the `fuzz` profile (10^5 examples per test).
"""
import sys

import numpy
import pytest
from hypothesis import given, strategies as st
from hypothesis.extra import numpy as npst

import affinekit
import oracle
from capi import converted, float_argument
from conftest import no_garbage_collection
import planesieve
from planesieve import planeCull
from test_fast_paths import outcome

NAN = float('nan')
# Complex arguments are cast to doubles (imaginary part dropped), as numpy casts them.
pytestmark = pytest.mark.filterwarnings('ignore:Casting complex values to real')



# ------------------------------------------------------- awkward objects

class RaisingFloat(object):
    def __float__(self):
        raise ArithmeticError('no float here')


class LyingLength(object):
    """Claims more items than __getitem__ gives."""
    def __init__(self, items):
        self.items = items

    def __len__(self):
        return len(self.items) + 2

    def __getitem__(self, index):
        return self.items[index]


class RaisingItem(object):
    def __len__(self):
        return 3

    def __getitem__(self, index):
        if index == 1:
            raise KeyError('item 1 refuses')
        if index >= 3:
            raise IndexError(index)
        return 1.0


class ArrayOf(object):
    """An object whose __array__ gives a fixed array (of any shape)."""
    def __init__(self, array):
        self.array = array

    def __array__(self, dtype=None):
        return self.array if dtype is None else self.array.astype(dtype)


class RaisingArray(object):
    def __array__(self, dtype=None):
        raise RuntimeError('__array__ refuses')


DTYPES = ['f8', '>f8', 'f4', 'f2', 'i8', '>i4', 'u1', 'b1', 'c16', 'O', 'M8[s]', 'm8[s]', 'S3', 'U2']


def arrays(max_dims):
    shapes = npst.array_shapes(min_dims=0, max_dims=max_dims, min_side=0, max_side=5)

    def array_of(dtype):
        return npst.arrays(dtype=dtype, shape=shapes,
                           elements=st.floats(-3, 3).map(lambda v: numpy.array(v).astype(dtype).item())
                           if dtype in ('O',) else None)

    base = st.sampled_from(DTYPES).map(numpy.dtype).flatmap(array_of)
    return st.tuples(base, st.sampled_from(['plain', 'strided', 'reversed', 'read-only'])).map(
        lambda pair: _variant(*pair))


def _variant(array, kind):
    if kind == 'strided' and array.ndim:
        return array[::2]
    if kind == 'reversed' and array.ndim:
        return array[::-1]
    if kind == 'read-only':
        array = array.copy()
        array.flags['WRITEABLE'] = False
    return array


SCALARS = st.one_of(
    st.floats(), st.integers(-2 ** 70, 2 ** 70), st.integers(-5, 5), st.booleans(), st.none(),
    st.text(max_size=3), st.binary(max_size=3), st.sampled_from([{}, 1j, (), []]),
    st.floats(width=32).map(numpy.float32), st.integers(-128, 127).map(numpy.int8),
    st.floats().map(numpy.float64), st.complex_numbers().map(numpy.complex128),
    st.builds(RaisingFloat), st.builds(RaisingArray),
)
NESTED = st.recursive(SCALARS, lambda children: st.one_of(
    st.lists(children, max_size=5), st.lists(children, max_size=5).map(tuple),
    st.lists(children, max_size=4).map(LyingLength)), max_leaves=20)
ARGUMENTS = st.one_of(NESTED, arrays(3), arrays(2).map(ArrayOf), st.builds(RaisingItem),
                      st.lists(st.floats(), max_size=6), st.lists(st.integers(-10, 10), max_size=6))


SCALAR_TYPES = (int, float, bool, complex, type(None), bytes, type(u''), numpy.generic) + (
    (long,) if sys.version_info[0] < 3 else ())


def watched(value):
    """The argument and the objects it holds directly, whose counts must not move.

    Scalars are left out: small ints, interned strings and the values the
    test generator keeps are shared, and their counts move for other reasons.
    """
    objects = [value] + (list(value) if isinstance(value, (list, tuple)) else [])
    return [o for o in objects if not isinstance(o, SCALAR_TYPES)]


def assert_counts_kept(objects, call):
    with no_garbage_collection(collect_first=False):
        before = [sys.getrefcount(o) for o in objects]
        result = call()
        after = [sys.getrefcount(o) for o in objects]
    assert after == before
    return result




# ------------------------------------------------------------- affinekit

STATEMENTS = {
    affinekit.transMatrix: oracle.trans_matrix,
    affinekit.scaleMatrix: oracle.scale_matrix,
    affinekit.rotMatrix: oracle.rot_matrix,
}


def expected_pair(function, args):
    if len(args) != 1:
        raise TypeError('function takes exactly 1 argument (%d given)' % len(args))
    argument = args[0]
    if argument is None:
        return (None, None)
    pair = STATEMENTS[function](converted(argument, 0, 1))
    if pair[0] is None:
        return pair
    return tuple(numpy.array(values, dtype=numpy.float64).reshape(4, 4) for values in pair)


@pytest.mark.parametrize('function', sorted(STATEMENTS, key=lambda f: f.__name__),
                         ids=lambda f: f.__name__)
@given(args=st.one_of(ARGUMENTS.map(lambda a: (a,)), st.lists(ARGUMENTS, max_size=3).map(tuple)))
def test_matrix_functions_on_arbitrary_arguments(function, args):
    objects = [o for argument in args for o in watched(argument)]
    actual = assert_counts_kept(objects, lambda: outcome(function, *args))
    expected = outcome(expected_pair, function, args)
    assert nan_equal(actual, expected)


def nan_equal(actual, expected):
    """Outcomes equal, except that any NaN's bits match any NaN's."""
    if actual[0] != expected[0] or actual[0] == 'raised':
        return actual == expected
    return all(_same_fingerprint(a, e) for a, e in zip(actual[1], expected[1]))


def _same_fingerprint(actual, expected):
    if actual[0] is not numpy.ndarray:
        return actual == expected
    a = numpy.frombuffer(actual[3], dtype=numpy.float64)
    e = numpy.frombuffer(expected[3], dtype=numpy.float64)
    both_nan = numpy.isnan(a) & numpy.isnan(e)
    return actual[:3] == expected[:3] and (both_nan | (a.view('u8') == e.view('u8'))).all()


# ------------------------------------------------------------ planesieve

TABLES = st.one_of(
    ARGUMENTS,
    st.integers(0, 4).flatmap(lambda width: st.lists(
        st.lists(st.one_of(st.floats(), st.integers(-3, 3)), min_size=width, max_size=width),
        max_size=5)),
    npst.arrays(dtype=numpy.float64, shape=st.tuples(st.integers(0, 6), st.integers(2, 5))),
)
TOLERANCES = st.one_of(st.floats(), st.integers(-2, 2), st.booleans(), st.none(), st.just('0.5'),
                       st.just(2 ** 2000), st.just(1j), st.floats().map(numpy.float64))


def expected_cull(args):
    if len(args) < 2:
        raise TypeError('function takes at least 2 arguments (%d given)' % len(args))
    if len(args) > 3:
        raise TypeError('function takes at most 3 arguments (%d given)' % len(args))
    tolerance = float_argument(args[2]) if len(args) == 3 else 0.0
    if tolerance != tolerance:
        raise ValueError('planeCull tolerance must be a number, not NaN')
    # numpy's own conversion first, for its exact errors; the statement does the rest.
    return oracle.plane_cull(converted(args[0], 2, 2), converted(args[1], 2, 2), tolerance)


@given(args=st.one_of(
    st.tuples(TABLES, TABLES), st.tuples(TABLES, TABLES, TOLERANCES),
    st.lists(TABLES, max_size=4).map(tuple)))
def test_plane_cull_on_arbitrary_arguments(args):
    objects = [o for argument in args for o in watched(argument)]
    actual = assert_counts_kept(objects, lambda: outcome(planeCull, *args))
    assert actual == outcome(expected_cull, args)


def expected_box_verdicts(planes, lows, highs, tolerance):
    if tolerance != tolerance:
        raise ValueError('planeCullBoxes tolerance must be a number, not NaN')
    plane_table, low_table, high_table = [converted(table, 2, 2) for table in (planes, lows, highs)]
    if plane_table.shape[1] != 4:
        raise TypeError(oracle.PLANE_WIDTH_ERROR % plane_table.shape[1])
    for name, table in (('lows', low_table), ('highs', high_table)):
        if not 3 <= table.shape[1] <= 4:
            raise TypeError('%s must be an x*3 or x*4 array, second dimension was %d' % (name, table.shape[1]))
    if len(low_table) != len(high_table):
        raise ValueError('lows and highs must have the same number of rows, not %d and %d'
                         % (len(low_table), len(high_table)))
    return numpy.array(oracle.plane_cull_boxes(plane_table, low_table, high_table, tolerance), dtype=numpy.intp)


@given(planes=TABLES, lows=TABLES, highs=TABLES,
       tolerance=st.one_of(st.floats(), st.sampled_from([0.0, -0.0, float('inf')])))
def test_plane_cull_boxes_on_arbitrary_arguments(planes, lows, highs, tolerance):
    args = (planes, lows, highs, tolerance)
    objects = [o for argument in args[:3] for o in watched(argument)]
    actual = assert_counts_kept(objects, lambda: outcome(planesieve.planeCullBoxes, *args))
    assert actual == outcome(expected_box_verdicts, *args)


TABLE_STATEMENTS = {
    affinekit.transMatrices: affinekit.transMatrix,
    affinekit.scaleMatrices: affinekit.scaleMatrix,
    affinekit.rotMatrices: affinekit.rotMatrix,
}


def expected_matrix_tables(table_function, table):
    """Row by row, what the single function's statement gives for numpy's conversion."""
    if table is None:
        raise TypeError('%s takes a table of rows (N x K), not None' % table_function.__name__)
    rows = converted(table, 2, 2)
    pairs = []
    for n, row in enumerate(rows):
        try:
            pairs.append(expected_pair(TABLE_STATEMENTS[table_function], (row,)))
        except ValueError as error:
            raise ValueError('%s (row %d)' % (error, n))
    identity = numpy.eye(4)
    return tuple(numpy.array([identity if pair[0] is None else pair[k] for pair in pairs]).reshape(len(rows), 4, 4)
                 for k in (0, 1))


@pytest.mark.parametrize('table_function', sorted(TABLE_STATEMENTS, key=lambda f: f.__name__),
                         ids=lambda f: f.__name__)
@given(table=TABLES)
def test_matrix_tables_on_arbitrary_arguments(table_function, table):
    actual = assert_counts_kept(watched(table), lambda: outcome(table_function, table))
    assert nan_equal(actual, outcome(expected_matrix_tables, table_function, table))
