# Type stubs for the native module affinekit. Positional-only parameters are
# spelled with two leading underscores, so that the mypy of every supported
# Python 3 reads them.
from typing import Optional, Tuple, Union

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
