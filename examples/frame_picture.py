"""Draws one frame of a hierarchical scene from above: groups of rotated,
scaled boxes under moving parents, the camera's view volume, and each node's
world box coloured by its verdict (Python 3, matplotlib). The frame is the
five calls of the README's walk-through:

    python examples/frame_picture.py [out.png]
"""
import os
import sys

import matplotlib
matplotlib.use('Agg')
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.patches import Polygon, Rectangle  # noqa: E402
import numpy  # noqa: E402

import affinekit  # noqa: E402
import planesieve  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PLANE_NAMES = ['left', 'right', 'bottom', 'top', 'near', 'far']
COLOURS = {-1: '#2a9d2a', 0: '#d1495b', 1: '#edae49', 2: '#8d6cab', 3: '#00798c', 4: '#66a182',
           5: '#30638e'}
GROUPS = 14
ARMS = 3
LEAVES = 7


def hierarchy(time, seed=7):
    """Parents (each an earlier row), translation, rotation (axis, angle) and
    scale of every node, and its local box: groups on a ring turning about
    the y axis, arms turning about their group, leaves on the arms."""
    random = numpy.random.RandomState(seed)
    parents, translations, rotations, scales, leaf = [], [], [], [], []

    def add(parent, translation, rotation, scale, is_leaf=False):
        leaf.append(is_leaf)
        parents.append(parent)
        translations.append(translation)
        rotations.append(rotation)
        scales.append(scale)
        return len(parents) - 1

    for g in range(GROUPS):
        angle = 2 * numpy.pi * g / GROUPS + 0.15 * time
        radius = random.uniform(14, 34)
        group = add(-1, [radius * numpy.cos(angle), random.uniform(-2, 2), -radius * numpy.sin(angle)],
                    [0, 1, 0, angle + time * random.uniform(-1, 1)], [1, 1, 1])
        for a in range(ARMS):
            arm = add(group, [random.uniform(2, 5), 0, 0], [0, 1, 0, 2 * numpy.pi * a / ARMS + time], [1, 1, 1])
            for _ in range(LEAVES):
                add(arm, random.uniform(-1.5, 1.5, 3) + [1.5, 0, 0], list(random.uniform(-1, 1, 3)) +
                    [random.uniform(0, numpy.pi)], random.uniform(0.4, 1.3, 3), is_leaf=True)
    count = len(parents)
    # Groups and arms carry no geometry of their own; a leaf's box is 1 unit around its origin.
    lows = numpy.full((count, 3), -0.5)
    highs = numpy.full((count, 3), 0.5)
    return (numpy.array(parents), numpy.array(translations, float), numpy.array(rotations, float),
            numpy.array(scales, float), lows, highs, numpy.array(leaf))


def perspective(near, far, aspect=1.6, focal=1.8):
    depth = far - near
    return numpy.array([[focal / aspect, 0, 0, 0], [0, focal, 0, 0],
                        [0, 0, -(far + near) / depth, -1], [0, 0, -2 * far * near / depth, 0]])


def frame(time):
    parents, translations, rotations, scales, lows, highs, leaf = hierarchy(time)
    eye = numpy.array([0.0, 4.0, 30.0])
    view = affinekit.transformMatrix(translation=-eye)[0].dot(affinekit.rotMatrix([0, 1, 0, 0.35])[0])
    camera = view.dot(perspective(1.0, 40.0))

    # The frame: five calls.
    forwards, _ = affinekit.transformMatrices(translations, rotations, scales)
    world, _ = affinekit.worldMatrices(parents, forwards)
    world_lows, world_highs = affinekit.transformBoxes(world, lows, highs)
    planes = planesieve.frustumPlanes(camera)
    verdicts = planesieve.planeCullBoxes(planes, world_lows, world_highs)
    return parents, world, world_lows, world_highs, verdicts, camera, eye, leaf


def view_volume(camera):
    """The 8 corners of the view volume in world space (clip space's cube
    through the camera's inverse), for drawing only."""
    corners = numpy.array([[x, y, z, 1.0] for z in (-1, 1) for y in (-1, 1) for x in (-1, 1)])
    world = corners.dot(numpy.linalg.inv(camera))
    return world[:, :3] / world[:, 3:]


def main(path):
    parents, world, lows, highs, verdicts, camera, eye, leaf = frame(time=0.8)
    figure, axes = plt.subplots(figsize=(10, 7), dpi=100)
    corners = view_volume(camera)
    # From above, the volume's outline is its near edge and far edge joined.
    near, far = corners[:4], corners[4:]
    outline = [near[0], near[1], far[1], far[0]]
    axes.add_patch(Polygon([(c[0], c[2]) for c in outline], closed=True, fill=False, linewidth=2, edgecolor='black'))
    origins = world[:, 3, :3]
    for n, parent in enumerate(parents):
        if parent >= 0:
            axes.plot([origins[parent, 0], origins[n, 0]], [origins[parent, 2], origins[n, 2]], color='#999999',
                      linewidth=0.5, zorder=1)
    for low, high, verdict in zip(lows[leaf], highs[leaf], verdicts[leaf]):
        axes.add_patch(Rectangle((low[0], low[2]), high[0] - low[0], high[2] - low[2],
                                 facecolor=COLOURS[int(verdict)], edgecolor='none', zorder=2,
                                 alpha=0.9 if verdict < 0 else 0.55))
    for verdict in sorted(COLOURS):
        label = 'visible' if verdict < 0 else 'culled by %s' % PLANE_NAMES[verdict]
        count = int((verdicts[leaf] == verdict).sum())
        axes.add_patch(Rectangle((0, 0), 0, 0, facecolor=COLOURS[verdict], label='%s (%d)' % (label, count)))
    axes.plot([eye[0]], [eye[2]], marker='o', color='black', markersize=8, label='camera')
    axes.plot([], [], color='#999999', linewidth=0.5, label='parent to child')
    axes.set_xlim(-42, 52)
    axes.set_ylim(-45, 36)
    axes.set_aspect('equal')
    axes.set_xlabel('x')
    axes.set_ylabel('z')
    axes.set_title('One frame in five calls: %d nodes, %d leaf boxes seen from above (kernel %s)'
                   % (len(parents), int(leaf.sum()), affinekit.kernel))
    axes.legend(loc='upper left', bbox_to_anchor=(1.02, 1.0), fontsize=8)
    figure.tight_layout()
    figure.savefig(path)
    print('wrote %s' % path)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(HERE), 'docs', 'frame.png'))
