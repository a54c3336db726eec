"""The whole frame of a scene: transformMatrices (translation, rotation,
scale; the forward matrices alone, which is all culling needs) -> worldMatrices (a random hierarchy at most 8 deep) ->
transformBoxes (each node's local box into world space) -> frustumPlanes
(view . perspective projection) -> planeCullBoxes, in ns per node, on every
kernel (each in a process of its own), with out= buffers reused from frame
to frame and without; against (a) the best numpy formulation (our table
functions, matmul, the hierarchy level by level, einsum bounds,
planeCullBoxes) and (b) a Python loop over the nodes with the single
functions and numpy.dot, as a scene library does today.

    python bench/frame.py [--quick] [--markdown]
"""
from __future__ import division, print_function

import collections
import functools
import json

import numpy

import affinekit
import planesieve
from nodes import TRS, hierarchy, node_fields
from run import best_ns, describe_machine, kernel_options, parse_options, print_rows, run_kernel

SIZES = (10 ** 3, 10 ** 4, 10 ** 5)
# The Python loop takes some 40 us a node: timed up to this many nodes.
LOOP_LIMIT = 10 ** 4
FORCING = ('AFFINEKIT_KERNEL', 'PLANESIEVE_KERNEL')
STAGES = ('nodes', 'world', 'boxes', 'planes', 'cull')


def perspective(near, far, aspect=1.5, focal=2.0):
    """A symmetric OpenGL perspective projection in row vectors, looking down -z."""
    depth = far - near
    return numpy.array([[focal / aspect, 0, 0, 0], [0, focal, 0, 0],
                        [0, 0, -(far + near) / depth, -1], [0, 0, -2 * far * near / depth, 0]])


def scene(count, seed=4):
    """Fields, parents and local boxes of count nodes, and a camera that sees
    part of the scene."""
    fields = node_fields(count, seed)
    parents, bounds = hierarchy(count, seed)
    random = numpy.random.RandomState(seed + 1)
    lows = random.uniform(-1.0, 0.0, size=(count, 3))
    highs = lows + random.uniform(0.1, 1.0, size=(count, 3))
    view = affinekit.transformMatrix(translation=(0.0, 0.0, -30.0), rotation=(0.0, 1.0, 0.0, 0.4))[0]
    camera = view.dot(perspective(0.5, 60.0))
    return fields, parents, bounds, lows, highs, camera


class Buffers(object):
    """out= buffers an application keeps from frame to frame."""
    def __init__(self, count):
        self.nodes = numpy.empty((count, 4, 4)), None
        self.world = numpy.empty((count, 4, 4)), None
        self.boxes = numpy.empty((count, 3)), numpy.empty((count, 3))
        self.planes = numpy.empty((6, 4))
        self.verdicts = numpy.empty(count, dtype=numpy.intp)


def stage_calls(data, buffers):
    """One callable a stage, each taking the previous stages' results from a
    dict; buffers None for new results every call."""
    fields, parents, _, lows, highs, camera = data
    trs = [fields[name] for name in TRS]
    out = (lambda name: getattr(buffers, name)) if buffers is not None else (lambda name: None)
    return collections.OrderedDict([
        ('nodes', lambda r: r.__setitem__('nodes', affinekit.transformMatrices(*trs, out=out('nodes'),
                                                                                inverses=False))),
        ('world', lambda r: r.__setitem__('world', affinekit.worldMatrices(parents, r['nodes'][0],
                                                                            out=out('world')))),
        ('boxes', lambda r: r.__setitem__('boxes', affinekit.transformBoxes(r['world'][0], lows, highs,
                                                                             out=out('boxes')))),
        ('planes', lambda r: r.__setitem__('planes', planesieve.frustumPlanes(camera, out=out('planes')))),
        ('cull', lambda r: r.__setitem__('cull', planesieve.planeCullBoxes(r['planes'], r['boxes'][0],
                                                                            r['boxes'][1], out=out('verdicts')))),
    ])


def frame(data, buffers=None):
    results = {}
    for call in stage_calls(data, buffers).values():
        call(results)
    return results['cull']


def time_stages(data, buffers, timing):
    """ns a call of each stage (the previous ones' results made once) and of the whole frame."""
    results = {}
    calls = stage_calls(data, buffers)
    row = {}
    for name, call in calls.items():
        row[name] = best_ns(call, (results,), **timing)
    row['frame'] = best_ns(frame, (data, buffers), **timing)
    return row


def kernel_timings(sizes, timing):
    rows = {}
    for count in sizes:
        data = scene(count)
        reused = time_stages(data, Buffers(count), timing)
        fresh = time_stages(data, None, timing)
        row = dict((name, value / count) for name, value in reused.items())
        row['fresh'] = fresh['frame'] / count
        rows[count] = row
    return rows


# ------------------------------------------------------------ (a) numpy

def numpy_world(parents, bounds, forwards):
    world = forwards.copy()
    for level in range(1, len(bounds) - 1):
        rows = slice(bounds[level], bounds[level + 1])
        world[rows] = numpy.matmul(forwards[rows], world[parents[rows]])
    return world


# Corner k of a box takes x from lows (0) or highs (1) by bit 2 of k, y by bit 1, z by bit 0.
CORNER_SIDES = numpy.array([[(k >> 2) & 1, (k >> 1) & 1, k & 1] for k in range(8)])


def numpy_boxes(world, lows, highs):
    """The 8 corners of each box through its matrix (einsum), then their
    bounds, folded corner by corner (a reduction over the short middle axis
    takes five times as long)."""
    sides = numpy.stack([lows, highs], axis=1)
    corners = sides[:, CORNER_SIDES, numpy.arange(3)]
    moved = (numpy.einsum('nci,nij->ncj', corners, world[:, :3, :3], optimize=True)
             + world[:, None, 3, :3]).transpose(1, 0, 2)
    return functools.reduce(numpy.minimum, moved), functools.reduce(numpy.maximum, moved)


def numpy_planes(camera):
    c = camera.T
    planes = numpy.array([c[3] + c[0], c[3] - c[0], c[3] + c[1], c[3] - c[1], c[3] + c[2], c[3] - c[2]])
    return planes / numpy.linalg.norm(planes[:, :3], axis=1)[:, None]


def numpy_stage_calls(data):
    fields, parents, bounds, lows, highs, camera = data

    def nodes(r):
        t = affinekit.transMatrices(fields['translations'])[0]
        rot = affinekit.rotMatrices(fields['rotations'])[0]
        s = affinekit.scaleMatrices(fields['scales'])[0]
        r['nodes'] = numpy.matmul(numpy.matmul(s, rot), t)
    return collections.OrderedDict([
        ('nodes', nodes),
        ('world', lambda r: r.__setitem__('world', numpy_world(parents, bounds, r['nodes']))),
        ('boxes', lambda r: r.__setitem__('boxes', numpy_boxes(r['world'], lows, highs))),
        ('planes', lambda r: r.__setitem__('planes', numpy_planes(camera))),
        ('cull', lambda r: r.__setitem__('cull', planesieve.planeCullBoxes(r['planes'], *r['boxes']))),
    ])


# ------------------------------------------------------- (b) Python loop

def python_frame(data):
    """Node by node, as a scene library walks its graph today."""
    fields, parents, _, lows, highs, camera = data
    planes = numpy_planes(camera)
    world = [None] * len(parents)
    verdicts = []
    for n, parent in enumerate(parents):
        t = affinekit.transMatrix(fields['translations'][n])[0]
        r = affinekit.rotMatrix(fields['rotations'][n])[0]
        s = affinekit.scaleMatrix(fields['scales'][n])[0]
        local = numpy.dot(numpy.dot(s, r), t)
        world[n] = local if parent < 0 else numpy.dot(local, world[parent])
        low, high = lows[n], highs[n]
        corners = numpy.array([[x, y, z, 1.0] for x in (low[0], high[0]) for y in (low[1], high[1])
                               for z in (low[2], high[2])])
        moved = numpy.dot(corners, world[n])[:, :3]
        box = numpy.array([moved.min(axis=0), moved.max(axis=0)])
        flag, index = planesieve.planeCull(planes, [[x, y, z] for x in box[:, 0] for y in box[:, 1]
                                                     for z in box[:, 2]])
        verdicts.append(index if flag else -1)
    return verdicts


def same_verdicts(verdicts, expected):
    """The same verdicts but for a few boxes on a plane's edge: einsum and
    numpy's norm sum in an order of their own, so a box may round the other way."""
    return sum(a != b for a, b in zip(verdicts, expected)) <= len(expected) // 1000


def reference_timings(sizes, timing):
    rows = {}
    for count in sizes:
        data = scene(count)
        # Every formulation gives the same verdicts.
        expected = frame(data).tolist()
        slow = dict(timing, repeat=1) if count >= 10 ** 5 else timing
        calls = numpy_stage_calls(data)
        results = {}
        row = {}
        for name, call in calls.items():
            row[name] = best_ns(call, (results,), **slow) / count
        assert same_verdicts(results['cull'].tolist(), expected)
        row['frame'] = sum(row[name] for name in STAGES)
        if count <= LOOP_LIMIT:
            assert same_verdicts(python_frame(data), expected)
            row['python'] = best_ns(python_frame, (data,), **dict(timing, repeat=1)) / count
        rows[count] = row
    return rows


def visible_share(count):
    return (frame(scene(count)) < 0).mean()


def print_table(reference, per_kernel, markdown):
    kernels = list(per_kernel)
    best = kernels[-1]
    header = ['stage', 'nodes', 'numpy ns'] + ['%s ns' % kernel for kernel in kernels] + ['numpy/%s' % best]
    lines = []
    labels = [('nodes', 'transformMatrices T R S'), ('world', 'worldMatrices'), ('boxes', 'transformBoxes'),
              ('planes', 'frustumPlanes'), ('cull', 'planeCullBoxes'), ('frame', 'whole frame, out= reused'),
              ('fresh', 'whole frame, new results')]
    for key, label in labels:
        for count in sorted(reference):
            numpy_ns = reference[count]['frame' if key == 'fresh' else key]
            lines.append([label, '%d' % count, '%.1f' % numpy_ns]
                         + ['%.1f' % per_kernel[kernel][count][key] for kernel in kernels]
                         + ['%.1f' % (numpy_ns / per_kernel[best][count][key])])
    print_rows(header, lines, markdown)
    print()
    header = ['nodes', 'Python loop ns', '%s frame ns' % best, 'loop/%s' % best]
    lines = [['%d' % count, '%.0f' % reference[count]['python'], '%.1f' % per_kernel[best][count]['frame'],
              '%.0f' % (reference[count]['python'] / per_kernel[best][count]['frame'])]
             for count in sorted(reference) if 'python' in reference[count]]
    print_rows(header, lines, markdown)


def main():
    options = parse_options(__doc__, 'short samples, no 10^5 nodes', kernel_options)
    timing = dict(sample_seconds=options.sample, repeat=options.repeat)
    sizes = SIZES[:2] if options.quick else SIZES
    if options.kernel_only:
        print(json.dumps(kernel_timings(sizes, timing)))
        return
    print(describe_machine())
    print('ns per node, best of %d samples; a stage timed alone takes the previous stages\' results as made '
          'once; %.0f%% of the nodes visible; kernels: %s (best: %s)'
          % (options.repeat, 100 * visible_share(sizes[-1]), ', '.join(affinekit.kernels), affinekit.kernels[-1]))
    print()
    per_kernel = collections.OrderedDict(
        (kernel, run_kernel(__file__, FORCING, kernel, options)) for kernel in affinekit.kernels)
    print_table(reference_timings(sizes, timing), per_kernel, options.markdown)


if __name__ == '__main__':
    main()
