# Type stubs for the native module affinekit. Positional-only parameters are
# spelled with two leading underscores, so that the mypy of every supported
# Python 3 reads them.
from typing import Optional, Tuple, Union, overload

from typing_extensions import Literal

import numpy
from numpy.typing import ArrayLike, NDArray

# A new (4, 4) float64 array, row-vector layout: a point is the row
# (x, y, z, 1) on the left; the translation sits in row 3.
Matrix = NDArray[numpy.float64]

# (forward, inverse), or (None, None) when the transform is the identity.
MatrixPair = Union[Tuple[Matrix, Matrix], Tuple[None, None]]

def transMatrix(__vector: Optional[ArrayLike]) -> MatrixPair:
    """transMatrix( [x,y,z] ): translation matrix and its inverse."""

def scaleMatrix(__vector: Optional[ArrayLike]) -> MatrixPair:
    """scaleMatrix( [x,y,z] ): scale matrix and its inverse."""

def rotMatrix(__vector: Optional[ArrayLike]) -> MatrixPair:
    """rotMatrix( [x,y,z,a] ): rotation by a radians about the axis, and its inverse."""

# Two new (or the given) C-contiguous (N, 4, 4) float64 arrays: matrix n is
# what the single function gives for row n, the identity for (None, None).
# A new result of 128 KiB or more (here and for every table function) has a
# capsule as its base, which owns its memory and hands it to a later result
# once the array is gone.
MatrixTables = Tuple[NDArray[numpy.float64], NDArray[numpy.float64]]

def transMatrices(table: ArrayLike, out: Optional[MatrixTables] = ...) -> MatrixTables:
    """transMatrices( table[][3], out=None ): translation matrices and their inverses."""

def scaleMatrices(table: ArrayLike, out: Optional[MatrixTables] = ...) -> MatrixTables:
    """scaleMatrices( table[][3], out=None ): scale matrices and their inverses."""

def rotMatrices(table: ArrayLike, out: Optional[MatrixTables] = ...) -> MatrixTables:
    """rotMatrices( table[][4], out=None ): rotation matrices and their inverses."""

def transformMatrix(
    translation: Optional[ArrayLike] = ...,
    rotation: Optional[ArrayLike] = ...,
    scale: Optional[ArrayLike] = ...,
    scaleOrientation: Optional[ArrayLike] = ...,
    center: Optional[ArrayLike] = ...,
) -> MatrixPair:
    """transformMatrix( translation, rotation, scale, scaleOrientation, center ): a scene node's
    transform C' O' S O R C T and its inverse T' C' R' O' S' O C, in row vectors."""

@overload
def transformMatrices(
    translations: Optional[ArrayLike] = ...,
    rotations: Optional[ArrayLike] = ...,
    scales: Optional[ArrayLike] = ...,
    scaleOrientations: Optional[ArrayLike] = ...,
    centers: Optional[ArrayLike] = ...,
    out: Optional[MatrixTables] = ...,
    inverses: Literal[True] = ...,
) -> MatrixTables:
    """transformMatrices( translations, ..., out=None, inverses=True ): transformMatrix for each row
    of the tables."""

# With inverses=False, the forward matrices alone: (forward, None).
@overload
def transformMatrices(
    translations: Optional[ArrayLike] = ...,
    rotations: Optional[ArrayLike] = ...,
    scales: Optional[ArrayLike] = ...,
    scaleOrientations: Optional[ArrayLike] = ...,
    centers: Optional[ArrayLike] = ...,
    out: Optional[Tuple[NDArray[numpy.float64], None]] = ...,
    *,
    inverses: Literal[False],
) -> Tuple[NDArray[numpy.float64], None]: ...

# (world, worldInverse); worldInverse is None when no inverses are given.
WorldTables = Tuple[NDArray[numpy.float64], Optional[NDArray[numpy.float64]]]

def worldMatrices(
    parents: ArrayLike,
    forwards: ArrayLike,
    inverses: Optional[ArrayLike] = ...,
    out: Optional[Tuple[NDArray[numpy.float64], Optional[NDArray[numpy.float64]]]] = ...,
) -> WorldTables:
    """worldMatrices( parents[], forwards[][4][4], inverses=None, out=None ): world matrices of a
    hierarchy, world[n] = forwards[n] . world[parents[n]]."""

# (worldLows, worldHighs): two new (or the given) C-contiguous (N, 3)
# float64 arrays, the axis-aligned box around each moved box.
BoxTables = Tuple[NDArray[numpy.float64], NDArray[numpy.float64]]

def transformBoxes(matrices: ArrayLike, lows: ArrayLike, highs: ArrayLike,
                   out: Optional[BoxTables] = ...) -> BoxTables:
    """transformBoxes( matrices[][4][4], lows[][3], highs[][3], out=None ): the world box around
    each box moved by its matrix (or by one matrix for all)."""

# The kernel in use ("scalar", "sse2", "avx2" or "avx512"), and every kernel
# this CPU supports; AFFINEKIT_KERNEL forces one at import.
kernel: str
kernels: Tuple[str, ...]
