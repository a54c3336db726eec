import contextlib
import gc
import os
import struct
import subprocess
import sys

import numpy
import pytest
from hypothesis import HealthCheck, Phase, settings

# The everyday run keeps property tests short, CI runs them longer, and
# HYPOTHESIS_PROFILE=fuzz (make fuzz) runs 10^5 examples per test.
# Both report a failing example as found, without shrinking it: a run must
# end in its time (shrinking an example of the fuzz tests has been seen to run
# on for many minutes), and HYPOTHESIS_PROFILE=shrink shrinks it locally.
NO_SHRINKING = [Phase.explicit, Phase.reuse, Phase.generate]
settings.register_profile('default', max_examples=300, deadline=None, phases=NO_SHRINKING)
settings.register_profile('ci', max_examples=1000, deadline=None, phases=NO_SHRINKING)
settings.register_profile('shrink', max_examples=300, deadline=None)
settings.register_profile('fuzz', max_examples=100000, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
# The build matrix's entries call every function with a few examples each.
settings.register_profile('quick', max_examples=20, deadline=None, phases=NO_SHRINKING)
# The sanitizer runs (make check-memory) look for memory faults on every
# path, which a hundred examples a property reach; their allocator makes
# example generation, the most of a run, several times slower (so slow, on a
# loaded machine, that hypothesis's health check took it for a fault).
settings.register_profile('sanitizer', max_examples=100, deadline=None, phases=NO_SHRINKING,
                          suppress_health_check=[HealthCheck.too_slow])
# Under valgrind everything runs some fifty times slower: a few examples a
# property take every path.
settings.register_profile('valgrind', max_examples=10, deadline=None,
                          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.load_profile(os.environ.get('HYPOTHESIS_PROFILE', 'ci' if os.environ.get('CI') else 'default'))

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from capi import FLOAT64  # noqa: E402


def pytest_configure(config):
    config.addinivalue_line('markers', 'kernels: results go through a kernel; test_kernels.py runs these on every kernel')
    config.addinivalue_line('markers', 'reruns: runs tests again in processes of their own')


def pytest_sessionstart(session):
    # A run against a particular build (sanitizers, valgrind) names its folder,
    # so that an installed copy cannot be tested in its place unnoticed.
    expected = os.environ.get('KESTREL_MODULE_DIR')
    if expected:
        import affinekit
        import planesieve
        for module in (affinekit, planesieve):
            if os.path.dirname(os.path.abspath(module.__file__)) != os.path.abspath(expected):
                raise pytest.UsageError('%s was imported from %s, not %s'
                                        % (module.__name__, module.__file__, expected))
            # A sanitizer run must test an instrumented build (flags that never
            # reached the compiler would leave only the preloaded runtime).
            if os.environ.get('KESTREL_SANITIZED') and '__asan_' not in undefined_symbols(module):
                raise pytest.UsageError('%s is not built with AddressSanitizer' % module.__file__)


def undefined_symbols(module):
    return subprocess.check_output(['nm', '-u', module.__file__]).decode()


PY2 = sys.version_info[0] < 3


def assert_only_export_is_entry_point(module):
    """The library's dynamic symbols: its entry point and nothing else."""
    try:
        output = subprocess.check_output(['nm', '-D', '--defined-only', module.__file__])
    except OSError:
        pytest.skip('nm is not available')
    entries = [line.split() for line in output.decode().splitlines() if line.strip()]
    if os.environ.get('KESTREL_SANITIZED'):
        # The sanitizer build, optimised less, keeps some standard library
        # templates out of line: weak symbols the standard library declares
        # visible. The plain build inlines them and has none.
        entries = [entry for entry in entries if entry[-2] not in ('W', 'V')]
    symbols = [entry[-1] for entry in entries]
    entry_point = ('init' if PY2 else 'PyInit_') + module.__name__
    assert symbols == [entry_point]


def same_double(a, b):
    """Equal to the bit, except that any NaN matches any NaN."""
    if a != a or b != b:
        return a != a and b != b
    return struct.pack('<d', a) == struct.pack('<d', b)


def describe(values):
    return [float.hex(float(v)) for v in values]


def assert_same_values(actual, expected):
    actual = [float(v) for v in actual]
    expected = [float(v) for v in expected]
    assert len(actual) == len(expected)
    assert all(same_double(a, e) for a, e in zip(actual, expected)), (
        describe(actual), describe(expected))


def assert_fresh_matrix(matrix):
    assert type(matrix) is numpy.ndarray
    assert matrix.shape == (4, 4)
    assert matrix.dtype == numpy.float64
    assert matrix.flags['C_CONTIGUOUS'] and matrix.flags['WRITEABLE'] and matrix.flags['OWNDATA']
    assert matrix.base is None


def assert_same_pair(result, expected):
    """result is a native (forward, inverse) pair; expected the oracle's."""
    assert type(result) is tuple and len(result) == 2
    if expected == (None, None):
        assert result == (None, None)
        return
    for matrix, values in zip(result, expected):
        assert_fresh_matrix(matrix)
        assert_same_values(matrix.ravel(), values)


@pytest.fixture
def refcounts():
    """Checks that a callable leaves reference counts as it found them.

    Watches the given objects, None and the float64 descriptor (every live
    float64 array holds a reference to it, so its count also tells whether a
    call left an array behind). numpy 1.16's
    conversion itself keeps one reference to that descriptor when it refuses
    an array that is too deep or a sequence holding a string (numpy.array does
    the same); numpy_keeps_descriptor=True leaves that count out.
    """
    def check(objects, call, numpy_keeps_descriptor=False, repeat=200):
        watched = list(objects) + [None] + ([] if numpy_keeps_descriptor else [FLOAT64])
        call()  # let first-call caches settle
        with no_garbage_collection():
            before = [sys.getrefcount(o) for o in watched]
            for _ in range(repeat):
                call()
            after = [sys.getrefcount(o) for o in watched]
        assert after == before
    return check


def ignoring_refusals(call, *args):
    """A callable that calls call(*args) and lets a TypeError or ValueError
    (an argument refused) pass: reference counts are checked on error paths too."""
    def guarded():
        try:
            call(*args)
        except (TypeError, ValueError):
            pass
    return guarded


@contextlib.contextmanager
def no_garbage_collection(collect_first=True):
    """No collection while reference counts are being compared: garbage freed
    in the meantime (arrays among it) would move them. Collects first unless
    told not to (once per generated example would be slow)."""
    if collect_first:
        gc.collect()
    gc.disable()
    try:
        yield
    finally:
        gc.enable()
