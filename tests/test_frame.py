"""transformBoxes and frustumPlanes: the world box around each moved box and
the planes of a camera's view volume, bit for bit what oracle.py states, on
whichever kernel is in use (test_kernels.py runs the tests marked `kernels`
on every other one)."""
import numpy
import pytest
from hypothesis import given, strategies as st

import oracle
from affinekit import transformBoxes, transformMatrices
from planesieve import frustumPlanes, planeCullBoxes
from conftest import ignoring_refusals
from test_nodes import SPECIAL_VALUES, matrix_values

NAN = float('nan')
INF = float('inf')


def assert_same_bits(actual, expected, zero_sign_free=False):
    """Equal to the bit, any NaN matching any NaN; with zero_sign_free, 0.0
    matching -0.0 too (the sign of a zero world corner is not specified)."""
    expected = numpy.asarray(expected, dtype=float).reshape(actual.shape)
    same = actual.view('u8') == expected.view('u8')
    same |= numpy.isnan(actual) & numpy.isnan(expected)
    if zero_sign_free:
        same |= (actual == 0) & (expected == 0)
    assert same.all(), (actual[~same], expected[~same])


def box_values(count, seed, special_share, width):
    """lows and highs of count boxes, some of them with a low above its high,
    a share of their values special."""
    random = numpy.random.RandomState(seed)
    lows = random.uniform(-3, 3, (count, width))
    highs = lows + random.uniform(-0.5, 3, (count, width))
    for table in (lows, highs):
        special = random.rand(count, width) < special_share
        table[special] = random.choice(SPECIAL_VALUES, size=int(special.sum()))
    return lows, highs


def expected_boxes(matrices, lows, highs):
    listed = matrices.reshape(16).tolist() if matrices.ndim == 2 else matrices.reshape(-1, 16).tolist()
    return oracle.transform_boxes(listed, lows.tolist(), highs.tolist())


def assert_boxes(result, expected, count):
    assert type(result) is tuple and len(result) == 2
    for actual, wanted in zip(result, expected):
        assert type(actual) is numpy.ndarray and actual.dtype == numpy.float64
        assert actual.shape == (count, 3) and actual.flags['C_CONTIGUOUS'] and actual.flags['OWNDATA']
        assert_same_bits(actual, numpy.array(wanted).reshape(count, 3), zero_sign_free=True)


# ---------------------------------------------------------- transformBoxes

@pytest.mark.kernels
@given(count=st.integers(0, 40), seed=st.integers(0, 2 ** 31), one_matrix=st.booleans(),
       special_share=st.sampled_from([0.0, 0.05, 0.3]), widths=st.sampled_from([(3, 3), (3, 4), (4, 3), (4, 4)]))
def test_boxes_match_the_statement(count, seed, one_matrix, special_share, widths):
    lows, highs = box_values(count, seed, special_share, 4)
    lows, highs = lows[:, :widths[0]].copy(), highs[:, :widths[1]].copy()
    matrices = matrix_values(1 if one_matrix else count, seed + 1, special_share)
    if one_matrix:
        matrices = matrices[0] if len(matrices) else numpy.eye(4)
    assert_boxes(transformBoxes(matrices, lows, highs), expected_boxes(matrices, lows, highs), count)


BIG = 1e300
BOX_CASES = [
    # (matrix rows 0..3 as the transform's, low, high, expected low, expected high)
    ('identity', numpy.eye(4), [1, 2, 3], [4, 5, 6], [1, 2, 3], [4, 5, 6]),
    ('low above high', numpy.eye(4), [4, 5, 6], [1, 2, 3], [1, 2, 3], [4, 5, 6]),
    ('mirror', numpy.diag([-1.0, 2, 1, 1]), [1, 1, 1], [2, 2, 2], [-2, 2, 1], [-1, 4, 2]),
    # 0 * inf is NaN for the corners at infinity, the others stand
    ('zero times infinity', numpy.diag([0.0, 1, 1, 1]), [-INF, 0, 0], [1, 1, 1], [0, 0, 0], [0, 1, 1]),
    # x's largest product (+inf) meets y's (-inf): the largest corner is the other x's
    ('infinities meet', numpy.array([[1.0, 0, 0, 0], [1, 0, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]]),
     [5, -INF, 0], [INF, -INF, 0], [-INF, NAN, NAN], [-INF, NAN, NAN]),
    ('every corner NaN', numpy.diag([NAN, 1, 1, 1]), [0, 0, 0], [1, 1, 1], [NAN, 0, 0], [NAN, 1, 1]),
    ('overflow', numpy.diag([BIG, 1, 1, 1]), [-BIG, 0, 0], [BIG, 0, 0], [-INF, 0, 0], [INF, 0, 0]),
    ('translation', numpy.array([[1.0, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [5, -1, 0.5, 1]]),
     [0, 0, 0], [1, 1, 1], [5, -1, 0.5], [6, 0, 1.5]),
]


@pytest.mark.kernels
@pytest.mark.parametrize('label, matrix, low, high, least, most', BOX_CASES, ids=[c[0] for c in BOX_CASES])
def test_boxes_special_cases(label, matrix, low, high, least, most):
    # Enough copies that the SIMD loop and its last row both see the case.
    count = 9
    lows, highs = numpy.array([low] * count, float), numpy.array([high] * count, float)
    for matrices in (matrix, numpy.array([matrix] * count)):
        result = transformBoxes(matrices, lows, highs)
        assert_same_bits(result[0], [least] * count, zero_sign_free=True)
        assert_same_bits(result[1], [most] * count, zero_sign_free=True)
    assert_boxes(transformBoxes(matrix, lows, highs), expected_boxes(matrix, lows, highs), count)


@pytest.mark.kernels
def test_boxes_of_a_scene_match_the_statement_and_enclose_every_corner():
    count = 500
    random = numpy.random.RandomState(3)
    forwards = transformMatrices(random.uniform(-9, 9, (count, 3)), random.uniform(-1, 1, (count, 4)),
                                 random.uniform(0.1, 3, (count, 3)))[0]
    lows, highs = box_values(count, 4, 0.0, 3)
    result = transformBoxes(forwards, lows, highs)
    assert_boxes(result, expected_boxes(forwards, lows, highs), count)
    corners = numpy.array([oracle.box_corners(low, high) for low, high in zip(lows.tolist(), highs.tolist())])
    moved = numpy.einsum('nci,nij->ncj', numpy.concatenate([corners, numpy.ones((count, 8, 1))], 2), forwards)
    assert (result[0] <= moved[:, :, :3].min(1) + 1e-12).all() and (result[1] >= moved[:, :, :3].max(1) - 1e-12).all()


@pytest.mark.kernels
def test_boxes_fill_out_even_when_it_shares_memory_with_an_input():
    count = 64
    lows, highs = box_values(count, 8, 0.05, 3)
    matrices = matrix_values(count, 9, 0.05)
    expected = transformBoxes(matrices, lows, highs)
    out = numpy.empty((count, 3)), numpy.empty((count, 3))
    result = transformBoxes(matrices, lows, highs, out=out)
    assert result[0] is out[0] and result[1] is out[1]
    for actual, wanted in zip(result, expected):
        assert_same_bits(actual, wanted)
    in_place = lows.copy(), highs.copy()
    transformBoxes(matrices, in_place[0], in_place[1], out=in_place[::-1])
    for actual, wanted in zip(in_place[::-1], expected):
        assert_same_bits(actual, wanted)
    # out one value further along the buffer that holds the matrices
    buffer = numpy.zeros(16 * count + 1)
    buffer[:16 * count] = matrices.ravel()
    out = buffer[1:3 * count + 1].reshape(count, 3), numpy.empty((count, 3))
    transformBoxes(buffer[:16 * count].reshape(count, 4, 4), lows, highs, out=out)
    for actual, wanted in zip(out, expected):
        assert_same_bits(actual, wanted)


def test_boxes_read_tables_as_the_culling_functions_do():
    matrix = transformMatrices([[1, 2, 3]], [[0, 0, 1, 0.3]])[0][0]
    expected = transformBoxes(matrix, numpy.array([[0, 0, 0], [1, 1, 1]], float),
                              numpy.array([[1, 1, 1], [3, 2, 2]], float))
    for lows, highs in (([[0, 0, 0], [1, 1, 1]], ((1, 1, 1.0, 7), (3, 2, 2, 8))),
                        (numpy.array([[0, 0, 0, 5], [1, 1, 1, 9]], numpy.int32), numpy.array([[1, 1, 1], [3, 2, 2]]))):
        for actual, wanted in zip(transformBoxes(matrix.tolist(), lows, highs), expected):
            assert_same_bits(actual, wanted)
    empty = transformBoxes(numpy.eye(4), numpy.zeros((0, 3)), numpy.zeros((0, 4)))
    assert empty[0].shape == empty[1].shape == (0, 3)


EYE = numpy.eye(4)
ROWS = numpy.zeros((2, 3))


@pytest.mark.parametrize('args, kwargs, error, message', [
    ((numpy.zeros((2, 4, 3)), ROWS, ROWS), {}, TypeError,
     'matrices must be a (4, 4) matrix or an (N, 4, 4) table of matrices, not of shape (2, 4, 3)'),
    ((numpy.zeros(16), ROWS, ROWS), {}, TypeError,
     'matrices must be a (4, 4) matrix or an (N, 4, 4) table of matrices, not of shape (16,)'),
    ((numpy.zeros((3, 4, 4)), ROWS, ROWS), {}, ValueError,
     'matrices has 3 matrices and lows 2 boxes: they must have the same length'),
    (([['a']], ROWS, ROWS), {}, ValueError, 'matrices must be a (4, 4) matrix or an (N, 4, 4) table of matrices ('),
    ((EYE, numpy.zeros((2, 2)), ROWS), {}, TypeError, 'lows must be an x*3 or x*4 array, second dimension was 2'),
    ((EYE, ROWS, numpy.zeros((2, 5))), {}, TypeError, 'highs must be an x*3 or x*4 array, second dimension was 5'),
    ((EYE, ROWS, numpy.zeros((3, 3))), {}, ValueError, 'lows and highs must have the same number of rows, not 2 and 3'),
    ((EYE, [[1, 'x', 2]], ROWS), {}, ValueError, 'lows must be an (N, 3) or (N, 4) table of corners ('),
    ((EYE, ROWS, numpy.zeros(3)), {}, ValueError, 'highs must be an (N, 3) or (N, 4) table of corners ('),
    ((EYE, ROWS, ROWS), dict(out=numpy.zeros((2, 3))), TypeError,
     'out must be a pair of float64 arrays (worldLows, worldHighs)'),
    ((EYE, ROWS, ROWS), dict(out=(numpy.zeros((2, 3)), numpy.zeros((2, 3), numpy.float32))), TypeError,
     'out must be a pair of float64 arrays (worldLows, worldHighs)'),
    ((EYE, ROWS, ROWS), dict(out=(numpy.zeros((2, 3)), numpy.zeros((2, 4)))), ValueError,
     'out arrays must have shape (2, 3)'),
    ((EYE, ROWS, ROWS), dict(out=(numpy.zeros((2, 3)), numpy.zeros((2, 6))[:, ::2])), ValueError,
     'out arrays must be writeable, C-contiguous and aligned'),
    ((EYE, ROWS, ROWS), dict(out=(ROWS, ROWS)), ValueError, 'out arrays must not share memory'),
], ids=['matrix shape', 'flat matrix', 'count', 'strings', 'lows width', 'highs width', 'rows', 'lows text',
        'highs depth', 'out single', 'out float32', 'out shape', 'out strided', 'out shared'])
def test_boxes_errors(args, kwargs, error, message):
    with pytest.raises(error) as raised:
        transformBoxes(*args, **kwargs)
    assert str(raised.value).startswith(message)


# ----------------------------------------------------------- frustumPlanes

SPECIAL_PLANE_VALUES = numpy.concatenate([SPECIAL_VALUES, [1e-160, -1e-170, 1e160, 3e200]])


def camera_values(seed, special_share):
    random = numpy.random.RandomState(seed)
    values = random.uniform(-3, 3, (4, 4)) * 10.0 ** random.randint(-200, 200)
    special = random.rand(4, 4) < special_share
    values[special] = random.choice(SPECIAL_PLANE_VALUES, size=int(special.sum()))
    return values


@given(seed=st.integers(0, 2 ** 31), special_share=st.sampled_from([0.0, 0.1, 0.4]), zero_to_one=st.booleans(),
       normalize=st.booleans())
def test_planes_match_the_statement(seed, special_share, zero_to_one, normalize):
    matrix = camera_values(seed, special_share)
    expected = oracle.frustum_planes(matrix.ravel().tolist(), zero_to_one, normalize)
    planes = frustumPlanes(matrix, zeroToOne=zero_to_one, normalize=normalize)
    assert type(planes) is numpy.ndarray and planes.shape == (6, 4) and planes.dtype == numpy.float64
    assert_same_bits(planes, expected)


def perspective(near, far, zero_to_one):
    """A symmetric perspective projection in row vectors, looking down -z."""
    depth = far - near
    if zero_to_one:
        z, w = -far / depth, -far * near / depth
    else:
        z, w = -(far + near) / depth, -2 * far * near / depth
    return numpy.array([[1.5, 0, 0, 0], [0, 2, 0, 0], [0, 0, z, -1], [0, 0, w, 0]])


@pytest.mark.parametrize('zero_to_one', [False, True])
def test_planes_of_a_camera_cull_what_it_cannot_see(zero_to_one):
    view = transformMatrices([[-1, -2, -3]])[0][0]  # the camera at (1, 2, 3)
    planes = frustumPlanes(view.dot(perspective(0.5, 100.0, zero_to_one)), zeroToOne=zero_to_one)
    assert numpy.allclose(numpy.linalg.norm(planes[:, :3], axis=1), 1.0)
    seen = [[1, 2, -10], [1, 2, 2], [1, 2, -96]]
    unseen = [[1, 2, 4], [1, 2, 2.6], [1, 2, -98], [20, 2, -5], [1, -20, -5], [-20, 2, -5], [1, 20, -5]]
    points = numpy.array(seen + unseen, float)
    verdicts = planeCullBoxes(planes, points, points)
    assert verdicts.tolist() == [-1, -1, -1, 0, 4, 5, 1, 2, 0, 3]
    # normalised planes: the tolerance is a distance in world units (this
    # point is 0.1 in front of the near plane, 0.4 from the camera)
    assert planeCullBoxes(planes, points[4:5], points[4:5], tolerance=0.11)[0] == -1
    assert planeCullBoxes(planes, points[4:5], points[4:5], tolerance=0.09)[0] == 4


@pytest.mark.parametrize('scale', [1e-300, 1e-200, 1e-160, 1e160, 1e200])
def test_planes_normalise_extreme_matrices_without_overflow_or_underflow(scale):
    matrix = perspective(1.0, 10.0, False) * scale
    planes = frustumPlanes(matrix)
    assert numpy.isfinite(planes).all()
    assert numpy.allclose(numpy.linalg.norm(planes[:, :3], axis=1), 1.0)
    assert_same_bits(planes, oracle.frustum_planes(matrix.ravel().tolist()))


def test_a_plane_without_normal_is_left_as_it_is():
    matrix = numpy.zeros((4, 4))
    matrix[3, 3] = 2.0
    assert frustumPlanes(matrix).tolist() == [[0.0, 0.0, 0.0, 2.0]] * 6
    out = numpy.empty((6, 4))
    assert frustumPlanes(matrix.tolist(), True, False, out=out) is out
    assert out.tolist() == [[0.0, 0.0, 0.0, 2.0]] * 4 + [[0.0, 0.0, 0.0, 0.0], [0.0, 0.0, 0.0, 2.0]]


@pytest.mark.parametrize('args, kwargs, message', [
    ((numpy.eye(3),), {}, 'matrix must be a 4x4 matrix, not of shape (3, 3)'),
    ((numpy.zeros((1, 4, 4)),), {}, 'matrix must be a 4x4 matrix, not of shape (1, 4, 4)'),
    ((list(range(16)),), {}, 'matrix must be a 4x4 matrix, not of shape (16,)'),
    (([['a'] * 4] * 4,), {}, 'matrix must be a 4x4 matrix ('),
    (('abcd',), {}, 'matrix must be a 4x4 matrix ('),
    ((numpy.eye(4),), dict(out=numpy.zeros((6, 3))), 'out must be a float64 array of shape (6, 4)'),
    ((numpy.eye(4),), dict(out=numpy.zeros((6, 4), numpy.float32)), 'out must be a float64 array of shape (6, 4)'),
], ids=['3x3', 'table', 'flat', 'text items', 'text', 'out shape', 'out float32'])
def test_planes_errors(args, kwargs, message):
    with pytest.raises(TypeError) as raised:
        frustumPlanes(*args, **kwargs)
    assert str(raised.value).startswith(message)


def test_planes_out_must_be_writeable():
    out = numpy.zeros((6, 4))
    out.flags['WRITEABLE'] = False
    with pytest.raises(ValueError, match='out must be writeable, C-contiguous and aligned'):
        frustumPlanes(numpy.eye(4), out=out)


# --------------------------------------------------------- reference counts

RANDOM = numpy.random.RandomState(12)
MATRICES = matrix_values(6, 12, 0.0)
LOWS, HIGHS = box_values(6, 13, 0.0, 3)
BOX_OUT = numpy.zeros((2, 6, 3))
PLANE_OUT = numpy.zeros((6, 4))
REFCOUNT_CALLS = [
    ('boxes', lambda: transformBoxes(MATRICES, LOWS, HIGHS)),
    ('boxes one', lambda: transformBoxes(MATRICES[0].tolist(), LOWS.tolist(), HIGHS)),
    ('boxes out', lambda: transformBoxes(MATRICES, LOWS, HIGHS, out=(BOX_OUT[0], BOX_OUT[1]))),
    ('boxes shared', lambda: transformBoxes(MATRICES, LOWS, HIGHS, out=(LOWS.copy(), HIGHS))),
    ('boxes count', lambda: transformBoxes(MATRICES[:2], LOWS, HIGHS)),
    ('boxes out shape', lambda: transformBoxes(MATRICES, LOWS, HIGHS, out=(BOX_OUT[0], LOWS[:2]))),
    ('boxes bad', lambda: transformBoxes(MATRICES, [['x']], HIGHS)),
    ('planes', lambda: frustumPlanes(MATRICES[0])),
    ('planes out', lambda: frustumPlanes(MATRICES[0].tolist(), zeroToOne=1, out=PLANE_OUT)),
    ('planes shape', lambda: frustumPlanes(MATRICES[:2])),
    ('planes bad', lambda: frustumPlanes([['x'] * 4] * 4)),
]


@pytest.mark.parametrize('label, call', REFCOUNT_CALLS, ids=[case[0] for case in REFCOUNT_CALLS])
def test_reference_counts_stay_balanced(refcounts, label, call):
    refcounts([MATRICES, LOWS, HIGHS, BOX_OUT, PLANE_OUT], ignoring_refusals(call),
              numpy_keeps_descriptor=label.endswith('bad'))
