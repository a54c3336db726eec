import math
import subprocess
import sys
import types

import numpy
import pytest
from hypothesis import given, strategies as st

import affinekit
import oracle
from capi import conversion_error
from conftest import (PY2, assert_fresh_matrix, assert_only_export_is_entry_point, assert_same_pair,
                      assert_same_values)

FUNCTIONS = {
    'transMatrix': (affinekit.transMatrix, oracle.trans_matrix),
    'scaleMatrix': (affinekit.scaleMatrix, oracle.scale_matrix),
    'rotMatrix': (affinekit.rotMatrix, oracle.rot_matrix),
}
NATIVE = [FUNCTIONS[name][0] for name in sorted(FUNCTIONS)]
NAN = float('nan')
INF = float('inf')
FULL_TURN = 6.2831853071796
GUARDED_INVERSE = 9.999999999999999e+299


def rows(*values):
    return [float(v) for v in values]


def identity_with_row3(x, y, z):
    return rows(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1)


def diagonal(a, b, c):
    return rows(a, 0, 0, 0, 0, b, 0, 0, 0, 0, c, 0, 0, 0, 0, 1)


# ---------------------------------------------------------------- surface

def test_module_exposes_functions_and_nothing_class_like():
    public = sorted(name for name in dir(affinekit) if not name.startswith('__'))
    assert public == ['kernel', 'kernels', 'rotMatrices', 'rotMatrix', 'scaleMatrices', 'scaleMatrix',
                      'transMatrices', 'transMatrix', 'transformBoxes', 'transformMatrices', 'transformMatrix',
                      'worldMatrices']
    assert affinekit.__doc__ is None
    for name in public:
        if name not in ('kernel', 'kernels'):
            assert isinstance(getattr(affinekit, name), types.BuiltinFunctionType)
    assert affinekit.kernel in affinekit.kernels


@pytest.mark.parametrize('function, doc', [
    (affinekit.transMatrix,
     "transMatrix( [x,y,z] )\nC accellerator for kestrel.kestrel97.transformmatrix.transMatrix\n"
     "x,y,z -- Python object compatible with Numeric double array\n\n"
     "returns a 4x4 translation matrix for the given translation and\n"
     "the inverse of the translation."),
    (affinekit.scaleMatrix,
     "scaleMatrix( [x,y,z] )\nC accellerator for kestrel.kestrel97.transformmatrix.scaleMatrix\n"
     "x,y,z -- Python object compatible with Numeric double array\n\nreturns"),
    (affinekit.rotMatrix,
     "rotMatrix( [x,y,z,a] )\nC accellerator for kestrel.kestrel97.transformmatrix.rotMatrix\n"
     "x,y,z,a -- Python object compatible with Numeric double array\n"
     "\ta is expressed in radians, as normal for Python and KESTREL97\n\nreturns"),
])
def test_docstrings(function, doc):
    if function is affinekit.transMatrix:
        assert function.__doc__ == doc
    else:
        assert function.__doc__.startswith(doc)
        assert '\n\n' not in function.__doc__[len(doc):]


def test_library_exports_only_its_entry_point():
    assert_only_export_is_entry_point(affinekit)


def test_failed_numpy_binding_fails_the_import(tmpdir):
    """A numpy whose multiarray has no C API table makes the import fail as specified."""
    fake = tmpdir.mkdir('numpy')
    fake.join('__init__.py').write('')
    core = fake.mkdir('core')
    for name in ('__init__', 'multiarray', '_multiarray_umath'):
        core.join(name + '.py').write('')
    script = 'import sys; sys.path.insert(0, %r); import affinekit' % str(tmpdir)
    process = subprocess.Popen([sys.executable, '-c', script],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    _, err = process.communicate()
    assert process.returncode != 0
    err = err.decode()
    assert 'AttributeError' in err and '_ARRAY_API' in err
    assert err.rstrip().endswith('ImportError: numpy.core.multiarray failed to import')


# ------------------------------------------------------------- None pairs

@pytest.mark.parametrize('function, argument', [
    (affinekit.transMatrix, None),
    (affinekit.transMatrix, [0, 0, 0]),
    (affinekit.transMatrix, []),
    (affinekit.transMatrix, [-0.0, 0, 0]),
    (affinekit.transMatrix, 5),
    (affinekit.transMatrix, numpy.float64(7.5)),
    (affinekit.transMatrix, [0, 0, 0, 7]),
    (affinekit.transMatrix, numpy.zeros(3)),
    (affinekit.scaleMatrix, None),
    (affinekit.scaleMatrix, [1, 1, 1]),
    (affinekit.scaleMatrix, []),
    (affinekit.scaleMatrix, [1]),
    (affinekit.scaleMatrix, [1, 1, 1, 5]),
    (affinekit.scaleMatrix, 3),
    (affinekit.rotMatrix, None),
    (affinekit.rotMatrix, []),
    (affinekit.rotMatrix, 2),
    (affinekit.rotMatrix, [1, 0, 0]),
    (affinekit.rotMatrix, [0, 0, 0, 0]),
    (affinekit.rotMatrix, [0, 0, 0, -0.0]),
    (affinekit.rotMatrix, [0, 0, 0, FULL_TURN]),
    (affinekit.rotMatrix, [1, 0, 0, -FULL_TURN]),
    (affinekit.rotMatrix, [1, 0, 0, 3 * FULL_TURN]),
    (affinekit.rotMatrix, [0, 1, 0, 1e-310]),
    (affinekit.rotMatrix, [0, 1, 0, -9e-301]),
])
def test_identity_requests_return_the_none_pair(function, argument):
    result = function(argument)
    assert type(result) is tuple and result == (None, None)


# --------------------------------------------------------- exact matrices

@pytest.mark.parametrize('function, argument, forward, inverse', [
    (affinekit.transMatrix, [1], identity_with_row3(1, 0, 0), identity_with_row3(-1, -0.0, -0.0)),
    (affinekit.transMatrix, (1.5, -2, 3), identity_with_row3(1.5, -2, 3),
     identity_with_row3(-1.5, 2, -3)),
    (affinekit.transMatrix, numpy.arange(10.0)[::2], identity_with_row3(0, 2, 4),
     identity_with_row3(-0.0, -2, -4)),
    (affinekit.transMatrix, [NAN], identity_with_row3(NAN, 0, 0), identity_with_row3(NAN, -0.0, -0.0)),
    (affinekit.scaleMatrix, [2], diagonal(2, 1, 1), diagonal(0.5, 1, 1)),
    (affinekit.scaleMatrix, [2, 4, 8, 16], diagonal(2, 4, 8), diagonal(0.5, 0.25, 0.125)),
    (affinekit.scaleMatrix, [0, 1, 1], diagonal(0, 1, 1), diagonal(GUARDED_INVERSE, 1, 1)),
    (affinekit.scaleMatrix, [-0.0, 1, 1], diagonal(-0.0, 1, 1), diagonal(GUARDED_INVERSE, 1, 1)),
    (affinekit.scaleMatrix, [5e-324, 1, 1], diagonal(5e-324, 1, 1), diagonal(INF, 1, 1)),
    (affinekit.scaleMatrix, [-5e-324, 1, 1], diagonal(-5e-324, 1, 1), diagonal(-INF, 1, 1)),
    (affinekit.scaleMatrix, [INF, -INF, NAN], diagonal(INF, -INF, NAN), diagonal(0.0, -0.0, NAN)),
    (affinekit.rotMatrix, [1, 0, 0, 1e-300],
     rows(1, 0, 0, 0, 0, 1, 1e-300, 0, 0, -1e-300, 1, 0, 0, 0, 0, 1),
     rows(1, 0, 0, 0, 0, 1, -1e-300, 0, 0, 1e-300, 1, 0, 0, 0, 0, 1)),
    (affinekit.rotMatrix, [0, 0, 1, 0.5],
     rows(math.cos(0.5), math.sin(0.5), 0, 0, -math.sin(0.5), math.cos(0.5), 0, 0,
          0, 0, 1, 0, 0, 0, 0, 1),
     rows(math.cos(0.5), -math.sin(0.5), 0, 0, math.sin(0.5), math.cos(0.5), 0, 0,
          0, 0, 1, 0, 0, 0, 0, 1)),
])
def test_exact_matrices(function, argument, forward, inverse):
    result = function(argument)
    for matrix, expected in zip(result, (forward, inverse)):
        assert_fresh_matrix(matrix)
        assert_same_values(matrix.ravel(), expected)


def test_zero_scale_guard_value_is_the_rounded_reciprocal():
    assert 1.0 / 1e-300 == GUARDED_INVERSE != 1e300


@pytest.mark.parametrize('argument, same_as', [
    ([0, 0, 2, 0.5], [0, 0, 1, 0.5]),
    ([1, 0, 0, 0.7, 99], [1, 0, 0, 0.7]),
    ((0, 0, 1, 0.5), numpy.array([0, 0, 1, 0.5])),
    # Axes whose squared length leaves the double range are still normalised.
    ([1e-200, 0, 0, 1], [1, 0, 0, 1]),
    ([1e200, 0, 0, 1], [1, 0, 0, 1]),
    ([-1e300, 0, 0, 1], [-1, 0, 0, 1]),
    ([5e-324, 0, 0, 1], [1, 0, 0, 1]),
    ([0, 1e-170, 1e-170, 1], [0, 1, 1, 1]),
    ([2.0 ** 600, -2.0 ** 600, 2.0 ** 600, 2], [2.0 ** -600, -2.0 ** -600, 2.0 ** -600, 2]),
])
def test_rotations_that_equal_others(argument, same_as):
    for matrix, expected in zip(affinekit.rotMatrix(argument), affinekit.rotMatrix(same_as)):
        assert_same_values(matrix.ravel(), expected.ravel())


@pytest.mark.parametrize('huge, ordinary', [
    ([3e200, 4e200, 0, 0.9], [3, 4, 0, 0.9]),
    ([1e300, 1e300, 1e300, 2], [1, 1, 1, 2]),
    ([3e-170, 0, -4e-170, 0.4], [3, 0, -4, 0.4]),
])
def test_out_of_range_axes_normalise_to_their_direction(huge, ordinary):
    for matrix, expected in zip(affinekit.rotMatrix(huge), affinekit.rotMatrix(ordinary)):
        assert matrix.ravel() == pytest.approx(expected.ravel(), rel=0, abs=4e-16)


@pytest.mark.parametrize('argument', [
    [NAN, 0, 1, 1], [0, 0, 1, NAN], [0, 0, 1, INF], [0, 0, 1, -INF], [NAN, 0, 0, 1], [0, 0, NAN, 1],
])
def test_non_finite_rotations_fill_the_linear_block_with_nan(argument):
    for matrix in affinekit.rotMatrix(argument):
        assert numpy.isnan(matrix[:3, :3]).all()
        assert_same_values(matrix[3], [0, 0, 0, 1])
        assert_same_values(matrix[:3, 3], [0, 0, 0])


@given(angle=st.floats(allow_nan=False, allow_infinity=False))
def test_sine_is_odd_and_cosine_even_to_the_bit(angle):
    # One evaluation of each serves the rotation by a and by -a.
    assert_same_values([math.sin(-angle), math.cos(-angle)], [-math.sin(angle), math.cos(angle)])


def test_inverse_rotation_is_the_transpose():
    forward, inverse = affinekit.rotMatrix([0.3, -1.2, 2.5, 0.8])
    assert_same_values(inverse.ravel(), forward.T.ravel())


def test_diagonal_entry_of_rotation_about_z_is_rounded_sum():
    angles = numpy.linspace(-7, 7, 401)
    below_one = 0
    for angle in angles:
        forward, _ = affinekit.rotMatrix([0, 0, 1, angle])
        c = math.cos(angle)
        assert forward[2, 2] == (1.0 - c) + c
        if c >= 0.5:
            assert forward[2, 2] == 1.0
        below_one += forward[2, 2] < 1.0
    # Some c < 0.5 round to one unit in the last place below 1.
    assert below_one > 0


def test_angle_of_full_precision_two_pi_is_a_real_rotation():
    forward, inverse = affinekit.rotMatrix([0, 0, 1, 2 * math.pi])
    assert_same_pair((forward, inverse), oracle.rot_matrix([0, 0, 1, 2 * math.pi]))
    assert forward[0, 1] != 0.0


def test_each_call_returns_fresh_arrays():
    first = affinekit.transMatrix([1, 2, 3])
    second = affinekit.transMatrix([1, 2, 3])
    assert first[0] is not second[0] and first[0] is not first[1]
    first[0][0, 0] = 42.0
    assert second[0][0, 0] == 1.0


# ----------------------------------------------------------------- errors

@pytest.mark.parametrize('function', NATIVE, ids=lambda f: f.__name__)
@pytest.mark.parametrize('call, message', [
    (lambda f: f(), 'function takes exactly 1 argument (0 given)'),
    (lambda f: f(1, 2), 'function takes exactly 1 argument (2 given)'),
    (lambda f: f(vector=[1, 2, 3]), '%s() takes no keyword arguments'),
], ids=['no-argument', 'two-arguments', 'keyword'])
def test_argument_count_errors(function, call, message):
    with pytest.raises(TypeError) as raised:
        call(function)
    assert str(raised.value) == message.replace('%s', function.__name__)


@pytest.mark.parametrize('function', NATIVE, ids=lambda f: f.__name__)
@pytest.mark.parametrize('argument', [
    [[1, 2, 3, 4]], numpy.ones((2, 4)), ['a', 1, 2, 3], [1.0, {}], [1.0, [2.0]],
], ids=['nested-list', '2d-array', 'string', 'dict', 'ragged'])
def test_conversion_errors_pass_through(function, argument):
    """numpy's own exception, as its conversion raises it (a depth error, say)."""
    error, message = conversion_error(argument, 0, 1)
    with pytest.raises(error) as raised:
        function(argument)
    assert type(raised.value) is error and str(raised.value) == message
    if PY2:
        assert conversion_error([[1.0]], 0, 1) == (ValueError, 'object too deep for desired array')


@pytest.mark.parametrize('argument', [
    [0, 0, 0, 1], [-0.0, -0.0, -0.0, 1], [0, 0, 0, 2 * math.pi], (0, 0, 0, NAN), [0, 0, 0, INF],
])
def test_zero_axis_is_refused(argument):
    with pytest.raises(ValueError) as raised:
        affinekit.rotMatrix(argument)
    assert type(raised.value) is ValueError
    assert str(raised.value) == 'Rotation around 0-length vector impossible'


# ------------------------------------------------------- reference counts

# numpy's conversion keeps a descriptor reference on these (see refcounts).
NUMPY_KEEPS_DESCRIPTOR = {'bad item', '2d array'}


def _arguments():
    item = 2.5
    return [
        ('list', [item, 1.0, 0.5, 0.25]),
        ('tuple', (item, 1, 0.5, 0.25)),
        ('array', numpy.array([item, 1.0, 0.5, 0.25])),
        ('int array', numpy.array([3, 1, 2, 2])),
        ('strided', numpy.arange(12.0)[::3]),
        ('none', None),
        ('number', 5.0),
        ('identity', [0.0, 1.0, 0.0, 0.0]),
        ('too deep', [[item]]),
        ('2d array', numpy.ones((2, 4))),
        ('bad item', [item, 'x']),
        ('bad only item', ['x']),
        ('zero axis', [0.0, 0.0, 0.0, 1.0]),
    ]


@pytest.mark.parametrize('function', NATIVE, ids=lambda f: f.__name__)
@pytest.mark.parametrize('label, argument', _arguments(), ids=[a[0] for a in _arguments()])
def test_calls_leave_reference_counts_balanced(refcounts, function, label, argument):
    def call():
        try:
            function(argument)
        except (ValueError, TypeError):
            pass
    items = list(argument) if isinstance(argument, (list, tuple)) else []
    refcounts([argument] + items, call, numpy_keeps_descriptor=label in NUMPY_KEEPS_DESCRIPTOR)


@pytest.mark.parametrize('function', NATIVE, ids=lambda f: f.__name__)
def test_argument_count_errors_leave_reference_counts_balanced(refcounts, function):
    argument = [1.0, 2.0, 3.0, 4.0]

    def call():
        with pytest.raises(TypeError):
            function(argument, argument)
    refcounts([argument], call)


@pytest.mark.parametrize('function', NATIVE, ids=lambda f: f.__name__)
def test_result_arrays_are_owned_by_the_tuple_alone(function):
    result = function([0.5, 2.0, 3.0, 1.0])
    assert sys.getrefcount(result) == 2
    forward, inverse = result
    del result
    assert sys.getrefcount(forward) == 2 and sys.getrefcount(inverse) == 2


# ------------------------------------------------------------- the oracle

SPECIAL_FLOATS = st.sampled_from([0.0, -0.0, NAN, INF, -INF, 5e-324, -5e-324, 2.2250738585072014e-308,
                                  1e-300, 1e-200, 1e200, 1.7976931348623157e308, 1.0, -1.0,
                                  FULL_TURN, -FULL_TURN, 2 * math.pi])
COMPONENTS = st.one_of(st.floats(allow_nan=True, allow_infinity=True), SPECIAL_FLOATS,
                       st.integers(min_value=-2 ** 53, max_value=2 ** 53))
VECTORS = st.lists(COMPONENTS, min_size=0, max_size=5).flatmap(
    lambda values: st.sampled_from([values, tuple(values), numpy.array(values, dtype=numpy.float64)]))


def expected_outcome(oracle_function, argument):
    try:
        return oracle_function(argument), None
    except ValueError as error:
        return None, error


@pytest.mark.parametrize('name', sorted(FUNCTIONS))
@given(argument=VECTORS)
def test_native_agrees_with_oracle(name, argument):
    native, statement = FUNCTIONS[name]
    expected, error = expected_outcome(statement, argument)
    if error is not None:
        with pytest.raises(ValueError) as raised:
            native(argument)
        assert str(raised.value) == str(error)
    else:
        assert_same_pair(native(argument), expected)
