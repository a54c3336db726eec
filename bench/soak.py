"""Soak: 10^6 calls of each function over its success and error paths, with
the resident memory before and after. A leak of one object per call would
show as tens of megabytes.

    python bench/soak.py [--calls N]
"""
from __future__ import print_function

import argparse
import gc
import timeit

import numpy

try:
    range_ = xrange  # a list of 10^6 ints would itself grow the resident size
except NameError:
    range_ = range

import affinekit
import planesieve

NAN = float('nan')
CUBE = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1],
                    [0, 0, 1, 1], [0, 0, -1, 1]], dtype=float)


class Refuses(object):
    def __float__(self):
        raise ArithmeticError('refused')


VECTORS = [
    [1.5, -2.0, 3.0, 0.5], (0.0, 0.0, 1.0, 2.0), numpy.array([0.3, -1.2, 2.5, 0.8]),
    numpy.arange(8.0)[::2], [1, 2, 3, 4], [True, 0.5, 1, 1], None, [], 5.0, [0.0, 0.0, 0.0, 0.0],
    [NAN, 1.0, 0.0, 1.0], [[1.0, 2.0]], ['x'], [Refuses()], [0.0, 0.0, 0.0, 1.0], numpy.ones((2, 4)),
]
TABLES = [
    (CUBE, [[0.0, 0.0, 2.0], [0.5, 0.5, 3.0]]), (CUBE.tolist(), numpy.zeros((8, 3))),
    (CUBE[::2], numpy.zeros((8, 4))), (numpy.zeros((0, 4)), numpy.zeros((0, 3))),
    (CUBE, numpy.zeros((8, 2))), (numpy.zeros((6, 3)), numpy.zeros((8, 3))),
    ([1.0, 0.0], numpy.zeros((8, 3))), (CUBE, [[0.0, 'x', 1.0]]), (CUBE,),
]


LOWS = numpy.random.RandomState(2).uniform(-2, 1.5, size=(64, 3))
HIGHS = LOWS + 0.5
OUT = numpy.zeros(64, dtype=numpy.intp)
BOXES = [
    (CUBE, LOWS, HIGHS), (CUBE.tolist(), LOWS[:3].tolist(), HIGHS[:3].tolist(), 0.5),
    (CUBE, LOWS, HIGHS, 0.0, OUT), (CUBE, LOWS, HIGHS, 0.0, OUT[:3]), (CUBE, LOWS, HIGHS[:3]),
    (CUBE, LOWS[:, :2], HIGHS), (CUBE, LOWS, HIGHS, NAN), (CUBE, LOWS),
]
POINT_TABLES = [
    (CUBE, numpy.stack([LOWS, HIGHS], axis=1)), (CUBE, numpy.zeros((64, 8, 3)), 0.0, OUT),
    (CUBE, numpy.zeros((2, 8, 2))), (CUBE, numpy.zeros((8, 3))), (CUBE, [[[0.0, 'x', 1.0]]]),
]


MATRIX_OUT = (numpy.zeros((64, 4, 4)), numpy.zeros((64, 4, 4)))
MATRIX_TABLES = [
    (numpy.hstack([LOWS, HIGHS[:, :1]]),), (LOWS[:3].tolist(),), (LOWS, MATRIX_OUT), (LOWS[:3], MATRIX_OUT),
    (numpy.zeros((2, 4)),), (None,), ([1.0, 2.0],), ([['x']],), (LOWS, (MATRIX_OUT[0], MATRIX_OUT[0])),
    (numpy.tile(LOWS, (32, 1)),),
]


SPINS = numpy.hstack([HIGHS, LOWS[:, :1]])
NODE_FIELDS = [
    ([1.5, -2.0, 3.0], [0.0, 0.0, 1.0, 0.5], [2.0, 2.0, 2.0], [1.0, 0.0, 0.0, 0.3], [1.0, 1.0, 1.0]),
    (), (None, None, 5.0), (LOWS[0], SPINS[0]), (None, [0.0, 0.0, 0.0, 1.0]), (None, None, None, None, 'x'),
    ([[1.0]],), (1, 2, 3, 4, 5, 6),
]
NODE_TABLES = [
    (LOWS, SPINS, HIGHS, SPINS, LOWS), (LOWS[:3].tolist(), None, HIGHS[:3]), (LOWS, None, None, None, None, MATRIX_OUT),
    (), (LOWS, SPINS[:3]), (None, [[0.0, 0.0, 0.0, 1.0]]), (None, None, [['x']]), (LOWS, None, None, None, None, None),
]
NODES = affinekit.transformMatrices(LOWS, SPINS, HIGHS)
PARENTS = numpy.arange(64) // 2 - 1
WORLDS = [
    (PARENTS, NODES[0], NODES[1]), (PARENTS.tolist(), NODES[0]), (PARENTS, NODES[0], NODES[1], MATRIX_OUT),
    (PARENTS[::-1], NODES[0]), (PARENTS, NODES[0][:, :3]), (PARENTS.astype(float), NODES[0]),
    (PARENTS, NODES[0], NODES[1][:3]), (PARENTS, NODES[0], None, MATRIX_OUT),
]

# Large enough (128 KiB and more) that results come from the pool of freed blocks.
BIG_LOWS = numpy.tile(LOWS, (32, 1))
BIG_NODES = affinekit.transformMatrices(BIG_LOWS, inverses=False)[0]
BOX_OUT = (numpy.zeros((64, 3)), numpy.zeros((64, 3)))
BOX_TRANSFORMS = [
    (NODES[0], LOWS, HIGHS), (NODES[0][0].tolist(), LOWS[:3].tolist(), HIGHS[:3]), (NODES[0], LOWS, HIGHS, BOX_OUT),
    (BIG_NODES, BIG_LOWS, BIG_LOWS + 1), (NODES[0][:3], LOWS, HIGHS), ([['x']], LOWS, HIGHS),
    (NODES[0], LOWS[:, :2], HIGHS), (NODES[0], LOWS, HIGHS, (BOX_OUT[0], BOX_OUT[0])),
]
PLANE_OUT = numpy.zeros((6, 4))
CAMERAS = [
    (NODES[0][0],), (NODES[0][1].tolist(), True, False), (NODES[0][2], 0, 1, PLANE_OUT), (NODES[0],),
    ([['x'] * 4] * 4,), (None,), (NODES[0][3], False, True, PLANE_OUT[:5]),
]


def resident_kib():
    with open('/proc/self/status') as status:
        for line in status:
            if line.startswith('VmRSS:'):
                return int(line.split()[1])
    return 0


def soak(function, argument_lists, calls):
    failures = 0
    count = len(argument_lists)
    for i in range_(calls):
        try:
            function(*argument_lists[i % count])
        except (TypeError, ValueError, ArithmeticError):
            failures += 1
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--calls', type=int, default=10 ** 6)
    calls = parser.parse_args().calls
    plans = [(affinekit.transMatrix, [(v,) for v in VECTORS] + [(), (1, 2)]),
             (affinekit.scaleMatrix, [(v,) for v in VECTORS]),
             (affinekit.rotMatrix, [(v,) for v in VECTORS]),
             (planesieve.planeCull, TABLES + [(CUBE, CUBE[:, :3], 0.5), (CUBE, CUBE, NAN)]),
             (planesieve.planeCullBoxes, BOXES), (planesieve.planeCullMany, POINT_TABLES),
             (affinekit.transMatrices, MATRIX_TABLES), (affinekit.scaleMatrices, MATRIX_TABLES),
             (affinekit.rotMatrices, MATRIX_TABLES), (affinekit.transformMatrix, NODE_FIELDS),
             (affinekit.transformMatrices, NODE_TABLES), (affinekit.worldMatrices, WORLDS),
             (affinekit.transformBoxes, BOX_TRANSFORMS), (planesieve.frustumPlanes, CAMERAS)]
    for function, argument_lists in plans:  # warm every path and cache first
        soak(function, argument_lists, 10 * len(argument_lists))
    gc.collect()
    start_kib = resident_kib()
    print('resident at start: %d KiB' % start_kib)
    for function, argument_lists in plans:
        before = resident_kib()
        began = timeit.default_timer()
        failures = soak(function, argument_lists, calls)
        seconds = timeit.default_timer() - began
        gc.collect()
        print('%-17s %8d calls (%7d raised) in %5.1f s: resident %d -> %d KiB (%+d KiB)' % (
            function.__name__, calls, failures, seconds, before, resident_kib(),
            resident_kib() - before))
    print('resident at end: %d KiB (%+d KiB in all)' % (resident_kib(), resident_kib() - start_kib))


if __name__ == '__main__':
    main()
