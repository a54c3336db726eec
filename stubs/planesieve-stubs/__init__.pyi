# Type stubs for the native module planesieve.
from typing import Literal, Tuple, Union

from numpy.typing import ArrayLike

# (1, index of the first plane with every point outside), or (0, None).
CullResult = Union[Tuple[Literal[1], int], Tuple[Literal[0], None]]

def planeCull(planes: ArrayLike, points: ArrayLike, tolerance: float = ..., /) -> CullResult:
    """planeCull( planes[][4], points[][4] ): frustum culling of points against planes."""
