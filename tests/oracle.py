"""Plain-Python statement of what the native modules compute.

Used as the differential oracle of the tests: every product and sum is a
Python float operation, rounded on its own exactly as the native code rounds
it, so results can be compared bit for bit. numpy is used only where the
native code uses it: to convert an argument to doubles.

Matrices are lists of 16 floats, row after row, in the row-vector layout
(a point is the row (x, y, z, 1) on the left; translation in row 3).
"""
import math

import numpy

NONE_PAIR = (None, None)

ZERO_SCALE_GUARD = 1e-300
FULL_TURN = 6.2831853071796
NO_ROTATION_THRESHOLD = 1e-300
ZERO_LENGTH_AXIS = "Rotation around 0-length vector impossible"
PLANE_WIDTH_ERROR = 'Frustum must be an x*4 array, second dimension was %d'
POINT_WIDTH_ERROR = 'Points must be an x*3 or x*4 array, second dimension was %d'


class TooDeep(ValueError):
    """Stands for numpy's refusal of a nested sequence deeper than allowed."""


def converted(obj, max_depth):
    """The double array numpy's contiguous conversion yields for obj."""
    array = numpy.array(obj, dtype=numpy.float64)
    if array.ndim > max_depth:
        raise TooDeep("object too deep for desired array")
    return array


def read_vector(obj, defaults):
    """The components a function reads from its one argument; None for None."""
    if obj is None:
        return None
    array = converted(obj, 1)
    components = list(defaults)
    if array.ndim == 1:
        for i, value in enumerate(array[:len(defaults)]):
            components[i] = float(value)
    return components


def _nan_if_raises(function, value):
    # Python's math module refuses infinities where C's libm returns NaN.
    try:
        return function(value)
    except ValueError:
        return float('nan')


# ------------------------------------------------------------- affinekit

def trans_matrix_values(x, y, z):
    return [1.0, 0.0, 0.0, 0.0,
            0.0, 1.0, 0.0, 0.0,
            0.0, 0.0, 1.0, 0.0,
            x, y, z, 1.0]


def trans_matrix(obj):
    v = read_vector(obj, (0.0, 0.0, 0.0))
    if v is None:
        return NONE_PAIR
    x, y, z = v
    if x == 0 and y == 0 and z == 0:
        return NONE_PAIR
    return trans_matrix_values(x, y, z), trans_matrix_values(-x, -y, -z)


def scale_matrix_values(x, y, z):
    return [x, 0.0, 0.0, 0.0,
            0.0, y, 0.0, 0.0,
            0.0, 0.0, z, 0.0,
            0.0, 0.0, 0.0, 1.0]


def inverted_factor(factor):
    return 1.0 / (ZERO_SCALE_GUARD if factor == 0 else factor)


def scale_matrix(obj):
    v = read_vector(obj, (1.0, 1.0, 1.0))
    if v is None:
        return NONE_PAIR
    x, y, z = v
    if x == 1 and y == 1 and z == 1:
        return NONE_PAIR
    return (scale_matrix_values(x, y, z),
            scale_matrix_values(*[inverted_factor(f) for f in v]))


def rot_matrix_values(x, y, z, a):
    c = _nan_if_raises(math.cos, a)
    s = _nan_if_raises(math.sin, a)
    t = 1.0 - c
    return [t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0.0,
            t * x * y - s * z, t * y * y + c, t * y * z + s * x, 0.0,
            t * x * z + s * y, t * y * z - s * x, t * z * z + c, 0.0,
            0.0, 0.0, 0.0, 1.0]


def _is_finite(value):
    return not (math.isinf(value) or math.isnan(value))


def range_exponent(x, y, z):
    """The power of two a vector is scaled by before its length is taken: for a
    finite, non-zero vector whose squared length is not a normal double, the
    one that brings its largest component into [0.5, 1); else 0 (none)."""
    squared = x * x + y * y + z * z
    out_of_range = squared == 0 or abs(squared) < 2.2250738585072014e-308 or math.isinf(squared)
    largest = max(abs(x), abs(y), abs(z))
    if out_of_range and all(_is_finite(c) for c in (x, y, z)) and largest != 0:
        return -math.frexp(largest)[1]
    return 0


def ldexp(value, exponent):
    """C's ldexp: an overflow is an infinity, not an exception."""
    try:
        return math.ldexp(value, exponent)
    except OverflowError:
        return math.copysign(float('inf'), value)


def normalised_axis(x, y, z):
    """The unit axis, or None for an axis of length zero.

    The axis is first scaled by range_exponent's power of two; every other
    axis goes through the plain formula.
    """
    exponent = range_exponent(x, y, z)
    x, y, z = [ldexp(c, exponent) for c in (x, y, z)]
    length = math.sqrt(x * x + y * y + z * z)
    if length == 0:
        return None
    return x / length, y / length, z / length


def rot_matrix(obj):
    v = read_vector(obj, (0.0, 1.0, 0.0, 0.0))
    if v is None:
        return NONE_PAIR
    x, y, z, a = v
    if abs(_nan_if_raises(lambda angle: math.fmod(angle, FULL_TURN), a)) < NO_ROTATION_THRESHOLD:
        return NONE_PAIR
    axis = normalised_axis(x, y, z)
    if axis is None:
        raise ValueError(ZERO_LENGTH_AXIS)
    return rot_matrix_values(axis[0], axis[1], axis[2], a), rot_matrix_values(axis[0], axis[1], axis[2], -a)


# ------------------------------------------------------------ planesieve

def plane_value(plane, point):
    a, b, c, d = plane
    x, y, z = point[:3]
    return ((a * x + b * y) + c * z) + d


def plane_cull(planes, points, tolerance=0.0):
    """(1, i) for the first plane i with every point outside it, else (0, None)."""
    plane_table = converted(planes, 2)
    point_table = converted(points, 2)
    if plane_table.shape[1] != 4:
        raise TypeError(PLANE_WIDTH_ERROR % plane_table.shape[1])
    if not 3 <= point_table.shape[1] <= 4:
        raise TypeError(POINT_WIDTH_ERROR % point_table.shape[1])
    plane_rows = [[float(v) for v in row] for row in plane_table]
    point_rows = [[float(v) for v in row] for row in point_table]
    for i, plane in enumerate(plane_rows):
        if not any(plane_value(plane, point) >= -tolerance for point in point_rows):
            return 1, i
    return 0, None


def box_corners(low, high):
    """The 8 corners of the box with the given lowest and highest corners."""
    return [[x, y, z] for x in (low[0], high[0]) for y in (low[1], high[1]) for z in (low[2], high[2])]


def verdict(cull_result):
    """planeCull's (1, i) as i, and (0, None) as -1."""
    return cull_result[1] if cull_result[0] else -1


def plane_cull_boxes(planes, lows, highs, tolerance=0.0):
    """Per box, the verdict of plane_cull on its 8 corners."""
    low_table, high_table = converted(lows, 2), converted(highs, 2)
    return [verdict(plane_cull(planes, box_corners(low, high), tolerance))
            for low, high in zip(low_table.tolist(), high_table.tolist())]


def plane_cull_many(planes, point_tables, tolerance=0.0):
    """Per point table, the verdict of plane_cull."""
    return [verdict(plane_cull(planes, points, tolerance)) for points in converted(point_tables, 3)]


# ------------------------------------------------------ nodes and worlds

IDENTITY_VALUES = trans_matrix_values(0.0, 0.0, 0.0)


def mat_mul(a, b):
    """a . b in row vectors, each entry summed in index order, never fused."""
    return [((a[4 * i] * b[j] + a[4 * i + 1] * b[4 + j]) + a[4 * i + 2] * b[8 + j]) + a[4 * i + 3] * b[12 + j]
            for i in range(4) for j in range(4)]


def chain(factors):
    """The left-to-right product of the factors (at least one)."""
    product = factors[0]
    for factor in factors[1:]:
        product = mat_mul(product, factor)
    return product


def transform_matrix(translation=None, rotation=None, scale=None, scaleOrientation=None, center=None):
    """forward = C' O' S O R C T, inverse = T' C' R' O' S' O C, each factor
    the single function's pair, those it gives (None, None) for left out."""
    def pair(statement, obj, name):
        try:
            return statement(obj)
        except ValueError as error:
            if str(error) == ZERO_LENGTH_AXIS:
                raise ValueError('%s (%s)' % (ZERO_LENGTH_AXIS, name))
            raise
    t, ti = trans_matrix(translation)
    r, ri = pair(rot_matrix, rotation, 'rotation')
    s, si = scale_matrix(scale)
    o, oi = pair(rot_matrix, scaleOrientation, 'scaleOrientation')
    c, ci = trans_matrix(center)
    forward = [f for f in (ci, oi, s, o, r, c, t) if f is not None]
    inverse = [f for f in (ti, ci, ri, oi, si, o, c) if f is not None]
    if not forward:
        return NONE_PAIR
    return chain(forward), chain(inverse)


def world_matrices(parents, forwards, inverses=None):
    """world[n] = forwards[n] . world[parents[n]], worldInverse[n] =
    worldInverse[parents[n]] . inverses[n]; roots (-1) as given. Matrices are
    lists of 16 floats; worldInverse is None when inverses is."""
    world, world_inverse = [], []
    for n, parent in enumerate(parents):
        world.append(list(forwards[n]) if parent < 0 else mat_mul(forwards[n], world[parent]))
        if inverses is not None:
            world_inverse.append(list(inverses[n]) if parent < 0 else mat_mul(world_inverse[parent], inverses[n]))
    return world, (world_inverse if inverses is not None else None)


# ------------------------------------------------ world boxes and the camera

NAN = float('nan')


def transform_boxes(matrices, lows, highs):
    """Per box and coordinate j, the smallest and the largest over its 8
    corners (x, y, z) of ((x*M[0][j] + y*M[1][j]) + z*M[2][j]) + M[3][j],
    corners whose value is NaN left out, NaN when all 8 are. matrices is one
    list of 16 floats for every box, or a list of them, one a box; rows of
    lows and highs have 3 or 4 values, the first three read."""
    one_for_all = not isinstance(matrices[0], list) if matrices else True
    world_lows, world_highs = [], []
    for n, (low, high) in enumerate(zip(lows, highs)):
        m = matrices if one_for_all else matrices[n]
        least, most = [], []
        for j in range(3):
            values = [((x * m[j] + y * m[4 + j]) + z * m[8 + j]) + m[12 + j] for x, y, z in box_corners(low, high)]
            values = [v for v in values if v == v]
            least.append(min(values) if values else NAN)
            most.append(max(values) if values else NAN)
        world_lows.append(least)
        world_highs.append(most)
    return world_lows, world_highs


def normalized_plane(plane):
    """The plane divided by sqrt((a*a + b*b) + c*c), all four values scaled
    first by range_exponent's power of two; a plane whose a, b, c are all
    zero as it is."""
    a, b, c, d = plane
    if a == 0 and b == 0 and c == 0:
        return list(plane)
    exponent = range_exponent(a, b, c)
    a, b, c, d = [ldexp(v, exponent) for v in (a, b, c, d)]
    length = math.sqrt((a * a + b * b) + c * c)
    return [v / length for v in (a, b, c, d)]


def frustum_planes(m, zero_to_one=False, normalize=True):
    """Left, right, bottom, top, near, far of the camera matrix m (16 floats,
    row vectors): with c_k its k-th column, c3 + c0, c3 - c0, c3 + c1,
    c3 - c1, c3 + c2 (c2 with zero_to_one), c3 - c2."""
    c0, c1, c2, c3 = [[m[4 * i + k] for i in range(4)] for k in range(4)]
    planes = [[w + v for w, v in zip(c3, c0)], [w - v for w, v in zip(c3, c0)],
              [w + v for w, v in zip(c3, c1)], [w - v for w, v in zip(c3, c1)],
              list(c2) if zero_to_one else [w + v for w, v in zip(c3, c2)], [w - v for w, v in zip(c3, c2)]]
    return [normalized_plane(p) for p in planes] if normalize else planes
