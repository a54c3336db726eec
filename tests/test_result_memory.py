"""Large results (128 KiB and more) take their memory from a small pool of
the blocks of results freed before, so that a repeated call does not
page-fault a fresh block in: they are ordinary arrays whose base is the
block's capsule, no two live results share memory, and a block goes back to
the pool only once its array is gone."""
import gc

import numpy
import pytest

import affinekit
import planesieve

POOLED_BYTES = 128 * 1024
CUBE = numpy.array([[1, 0, 0, 1], [-1, 0, 0, 1], [0, 1, 0, 1], [0, -1, 0, 1], [0, 0, 1, 1], [0, 0, -1, 1]], float)


def address(array):
    return array.__array_interface__['data'][0]


def large_results(rows, seed):
    """Results of every kind of function: the matrix tables are large from
    1000 rows, the boxes from 5462, the verdicts from 16384."""
    random = numpy.random.RandomState(seed)
    translations = random.uniform(-1, 1, (rows, 3))
    lows = random.uniform(-2, 1, (rows, 3))
    highs = lows + 1
    forwards = affinekit.transformMatrices(translations, inverses=False)[0]
    return (affinekit.transMatrices(translations) + affinekit.transformMatrices(translations, scales=highs)
            + affinekit.worldMatrices(numpy.arange(rows) - 1, forwards, forwards)
            + affinekit.transformBoxes(forwards, lows, highs)
            + (planesieve.planeCullBoxes(CUBE, lows, highs * 40),
               planesieve.planeCullMany(CUBE, numpy.stack([lows, highs], axis=1))))


@pytest.mark.parametrize('rows', [2000, 20000])
def test_large_results_are_ordinary_arrays_of_their_own(rows):
    results = large_results(rows, 1)
    for result in results:
        assert type(result) is numpy.ndarray and result.flags['C_CONTIGUOUS'] and result.flags['WRITEABLE']
        if result.nbytes >= POOLED_BYTES:
            assert address(result) % 64 == 0 and type(result.base).__name__ == 'PyCapsule'
        else:
            assert result.base is None
    spans = sorted((address(r), address(r) + r.nbytes) for r in results)
    assert all(end <= start for (_, end), (start, _) in zip(spans, spans[1:]))
    copies = [result.copy() for result in results]
    del results
    gc.collect()
    again = large_results(rows, 1)
    for result, copy in zip(again, copies):
        assert (result.view('u1') == copy.view('u1')).all()


def test_a_repeated_call_reuses_the_block_of_the_result_freed_before():
    translations = numpy.zeros((5000, 3))
    first = affinekit.transMatrices(translations)[0]
    freed = address(first)
    del first
    assert freed in [address(matrices) for matrices in affinekit.transMatrices(translations)]


def test_a_block_is_not_reused_while_its_array_lives():
    kept = []
    for seed in range(12):
        rows = 2000 + 500 * (seed % 3)
        results = large_results(rows, seed)
        kept.append((results, [result.copy() for result in results]))
        if seed % 2:
            del kept[0]  # free some, keep others, so blocks move through the pool
    for results, copies in kept:
        for result, copy in zip(results, copies):
            assert (result.view('u1') == copy.view('u1')).all()


def test_small_results_come_from_numpy_itself():
    forward = affinekit.transMatrices(numpy.zeros((100, 3)))[0]
    assert forward.base is None and forward.flags['OWNDATA']
    verdicts = planesieve.planeCullBoxes(CUBE, numpy.zeros((100, 3)), numpy.ones((100, 3)))
    assert verdicts.base is None and verdicts.flags['OWNDATA']


def test_results_keep_their_memory_however_they_are_let_go():
    """A view outliving its array, a pickle, and a resize all see the values."""
    import pickle
    forward = affinekit.transMatrices(numpy.ones((4000, 3)))[0]
    view = forward[10:20]
    expected = view.copy()
    del forward
    large_results(4000, 3)
    assert (view == expected).all()
    assert (pickle.loads(pickle.dumps(view)) == expected).all()
    assert numpy.resize(view, (2, 4, 4)).shape == (2, 4, 4)
