import sys
import types

import numpy
import pytest
from hypothesis import given, strategies as st

import oracle
from capi import conversion_error, float_argument
from conftest import PY2, assert_only_export_is_entry_point
import planesieve
from planesieve import planeCull

NAN = float('nan')
INF = float('inf')


def box_corners(low, high):
    return numpy.array([[x, y, z] for x in (low[0], high[0])
                        for y in (low[1], high[1]) for z in (low[2], high[2])], dtype=float)


# The frustum of the unit cube [-1, 1]^3: each row keeps one face's inner side.
CUBE_FRUSTUM = numpy.array([
    [1, 0, 0, 1],    # x >= -1
    [-1, 0, 0, 1],   # x <= 1
    [0, 1, 0, 1],    # y >= -1
    [0, -1, 0, 1],   # y <= 1
    [0, 0, 1, 1],    # z >= -1
    [0, 0, -1, 1],   # z <= 1
], dtype=float)


# ---------------------------------------------------------------- surface

def test_module_surface():
    public = sorted(name for name in dir(planesieve) if not name.startswith('__'))
    assert public == ['frustumPlanes', 'kernel', 'kernels', 'planeCull', 'planeCullBoxes', 'planeCullMany']
    assert planesieve.__doc__ is None
    assert isinstance(planeCull, types.BuiltinFunctionType)
    assert planeCull.__doc__ == (
        "planeCull( planes[][4], points[][4] )\nDo frustum-culling for plane and points\n"
        "planes -- Frustum plane equations\npoints -- bounding-box points\n\n"
        "returns (1, cullingPlaneIndex) if culled\n\t(0,None) if not culled")


def test_library_exports_only_its_entry_point():
    assert_only_export_is_entry_point(planesieve)


# ---------------------------------------------------------------- culling

@pytest.mark.parametrize('planes, points, expected', [
    # Inside the cube: no plane culls.
    (CUBE_FRUSTUM, box_corners((-0.5, -0.5, -0.5), (0.5, 0.5, 0.5)), (0, None)),
    # Straddling the x >= -1 face: some corners inside every plane.
    (CUBE_FRUSTUM, box_corners((-2, -0.5, -0.5), (0, 0.5, 0.5)), (0, None)),
    # Below y = -1 and beyond z = 1 as well: row 2 comes first and wins.
    (CUBE_FRUSTUM, box_corners((-0.5, -4, 2), (0.5, -3, 3)), (1, 2)),
    # Beyond x = 1 only.
    (CUBE_FRUSTUM, box_corners((2, -0.5, -0.5), (3, 0.5, 0.5)), (1, 1)),
    # A corner exactly on the plane y = -1 keeps row 2 from culling; z > 1 still culls.
    (CUBE_FRUSTUM, box_corners((-0.5, -3, 2), (0.5, -1, 3)), (1, 5)),
    # A value of exactly -0.0 counts as inside.
    ([[-1, 0, 0, 0]], [[0.0, 5, 5]], (0, None)),
    ([[1, 0, 0, -0.0]], [[-0.0, 5, 5]], (0, None)),
    # Empty tables.
    (numpy.zeros((0, 4)), box_corners((5, 5, 5), (6, 6, 6)), (0, None)),
    (numpy.zeros((0, 4)), numpy.zeros((0, 3)), (0, None)),
    (CUBE_FRUSTUM, numpy.zeros((0, 3)), (1, 0)),
    (CUBE_FRUSTUM, numpy.zeros((0, 4)), (1, 0)),
    # A NaN coordinate is outside every plane; so is a NaN plane.
    ([[1, 0, 0, 0]], [[NAN, 1, 1]], (1, 0)),
    ([[0, 1, 0, 0]], [[NAN, 1, 1]], (1, 0)),
    ([[NAN, 0, 0, 0], [1, 0, 0, 0]], [[1, 1, 1]], (1, 0)),
    ([[1, 0, 0, 0]], [[NAN, 1, 1], [2, 0, 0]], (0, None)),
    # Lists of lists and tuples work as arrays do.
    (CUBE_FRUSTUM.tolist(), box_corners((2, 2, 2), (3, 3, 3)).tolist(), (1, 1)),
    (tuple(map(tuple, CUBE_FRUSTUM.tolist())), ((0, 0, 0),), (0, None)),
    # Integer and float32 tables are converted to doubles.
    (CUBE_FRUSTUM.astype(int), numpy.array([[0, 0, 9]], dtype=numpy.float32), (1, 5)),
])
def test_culling_decisions(planes, points, expected):
    result = planeCull(planes, points)
    assert type(result) is tuple and result == expected
    assert type(result[0]) is int and type(result[1]) in (int, type(None))
    assert oracle.plane_cull(planes, points) == expected


def test_fourth_point_column_is_ignored():
    points = box_corners((-0.5, -4, 2), (0.5, -3, 3))
    with_w = numpy.hstack([points, numpy.full((8, 1), -1e9)])
    assert planeCull(CUBE_FRUSTUM, with_w) == planeCull(CUBE_FRUSTUM, points) == (1, 2)


def test_sum_is_evaluated_in_order_without_fusion():
    # ((a*x + b*y) + c*z) + d in doubles: 1e16 + 1 - 1e16 loses the 1, so the
    # value is exactly 0 (inside) only in this order.
    plane = [[1.0, 1.0, -1.0, -0.5]]
    assert planeCull(plane, [[1e16, 1.0, 1e16]]) == (1, 0)
    plane = [[1.0, 1.0, -1.0, 0.0]]
    assert planeCull(plane, [[1e16, 1.0, 1e16]]) == (0, None)
    # 0.1*0.1 - 0.01 is not 0 unless a multiply-add is fused.
    assert planeCull([[0.1, 0.0, 0.0, -0.010000000000000002]], [[0.1, 0, 0]]) == (0, None)
    assert oracle.plane_value([0.1, 0.0, 0.0, -0.010000000000000002], [0.1, 0, 0]) == 0.0


@pytest.mark.parametrize('tolerance, expected', [
    (0.0, (1, 0)),
    (0.25, (1, 0)),
    (0.5, (0, None)),
    (INF, (0, None)),
    (-INF, (1, 0)),
])
def test_tolerance_widens_the_inside(tolerance, expected):
    # The point's value is exactly -0.5 against x >= 0.5.
    planes, points = [[1, 0, 0, -0.5]], [[0.0, 0, 0]]
    assert planeCull(planes, points, tolerance) == expected
    assert oracle.plane_cull(planes, points, tolerance) == expected


def test_tolerance_does_not_rescue_nan_points():
    assert planeCull([[1, 0, 0, 0]], [[NAN, 0, 0]], INF) == (1, 0)


def test_index_counts_every_row_before_the_culling_plane():
    planes = numpy.tile([[1.0, 0, 0, 1]], (100001, 1))
    planes[-1] = [-1, 0, 0, -1]
    assert planeCull(planes, [[0.0, 0, 0]]) == (1, 100000)


# ----------------------------------------------------------------- errors

@pytest.mark.parametrize('args, error, message', [
    ((numpy.zeros((6, 3)), numpy.zeros((8, 3))), TypeError,
     'Frustum must be an x*4 array, second dimension was 3'),
    ((CUBE_FRUSTUM, numpy.zeros((8, 2))), TypeError,
     'Points must be an x*3 or x*4 array, second dimension was 2'),
    ((CUBE_FRUSTUM, numpy.zeros((8, 5))), TypeError,
     'Points must be an x*3 or x*4 array, second dimension was 5'),
    ((numpy.zeros((6, 5)), numpy.zeros((8, 2))), TypeError,
     'Frustum must be an x*4 array, second dimension was 5'),
    ((numpy.zeros((6, 0)), numpy.zeros((8, 3))), TypeError,
     'Frustum must be an x*4 array, second dimension was 0'),
    ((CUBE_FRUSTUM,), TypeError, 'function takes at least 2 arguments (1 given)'),
    ((), TypeError, 'function takes at least 2 arguments (0 given)'),
    ((CUBE_FRUSTUM, [[0, 0, 0]], 0.0, 1), TypeError, 'function takes at most 3 arguments (4 given)'),
    ((CUBE_FRUSTUM, [[0, 0, 0]], NAN), ValueError, 'planeCull tolerance must be a number, not NaN'),
])
def test_errors(args, error, message):
    with pytest.raises(error) as raised:
        planeCull(*args)
    assert type(raised.value) is error
    assert str(raised.value) == message


@pytest.mark.parametrize('planes, points, failing', [
    ([1, 0, 0, 1], numpy.zeros((8, 3)), 'planes'),
    (CUBE_FRUSTUM, [1, 2, 3], 'points'),
    (CUBE_FRUSTUM, numpy.zeros((2, 2, 3)), 'points'),
    (numpy.zeros((1, 1, 4)), [1], 'planes'),
    (CUBE_FRUSTUM, [['a', 1, 2]], 'points'),
    ([[1, 0, 0, 1], [1, 0]], [['a', 1, 2]], 'planes'),
], ids=['1d-planes', '1d-points', '3d-points', 'both-wrong', 'string', 'ragged-planes'])
def test_conversion_errors_pass_through(planes, points, failing):
    """numpy's own exception, from the first conversion that fails (planes first)."""
    error, message = conversion_error(planes if failing == 'planes' else points, 2, 2)
    with pytest.raises(error) as raised:
        planeCull(planes, points)
    assert type(raised.value) is error and str(raised.value) == message
    if PY2:
        assert conversion_error([1.0], 2, 2) == (ValueError, 'object of too small depth for desired array')


@pytest.mark.parametrize('tolerance', ['wide', None, 1j])
def test_tolerance_that_is_not_a_number_is_refused_as_the_interpreter_refuses_it(tolerance):
    with pytest.raises(Exception) as raised:
        float_argument(tolerance)
    with pytest.raises(type(raised.value)) as refused:
        planeCull(CUBE_FRUSTUM, [[0, 0, 0]], tolerance)
    assert str(refused.value) == str(raised.value)
    if PY2 and tolerance == 'wide':
        assert str(refused.value) == 'a float is required'


def test_keywords_are_refused():
    with pytest.raises(TypeError) as raised:
        planeCull(CUBE_FRUSTUM, points=[[0, 0, 0]])
    assert str(raised.value) == 'planeCull() takes no keyword arguments'


# ------------------------------------------------------- reference counts

# numpy's conversion keeps a descriptor reference on these (see refcounts).
NUMPY_KEEPS_DESCRIPTOR = {'point depth', 'point content'}

REFCOUNT_CASES = [
    ('culled arrays', CUBE_FRUSTUM, box_corners((2, 2, 2), (3, 3, 3))),
    ('kept lists', CUBE_FRUSTUM.tolist(), [[0.0, 0.0, 0.0]]),
    ('strided', CUBE_FRUSTUM[::2], box_corners((2, 2, 2), (3, 3, 3))[::3]),
    ('plane width', numpy.zeros((6, 3)), numpy.zeros((8, 3))),
    ('point width', CUBE_FRUSTUM, numpy.zeros((8, 2))),
    ('plane depth', [1.0, 0.0], numpy.zeros((8, 3))),
    ('point depth', CUBE_FRUSTUM, numpy.zeros((2, 2, 3))),
    ('point content', CUBE_FRUSTUM, [[1.0, 2.0, 'x']]),
]


@pytest.mark.parametrize('label, planes, points', REFCOUNT_CASES, ids=[c[0] for c in REFCOUNT_CASES])
@pytest.mark.parametrize('extra', [(), (0.5,), (NAN,), (0.5, 1)], ids=['two', 'tolerance', 'nan', 'four'])
def test_reference_counts_stay_balanced(refcounts, label, planes, points, extra):
    def call():
        try:
            planeCull(planes, points, *extra)
        except (TypeError, ValueError):
            pass
    refcounts([planes, points], call, numpy_keeps_descriptor=label in NUMPY_KEEPS_DESCRIPTOR)


# ------------------------------------------------------------- the oracle

VALUES = st.one_of(st.floats(-4, 4), st.sampled_from([0.0, -0.0, NAN, INF, -INF, 1e300, -1e300]),
                   st.integers(-3, 3))


def tables(width_choices, most_rows):
    return st.integers(0, most_rows).flatmap(lambda rows: st.sampled_from(width_choices).flatmap(
        lambda width: st.lists(st.lists(VALUES, min_size=width, max_size=width),
                               min_size=rows, max_size=rows).map(
            lambda values: numpy.array(values, dtype=float).reshape(rows, width))))


# Beyond 16 points a table is scanned by the kernel in use.
@pytest.mark.kernels
@given(planes=tables([4], 7), points=tables([3, 4], 40),
       tolerance=st.one_of(st.none(), st.floats(-2, 2), st.sampled_from([INF, -INF, 0.0, -0.0])),
       as_lists=st.booleans())
def test_native_agrees_with_oracle(planes, points, tolerance, as_lists):
    args = (planes, points) if tolerance is None else (planes, points, tolerance)
    expected = oracle.plane_cull(*args)
    if as_lists and planes.size and points.size:
        args = (planes.tolist(), points.tolist()) + args[2:]
    assert planeCull(*args) == expected


@pytest.mark.kernels
def test_large_table_agrees_with_oracle():
    random = numpy.random.RandomState(7)
    points = random.uniform(-10, 10, size=(200000, 3))
    planes = numpy.array([
        [1, 0, 0, 10.5],     # x >= -10.5: every point inside
        [0, 1, 0, -9.99],    # y >= 9.99: a few points inside, far into the table
        [0, 0, 1, -11],      # z >= 11: every point outside
        [0, 0, -1, -11],     # z <= -11: every point outside, never reached
    ])
    assert planeCull(planes, points) == oracle.plane_cull(planes, points) == (1, 2)
    assert planeCull(planes[:2], points) == oracle.plane_cull(planes[:2], points) == (0, None)
    points[:, 1] = numpy.minimum(points[:, 1], 9.98)
    assert planeCull(planes, points) == oracle.plane_cull(planes, points) == (1, 1)
