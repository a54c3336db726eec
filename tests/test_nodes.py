"""transformMatrix, transformMatrices and worldMatrices: the full transform of
scene nodes and the world matrices of a hierarchy, bit for bit the chains of
products that oracle.py states, on whichever product kernel is in use
(test_kernels.py runs the tests marked `kernels` on every other one)."""
import numpy
import pytest
from hypothesis import given, strategies as st

import affinekit
import oracle
from affinekit import transformMatrices, transformMatrix, worldMatrices
from conftest import ignoring_refusals
from test_matrix_tables import assert_same_tables

NAN = float('nan')
INF = float('inf')
TURN = oracle.FULL_TURN
FIELDS = ('translation', 'rotation', 'scale', 'scaleOrientation', 'center')
TABLE_FIELDS = ('translations', 'rotations', 'scales', 'scaleOrientations', 'centers')

SPECIAL = st.sampled_from([0.0, -0.0, 5e-324, -5e-324, 1e300, -1e300, INF, -INF, NAN, 1.0, -1.0,
                           TURN, -TURN, 2 * TURN, 1e-200, 0.5])
VALUES = st.one_of(SPECIAL, st.floats(-3, 3), st.integers(-2, 2).map(float))


def vectors(most):
    return st.one_of(st.none(), st.lists(VALUES, min_size=0, max_size=most))


def as_table(values, count):
    """A (count, 16) array from the oracle's lists of 16 floats."""
    return numpy.array(values, dtype=float).reshape(count, 4, 4)


def expected_node(fields):
    """The oracle's pair as arrays, or (None, None), or the exception."""
    try:
        pair = oracle.transform_matrix(**fields)
    except ValueError as error:
        return error
    if pair == oracle.NONE_PAIR:
        return pair
    return as_table(pair[0], 1)[0], as_table(pair[1], 1)[0]


def assert_same_node(result, expected):
    if expected[0] is None:
        assert result == oracle.NONE_PAIR
        return
    assert_same_tables(result, expected)


def assert_same_bits(actual, expected):
    """One table of matrices equal to the bit (any NaN matching any NaN)."""
    assert_same_tables((actual, actual), (expected, expected))


def random_hierarchy(count, seed, depth=8):
    """Parents of count nodes, each -1 or an earlier row, at most depth deep."""
    random = numpy.random.RandomState(seed)
    parents, depths = [], []
    for n in range(count):
        candidates = [p for p in range(n) if depths[p] < depth - 1]
        parent = -1 if not candidates or random.rand() < 0.2 else candidates[random.randint(len(candidates))]
        parents.append(parent)
        depths.append(0 if parent < 0 else depths[parent] + 1)
    return numpy.array(parents, dtype=numpy.intp)


# --------------------------------------------------------- transformMatrix

@pytest.mark.kernels
@given(translation=vectors(4), rotation=vectors(5), scale=vectors(4), orientation=vectors(5), center=vectors(4))
def test_node_matches_the_statement(translation, rotation, scale, orientation, center):
    fields = dict(zip(FIELDS, (translation, rotation, scale, orientation, center)))
    expected = expected_node(fields)
    if isinstance(expected, ValueError):
        with pytest.raises(ValueError) as raised:
            transformMatrix(**fields)
        assert str(raised.value) == str(expected)
        return
    assert_same_node(transformMatrix(**fields), expected)
    assert_same_node(transformMatrix(*[fields[name] for name in FIELDS]), expected)


@pytest.mark.parametrize('fields, single', [
    (dict(translation=[1.5, -2, 3]), affinekit.transMatrix([1.5, -2, 3])),
    (dict(rotation=[0, 0, 1, 0.5]), affinekit.rotMatrix([0, 0, 1, 0.5])),
    (dict(scale=[2, 0, -0.0]), affinekit.scaleMatrix([2, 0, -0.0])),
    (dict(center=[4, 5, 6]), (None, None)),             # C' . C alone is still a product
    (dict(), (None, None)),
    (dict(translation=[0, 0, 0], rotation=[1, 0, 0, TURN], scale=1.0, scaleOrientation=None, center=[0]),
     (None, None)),
], ids=['translation', 'rotation', 'scale', 'center', 'nothing', 'identities'])
def test_one_factor_is_its_single_function(fields, single):
    result = transformMatrix(**fields)
    if 'center' in fields and any(fields['center']):
        forward, inverse = result
        assert (forward == numpy.eye(4)).all() and (inverse == numpy.eye(4)).all()
        return
    if single[0] is None:
        assert result == (None, None)
        return
    assert_same_tables(result, single)


def test_factors_apply_in_the_scene_order():
    """A point is taken to the center, scaled in the scale orientation,
    rotated, moved back and translated."""
    forward, inverse = transformMatrix(translation=[10, 0, 0], rotation=[0, 0, 1, numpy.pi / 2],
                                       scale=[2, 1, 1], center=[1, 0, 0])
    point = numpy.array([2.0, 0.0, 0.0, 1.0])
    # (1, 0, 0) from the center, scaled to (2, 0, 0), rotated to (0, 2, 0), back to (1, 2, 0), then +10 in x.
    assert numpy.allclose(point.dot(forward), [11, 2, 0, 1])
    assert numpy.allclose(point.dot(forward).dot(inverse), point)


@pytest.mark.parametrize('kwargs, error, message', [
    (dict(rotation=[0, 0, 0, 1]), ValueError, 'Rotation around 0-length vector impossible (rotation)'),
    (dict(scaleOrientation=(0.0, -0.0, 0.0, 2)), ValueError,
     'Rotation around 0-length vector impossible (scaleOrientation)'),
    (dict(rotation=[1, 0, 0, 1], scaleOrientation=[0, 0, 0, 1], center='x'), ValueError,
     'center must be a vector x,y,z of numbers, or None'),
    (dict(translation=[[1, 2]]), ValueError, 'translation must be a vector x,y,z of numbers, or None'),
    (dict(scale={}), TypeError, 'scale must be a vector x,y,z of numbers, or None'),
], ids=['rotation', 'orientation', 'center', 'depth', 'dict'])
def test_node_errors_name_the_argument(kwargs, error, message):
    with pytest.raises(error) as raised:
        transformMatrix(**kwargs)
    assert str(raised.value).startswith(message)


def test_node_arguments_are_the_interpreters():
    with pytest.raises(TypeError):
        transformMatrix(None, None, None, None, None, None)
    with pytest.raises(TypeError):
        transformMatrix(spin=[0, 0, 1, 1])
    with pytest.raises(TypeError):
        transformMatrix([1, 2, 3], translation=[1, 2, 3])


# ------------------------------------------------------- transformMatrices

def node_tables(count):
    def table(width):
        return st.lists(st.lists(VALUES, min_size=width, max_size=width), min_size=count, max_size=count)
    return st.tuples(*[st.one_of(st.none(), st.integers(0, 5).flatmap(table)) for _ in TABLE_FIELDS])


@pytest.mark.kernels
@given(tables=st.integers(0, 6).flatmap(node_tables), as_arrays=st.booleans())
def test_node_tables_match_the_single_function(tables, as_arrays):
    if all(table is None for table in tables):
        return
    count = len(next(table for table in tables if table is not None))
    forward, inverse = numpy.empty((count, 4, 4)), numpy.empty((count, 4, 4))
    for n in range(count):
        fields = dict((name, None if table is None else table[n]) for name, table in zip(FIELDS, tables))
        try:
            pair = transformMatrix(**fields)
        except ValueError:
            with pytest.raises(ValueError):
                transformMatrices(*tables)
            return
        forward[n], inverse[n] = (numpy.eye(4), numpy.eye(4)) if pair[0] is None else pair
    # An empty list is one-dimensional to numpy: no rows are given as an array.
    given_tables = [None if t is None else (numpy.array(t, dtype=float).reshape(count, len(t[0]))
                                            if count and as_arrays else numpy.zeros((0, 3)) if not count else t)
                    for t in tables]
    assert_same_tables(transformMatrices(*given_tables), (forward, inverse))
    kwargs = dict((name, t) for name, t in zip(TABLE_FIELDS, given_tables) if t is not None)
    assert_same_tables(transformMatrices(**kwargs), (forward, inverse))
    forward_only = transformMatrices(inverses=False, **kwargs)
    assert forward_only[1] is None
    assert_same_bits(forward_only[0], forward)


@pytest.mark.parametrize('kwargs, error, message', [
    (dict(), TypeError, 'transformMatrices takes at least one table (translations, rotations, scales, '
                        'scaleOrientations or centers)'),
    (dict(translations=[[1, 2, 3]] * 3, scales=[[1, 2, 3]] * 2), ValueError,
     'translations has 3 rows and scales 2: every table must have the same number of rows'),
    (dict(rotations=[[0, 0, 1, 1], [0, 0, 1, 1], [0, 0, 0, 1]], scaleOrientations=[[1, 0, 0, 0]] * 2 + [[0, 0, 0, 1]]),
     ValueError, 'Rotation around 0-length vector impossible (rotations, row 2)'),
    (dict(rotations=[[0, 0, 1, 1], [0, 0, 1, 1], [0, 0, 0, 1]], scaleOrientations=[[1, 0, 0, 0], [0, 0, 0, 2]] * 1
          + [[1, 0, 0, 1]]), ValueError, 'Rotation around 0-length vector impossible (scaleOrientations, row 1)'),
    (dict(centers=[1, 2, 3]), ValueError, 'centers must be a table of centers x,y,z (N x K) of numbers, or None'),
    (dict(scales=[['a', 'b']]), ValueError, 'scales must be a table of scale factors x,y,z (N x K) of numbers'),
    (dict(translations=numpy.zeros((2, 3)), out=(numpy.zeros((2, 4, 4)),)), TypeError,
     'out must be a pair of float64 arrays (forward, inverse)'),
    (dict(translations=numpy.zeros((2, 3)), out=(numpy.zeros((3, 4, 4)), numpy.zeros((3, 4, 4)))), ValueError,
     'out arrays must have shape (2, 4, 4)'),
    (dict(translations=numpy.zeros((2, 3)), out=(numpy.zeros((2, 4, 4)), numpy.zeros((2, 4, 4))), inverses=False),
     TypeError, 'out must be a pair (forward, None) when there are no inverses'),
    (dict(translations=numpy.zeros((2, 3)), out=(numpy.zeros((2, 4, 4)), None)), TypeError,
     'out must be a pair of float64 arrays (forward, inverse)'),
], ids=['none', 'rows', 'rotation', 'orientation', 'vector', 'strings', 'out pair', 'out shape', 'out inverse',
        'out none'])
def test_node_table_errors(kwargs, error, message):
    with pytest.raises(error) as raised:
        transformMatrices(**kwargs)
    assert str(raised.value).startswith(message)


def test_node_tables_fill_out_even_when_it_shares_memory_with_a_table():
    translations = numpy.arange(24, dtype=float).reshape(2, 12)
    expected = transformMatrices(translations[:, :3], scales=translations[:, 3:6])
    buffers = numpy.zeros((2, 2, 4, 4))
    out = (buffers[0], buffers[1])
    result = transformMatrices(translations[:, :3], scales=translations[:, 3:6], out=out)
    assert result[0] is out[0] and result[1] is out[1]
    assert_same_tables(result, expected)
    shared = numpy.zeros((2, 2, 4, 4))
    view = shared.reshape(-1)[:24].reshape(2, 12)
    view[...] = translations
    result = transformMatrices(view[:, :3], scales=view[:, 3:6], out=(shared[0], shared[1]))
    assert_same_tables(result, expected)
    view[...] = translations
    forwards = shared[0]
    result = transformMatrices(view[:, :3], scales=view[:, 3:6], out=(forwards, None), inverses=False)
    assert result[0] is forwards and result[1] is None
    assert_same_bits(result[0], expected[0])


# ------------------------------------------------------------ worldMatrices

SPECIAL_VALUES = numpy.array([0.0, -0.0, 5e-324, -5e-324, 1e300, -1e300, INF, -INF, NAN, 1.0, -1.0, 1e-200, 0.5])


def matrix_values(count, seed, special_share):
    """count matrices of values from the seed: a share of them special
    values (signed zeros, subnormals, huge, infinite, NaN), the rest ordinary.
    Drawn with numpy from one seed: hypothesis draws 16 values a matrix slowly."""
    random = numpy.random.RandomState(seed)
    values = random.uniform(-3, 3, size=(count, 4, 4))
    special = random.rand(count, 4, 4) < special_share
    values[special] = random.choice(SPECIAL_VALUES, size=int(special.sum()))
    return values


@pytest.mark.kernels
@given(count=st.integers(0, 12), seed=st.integers(0, 2 ** 31), with_inverses=st.booleans(),
       special_share=st.sampled_from([0.0, 0.05, 0.3]))
def test_world_matches_the_statement(count, seed, with_inverses, special_share):
    parents = random_hierarchy(count, seed)
    forwards = matrix_values(count, seed, special_share)
    inverses = matrix_values(count, seed + 1, special_share) if with_inverses else None
    world, world_inverse = oracle.world_matrices(
        parents.tolist(), forwards.reshape(count, 16).tolist(),
        None if inverses is None else inverses.reshape(count, 16).tolist())
    result = worldMatrices(parents, forwards, inverses)
    assert type(result) is tuple and len(result) == 2
    assert_same_bits(result[0], as_table(world, count))
    if inverses is None:
        assert result[1] is None
    else:
        assert_same_bits(result[1], as_table(world_inverse, count))


def test_world_of_a_chain_moves_each_child_by_its_parents():
    forwards, inverses = transformMatrices([[1, 0, 0], [0, 2, 0], [0, 0, 3]], rotations=[[0, 0, 1, 0]] * 3)
    world, world_inverse = worldMatrices([-1, 0, 1], forwards, inverses)
    assert world[2][3].tolist() == [1.0, 2.0, 3.0, 1.0]
    assert world_inverse[2][3].tolist() == [-1.0, -2.0, -3.0, 1.0]
    assert (world[0] == forwards[0]).all() and (world_inverse[0] == inverses[0]).all()


@pytest.mark.kernels
def test_world_in_place_and_through_shared_memory_gives_the_same_bits():
    count = 300
    parents = random_hierarchy(count, 5)
    random = numpy.random.RandomState(5)
    forwards, inverses = transformMatrices(random.uniform(-5, 5, (count, 3)), random.uniform(-1, 1, (count, 4)),
                                           random.uniform(0.5, 2, (count, 3)))
    expected = worldMatrices(parents, forwards, inverses)
    in_place = forwards.copy(), inverses.copy()
    result = worldMatrices(parents, in_place[0], in_place[1], out=in_place)
    assert result[0] is in_place[0] and result[1] is in_place[1]
    assert_same_tables(result, expected)
    swapped = inverses.copy(), forwards.copy()
    assert_same_tables(worldMatrices(parents, swapped[1], swapped[0], out=swapped[::-1]), expected)
    # out one row further along the same buffer as the inputs
    buffer = numpy.zeros((2 * count + 2, 4, 4))
    buffer[:count], buffer[count + 1:2 * count + 1] = forwards, inverses
    out = (buffer[1:count + 1], buffer[count + 2:])
    assert_same_tables(worldMatrices(parents, buffer[:count], buffer[count + 1:2 * count + 1], out=out), expected)
    without = worldMatrices(parents, forwards, out=(numpy.empty((count, 4, 4)), None))
    assert without[1] is None
    assert_same_bits(without[0], expected[0])


@pytest.mark.parametrize('args, kwargs, error, message', [
    (([-1, 1], numpy.zeros((2, 4, 4))), {}, ValueError,
     'parents[1] is 1: a parent must be -1 (a root) or an earlier row'),
    (([-1, 0, -2], numpy.zeros((3, 4, 4))), {}, ValueError,
     'parents[2] is -2: a parent must be -1 (a root) or an earlier row'),
    (([-1.0, 0.0], numpy.zeros((2, 4, 4))), {}, TypeError,
     'parents must be a one-dimensional table of integers (N,), not of type'),
    (([[-1]], numpy.zeros((1, 4, 4))), {}, ValueError, 'parents must be a one-dimensional table of integers (N,)'),
    ((numpy.array([0], numpy.uint64), numpy.zeros((1, 4, 4))), {}, TypeError,
     'parents must be a one-dimensional table of integers (N,), not of type'),
    (([-1], numpy.zeros((1, 4, 3))), {}, TypeError,
     'forwards must be an (N, 4, 4) table of matrices, not of shape (1, 4, 3)'),
    (([-1], numpy.zeros((4, 4))), {}, TypeError, 'forwards must be an (N, 4, 4) table of matrices, not of shape (4, 4)'),
    (([-1], [[['a']]]), {}, ValueError, 'forwards must be an (N, 4, 4) table of matrices ('),
    (([-1, 0], numpy.zeros((2, 4, 4)), numpy.zeros((3, 4, 4))), {}, ValueError,
     'inverses has 3 matrices and parents 2: they must have the same length'),
    (([-1], numpy.zeros((1, 4, 4))), dict(out=(numpy.zeros((1, 4, 4)), numpy.zeros((1, 4, 4)))), TypeError,
     'out must be a pair (forward, None) when there are no inverses'),
    (([-1], numpy.zeros((1, 4, 4)), numpy.zeros((1, 4, 4))), dict(out=(numpy.zeros((1, 4, 4)), None)), TypeError,
     'out must be a pair of float64 arrays (forward, inverse)'),
], ids=['later', 'below', 'floats', 'depth', 'unsigned', 'width', 'single', 'strings', 'count', 'out none',
        'out missing'])
def test_world_errors(args, kwargs, error, message):
    with pytest.raises(error) as raised:
        worldMatrices(*args, **kwargs)
    assert str(raised.value).startswith(message)


def test_world_accepts_every_integer_type_and_no_nodes():
    forwards = numpy.arange(32, dtype=float).reshape(2, 4, 4)
    expected = worldMatrices(numpy.array([-1, 0], numpy.intp), forwards)
    for parents in ([-1, 0], (-1, 0), numpy.array([-1, 0], numpy.int8), numpy.array([-1, 0], numpy.int32)):
        assert_same_bits(worldMatrices(parents, forwards)[0], expected[0])
    world, world_inverse = worldMatrices([], numpy.zeros((0, 4, 4)), numpy.zeros((0, 4, 4)))
    assert world.shape == world_inverse.shape == (0, 4, 4)


# --------------------------------------------------------- reference counts

RANDOM = numpy.random.RandomState(11)
TRANSLATIONS = RANDOM.uniform(-2, 2, (5, 3))
SPINS = RANDOM.uniform(-1, 1, (5, 4))
FORWARDS, INVERSES = transformMatrices(TRANSLATIONS, SPINS)
OUT = numpy.zeros((2, 5, 4, 4))
REFCOUNT_CALLS = [
    ('node', lambda: transformMatrix([1, 2, 3], SPINS[0], [2, 2, 2], SPINS[1], TRANSLATIONS[0])),
    ('node none', lambda: transformMatrix()),
    ('node refused', lambda: transformMatrix(rotation=[0, 0, 0, 1])),
    ('node bad', lambda: transformMatrix(center='abc')),
    ('tables', lambda: transformMatrices(TRANSLATIONS, SPINS.tolist(), centers=TRANSLATIONS)),
    ('tables out', lambda: transformMatrices(TRANSLATIONS, out=(OUT[0], OUT[1]))),
    ('tables rows', lambda: transformMatrices(TRANSLATIONS, SPINS[:2])),
    ('tables bad', lambda: transformMatrices(TRANSLATIONS, [['x']])),
    ('tables forwards', lambda: transformMatrices(TRANSLATIONS, SPINS, out=(OUT[0], None), inverses=0)),
    ('tables forwards out', lambda: transformMatrices(TRANSLATIONS, SPINS, out=(OUT[0], OUT[1]), inverses=False)),
    ('world', lambda: worldMatrices([-1, 0, 1, 0, -1], FORWARDS, INVERSES)),
    ('world out', lambda: worldMatrices(numpy.array([-1, 0, 1, 0, -1]), FORWARDS, INVERSES, out=(OUT[0], OUT[1]))),
    ('world parents', lambda: worldMatrices([-1, 3, 1, 0, -1], FORWARDS, INVERSES)),
    ('world shape', lambda: worldMatrices([-1, 0, 1, 0, -1], FORWARDS[:, :3])),
]


@pytest.mark.parametrize('label, call', REFCOUNT_CALLS, ids=[case[0] for case in REFCOUNT_CALLS])
def test_reference_counts_stay_balanced(refcounts, label, call):
    refcounts([TRANSLATIONS, SPINS, FORWARDS, INVERSES, OUT], ignoring_refusals(call),
              numpy_keeps_descriptor=label.endswith('bad'))
