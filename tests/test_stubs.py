"""The installed type stubs: mypy accepts the typed caller and refuses misuse."""
import os
import subprocess
import sys

import pytest



def numpy_has_types():
    try:
        from numpy.typing import NDArray  # noqa: F401 (numpy 1.21 and later)
    except ImportError:
        return False
    return True


pytestmark = [
    pytest.mark.skipif(sys.version_info[0] < 3, reason='type checking is for Python 3'),
    pytest.mark.skipif(sys.version_info[0] >= 3 and not numpy_has_types(),
                       reason='this numpy carries no type information (numpy.typing.NDArray)'),
]

HERE = os.path.dirname(os.path.abspath(__file__))

MISUSE = '''
import affinekit, numpy, planesieve
affinekit.transMatrix()
affinekit.rotMatrix([0.0, 0.0, 1.0, 0.5], 2)
affinekit.scaleMatrix(vector=[1.0])
planesieve.planeCull([[0.0, 0.0, 1.0, 0.0]])
planesieve.planeCull([[0.0, 0.0, 1.0, 0.0]], [[0.0, 0.0, 0.0]], "wide")
forward, inverse = affinekit.transMatrix([1.0])
forward.dot(inverse)
flag, index = planesieve.planeCull([[0.0, 0.0, 1.0, 0.0]], [[0.0, 0.0, 0.0]])
index + 1
planesieve.planeCullBoxes([[0.0, 0.0, 1.0, 0.0]], [[0.0, 0.0, 0.0]], [[1.0, 1.0, 1.0]], tolerance="wide")
planesieve.planeCullMany([[0.0, 0.0, 1.0, 0.0]], [[[0.0, 0.0, 0.0]]], colour=1)
affinekit.rotMatrices([[0.0, 0.0, 1.0, 0.5]], out=None).shape
affinekit.transformMatrix([1.0], spin=[0.0, 0.0, 1.0, 0.5])
affinekit.worldMatrices([-1], affinekit.transformMatrices([[1.0]])[0])[1].shape
affinekit.transformBoxes(numpy.eye(4), [[0.0, 0.0, 0.0]], [[1.0, 1.0, 1.0]], out=numpy.zeros((1, 3)))
planesieve.frustumPlanes(numpy.eye(4), zeroToOne="yes")
affinekit.transformMatrices([[1.0, 2.0, 3.0]], inverses=False)[1].shape
'''


def mypy(*args):
    process = subprocess.Popen([sys.executable, '-m', 'mypy', '--strict', '--no-incremental'] + list(args),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=HERE)
    out, err = process.communicate()
    return process.returncode, out.decode() + err.decode()


def test_typed_caller_passes():
    code, output = mypy('typed_caller.py')
    assert code == 0, output


def test_misuse_is_reported_line_by_line():
    code, output = mypy('-c', MISUSE)
    assert code == 1
    flagged = sorted({int(line.split(':')[1]) for line in output.splitlines() if ': error:' in line})
    # Lines of MISUSE, counted from 1 (the first is empty): the wrong argument
    # counts, the keyword, the string tolerance, and the uses of a matrix and
    # an index that may be None, the batch functions' wrong keywords, a
    # pair of matrix tables taken for one array, a node's wrong keyword and a
    # world inverse that may be None, one array for transformBoxes' pair and
    # a text for zeroToOne, and the inverse transformMatrices leaves out.
    assert flagged == [3, 4, 5, 6, 7, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19], output
