"""Scene nodes: transformMatrices (translation, rotation and scale; and all
five fields) and worldMatrices (a random hierarchy at most 8 deep, with
inverses) against the fastest numpy formulation (our table functions and
numpy.matmul; the hierarchy level by level, one matmul per level's rows),
on every kernel, each in a process of its own. In ns per node, out= buffers
reused.

    python bench/nodes.py [--quick] [--markdown]
"""
from __future__ import division, print_function

import collections
import json

import numpy

import affinekit
from run import best_ns, describe_machine, kernel_options, parse_options, print_rows, run_kernel

SIZES = (10 ** 2, 10 ** 4, 10 ** 6)
DEPTH = 8


def node_fields(count, seed=4):
    random = numpy.random.RandomState(seed)
    rotations = random.uniform(-1.0, 1.0, size=(count, 4))
    rotations[:, 3] = random.uniform(0.1, 3.0, size=count)
    return {
        'translations': random.uniform(-10.0, 10.0, size=(count, 3)),
        'rotations': rotations,
        'scales': random.uniform(0.5, 2.0, size=(count, 3)),
        'scaleOrientations': rotations[::-1].copy(),
        'centers': random.uniform(-1.0, 1.0, size=(count, 3)),
    }


def hierarchy(count, seed=4):
    """Parents of count nodes in DEPTH levels of contiguous rows, each node's
    parent a random node of the level before, so parents[n] < n."""
    random = numpy.random.RandomState(seed)
    bounds = numpy.linspace(0, count, DEPTH + 1).astype(int)
    parents = numpy.full(count, -1, dtype=numpy.intp)
    for level in range(1, DEPTH):
        start, end = bounds[level], bounds[level + 1]
        previous = bounds[level - 1], bounds[level]
        if end > start and previous[1] > previous[0]:
            parents[start:end] = random.randint(previous[0], previous[1], size=end - start)
    return parents, bounds


TRS = ('translations', 'rotations', 'scales')
ALL_FIELDS = ('translations', 'rotations', 'scales', 'scaleOrientations', 'centers')


def numpy_nodes(fields, names):
    """Our table functions for the factors, numpy.matmul for the chains."""
    t = affinekit.transMatrices(fields['translations'])
    r = affinekit.rotMatrices(fields['rotations'])
    s = affinekit.scaleMatrices(fields['scales'])
    if names == TRS:
        return numpy.matmul(numpy.matmul(s[0], r[0]), t[0]), numpy.matmul(numpy.matmul(t[1], r[1]), s[1])
    o = affinekit.rotMatrices(fields['scaleOrientations'])
    c = affinekit.transMatrices(fields['centers'])
    forward = c[1]
    for factor in (o[1], s[0], o[0], r[0], c[0], t[0]):
        forward = numpy.matmul(forward, factor)
    inverse = t[1]
    for factor in (c[1], r[1], o[1], s[1], o[0], c[0]):
        inverse = numpy.matmul(inverse, factor)
    return forward, inverse


def numpy_world(parents, bounds, forwards, inverses):
    world, world_inverse = forwards.copy(), inverses.copy()
    for level in range(1, DEPTH):
        rows = slice(bounds[level], bounds[level + 1])
        world[rows] = numpy.matmul(forwards[rows], world[parents[rows]])
        world_inverse[rows] = numpy.matmul(world_inverse[parents[rows]], inverses[rows])
    return world, world_inverse


def kernel_timings(sizes, timing):
    """ns per node of each function on the kernel this process runs."""
    results = {}
    for count in sizes:
        fields = node_fields(count)
        parents, _ = hierarchy(count)
        out = (numpy.empty((count, 4, 4)), numpy.empty((count, 4, 4)))
        world_out = (numpy.empty((count, 4, 4)), numpy.empty((count, 4, 4)))
        forwards, inverses = affinekit.transformMatrices(*[fields[name] for name in TRS])
        results[count] = {
            'trs': best_ns(lambda: affinekit.transformMatrices(*[fields[n] for n in TRS], out=out), (), **timing),
            'all': best_ns(lambda: affinekit.transformMatrices(*[fields[n] for n in ALL_FIELDS], out=out), (),
                           **timing),
            'world': best_ns(lambda: affinekit.worldMatrices(parents, forwards, inverses, out=world_out), (),
                             **timing),
        }
        results[count] = dict((key, value / count) for key, value in results[count].items())
    return results


def numpy_timings(sizes, timing):
    rows = {}
    for count in sizes:
        fields = node_fields(count)
        parents, bounds = hierarchy(count)
        forwards, inverses = affinekit.transformMatrices(*[fields[name] for name in TRS])
        # The formulations give the same matrices (to rounding: matmul may sum otherwise).
        assert numpy.allclose(numpy_nodes(fields, TRS)[0], forwards)
        assert numpy.allclose(numpy_world(parents, bounds, forwards, inverses)[0],
                              affinekit.worldMatrices(parents, forwards, inverses)[0])
        slow = dict(timing, repeat=1) if count >= 10 ** 5 else timing
        rows[count] = {
            'trs': best_ns(numpy_nodes, (fields, TRS), **slow) / count,
            'all': best_ns(numpy_nodes, (fields, ALL_FIELDS), **slow) / count,
            'world': best_ns(numpy_world, (parents, bounds, forwards, inverses), **slow) / count,
        }
    return rows


LABELS = collections.OrderedDict([
    ('trs', 'transformMatrices T R S'), ('all', 'transformMatrices all five'),
    ('world', 'worldMatrices, inverses, depth 8')])


def print_table(formulated, per_kernel, markdown):
    kernels = list(per_kernel)
    header = ['function', 'nodes', 'numpy ns'] + ['%s ns' % kernel for kernel in kernels] + ['numpy/%s' % kernels[-1]]
    lines = []
    for key, label in LABELS.items():
        for count in sorted(formulated):
            best = per_kernel[kernels[-1]][count][key]
            lines.append([label, '%d' % count, '%.1f' % formulated[count][key]]
                         + ['%.1f' % per_kernel[kernel][count][key] for kernel in kernels]
                         + ['%.1f' % (formulated[count][key] / best)])
    print_rows(header, lines, markdown)


def main():
    options = parse_options(__doc__, 'short samples, no 10^6 nodes', kernel_options)
    timing = dict(sample_seconds=options.sample, repeat=options.repeat)
    sizes = SIZES[:2] if options.quick else SIZES
    if options.kernel_only:
        print(json.dumps(kernel_timings(sizes, timing)))
        return
    print(describe_machine())
    print('ns per node, best of %d samples, out= buffers reused; kernels: %s (best: %s)'
          % (options.repeat, ', '.join(affinekit.kernels), affinekit.kernels[-1]))
    print()
    per_kernel = collections.OrderedDict(
        (kernel, run_kernel(__file__, 'AFFINEKIT_KERNEL', kernel, options)) for kernel in affinekit.kernels)
    print_table(numpy_timings(sizes, timing), per_kernel, options.markdown)


if __name__ == '__main__':
    main()
