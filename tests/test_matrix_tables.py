"""transMatrices, scaleMatrices and rotMatrices: matrix n of each result is,
to the bit, what the single function gives for row n of the table (the
identity where it gives (None, None))."""
import math

import numpy
import pytest
from hypothesis import given, strategies as st

import affinekit
from capi import conversion_error
from conftest import PY2, ignoring_refusals
from test_fast_paths import generic_twin, outcome

NAN = float('nan')
INF = float('inf')
IDENTITY = numpy.eye(4)

TABLE_FUNCTIONS = [
    (affinekit.transMatrices, affinekit.transMatrix),
    (affinekit.scaleMatrices, affinekit.scaleMatrix),
    (affinekit.rotMatrices, affinekit.rotMatrix),
]
IDS = [table.__name__ for table, _ in TABLE_FUNCTIONS]


def expected_tables(single, rows):
    """The single function's pair for each row, as two (N, 4, 4) arrays."""
    forward = numpy.empty((len(rows), 4, 4))
    inverse = numpy.empty((len(rows), 4, 4))
    for n, row in enumerate(rows):
        pair = single(list(row))
        forward[n], inverse[n] = (IDENTITY, IDENTITY) if pair[0] is None else pair
    return forward, inverse


def assert_same_tables(result, expected):
    """Equal to the bit, except that any NaN matches any NaN (which NaN an
    operation on two NaNs keeps is the compiler's choice of operand order)."""
    assert type(result) is tuple and len(result) == 2
    for actual, wanted in zip(result, expected):
        assert type(actual) is numpy.ndarray and actual.dtype == numpy.float64
        assert actual.shape == wanted.shape and actual.flags['C_CONTIGUOUS']
        both_nan = numpy.isnan(actual) & numpy.isnan(wanted)
        assert (both_nan | (actual.view('u8') == wanted.view('u8'))).all()


def as_rows(table):
    return [list(row) for row in numpy.asarray(table, dtype=float)]


# ------------------------------------------------------------------ results

@pytest.mark.parametrize('table_function, single', TABLE_FUNCTIONS, ids=IDS)
@pytest.mark.parametrize('table', [
    [[1.5, -2.0, 3.0, 0.8], [0.0, 0.0, 0.0, 0.0], [1.0, 1.0, 1.0, 1.0], [0.0, 0.0, 2.0, 0.5]],
    [(1, 2), (0, 0), (3, -4)],                        # missing components take the defaults
    [[0.3, -1.2, 2.5, 0.8, 99.0, -7.0]],              # surplus ones are ignored
    numpy.zeros((3, 0)),                              # no components: all defaults
    numpy.zeros((0, 4)),                              # no rows
    numpy.array([[1, 0, 0, 1], [0, 2, 0, 3]]),        # ints
    numpy.asfortranarray([[1.0, 0.5, 0.0, 0.25], [-0.0, 1.0, -0.0, 1e-300], [-0.0, 0.0, -0.0, 0.0]]),
    numpy.arange(24.0).reshape(4, 6)[:, ::2],         # strided
    [[NAN, INF, -INF, 0.5], [5e-324, 1e308, -1e308, 2.0], [1e-200, 0.0, 0.0, 1.0],
     [3e200, 4e200, 0.0, 1.0], [0.0, 0.0, 1.0, 6.2831853071796], [1.0, 0.0, 0.0, 2 * math.pi]],
], ids=['mixed', 'short', 'surplus', 'empty-rows', 'no-rows', 'ints', 'fortran', 'strided', 'edges'])
def test_rows_match_the_single_function(table_function, single, table):
    assert_same_tables(table_function(table), expected_tables(single, as_rows(table)))


SPECIAL = st.sampled_from([0.0, -0.0, 1.0, -1.0, 2.0, 1e-300, 1e-310, 1e-200, 3e200, 5e-324, NAN, INF,
                           -INF, 6.2831853071796, -6.2831853071796, 2 * math.pi, 0.5])
VALUES = st.one_of(SPECIAL, st.floats(-10, 10), st.integers(-3, 3))


@pytest.mark.parametrize('table_function, single', TABLE_FUNCTIONS, ids=IDS)
@given(width=st.integers(0, 6), data=st.data())
def test_arbitrary_rows_match_the_single_function(table_function, single, width, data):
    rows = data.draw(st.lists(st.lists(VALUES, min_size=width, max_size=width), max_size=12))
    if table_function is affinekit.rotMatrices:
        rows = [row for row in rows if outcome(single, row)[0] == 'returned']
    expected = expected_tables(single, rows)
    array = numpy.array(rows, dtype=float).reshape(len(rows), width)
    assert_same_tables(table_function(array), expected)
    if rows and width:
        # exact lists are read directly; a subclass takes numpy's conversion
        assert_same_tables(table_function(rows), expected)
        assert_same_tables(table_function(generic_twin(rows)), expected)


# --------------------------------------------------------------- rotations

def test_a_refused_row_refuses_the_call_naming_the_first():
    table = [[0.0, 0.0, 1.0, 0.5], [0.0, 0.0, 0.0, 0.0], [1.0, 0.0, 0.0, 1.0],
             [0.0, 0.0, 0.0, 1.0], [-0.0, 0.0, -0.0, 2.0]]
    with pytest.raises(ValueError) as raised:
        affinekit.rotMatrices(table)
    assert str(raised.value) == 'Rotation around 0-length vector impossible (row 3)'
    forward, inverse = numpy.full((5, 4, 4), 7.0), numpy.full((5, 4, 4), 7.0)
    with pytest.raises(ValueError):
        affinekit.rotMatrices(table, out=(forward, inverse))
    assert (forward == 7.0).all() and (inverse == 7.0).all()


@given(row=st.lists(VALUES, min_size=4, max_size=4))
def test_refusal_agrees_with_the_single_function(row):
    single = outcome(affinekit.rotMatrix, row)
    table = outcome(affinekit.rotMatrices, [row])
    if single[0] == 'raised':
        assert table == ('raised', ValueError, single[2] + ' (row 0)')
    else:
        assert table[0] == 'returned'


# ----------------------------------------------------------------- errors

@pytest.mark.parametrize('table_function', [f for f, _ in TABLE_FUNCTIONS], ids=IDS)
def test_none_is_not_a_table(table_function):
    with pytest.raises(TypeError) as raised:
        table_function(None)
    assert str(raised.value) == '%s takes a table of rows (N x K), not None' % table_function.__name__


@pytest.mark.parametrize('table_function', [f for f, _ in TABLE_FUNCTIONS], ids=IDS)
@pytest.mark.parametrize('table', [[1.0, 2.0, 3.0], numpy.zeros((2, 2, 3)), 5.0, [['x', 1.0]], []],
                         ids=['vector', '3-d', 'number', 'string', 'empty-list'])
def test_other_shapes_raise_numpy_conversion_errors(table_function, table):
    error, message = conversion_error(table, 2, 2)
    with pytest.raises(error) as raised:
        table_function(table)
    assert str(raised.value) == message


@pytest.mark.parametrize('table_function', [f for f, _ in TABLE_FUNCTIONS], ids=IDS)
def test_argument_errors_are_the_interpreters(table_function):
    for args, kwargs in [((), {}), (([[1.0]], None, 1), {}), (([[1.0]],), {'colour': 1})]:
        with pytest.raises(TypeError):
            table_function(*args, **kwargs)


def read_only(shape):
    array = numpy.zeros(shape)
    array.flags['WRITEABLE'] = False
    return array


SHARED = numpy.zeros((2, 4, 4))
BAD_OUTS = [
    ('array', numpy.zeros((2, 4, 4)), TypeError, 'out must be a pair of float64 arrays (forward, inverse)'),
    ('list', [numpy.zeros((2, 4, 4)), numpy.zeros((2, 4, 4))], TypeError,
     'out must be a pair of float64 arrays (forward, inverse)'),
    ('three', (numpy.zeros((2, 4, 4)),) * 3, TypeError, 'out must be a pair of float64 arrays (forward, inverse)'),
    ('float32', (numpy.zeros((2, 4, 4)), numpy.zeros((2, 4, 4), numpy.float32)), TypeError,
     'out must be a pair of float64 arrays (forward, inverse)'),
    ('swapped', (numpy.zeros((2, 4, 4)), numpy.zeros((2, 4, 4), '>f8')), TypeError,
     'out must be a pair of float64 arrays (forward, inverse)'),
    ('rows', (numpy.zeros((3, 4, 4)), numpy.zeros((2, 4, 4))), ValueError, 'out arrays must have shape (2, 4, 4)'),
    ('flat', (numpy.zeros((2, 16)), numpy.zeros((2, 4, 4))), ValueError, 'out arrays must have shape (2, 4, 4)'),
    ('strided', (numpy.zeros((2, 4, 8))[:, :, ::2], numpy.zeros((2, 4, 4))), ValueError,
     'out arrays must be writeable, C-contiguous and aligned'),
    ('read-only', (numpy.zeros((2, 4, 4)), read_only((2, 4, 4))), ValueError,
     'out arrays must be writeable, C-contiguous and aligned'),
    ('same', (SHARED, SHARED), ValueError, 'out arrays must not share memory'),
    ('overlapping', (lambda base: (base[:2], base[1:]))(numpy.zeros((3, 4, 4))), ValueError,
     'out arrays must not share memory'),
]


@pytest.mark.parametrize('table_function', [f for f, _ in TABLE_FUNCTIONS], ids=IDS)
@pytest.mark.parametrize('label, out, error, message', BAD_OUTS, ids=[case[0] for case in BAD_OUTS])
def test_bad_out_is_refused_and_left_unwritten(table_function, label, out, error, message):
    arrays = [out] if isinstance(out, numpy.ndarray) else list(out)
    before = [array.copy() for array in arrays]
    with pytest.raises(error) as raised:
        table_function([[0.0, 0.0, 1.0, 0.5], [1.0, 2.0, 3.0, 4.0]], out=out)
    assert type(raised.value) is error and str(raised.value) == message
    assert all(numpy.array_equal(array, old) for array, old in zip(arrays, before))


@pytest.mark.parametrize('table_function, single', TABLE_FUNCTIONS, ids=IDS)
def test_out_is_filled_and_returned(table_function, single):
    table = [[0.0, 0.0, 1.0, 0.5], [1.0, 2.0, 3.0, 4.0], [0.0, 0.0, 0.0, 0.0]]
    forward, inverse = numpy.full((3, 4, 4), 7.0), numpy.full((3, 4, 4), 7.0)
    result = table_function(table, out=(forward, inverse))
    assert result[0] is forward and result[1] is inverse
    assert_same_tables(result, expected_tables(single, table))
    assert table_function(numpy.zeros((0, 3)), (numpy.zeros((0, 4, 4)), numpy.zeros((0, 4, 4))))[0].shape == (0, 4, 4)


def test_out_sharing_memory_with_the_table_gives_the_same_matrices():
    random = numpy.random.RandomState(9)
    values = random.uniform(-2, 2, size=(8, 16))
    expected = affinekit.rotMatrices(values[:, :4].copy())
    forward, inverse = values.reshape(8, 4, 4), numpy.empty((8, 4, 4))
    table = values[:, :4]                                   # a view of forward's memory
    assert_same_tables(affinekit.rotMatrices(table, out=(forward, inverse)), expected)


# ------------------------------------------------------- reference counts

TABLE = numpy.array([[0.0, 0.0, 1.0, 0.5], [1.0, 2.0, 3.0, 4.0]])
ZERO_AXIS = numpy.array([[0.0, 0.0, 0.0, 1.0]])
OUT = (numpy.zeros((2, 4, 4)), numpy.zeros((2, 4, 4)))
WRONG_OUT = (numpy.zeros((3, 4, 4)), numpy.zeros((2, 4, 4)))
REFCOUNT_CALLS = [
    ('array', lambda f: f(TABLE)),
    ('list', lambda f: f([[0.0, 0.0, 1.0, 0.5], [1, 2, 3, 4]])),
    ('out', lambda f: f(TABLE, out=OUT)),
    ('wrong out', lambda f: f(TABLE, out=WRONG_OUT)),
    ('zero axis', lambda f: f(ZERO_AXIS, OUT)),
    ('none', lambda f: f(None)),
    ('depth', lambda f: f([1.0, 2.0])),
]


@pytest.mark.parametrize('table_function', [f for f, _ in TABLE_FUNCTIONS], ids=IDS)
@pytest.mark.parametrize('label, call', REFCOUNT_CALLS, ids=[case[0] for case in REFCOUNT_CALLS])
def test_reference_counts_stay_balanced(refcounts, table_function, label, call):
    refcounts([TABLE, ZERO_AXIS, OUT[0], OUT[1], WRONG_OUT[0]], ignoring_refusals(call, table_function),
              numpy_keeps_descriptor=PY2 and label == 'depth')


def test_large_tables_agree_row_by_row():
    """Large enough that the computation lets other threads run meanwhile."""
    random = numpy.random.RandomState(4)
    table = random.uniform(-3, 3, size=(2500, 4))
    table[::7] = 0.0
    for table_function, single in TABLE_FUNCTIONS:
        if table_function is affinekit.rotMatrices:
            table[::7, 3] = 0.0
        assert_same_tables(table_function(table), expected_tables(single, table.tolist()))


def test_instancing_example():
    """The README's example: one table of positions, one buffer a frame."""
    positions = numpy.array([[0.0, 0.0, -5.0], [2.0, 0.0, -6.0], [-2.0, 1.0, -7.0]])
    forward = numpy.empty((3, 4, 4))
    inverse = numpy.empty((3, 4, 4))
    affinekit.transMatrices(positions, out=(forward, inverse))
    corner = numpy.array([1.0, 1.0, 1.0, 1.0])
    assert corner.dot(forward[1]).tolist() == [3.0, 1.0, -5.0, 1.0]
    assert numpy.einsum('nij,njk->nik', forward, inverse).tolist() == [numpy.eye(4).tolist()] * 3
