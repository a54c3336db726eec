"""Tables of transforms: transMatrices, scaleMatrices and rotMatrices against
a Python loop of the single call that copies each pair into a preallocated
buffer (as a caller must without them), the fastest plain numpy
formulation, and a floor (the two (N, 4, 4) arrays made and every entry
written, with one sin and one cos per row for rotations). In ns per row.

    python bench/tables.py [--quick] [--markdown]
"""
from __future__ import division, print_function

import numpy

import affinekit
from run import best_ns, floor, describe_machine, parse_options, print_rows

SIZES = (10 ** 2, 10 ** 4, 10 ** 6)


def random_table(count, width, seed=2):
    random = numpy.random.RandomState(seed)
    table = random.uniform(-2.0, 2.0, size=(count, width))
    if width == 4:
        table[:, 3] = random.uniform(0.1, 3.0, size=count)
    return table


def loop_into_buffers(single, table, forward, inverse):
    for n, row in enumerate(table):
        pair = single(row)
        forward[n] = pair[0]
        inverse[n] = pair[1]


def identity_tables(count):
    tables = numpy.zeros((2, count, 4, 4))
    tables[:, :, [0, 1, 2, 3], [0, 1, 2, 3]] = 1.0
    return tables[0], tables[1]


def numpy_translations(table):
    forward, inverse = identity_tables(len(table))
    forward[:, 3, :3] = table[:, :3]
    inverse[:, 3, :3] = -table[:, :3]
    return forward, inverse


def numpy_scales(table):
    forward, inverse = identity_tables(len(table))
    diagonal = [0, 1, 2]
    forward[:, diagonal, diagonal] = table[:, :3]
    inverse[:, diagonal, diagonal] = 1.0 / numpy.where(table[:, :3] == 0, 1e-300, table[:, :3])
    return forward, inverse


def numpy_rotations(table):
    axis = table[:, :3] / numpy.sqrt((table[:, :3] ** 2).sum(axis=1))[:, None]
    x, y, z = axis.T
    c, s = numpy.cos(table[:, 3]), numpy.sin(table[:, 3])
    t = 1.0 - c
    forward, _ = identity_tables(len(table))
    forward[:, 0, :3] = numpy.stack([t * x * x + c, t * x * y + s * z, t * x * z - s * y], axis=1)
    forward[:, 1, :3] = numpy.stack([t * x * y - s * z, t * y * y + c, t * y * z + s * x], axis=1)
    forward[:, 2, :3] = numpy.stack([t * x * z + s * y, t * y * z - s * x, t * z * z + c], axis=1)
    return forward, numpy.ascontiguousarray(forward.transpose(0, 2, 1))


FUNCTIONS = [
    ('transMatrices', affinekit.transMatrices, affinekit.transMatrix, numpy_translations, 3, False),
    ('scaleMatrices', affinekit.scaleMatrices, affinekit.scaleMatrix, numpy_scales, 3, False),
    ('rotMatrices', affinekit.rotMatrices, affinekit.rotMatrix, numpy_rotations, 4, True),
]


def measure(options):
    timing = dict(sample_seconds=options.sample, repeat=options.repeat)
    rows = []
    for name, table_function, single, formulation, width, sin_cos in FUNCTIONS:
        for count in SIZES[:2] if options.quick else SIZES:
            table = random_table(count, width)
            out = (numpy.empty((count, 4, 4)), numpy.empty((count, 4, 4)))
            slow = dict(timing, repeat=1) if count >= 10 ** 5 else timing
            native = best_ns(table_function, (table,), **timing) / count
            reused = best_ns(lambda t: table_function(t, out=out), (table,), **timing) / count
            floor_ns = best_ns(floor().floorTables, (table, sin_cos), **timing) / count
            loop = best_ns(loop_into_buffers, (single, table, out[0], out[1]), **slow) / count
            formulated = best_ns(formulation, (table,), **timing) / count
            rows.append([name, '%d' % count, '%.1f' % native, '%.1f' % reused, '%.1f' % floor_ns,
                         '%.0f' % loop, '%.1f' % formulated, '%.2f' % (native / floor_ns),
                         '%.0f' % (loop / native), '%.1f' % (formulated / native)])
    return rows


HEADER = ['function', 'rows', 'native ns', 'out= ns', 'floor ns', 'loop ns', 'numpy ns', 'native/floor',
          'loop/native', 'numpy/native']


def main():
    options = parse_options(__doc__, 'short samples, no 10^6 rows')
    print(describe_machine())
    print('ns per row, best of %d samples; out= reuses one pair of buffers' % options.repeat)
    print()
    print_rows(HEADER, measure(options), options.markdown)


if __name__ == '__main__':
    main()
