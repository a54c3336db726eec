"""More than one core: one planeCullBoxes call over 10^7 boxes, against the
same call split over two threads (the README's recipe, each thread filling
its share of one result) and over dask's threaded scheduler (ten chunks),
on every kernel, each in a process of its own. In ns per box
and as the speed-up over one thread.

    python bench/parallel.py [--quick] [--markdown]
"""
from __future__ import division, print_function

import collections
import json
import os
import sys
import threading

import numpy

import planesieve
from run import best_ns, describe_machine, kernel_options, parse_options, print_rows, run_kernel

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'examples'))

COUNT = 10 ** 7
QUICK_COUNT = 10 ** 6
WORKERS = 2
CHUNKS = 10
CUBE = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1], [0, 0, 1, 1], [0, 0, -1, 1]], float)


def scene(count):
    random = numpy.random.RandomState(5)
    lows = random.uniform(-2, 1.5, (count, 3))
    return lows, lows + random.uniform(0, 1, (count, 3))


def on_threads(lows, highs, out):
    """The thread split with threading alone (Python 2 has no concurrent.futures)."""
    bounds = numpy.linspace(0, len(lows), WORKERS + 1).astype(int)
    parts = [slice(bounds[k], bounds[k + 1]) for k in range(WORKERS)]
    threads = [threading.Thread(target=planesieve.planeCullBoxes,
                                args=(CUBE, lows[part], highs[part]), kwargs={'out': out[part]}) for part in parts]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def kernel_timings(count, timing):
    lows, highs = scene(count)
    out = numpy.empty(count, dtype=numpy.intp)
    expected = planesieve.planeCullBoxes(CUBE, lows, highs)
    row = {'one': best_ns(lambda: planesieve.planeCullBoxes(CUBE, lows, highs, out=out), (), **timing)}
    row['threads'] = best_ns(on_threads, (lows, highs, out), **timing)
    assert (out == expected).all()
    if sys.version_info[0] >= 3:
        import dask.array
        from parallel_cull import cull_on_threads, cull_with_dask
        row['pool'] = best_ns(cull_on_threads, (CUBE, lows, highs, 0.0, WORKERS), **timing)
        chunked = [dask.array.from_array(table, chunks=(count // CHUNKS, 3)) for table in (lows, highs)]
        verdicts = cull_with_dask(CUBE, *chunked)
        assert (verdicts.compute(scheduler='threads', num_workers=WORKERS) == expected).all()
        row['dask'] = best_ns(lambda: verdicts.compute(scheduler='threads', num_workers=WORKERS), (), **timing)
    return dict((key, value / count) for key, value in row.items())


LABELS = collections.OrderedDict([
    ('one', 'one call, one thread'), ('threads', 'two threads (threading)'),
    ('pool', 'two threads (README recipe, concurrent.futures)'), ('dask', 'dask, threaded scheduler, 2 workers')])


def main():
    options = parse_options(__doc__, '10^6 boxes, short samples', kernel_options)
    timing = dict(sample_seconds=options.sample, repeat=options.repeat)
    count = QUICK_COUNT if options.quick else COUNT
    if options.kernel_only:
        print(json.dumps({count: kernel_timings(count, timing)}))
        return
    print(describe_machine())
    print('%d boxes, 6 planes; ns per box, best of %d samples; speed-up over one thread in parentheses'
          % (count, options.repeat))
    print()
    per_kernel = collections.OrderedDict(
        (kernel, run_kernel(__file__, 'PLANESIEVE_KERNEL', kernel, options)[count]) for kernel in planesieve.kernels)
    header = ['way'] + ['%s ns' % kernel for kernel in per_kernel]
    lines = []
    for key, label in LABELS.items():
        if all(key in row for row in per_kernel.values()):
            lines.append([label] + ['%.2f (%.2fx)' % (row[key], row['one'] / row[key]) for row in per_kernel.values()])
    print_rows(header, lines, options.markdown)


if __name__ == '__main__':
    main()
