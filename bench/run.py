"""Times the native functions side by side with their floor, the plain-Python
statement and (where installed) pyrr, and prints a table of ratios.

    python bench/run.py [--quick] [--markdown]

Each figure is the best of several samples of many calls, in nanoseconds per
call; a sample lasts at least --sample seconds.
"""
from __future__ import division, print_function

import argparse
import json
import math
import os
import platform
import subprocess
import sys
import timeit

import numpy

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'tests'))

import affinekit  # noqa: E402
import oracle  # noqa: E402
import planesieve  # noqa: E402

try:
    import pyrr.matrix44 as pyrr_matrix44
except ImportError:  # a bench-only dependency
    pyrr_matrix44 = None

try:
    import glm  # PyGLM, Python 3 only
except ImportError:
    glm = None

# Built by `make bench` (bench/floor.cpp) and put on the path; a script run
# directly says so rather than fail on the first floor it times.
MAKE_BENCH = ('%s: the benchmark floor module (bench/floor.cpp) is not built; '
              'run `make bench` (or make bench-py2, make bench-py3) from the top folder')


def floor():
    """The floor module, or an exit with one line that says what to run."""
    try:
        import benchfloor
    except ImportError:
        sys.exit(MAKE_BENCH % os.path.basename(sys.argv[0]))
    return benchfloor


try:
    range_ = xrange
except NameError:
    range_ = range


def caller(arity):
    """A loop of calls with the arguments in locals, as cheap as Python allows."""
    names = ', '.join('a%d' % i for i in range(arity))
    source = ('def run(f, %s, n):\n'
              '    for _ in range_(n):\n'
              '        f(%s)\n') % (names, names) if arity else (
        'def run(f, n):\n'
        '    for _ in range_(n):\n'
        '        f()\n')
    scope = {'range_': range_}
    exec(source, scope)
    return scope['run']


def best_ns(function, args, sample_seconds, repeat):
    run = caller(len(args))
    number = 1
    while True:
        start = timeit.default_timer()
        run(function, *(args + (number,)))
        elapsed = timeit.default_timer() - start
        if elapsed >= sample_seconds or number >= 1 << 24:
            break
        number *= 2 if elapsed <= 0 else max(2, min(10, int(sample_seconds / elapsed) + 1))
    samples = [elapsed]
    for _ in range(repeat - 1):
        start = timeit.default_timer()
        run(function, *(args + (number,)))
        samples.append(timeit.default_timer() - start)
    return min(samples) / number * 1e9


# ------------------------------------------------------------ comparisons

def as_arrays(pair):
    if pair[0] is None:
        return pair
    return tuple(numpy.array(values).reshape(4, 4) for values in pair)


def python_statement(statement):
    return lambda argument: as_arrays(statement(argument))


def pyrr_pair(build):
    def pair(argument):
        matrix = build(argument)
        return matrix, numpy.linalg.inv(matrix)
    return pair


def glm_pair(build):
    def pair(argument):
        matrix = build(argument)
        return numpy.array(matrix), numpy.array(glm.inverse(matrix))
    return pair


# Other libraries' nearest equivalents: the matrix and its inverse, as numpy arrays.
OTHERS = []
if pyrr_matrix44 is not None:
    OTHERS.append(('pyrr+inv', {
        'transMatrix': pyrr_pair(lambda v: pyrr_matrix44.create_from_translation(v, dtype=numpy.float64)),
        'scaleMatrix': pyrr_pair(lambda v: pyrr_matrix44.create_from_scale(v, dtype=numpy.float64)),
        'rotMatrix': pyrr_pair(lambda v: pyrr_matrix44.create_from_axis_rotation(
            v[:3], v[3], dtype=numpy.float64)),
    }))
if glm is not None:
    IDENTITY = glm.dmat4(1.0)
    OTHERS.append(('glm+inv', {
        'transMatrix': glm_pair(lambda v: glm.translate(IDENTITY, glm.dvec3(*v))),
        'scaleMatrix': glm_pair(lambda v: glm.scale(IDENTITY, glm.dvec3(*v))),
        'rotMatrix': glm_pair(lambda v: glm.rotate(IDENTITY, float(v[3]), glm.dvec3(*v[:3]))),
    }))


MATRIX_FUNCTIONS = [
    ('transMatrix', affinekit.transMatrix, oracle.trans_matrix, [1.5, -2.0, 3.0]),
    ('scaleMatrix', affinekit.scaleMatrix, oracle.scale_matrix, [2.0, 0.5, 4.0]),
    ('rotMatrix', affinekit.rotMatrix, oracle.rot_matrix, [0.3, -1.2, 2.5, 0.8]),
]


def vector_inputs(values):
    mixed = [int(v) if i % 2 == 0 and v == int(v) else v for i, v in enumerate(values)]
    mixed[0] = int(round(values[0])) or 1
    return [('tuple of floats', tuple(values)),
            ('list of ints and floats', mixed),
            ('1-d float64 array', numpy.array(values))]


CUBE_FRUSTUM = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1],
                            [0, 0, 1, 1], [0, 0, -1, 1]], dtype=float)


def box_corners(low, high):
    return numpy.array([[x, y, z] for x in (low[0], high[0]) for y in (low[1], high[1])
                        for z in (low[2], high[2])], dtype=float)


def cull_inputs(quick):
    inside = box_corners((-0.5, -0.5, -0.5), (0.5, 0.5, 0.5))
    outside = box_corners((-0.5, -0.5, 2), (0.5, 0.5, 3))   # culled by the last plane
    random = numpy.random.RandomState(1)
    cases = [
        ('6 planes, 8 corners, arrays, kept', (CUBE_FRUSTUM, inside), None),
        ('6 planes, 8 corners, arrays, culled', (CUBE_FRUSTUM, outside), None),
        ('6 planes, 8 corners, lists, culled', (CUBE_FRUSTUM.tolist(), outside.tolist()), None),
    ]
    for count in (10 ** 4,) if quick else (10 ** 4, 10 ** 6):
        points = random.uniform(-1, 1, size=(count, 3))
        cases.append(('1 plane x %d points, all outside' % count,
                      (numpy.array([[0.0, 0.0, 1.0, -2.0]]), points), count))
    # Every plane is scanned to its last point, the only one inside it, and
    # the last plane culls: P x Q tests, to show the cost is linear in both.
    points = random.uniform(-1, 1, size=(10 ** 4, 3))
    points[-1] = (0.0, 0.0, 5.0)
    planes = numpy.array([[0.0, 0.0, 1.0, -2.0]] * 7 + [[0.0, 0.0, 1.0, -10.0]])
    cases.append(('8 planes x 10000 points, last point decides', (planes, points), 8 * 10 ** 4))
    return cases


# ------------------------------------------------------------------- run

def ratio(numerator, denominator):
    return '%.2f' % (numerator / denominator) if numerator and denominator else '-'


def ns(value):
    if value is None:
        return '-'
    return '%.0f' % value if value < 1e5 else '%.3g' % value


def measure(options):
    rows = []
    timing = dict(sample_seconds=options.sample, repeat=options.repeat)
    for name, native, statement, values in MATRIX_FUNCTIONS:
        for label, argument in vector_inputs(values):
            native_ns = best_ns(native, (argument,), **timing)
            floor_ns = best_ns(floor().floorPair, (argument,), **timing)
            python_ns = best_ns(python_statement(statement), (argument,), **timing)
            others = [best_ns(functions[name], (argument,), **timing) for _, functions in OTHERS]
            rows.append((name, label, native_ns, floor_ns, python_ns, others, None))
    for label, cull_args, test_count in cull_inputs(options.quick):
        native_ns = best_ns(planesieve.planeCull, cull_args, **timing)
        floor_ns = best_ns(floor().floorCull, cull_args, **timing)
        slow = test_count is not None and test_count > 10 ** 5
        python_ns = None if slow and options.quick else best_ns(
            oracle.plane_cull, cull_args, sample_seconds=0, repeat=1 if slow else options.repeat)
        per_test = native_ns / test_count if test_count else None
        rows.append(('planeCull', label, native_ns, floor_ns, python_ns, [None] * len(OTHERS), per_test))
    return rows


def print_rows(header, lines, markdown, left_columns=1):
    """A table of strings, as Markdown or as aligned text (the first
    left_columns columns to the left, the rest to the right)."""
    if markdown:
        print('| ' + ' | '.join(header) + ' |')
        print('|' + '---|' * len(header))
        for line in lines:
            print('| ' + ' | '.join(line) + ' |')
        return
    widths = [max(len(row[i]) for row in [header] + lines) for i in range(len(header))]
    for row in [header] + lines:
        print('  '.join(cell.ljust(width) if i < left_columns else cell.rjust(width)
                        for i, (cell, width) in enumerate(zip(row, widths))))


def print_table(rows, markdown):
    header = ['function', 'input', 'native ns', 'floor ns', 'native/floor', 'python ns',
              'python/native']
    for other, _ in OTHERS:
        header += ['%s ns' % other, '%s/native' % other.split('+')[0]]
    header.append('ns per test')
    lines = []
    for name, label, native_ns, floor_ns, python_ns, others, per_test in rows:
        line = [name, label, ns(native_ns), ns(floor_ns), ratio(native_ns, floor_ns),
                ns(python_ns), ratio(python_ns, native_ns)]
        for other_ns in others:
            line += [ns(other_ns), ratio(other_ns, native_ns)]
        line.append('%.3f' % per_test if per_test else '-')
        lines.append(line)
    print_rows(header, lines, markdown, left_columns=2)


def describe_machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open('/proc/cpuinfo') as info:
            cpu = next(line.split(':', 1)[1].strip() for line in info if line.startswith('model name'))
    except (IOError, StopIteration):
        pass
    versions = ['Python %s' % platform.python_version(), 'numpy %s' % numpy.__version__]
    if pyrr_matrix44 is not None:
        versions.append('pyrr %s' % sys.modules['pyrr'].__version__)
    if glm is not None:
        versions.append('PyGLM %s' % glm.version.split()[-1])
    return '%s; %s' % (', '.join(versions), cpu)


def kernel_options(parser):
    """The hidden option of a benchmark that times one kernel (run_kernel)."""
    parser.add_argument('--kernel-only', action='store_true', help=argparse.SUPPRESS)


def run_kernel(script, variables, kernel, options):
    """The timings script prints with --kernel-only, in a process of its own
    whose kernel the variable (or each of a tuple of them) forces (a kernel
    is chosen once, at import)."""
    variables = (variables,) if isinstance(variables, str) else variables
    command = [sys.executable, os.path.abspath(script), '--kernel-only', '--sample', str(options.sample),
               '--repeat', str(options.repeat)] + (['--quick'] if options.quick else [])
    output = subprocess.check_output(command, env=dict(os.environ, **dict((v, kernel) for v in variables)))
    return {int(count): row for count, row in json.loads(output.decode()).items()}


def parse_options(description, quick_help, extra=None):
    """The options every benchmark takes; extra(parser) may add its own."""
    parser = argparse.ArgumentParser(description=description.split('\n\n')[0])
    parser.add_argument('--quick', action='store_true', help=quick_help)
    parser.add_argument('--markdown', action='store_true', help='print a Markdown table')
    parser.add_argument('--sample', type=float, default=None, help='seconds per sample')
    parser.add_argument('--repeat', type=int, default=None, help='samples per figure')
    if extra is not None:
        extra(parser)
    options = parser.parse_args()
    floor()
    options.sample = options.sample or (0.02 if options.quick else 0.1)
    options.repeat = options.repeat or (3 if options.quick else 7)
    return options


def main():
    options = parse_options(__doc__, 'short samples, no 10^6 table')
    print(describe_machine())
    print('best of %d samples of >= %gs; ns per call, loop included' % (options.repeat, options.sample))
    empty_ns = best_ns(lambda: None, (), options.sample, options.repeat)
    print('an empty Python call in the same loop: %.0f ns' % empty_ns)
    print()
    print_table(measure(options), options.markdown)


if __name__ == '__main__':
    main()
