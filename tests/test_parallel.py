"""The README's recipes for more than one core (examples/parallel_cull.py):
one call split over a thread pool, and over the chunks of dask arrays, give
exactly what one call gives."""
import os
import sys

import numpy
import pytest

import planesieve

pytestmark = pytest.mark.skipif(sys.version_info[0] < 3, reason='the recipes are for Python 3')

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'examples'))

CUBE = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1], [0, 0, 1, 1], [0, 0, -1, 1]], float)


def scene(count, seed=2):
    random = numpy.random.RandomState(seed)
    lows = random.uniform(-2, 1.5, (count, 3))
    return lows, lows + random.uniform(0, 1, (count, 3))


@pytest.mark.parametrize('count, workers', [(0, 2), (1, 3), (30001, 2), (30001, 3), (50000, 4)])
def test_threads_give_what_one_call_gives(count, workers):
    from parallel_cull import cull_on_threads
    lows, highs = scene(count)
    for tolerance in (0.0, 0.3):
        expected = planesieve.planeCullBoxes(CUBE, lows, highs, tolerance)
        assert cull_on_threads(CUBE, lows, highs, tolerance, workers).tolist() == expected.tolist()


def test_a_thread_failing_fails_the_call():
    from parallel_cull import cull_on_threads
    lows, highs = scene(100)
    with pytest.raises(TypeError, match='Frustum must be an x\\*4 array'):
        cull_on_threads(CUBE[:, :3], lows, highs)


@pytest.mark.parametrize('count, chunk', [(0, 10), (1000, 1000), (30001, 7000)])
def test_dask_chunks_give_what_one_call_gives(count, chunk):
    dask_array = pytest.importorskip('dask.array')
    from parallel_cull import cull_with_dask
    lows, highs = scene(count)
    chunked = [dask_array.from_array(table, chunks=(chunk, 3)) for table in (lows, highs)]
    verdicts = cull_with_dask(CUBE, chunked[0], chunked[1], 0.1).compute(scheduler='threads')
    assert verdicts.dtype == numpy.intp
    assert verdicts.tolist() == planesieve.planeCullBoxes(CUBE, lows, highs, 0.1).tolist()
