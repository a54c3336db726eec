"""Shows the native modules at work: python examples/demo.py"""
from __future__ import print_function

import math

import numpy

import affinekit
import planesieve


def show(title, pair):
    print(title)
    if pair[0] is None:
        print('  (None, None): the identity\n')
        return
    for label, matrix in zip(('forward', 'inverse'), pair):
        print('  %s:' % label)
        for row in matrix:
            print('    ' + '  '.join('%10.4g' % value for value in row))
    print()


numpy.set_printoptions(suppress=True)
show('transMatrix((1.5, -2, 3))', affinekit.transMatrix((1.5, -2, 3)))
show('scaleMatrix([2, 4, 0])', affinekit.scaleMatrix([2, 4, 0]))
show('rotMatrix([0, 0, 1, pi / 2])', affinekit.rotMatrix([0, 0, 1, math.pi / 2]))
show('rotMatrix([0, 0, 1, 0])', affinekit.rotMatrix([0, 0, 1, 0]))

forward, inverse = affinekit.transMatrix([1, 2, 3])
point = numpy.array([10.0, 20.0, 30.0, 1.0])
print('point', point[:3], '-> translated', point.dot(forward)[:3],
      '-> back', point.dot(forward).dot(inverse)[:3])

frustum = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1],      # x >= -1, x <= 1
                       [0, 1, 0, 1], [0, -1, 0, 1],      # y >= -1, y <= 1
                       [0, 0, 1, 1], [0, 0, -1, 1]])     # z >= -1, z <= 1


def corners(low, high):
    return [[x, y, z] for x in (low[0], high[0]) for y in (low[1], high[1])
            for z in (low[2], high[2])]


print()
for low, high in [((-0.5, -0.5, -0.5), (0.5, 0.5, 0.5)), ((-0.5, -4, 2), (0.5, -3, 3))]:
    print('planeCull(cube frustum, box %s..%s) ->' % (low, high),
          planesieve.planeCull(frustum, corners(low, high)))

lows = numpy.array([[-0.5, -0.5, -0.5], [-0.5, -4, 2], [1.1, 0, 0]])
highs = numpy.array([[0.5, 0.5, 0.5], [0.5, -3, 3], [1.2, 0.5, 0.5]])
print()
print('planeCullBoxes(cube frustum, 3 boxes) ->', planesieve.planeCullBoxes(frustum, lows, highs),
      '(kernel %s of %s)' % (planesieve.kernel, ', '.join(planesieve.kernels)))
forward, inverse = affinekit.rotMatrices([[0, 0, 1, math.pi / 2], [1, 0, 0, 0], [0, 1, 0, math.pi]])
print('rotMatrices(3 rows) -> two arrays of shape', forward.shape, '; row 1 is the identity:',
      bool((forward[1] == numpy.eye(4)).all()))

# A body, an arm on it and a hand on the arm: node transforms, then world matrices.
forwards, inverses = affinekit.transformMatrices(
    translations=[[0, 0, -5], [2, 0, 0], [0, 1, 0]], rotations=[[0, 1, 0, 0.5], [0, 0, 1, 0], [1, 0, 0, 0]],
    scales=[[1, 1, 1], [0.5, 0.5, 0.5], [1, 1, 1]])
world, worldInverse = affinekit.worldMatrices([-1, 0, 1], forwards, inverses)
print("worldMatrices(3 nodes) -> the hand's origin in the world:",
      numpy.array([0.0, 0.0, 0.0, 1.0]).dot(world[2]).round(6), '(kernel %s)' % affinekit.kernel)
