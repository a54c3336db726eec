# Type stubs for the native module planesieve. Positional-only parameters are
# spelled with two leading underscores, and Literal comes from
# typing_extensions (a stub is never run), so that the mypy of every supported
# Python 3 reads them.
from typing import Tuple, Union

from typing_extensions import Literal

from numpy.typing import ArrayLike

# (1, index of the first plane with every point outside), or (0, None).
CullResult = Union[Tuple[Literal[1], int], Tuple[Literal[0], None]]

def planeCull(__planes: ArrayLike, __points: ArrayLike, __tolerance: float = ...) -> CullResult:
    """planeCull( planes[][4], points[][4] ): frustum culling of points against planes."""
