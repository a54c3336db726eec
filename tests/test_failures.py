"""A result array that cannot be made: MemoryError, and nothing left held."""
import sys

import pytest

import affinekit
from conftest import no_garbage_collection
from capi import FLOAT64, failing_array_creation

MESSAGE = 'Could not create new matrix object'
ARGUMENTS = {
    affinekit.transMatrix: [1.0, 2.0, 3.0],
    affinekit.scaleMatrix: (2.0, 0.0, 4.0),
    affinekit.rotMatrix: [0.0, 0.0, 1.0, 0.5],
}


@pytest.mark.parametrize('function', sorted(ARGUMENTS, key=lambda f: f.__name__),
                         ids=lambda f: f.__name__)
@pytest.mark.parametrize('failing_call', [0, 1], ids=['forward', 'inverse'])
def test_failed_array_creation_raises_memory_error_and_releases_the_forward_matrix(
        function, failing_call):
    argument = ARGUMENTS[function]
    function(argument)
    with no_garbage_collection():
        before = sys.getrefcount(FLOAT64), sys.getrefcount(argument)
        for _ in range(50):
            with failing_array_creation({failing_call}) as calls:
                with pytest.raises(MemoryError) as raised:
                    function(argument)
            assert type(raised.value) is MemoryError and str(raised.value) == MESSAGE
            # The inverse is not asked for once the forward matrix failed.
            assert calls == list(range(failing_call + 1))
        # A forward matrix left behind would hold a reference to the descriptor.
        assert (sys.getrefcount(FLOAT64), sys.getrefcount(argument)) == before


def test_calls_work_again_after_a_failure():
    with failing_array_creation({0}):
        with pytest.raises(MemoryError):
            affinekit.transMatrix([1.0])
    forward, inverse = affinekit.transMatrix([1.0])
    assert forward[3, 0] == 1.0 and inverse[3, 0] == -1.0
