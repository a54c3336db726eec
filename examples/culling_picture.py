"""Draws a top-down view of a perspective frustum and a few hundred boxes,
coloured by planeCullBoxes' verdict (Python 3, matplotlib):

    python examples/culling_picture.py [out.png]

Boxes inside the wedge but drawn as culled lie above or below the view:
the top or bottom plane culls them.
"""
import os
import sys

import matplotlib
matplotlib.use('Agg')
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.patches import Polygon, Rectangle  # noqa: E402
import numpy  # noqa: E402

import planesieve  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), 'bench'))
from scene import perspective_frustum, scene  # noqa: E402

PLANE_NAMES = ['left', 'right', 'bottom', 'top', 'near', 'far']
COLOURS = {-1: '#2a9d2a', 0: '#d1495b', 1: '#edae49', 2: '#8d6cab', 3: '#00798c', 4: '#66a182',
           5: '#30638e'}


def main(path):
    planes = perspective_frustum(far=60.0)
    lows, highs = scene(400, seed=4)
    lows, highs = lows * [0.85, 0.3, 0.62], highs * [0.85, 0.3, 0.62]
    verdicts = planesieve.planeCullBoxes(planes, lows, highs)

    figure, axes = plt.subplots(figsize=(10, 5.6), dpi=100)
    tx = -planes[0, 2]
    near, far = -planes[4, 3], planes[5, 3]
    wedge = [(-tx * near, -near), (tx * near, -near), (tx * far, -far), (-tx * far, -far)]
    axes.add_patch(Polygon(wedge, closed=True, fill=False, linewidth=2, edgecolor='black'))
    for low, high, verdict in zip(lows, highs, verdicts):
        axes.add_patch(Rectangle((low[0], low[2]), high[0] - low[0], high[2] - low[2],
                                 facecolor=COLOURS[int(verdict)], edgecolor='none',
                                 alpha=0.9 if verdict < 0 else 0.55))
    for verdict in sorted(COLOURS):
        label = 'visible' if verdict < 0 else 'culled by %s' % PLANE_NAMES[verdict]
        count = int((verdicts == verdict).sum())
        axes.add_patch(Rectangle((0, 0), 0, 0, facecolor=COLOURS[verdict], label='%s (%d)' % (label, count)))
    axes.plot([0], [0], marker='^', color='black', markersize=10, label='camera, looking down -z')
    axes.set_xlim(-60, 60)
    axes.set_ylim(-70, 8)
    axes.set_aspect('equal')
    axes.set_xlabel('x')
    axes.set_ylabel('z')
    axes.set_title('planesieve.planeCullBoxes: %d boxes seen from above (kernel %s)'
                   % (len(verdicts), planesieve.kernel))
    axes.legend(loc='upper left', bbox_to_anchor=(1.02, 1.0), fontsize=8)
    figure.tight_layout()
    figure.savefig(path)
    print('wrote %s' % path)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(HERE), 'docs', 'culling.png'))
