"""Eight interpreter threads calling every function at once see what one thread sees."""
import contextlib
import os
import sys
import threading

import numpy

import affinekit
import planesieve
from planesieve import planeCull, planeCullBoxes, planeCullMany
from test_fast_paths import outcome

NAN = float('nan')
CUBE = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1],
                    [0, 0, 1, 1], [0, 0, -1, 1]], dtype=float)
# Enough boxes that the scans let other threads run meanwhile.
RANDOM = numpy.random.RandomState(3)
LOWS = RANDOM.uniform(-2, 1.5, size=(4000, 3))
HIGHS = LOWS + RANDOM.uniform(0, 1, size=(4000, 3))
TABLES = numpy.stack([LOWS, HIGHS, numpy.minimum(LOWS, HIGHS)], axis=1)
# Node tables just long enough to let other threads run (1000 rows).
NODE_ROWS = 1200
SPINS = numpy.hstack([HIGHS, LOWS[:, :1]])[:NODE_ROWS]
PARENTS = numpy.arange(NODE_ROWS) // 2 - 1
NODES = affinekit.transformMatrices(LOWS[:NODE_ROWS], SPINS, HIGHS[:NODE_ROWS])
CALLS = [
    (affinekit.transMatrix, ([1.5, -2.0, 3.0],)),
    (affinekit.transMatrix, (numpy.array([NAN, 0.0, 1.0]),)),
    (affinekit.transMatrix, ([[1.0]],)),
    (affinekit.scaleMatrix, ((0.0, 2, -0.0),)),
    (affinekit.scaleMatrix, (None,)),
    (affinekit.rotMatrix, ([0.3, -1.2, 2.5, 0.8],)),
    (affinekit.rotMatrix, (numpy.array([1e-200, 0.0, 0.0, 1.0]),)),
    (affinekit.rotMatrix, ([0.0, 0.0, 0.0, 1.0],)),
    (affinekit.rotMatrix, ()),
    (planeCull, (CUBE, [[0.0, 0.0, 2.0], [0.5, 0.5, 3.0]])),
    (planeCull, (CUBE.tolist(), numpy.zeros((8, 3)))),
    (planeCull, (CUBE, numpy.zeros((8, 2)))),
    (planeCull, (CUBE, [[0.0, 0.0, 1.2]], 0.25)),
    (planeCullBoxes, (CUBE, LOWS, HIGHS)),
    (planeCullBoxes, (CUBE, LOWS[:5].tolist(), HIGHS[:5], 0.25)),
    (planeCullBoxes, (CUBE, LOWS, HIGHS[:3])),
    (planeCullMany, (CUBE, TABLES)),
    (affinekit.transMatrices, (LOWS,)),
    (affinekit.scaleMatrices, (HIGHS[:3].tolist(),)),
    (affinekit.rotMatrices, (TABLES.reshape(-1, 4)[:2000],)),
    (affinekit.rotMatrices, ([[0.0, 0.0, 1.0, 1.0], [0.0, 0.0, 0.0, 1.0]],)),
    (affinekit.transformMatrix, ([1.5, -2.0, 3.0], [0.3, -1.2, 2.5, 0.8], (2, 2, 2), None, [1, 1, 1])),
    (affinekit.transformMatrices, (LOWS[:NODE_ROWS], SPINS, HIGHS[:NODE_ROWS], SPINS, LOWS[:NODE_ROWS])),
    (affinekit.worldMatrices, (PARENTS, NODES[0], NODES[1])),
    (affinekit.worldMatrices, (PARENTS[::-1], NODES[0])),
    (affinekit.transformBoxes, (NODES[0], LOWS[:NODE_ROWS], HIGHS[:NODE_ROWS])),
    (affinekit.transformBoxes, (NODES[1][0], LOWS[:NODE_ROWS], HIGHS[:NODE_ROWS])),
    (planesieve.frustumPlanes, (NODES[0][7],)),
]
THREADS = 8
# Fewer under valgrind (make check-valgrind), where every round is some
# fifty times slower.
ROUNDS = int(os.environ.get('KESTREL_THREAD_ROUNDS', '300'))


@contextlib.contextmanager
def frequent_thread_switches():
    """Switch interpreter threads as often as the interpreter allows."""
    if hasattr(sys, 'setswitchinterval'):
        previous = sys.getswitchinterval()
        sys.setswitchinterval(1e-6)
        restore = sys.setswitchinterval
    else:
        previous = sys.getcheckinterval()
        sys.setcheckinterval(1)
        restore = sys.setcheckinterval
    try:
        yield
    finally:
        restore(previous)


def run_all():
    return [outcome(function, *args) for function, args in CALLS]


def test_threads_see_the_serial_results():
    expected = run_all()
    start = threading.Event()
    results = [None] * THREADS

    def worker(index):
        start.wait()
        seen = []
        for _ in range(ROUNDS):
            seen.append(run_all())
        results[index] = seen

    with frequent_thread_switches():
        threads = [threading.Thread(target=worker, args=(i,)) for i in range(THREADS)]
        for thread in threads:
            thread.start()
        start.set()
        for thread in threads:
            thread.join()
    for seen in results:
        assert seen is not None and len(seen) == ROUNDS
        assert all(round_ == expected for round_ in seen)
