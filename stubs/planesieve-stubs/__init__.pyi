# Type stubs for the native module planesieve. Positional-only parameters are
# spelled with two leading underscores, and Literal comes from
# typing_extensions (a stub is never run), so that the mypy of every supported
# Python 3 reads them.
from typing import Optional, Tuple, Union

from typing_extensions import Literal

import numpy
from numpy.typing import ArrayLike, NDArray

# (1, index of the first plane with every point outside), or (0, None).
CullResult = Union[Tuple[Literal[1], int], Tuple[Literal[0], None]]

def planeCull(__planes: ArrayLike, __points: ArrayLike, __tolerance: float = ...) -> CullResult:
    """planeCull( planes[][4], points[][4] ): frustum culling of points against planes."""

# The kernel in use ("scalar", "sse2", "avx2" or "avx512"), and every kernel
# this CPU supports; PLANESIEVE_KERNEL forces one at import.
kernel: str
kernels: Tuple[str, ...]

# Per box or point table, the first culling plane's index, or -1 (a new
# result of 128 KiB or more has a capsule as its base, which owns its memory).
Verdicts = NDArray[numpy.intp]

def planeCullBoxes(planes: ArrayLike, lows: ArrayLike, highs: ArrayLike, tolerance: float = ...,
                   out: Optional[Verdicts] = ...) -> Verdicts:
    """planeCullBoxes( planes[][4], lows[][3], highs[][3], tolerance=0.0, out=None )."""

def planeCullMany(planes: ArrayLike, pointTables: ArrayLike, tolerance: float = ...,
                  out: Optional[Verdicts] = ...) -> Verdicts:
    """planeCullMany( planes[][4], pointTables[][][3], tolerance=0.0, out=None )."""

# The six planes (6, 4) left, right, bottom, top, near, far of a camera
# matrix in row vectors, each inside where its value is >= 0; normalised, a
# culling tolerance is a distance in world units.
Planes = NDArray[numpy.float64]

def frustumPlanes(matrix: ArrayLike, zeroToOne: bool = ..., normalize: bool = ...,
                  out: Optional[Planes] = ...) -> Planes:
    """frustumPlanes( matrix[4][4], zeroToOne=False, normalize=True, out=None )."""
