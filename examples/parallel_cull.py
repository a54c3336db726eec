"""More than one core for one large call: the long calls of both modules
release the GIL, so threads can each take a share of the rows.

    cull_on_threads   one planeCullBoxes call split over a thread pool,
                      each thread filling its share of one result (out=);
    cull_with_dask    the same over the chunks of dask arrays, for scenes
                      kept in chunks (larger than memory, or spread over
                      processes or machines by dask's other schedulers).

Python 3 (concurrent.futures, dask); the README walks through both.
"""
from concurrent.futures import ThreadPoolExecutor

import numpy

import planesieve


def shares(count, workers):
    """workers contiguous slices that cover range(count)."""
    bounds = numpy.linspace(0, count, workers + 1).astype(int)
    return [slice(bounds[k], bounds[k + 1]) for k in range(workers)]


def cull_on_threads(planes, lows, highs, tolerance=0.0, workers=2):
    """planeCullBoxes(planes, lows, highs, tolerance), each of workers threads
    culling a contiguous share of the boxes into its share of the verdicts."""
    verdicts = numpy.empty(len(lows), dtype=numpy.intp)

    def cull(rows):
        planesieve.planeCullBoxes(planes, lows[rows], highs[rows], tolerance, out=verdicts[rows])

    with ThreadPoolExecutor(workers) as pool:
        list(pool.map(cull, shares(len(lows), workers)))  # list(): raise what a thread raised
    return verdicts


def cull_with_dask(planes, lows, highs, tolerance=0.0):
    """The verdicts as a dask array: lows and highs are dask arrays (N, 3)
    chunked along the boxes only, alike. Nothing runs until .compute()."""
    import dask.array

    def cull(low_chunk, high_chunk):
        return planesieve.planeCullBoxes(planes, low_chunk, high_chunk, tolerance)

    return dask.array.map_blocks(cull, lows, highs, drop_axis=1, dtype=numpy.intp)


if __name__ == '__main__':
    import dask.array
    random = numpy.random.RandomState(1)
    lows = random.uniform(-2, 1.5, (10 ** 6, 3))
    highs = lows + random.uniform(0, 1, (10 ** 6, 3))
    cube = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1], [0, 0, 1, 1], [0, 0, -1, 1]], float)
    one = planesieve.planeCullBoxes(cube, lows, highs)
    print((cull_on_threads(cube, lows, highs) == one).all())
    chunked = [dask.array.from_array(table, chunks=(250000, 3)) for table in (lows, highs)]
    print((cull_with_dask(cube, *chunked).compute(scheduler='threads') == one).all())
