"""Scene-scale culling: planeCullBoxes and planeCullMany (8 corners a box) on
every kernel this CPU supports, in ns per box, against a Python loop of
planeCull over prebuilt corner arrays, the fastest plain numpy formulation,
and a memory floor (every value of lows and highs read once, the result
array written).

    python bench/scene.py [--quick] [--markdown]

The boxes lie around a perspective frustum, about half of them culled.
Each kernel is timed in a process of its own (PLANESIEVE_KERNEL).
"""
from __future__ import division, print_function

import collections
import json
import math

import numpy

import planesieve

from run import best_ns, describe_machine, floor, kernel_options, parse_options, print_rows, run_kernel

SIZES = (10 ** 3, 10 ** 4, 10 ** 6)


def perspective_frustum(fov_y_degrees=60.0, aspect=16.0 / 9.0, near=0.5, far=100.0):
    """The six planes of a camera at the origin looking down -z; each row
    keeps its inner side (value >= 0)."""
    ty = math.tan(math.radians(fov_y_degrees) / 2)
    tx = ty * aspect
    return numpy.array([
        [1.0, 0.0, -tx, 0.0],    # left
        [-1.0, 0.0, -tx, 0.0],   # right
        [0.0, 1.0, -ty, 0.0],    # bottom
        [0.0, -1.0, -ty, 0.0],   # top
        [0.0, 0.0, -1.0, -near],  # near
        [0.0, 0.0, 1.0, far],    # far
    ])


def scene(count, seed=1):
    """Boxes scattered around the frustum, 0.5 to 3 units a side."""
    random = numpy.random.RandomState(seed)
    centres = random.uniform([-70, -40, -110], [70, 40, 5], size=(count, 3))
    half = random.uniform(0.25, 1.5, size=(count, 3))
    return centres - half, centres + half


def corner_tables(lows, highs):
    """(N, 8, 3), C-contiguous as an application keeps its tables: numpy's
    fancy indexing gives a transposed layout, which every call would copy."""
    pick = numpy.array([[x, y, z] for x in (0, 1) for y in (0, 1) for z in (0, 1)])
    both = numpy.stack([lows, highs], axis=1)            # (N, 2, 3)
    return numpy.ascontiguousarray(both[:, pick, [0, 1, 2]])


def numpy_verdicts(planes, lows, highs):
    """The p-vertex test in plain numpy: per plane the corner with the larger
    product term by term, then the first plane it is outside of."""
    normals = planes[:, :3]
    pvertex = numpy.where(normals[None, :, :] >= 0, highs[:, None, :], lows[:, None, :])
    values = numpy.einsum('npk,pk->np', pvertex, normals) + planes[:, 3]
    outside = values < 0
    return numpy.where(outside.any(axis=1), outside.argmax(axis=1), -1)


def loop_verdicts(planes, corners):
    cull = planesieve.planeCull
    return [cull(planes, box) for box in corners]


def kernel_timings(sizes, timing):
    """ns per box of both functions on the kernel this process runs."""
    planes = perspective_frustum()
    results = {}
    for count in sizes:
        lows, highs = scene(count)
        tables = corner_tables(lows, highs)
        results[count] = {
            'boxes': best_ns(planesieve.planeCullBoxes, (planes, lows, highs), **timing) / count,
            'many': best_ns(planesieve.planeCullMany, (planes, tables), **timing) / count,
        }
    return results


def shared_timings(sizes, timing):
    planes = perspective_frustum()
    rows = {}
    for count in sizes:
        lows, highs = scene(count)
        corners = list(corner_tables(lows, highs))
        verdicts = planesieve.planeCullBoxes(planes, lows, highs)
        assert (numpy_verdicts(planes, lows, highs) == verdicts).all()
        slow = dict(timing, repeat=1) if count >= 10 ** 5 else timing
        rows[count] = {
            'culled': (verdicts >= 0).mean(),
            'loop': best_ns(loop_verdicts, (planes, corners), **slow) / count,
            'numpy': best_ns(numpy_verdicts, (planes, lows, highs), **timing) / count,
            'floor': best_ns(floor().floorBoxes, (lows, highs), **timing) / count,
        }
    return rows


def print_table(shared, per_kernel, markdown):
    kernels = list(per_kernel)
    best = kernels[-1]
    header = ['boxes', 'culled', 'loop ns', 'numpy ns', 'floor ns']
    for kernel in kernels:
        header += ['boxes %s ns' % kernel, 'many %s ns' % kernel]
    header += ['loop/boxes', 'numpy/boxes', 'boxes/floor']
    lines = []
    for count, row in sorted(shared.items()):
        line = ['%d' % count, '%.2f' % row['culled'], '%.1f' % row['loop'], '%.1f' % row['numpy'],
                '%.2f' % row['floor']]
        for kernel in kernels:
            line += ['%.2f' % per_kernel[kernel][count]['boxes'], '%.2f' % per_kernel[kernel][count]['many']]
        fastest = per_kernel[best][count]['boxes']
        line += ['%.0f' % (row['loop'] / fastest), '%.0f' % (row['numpy'] / fastest),
                 '%.2f' % (fastest / row['floor'])]
        lines.append(line)
    print_rows(header, lines, markdown, left_columns=0)


def main():
    options = parse_options(__doc__, 'short samples, no 10^6 boxes', kernel_options)
    timing = dict(sample_seconds=options.sample, repeat=options.repeat)
    sizes = SIZES[:2] if options.quick else SIZES
    if options.kernel_only:
        print(json.dumps(kernel_timings(sizes, timing)))
        return
    print(describe_machine())
    print('6 frustum planes; ns per box, best of %d samples; kernels: %s (best: %s)'
          % (options.repeat, ', '.join(planesieve.kernels), planesieve.kernels[-1]))
    print()
    per_kernel = collections.OrderedDict(
        (kernel, run_kernel(__file__, 'PLANESIEVE_KERNEL', kernel, options)) for kernel in planesieve.kernels)
    print_table(shared_timings(sizes, timing), per_kernel, options.markdown)


if __name__ == '__main__':
    main()
