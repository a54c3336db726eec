"""A small typed caller of both modules: `make typecheck` runs mypy --strict on
it against the installed stubs (it also runs, on Python 3)."""
from typing import List, Optional, Tuple

import numpy
from numpy.typing import NDArray

import affinekit
import planesieve


def place(offset: Tuple[float, float, float], turn: float) -> Optional[NDArray[numpy.float64]]:
    translation, _ = affinekit.transMatrix(offset)
    rotation, inverse = affinekit.rotMatrix([0.0, 0.0, 1.0, turn])
    if translation is None or rotation is None or inverse is None:
        return None
    scale: Tuple[Optional[NDArray[numpy.float64]], Optional[NDArray[numpy.float64]]]
    scale = affinekit.scaleMatrix(numpy.array([2.0, 2.0, 2.0]))
    result: NDArray[numpy.float64] = rotation.dot(translation)
    return result if scale[0] is None else result.dot(scale[0])


def culled_by(planes: List[List[float]], corners: NDArray[numpy.float64]) -> Optional[int]:
    flag, index = planesieve.planeCull(planes, corners)
    if flag == 1:
        return index
    return None


def loose_cull(planes: NDArray[numpy.float64], corners: List[List[float]]) -> bool:
    return planesieve.planeCull(planes, corners, 0.25)[0] == 1


def visible(planes: NDArray[numpy.float64], lows: NDArray[numpy.float64],
            highs: NDArray[numpy.float64]) -> NDArray[numpy.bool_]:
    verdicts = planesieve.planeCullBoxes(planes, lows, highs, tolerance=0.25)
    tables = numpy.stack([lows, highs], axis=1)
    again = planesieve.planeCullMany(planes, tables, out=verdicts)
    result: NDArray[numpy.bool_] = again < 0
    return result


def instances(positions: NDArray[numpy.float64], turns: List[List[float]]) -> NDArray[numpy.float64]:
    moves, _ = affinekit.transMatrices(positions)
    forward = numpy.empty((len(turns), 4, 4))
    inverse = numpy.empty((len(turns), 4, 4))
    spins, _ = affinekit.rotMatrices(turns, out=(forward, inverse))
    sizes = affinekit.scaleMatrices([[2.0, 2.0, 2.0]] * len(turns))[0]
    result: NDArray[numpy.float64] = numpy.einsum('nij,njk,nkl->nil', sizes, spins, moves)
    return result


if __name__ == '__main__':
    print(place((1.0, 2.0, 3.0), 0.5))
    print(culled_by([[0.0, 0.0, 1.0, -2.0]], numpy.zeros((8, 3))))
    print(loose_cull(numpy.array([[0.0, 0.0, 1.0, -2.0]]), [[0.0, 0.0, 1.9]]))
    print(visible(numpy.array([[0.0, 0.0, 1.0, -2.0]]), numpy.zeros((2, 3)), numpy.array([[3.0, 3.0, 3.0]] * 2)),
          planesieve.kernel)
    print(instances(numpy.zeros((2, 3)), [[0.0, 0.0, 1.0, 0.5]] * 2).shape)


def scene_world(parents: List[int], positions: NDArray[numpy.float64]) -> NDArray[numpy.float64]:
    forwards, inverses = affinekit.transformMatrices(positions, scales=[[2.0, 2.0, 2.0]] * len(parents))
    world, world_inverse = affinekit.worldMatrices(parents, forwards, inverses)
    node, _ = affinekit.transformMatrix(rotation=[0.0, 0.0, 1.0, 0.5], center=(1.0, 0.0, 0.0))
    if world_inverse is None or node is None:
        return world
    result: NDArray[numpy.float64] = world_inverse[0].dot(node)
    return result


def visible_nodes(parents: List[int], positions: NDArray[numpy.float64], camera: NDArray[numpy.float64],
                  lows: NDArray[numpy.float64], highs: NDArray[numpy.float64]) -> NDArray[numpy.intp]:
    world, _ = affinekit.worldMatrices(parents, affinekit.transformMatrices(positions, inverses=False)[0])
    world_lows, world_highs = affinekit.transformBoxes(world, lows, highs)
    planes = planesieve.frustumPlanes(camera, zeroToOne=True)
    return planesieve.planeCullBoxes(planes, world_lows, world_highs)
