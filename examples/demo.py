"""Shows the native modules at work: python examples/demo.py"""
from __future__ import print_function

import math

import numpy

import affinekit


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
