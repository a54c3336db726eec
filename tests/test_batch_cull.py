"""planeCullBoxes and planeCullMany: per box (or point table), exactly the
verdict of planeCull on the same points, on whichever kernel is in use
(test_kernels.py runs these tests once more on every other kernel).
"""
import numpy
import pytest
from hypothesis import given, strategies as st

import oracle
from conftest import ignoring_refusals
import planesieve
from planesieve import planeCull, planeCullBoxes, planeCullMany

NAN = float('nan')
INF = float('inf')
INTP = numpy.dtype(numpy.intp)
pytestmark = pytest.mark.kernels

CUBE_FRUSTUM = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1],
                            [0, 0, 1, 1], [0, 0, -1, 1]], dtype=float)


def per_box_plane_cull(planes, lows, highs, *tolerance):
    """The verdicts of planeCull itself on each box's 8 corners."""
    return [oracle.verdict(planeCull(planes, oracle.box_corners(low, high), *tolerance))
            for low, high in zip(numpy.asarray(lows, float).tolist(), numpy.asarray(highs, float).tolist())]


def per_table_plane_cull(planes, tables, *tolerance):
    return [oracle.verdict(planeCull(planes, points, *tolerance)) for points in tables]


def assert_verdicts(result, expected):
    assert type(result) is numpy.ndarray and result.dtype == INTP and result.ndim == 1
    assert result.tolist() == list(expected)


# ---------------------------------------------------------------- results

def test_module_surface():
    assert planesieve.kernel in planesieve.kernels
    assert planesieve.kernels[0] == 'scalar'
    for function in (planeCullBoxes, planeCullMany):
        assert function.__doc__.startswith(function.__name__ + '( planes[][4], ')
        assert 'returns an intp array' in function.__doc__


@pytest.mark.parametrize('lows, highs, expected', [
    # inside; straddling the x >= -1 face; below y = -1 and beyond z = 1 (row 2 first)
    ([[-0.5, -0.5, -0.5], [-2, -0.5, -0.5], [-0.5, -4, 2]],
     [[0.5, 0.5, 0.5], [0, 0.5, 0.5], [0.5, -3, 3]], [-1, -1, 2]),
    # a corner exactly on y = -1 keeps row 2 from culling; z > 1 culls
    ([[-0.5, -3, 2]], [[0.5, -1, 3]], [5]),
    # an inverted box still has the same 8 corners
    ([[0.5, -3, 3]], [[-0.5, -4, 2]], [2]),
    # a fourth column is ignored
    ([[2, 0, 0, -1e9]], [[3, 0.5, 0.5, 1e9]], [1]),
    # no boxes
    (numpy.zeros((0, 3)), numpy.zeros((0, 4)), []),
])
def test_box_verdicts(lows, highs, expected):
    assert_verdicts(planeCullBoxes(CUBE_FRUSTUM, lows, highs), expected)
    assert per_box_plane_cull(CUBE_FRUSTUM, lows, highs) == expected


def test_no_planes_culls_nothing_and_the_tolerance_widens_the_inside():
    lows, highs = [[1.1, 0, 0]] * 9, [[1.2, 0.5, 0.5]] * 9
    assert_verdicts(planeCullBoxes(numpy.zeros((0, 4)), lows, highs), [-1] * 9)
    assert_verdicts(planeCullBoxes(CUBE_FRUSTUM, lows, highs), [1] * 9)
    assert_verdicts(planeCullBoxes(CUBE_FRUSTUM, lows, highs, 0.25), [-1] * 9)
    assert_verdicts(planeCullBoxes(CUBE_FRUSTUM, lows, highs, tolerance=0.25), [-1] * 9)


def test_point_table_verdicts():
    tables = numpy.array([oracle.box_corners(low, high) for low, high in [
        ((-0.5, -0.5, -0.5), (0.5, 0.5, 0.5)), ((-0.5, -4, 2), (0.5, -3, 3)), ((2, 0, 0), (3, 1, 1))]])
    assert_verdicts(planeCullMany(CUBE_FRUSTUM, tables), [-1, 2, 1])
    assert_verdicts(planeCullMany(CUBE_FRUSTUM, tables.tolist()), [-1, 2, 1])
    with_w = numpy.concatenate([tables, numpy.full((3, 8, 1), -1e9)], axis=2)
    assert_verdicts(planeCullMany(CUBE_FRUSTUM, with_w), [-1, 2, 1])
    # no points: plane 0 culls every table; no planes: none is culled
    assert_verdicts(planeCullMany(CUBE_FRUSTUM, numpy.zeros((4, 0, 3))), [0] * 4)
    assert_verdicts(planeCullMany(numpy.zeros((0, 4)), tables), [-1] * 3)
    assert_verdicts(planeCullMany(CUBE_FRUSTUM, numpy.zeros((0, 8, 3))), [])


def test_large_sets_agree_with_per_box_calls():
    """Large enough that the scan lets other threads run meanwhile."""
    random = numpy.random.RandomState(11)
    lows = random.uniform(-2, 1.5, size=(3001, 3))
    highs = lows + random.uniform(0, 1, size=(3001, 3))
    expected = per_box_plane_cull(CUBE_FRUSTUM, lows, highs)
    assert 0.3 < expected.count(-1) / 3001.0 < 0.7
    assert_verdicts(planeCullBoxes(CUBE_FRUSTUM, lows, highs), expected)
    tables = numpy.array([oracle.box_corners(low, high) for low, high in zip(lows, highs)])
    assert_verdicts(planeCullMany(CUBE_FRUSTUM, tables), expected)


# ---------------------------------------------------------- special values

# Every special value a corner's value can meet: signed zeros, subnormals,
# values whose products overflow, infinities and NaN, and a few plain ones.
SPECIAL = st.sampled_from([0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1e300, -1e300,
                           1.7976931348623157e308, INF, -INF, NAN, 1.0, -1.0, 0.5, -2.0, 3.0])
VALUES = st.one_of(SPECIAL, SPECIAL, st.floats(-4, 4))


def table(rows, width):
    return st.lists(st.lists(VALUES, min_size=width, max_size=width), min_size=rows, max_size=rows).map(
        lambda values: numpy.array(values, dtype=float).reshape(rows, width))


TOLERANCES = st.one_of(st.none(), SPECIAL.filter(lambda t: t == t), st.floats(-2, 2))


# Up to 40 boxes: the widest kernel takes 32 at a time, then 8, then one.
@given(planes=st.integers(0, 7).flatmap(lambda rows: table(rows, 4)),
       boxes=st.tuples(st.integers(0, 40), st.sampled_from([3, 4]), st.sampled_from([3, 4])).flatmap(
           lambda shape: st.tuples(table(shape[0], shape[1]), table(shape[0], shape[2]))),
       tolerance=TOLERANCES, ordered=st.booleans())
def test_boxes_match_plane_cull_on_their_corners(planes, boxes, tolerance, ordered):
    lows, highs = boxes
    if ordered:  # lows at most highs wherever neither is NaN, as boxes usually are
        width = min(lows.shape[1], highs.shape[1])
        lows[:, :width], highs[:, :width] = (numpy.minimum(lows[:, :width], highs[:, :width]),
                                             numpy.maximum(lows[:, :width], highs[:, :width]))
    extra = () if tolerance is None else (tolerance,)
    expected = per_box_plane_cull(planes, lows, highs, *extra)
    assert planeCullBoxes(planes, lows, highs, *extra).tolist() == expected
    assert oracle.plane_cull_boxes(planes, lows, highs, *extra) == expected


SPECIAL_ARRAY = numpy.array([0.0, -0.0, 5e-324, -5e-324, 1e300, -1e300, INF, -INF, NAN, 1.0, -1.0, 0.5])


def seeded_values(shape, seed, special_share):
    """Values drawn with numpy from one seed (hypothesis draws hundreds of
    floats slowly), a share of them special."""
    random = numpy.random.RandomState(seed)
    values = random.uniform(-3, 3, size=shape)
    special = random.rand(*shape) < special_share
    values[special] = random.choice(SPECIAL_ARRAY, size=int(special.sum()))
    return values


# Many tables of few points go to the kernel one table a lane: counts that
# fill lanes and leave some over, on every kernel.
@given(count=st.integers(0, 40), points=st.integers(0, 15), width=st.sampled_from([3, 4]),
       plane_count=st.integers(0, 7), seed=st.integers(0, 2 ** 31), special_share=st.sampled_from([0.0, 0.1, 0.4]),
       tolerance=TOLERANCES)
def test_many_small_point_tables_match_plane_cull(count, points, width, plane_count, seed, special_share, tolerance):
    planes = seeded_values((plane_count, 4), seed, special_share)
    tables = seeded_values((count, points, width), seed + 1, special_share)
    if special_share == 0.0:  # boxes around the planes' cube: every verdict occurs
        tables *= 0.6
    extra = () if tolerance is None else (tolerance,)
    expected = per_table_plane_cull(planes, tables, *extra)
    assert planeCullMany(planes, tables, *extra).tolist() == expected


@given(planes=st.integers(0, 7).flatmap(lambda rows: table(rows, 4)),
       tables=st.tuples(st.integers(0, 6), st.integers(0, 19), st.sampled_from([3, 4])).flatmap(
           lambda shape: table(shape[0] * shape[1], shape[2]).map(lambda t: t.reshape(shape))),
       tolerance=TOLERANCES)
def test_point_tables_match_plane_cull(planes, tables, tolerance):
    extra = () if tolerance is None else (tolerance,)
    expected = per_table_plane_cull(planes, tables, *extra)
    assert planeCullMany(planes, tables, *extra).tolist() == expected
    assert [oracle.verdict(oracle.plane_cull(planes, points, *extra)) for points in tables] == expected


SUM_XY = [1.0, 1.0, 0.0, 0.0]
CONSTANT = [0.0, 0.0, 0.0, 0.5]


@pytest.mark.parametrize('plane, low, high, tolerance, expected', [
    # +inf meets -inf on the largest corner, but a finite corner reaches -inf:
    # inside only for an infinite tolerance
    (SUM_XY, (INF, -INF, 0), (5, -INF, 0), INF, -1),
    (SUM_XY, (INF, -INF, 0), (5, -INF, 0), 1e300, 0),
    # a NaN product (0 * inf, or a NaN coordinate) is skipped for the other
    # corner, whichever side it is on
    (CONSTANT, (-INF, 0, 0), (1, 0, 0), 0.0, -1),
    (CONSTANT, (1, 0, 0), (INF, 0, 0), 0.0, -1),
    (SUM_XY, (NAN, 0, 0), (1, 0, 0), 0.0, -1),
    (SUM_XY, (1, 0, 0), (NAN, 0, 0), 0.0, -1),
    (SUM_XY, (NAN, 0, 0), (NAN, 0, 0), INF, 0),
])
def test_infinities_and_nan_decide_as_the_corners_do(plane, low, high, tolerance, expected):
    # enough copies of the box to fill every lane width, and a tail
    lows, highs = [low] * 11, [high] * 11
    verdicts = per_box_plane_cull([plane], lows, highs, tolerance)
    assert verdicts == [expected] * 11
    assert_verdicts(planeCullBoxes([plane], lows, highs, tolerance), verdicts)


# ----------------------------------------------------------------- errors

@pytest.mark.parametrize('args, kwargs, error, message', [
    ((numpy.zeros((6, 3)), [[0, 0, 0]], [[1, 1, 1]]), {}, TypeError,
     'Frustum must be an x*4 array, second dimension was 3'),
    ((CUBE_FRUSTUM, [[0, 0]], [[1, 1, 1]]), {}, TypeError,
     'lows must be an x*3 or x*4 array, second dimension was 2'),
    ((CUBE_FRUSTUM, [[0, 0, 0]], numpy.zeros((1, 5))), {}, TypeError,
     'highs must be an x*3 or x*4 array, second dimension was 5'),
    ((CUBE_FRUSTUM, numpy.zeros((3, 3)), numpy.zeros((2, 3))), {}, ValueError,
     'lows and highs must have the same number of rows, not 3 and 2'),
    ((CUBE_FRUSTUM, [[0, 0, 0]], [[1, 1, 1]], NAN), {}, ValueError,
     'planeCullBoxes tolerance must be a number, not NaN'),
])
def test_box_errors(args, kwargs, error, message):
    with pytest.raises(error) as raised:
        planeCullBoxes(*args, **kwargs)
    assert type(raised.value) is error and str(raised.value) == message


@pytest.mark.parametrize('function, args, kwargs', [
    (planeCullBoxes, (CUBE_FRUSTUM, [[0, 0, 0]]), {}),
    (planeCullBoxes, (CUBE_FRUSTUM, [[0, 0, 0]], [[1, 1, 1]], 0.0, None, 1), {}),
    (planeCullBoxes, (CUBE_FRUSTUM, [[0, 0, 0]], [[1, 1, 1]]), {'colour': 1}),
    (planeCullBoxes, (CUBE_FRUSTUM, [[0, 0, 0]], [[1, 1, 1]]), {'tolerance': 'wide'}),
    (planeCullMany, (CUBE_FRUSTUM,), {}),
    (planeCullMany, (CUBE_FRUSTUM, numpy.zeros((1, 8, 3))), {'planes': CUBE_FRUSTUM}),
])
def test_argument_errors_are_the_interpreters(function, args, kwargs):
    """The interpreter's own TypeError, whose wording differs between versions."""
    with pytest.raises(TypeError):
        function(*args, **kwargs)


@pytest.mark.parametrize('tables, error, message', [
    (numpy.zeros((2, 8, 2)), TypeError, 'Point tables must be an x*y*3 or x*y*4 array, third dimension was 2'),
    (numpy.zeros((2, 8, 5)), TypeError, 'Point tables must be an x*y*3 or x*y*4 array, third dimension was 5'),
])
def test_point_table_width_errors(tables, error, message):
    with pytest.raises(error) as raised:
        planeCullMany(CUBE_FRUSTUM, tables)
    assert type(raised.value) is error and str(raised.value) == message
    with pytest.raises(ValueError) as raised:
        planeCullMany(CUBE_FRUSTUM, numpy.zeros((2, 8, 3)), NAN)
    assert str(raised.value) == 'planeCullMany tolerance must be a number, not NaN'


def test_depth_errors_are_numpy_conversion_errors():
    from capi import conversion_error
    for function, args, bad in [(planeCullBoxes, (CUBE_FRUSTUM, [0, 0, 0], [[1, 1, 1]]), [0, 0, 0]),
                                (planeCullMany, (CUBE_FRUSTUM, numpy.zeros((8, 3))), numpy.zeros((8, 3)))]:
        depth = 3 if function is planeCullMany else 2
        error, message = conversion_error(bad, depth, depth)
        with pytest.raises(error) as raised:
            function(*args)
        assert str(raised.value) == message


# -------------------------------------------------------------------- out

def read_only(array):
    array.flags['WRITEABLE'] = False
    return array


BAD_OUTS = [
    ('list', [0, 0, 0], TypeError, 'out must be an intp array'),
    ('float64', numpy.zeros(3), TypeError, 'out must be an intp array'),
    ('int32', numpy.zeros(3, numpy.int32), TypeError, 'out must be an intp array'),
    ('byte-swapped', numpy.zeros(3, INTP.newbyteorder()), TypeError, 'out must be an intp array'),
    ('short', numpy.zeros(2, numpy.intp), ValueError, 'out must be a one-dimensional array of length 3'),
    ('2-d', numpy.zeros((3, 1), numpy.intp), ValueError, 'out must be a one-dimensional array of length 3'),
    ('strided', numpy.zeros(6, numpy.intp)[::2], ValueError, 'out must be writeable, C-contiguous and aligned'),
    ('read-only', read_only(numpy.zeros(3, numpy.intp)), ValueError,
     'out must be writeable, C-contiguous and aligned'),
]


@pytest.mark.parametrize('label, out, error, message', BAD_OUTS, ids=[case[0] for case in BAD_OUTS])
def test_bad_out_is_refused_and_left_unwritten(label, out, error, message):
    lows, highs = numpy.zeros((3, 3)) + 5, numpy.zeros((3, 3)) + 6
    before = numpy.array(out, copy=True)
    for call in (lambda: planeCullBoxes(CUBE_FRUSTUM, lows, highs, out=out),
                 lambda: planeCullMany(CUBE_FRUSTUM, numpy.zeros((3, 8, 3)) + 5, 0.0, out)):
        with pytest.raises(error) as raised:
            call()
        assert type(raised.value) is error and str(raised.value) == message
        assert numpy.array_equal(numpy.asarray(out), before)


def test_out_is_filled_and_returned():
    out = numpy.full(3, 99, dtype=numpy.intp)
    lows, highs = [[-0.5, -4, 2], [0, 0, 0], [2, 0, 0]], [[0.5, -3, 3], [0.1, 0.1, 0.1], [3, 1, 1]]
    assert planeCullBoxes(CUBE_FRUSTUM, lows, highs, 0.0, out) is out
    assert out.tolist() == [2, -1, 1]
    tables = numpy.array([oracle.box_corners(low, high) for low, high in zip(lows, highs)])
    out[:] = 99
    assert planeCullMany(CUBE_FRUSTUM, tables, out=out) is out
    assert out.tolist() == [2, -1, 1]
    assert planeCullBoxes(CUBE_FRUSTUM, numpy.zeros((0, 3)), numpy.zeros((0, 3)),
                          out=numpy.zeros(0, numpy.intp)).tolist() == []


def test_out_sharing_memory_with_an_input_does_not_change_the_verdicts():
    random = numpy.random.RandomState(5)
    lows = random.uniform(-3, 3, size=(64, 3))
    highs = lows + 0.5
    expected = planeCullBoxes(CUBE_FRUSTUM, lows, highs).tolist()
    shared = lows.copy()
    out = shared.reshape(-1).view(numpy.intp)[:64]
    assert planeCullBoxes(CUBE_FRUSTUM, shared, highs, out=out).tolist() == expected


# ------------------------------------------------------- reference counts

ZEROS, ONES, FLAT = numpy.zeros((3, 3)), numpy.ones((3, 3)), numpy.zeros((3, 2))
TABLES, FLAT_TABLES = numpy.zeros((3, 8, 3)), numpy.zeros((3, 8, 2))
TABLE_LISTS = TABLES.tolist()

# The inputs are made once: numpy 2's own array creation moves the float64
# descriptor's count.
REFCOUNT_CALLS = [
    ('boxes', lambda out: planeCullBoxes(CUBE_FRUSTUM, [[0, 0, 0]], [[1, 1, 1]])),
    ('boxes out', lambda out: planeCullBoxes(CUBE_FRUSTUM, ZEROS, ONES, out=out)),
    ('boxes bad out', lambda out: planeCullBoxes(CUBE_FRUSTUM, [[0, 0, 0]], [[1, 1, 1]], out=out)),
    ('boxes width', lambda out: planeCullBoxes(CUBE_FRUSTUM, FLAT, ONES, out=out)),
    ('boxes rows', lambda out: planeCullBoxes(CUBE_FRUSTUM, ZEROS[:2], ONES, out=out)),
    ('boxes nan', lambda out: planeCullBoxes(CUBE_FRUSTUM, ZEROS, ONES, NAN, out)),
    ('many', lambda out: planeCullMany(CUBE_FRUSTUM, TABLES)),
    ('many out', lambda out: planeCullMany(CUBE_FRUSTUM, TABLE_LISTS, out=out)),
    ('many width', lambda out: planeCullMany(CUBE_FRUSTUM, FLAT_TABLES, out=out)),
]


@pytest.mark.parametrize('label, call', REFCOUNT_CALLS, ids=[case[0] for case in REFCOUNT_CALLS])
def test_reference_counts_stay_balanced(refcounts, label, call):
    out = numpy.zeros(3, numpy.intp)

    refcounts([CUBE_FRUSTUM, out, ZEROS, ONES, TABLES], ignoring_refusals(call, out))
