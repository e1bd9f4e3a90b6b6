#!/usr/bin/env python3
"""Estimates the grasp of one recorded cloud and draws it.

Reads a cloud (PLY or PCD, camera frame), estimates it with litterpose, prints the answer
and draws, in the arm base frame, the cloud, the oriented box, the footprint rectangle on
the floor and the grasp frame (tool x red, y green, z blue) with matplotlib:

    PYTHONPATH=build/python /usr/bin/python3 examples/python/estimate_cloud.py \
        data/bottle-lying_reach_0.42m_-20deg.ply --out grasp.png
"""

import argparse
import itertools
import pathlib
import sys

import matplotlib
import matplotlib.pyplot as plt
import numpy as np

import litterpose

ROOT = pathlib.Path(__file__).resolve().parents[2]
GRASP_AXIS_LENGTH = 0.05  # metres


def box_edges(estimate):
    """The oriented box's twelve edges as pairs of corners in the base frame."""
    corners = {}
    for pick in itertools.product((0, 1), repeat=3):
        local = np.where(pick, estimate.obb_max, estimate.obb_min)
        corners[pick] = estimate.obb_center + estimate.obb_rotation @ local
    return [(corners[a], corners[b]) for a, b in itertools.combinations(corners, 2)
            if sum(x != y for x, y in zip(a, b)) == 1]


def draw(points, estimate, floor_z, title):
    figure = plt.figure(figsize=(8, 7))
    axes = figure.add_subplot(projection="3d")
    axes.scatter(*points.T, s=0.5, c="tab:blue", alpha=0.4, label="cloud")
    if estimate.obb_center is not None:
        for start, end in box_edges(estimate):
            axes.plot(*np.transpose([start, end]), color="black", linewidth=0.8)
        ring = np.vstack([estimate.footprint, estimate.footprint[:1]])
        axes.plot(ring[:, 0], ring[:, 1], floor_z, color="tab:green", label="footprint")
    if estimate.found:
        for column, colour in zip(estimate.rotation.T, ("red", "green", "blue")):
            axes.quiver(*estimate.position, *(GRASP_AXIS_LENGTH * column), color=colour)
    low, high = points.min(axis=0), points.max(axis=0)
    centre, half = (low + high) / 2, max(high - low) / 2 + GRASP_AXIS_LENGTH
    axes.set(xlim=(centre[0] - half, centre[0] + half), ylim=(centre[1] - half, centre[1] + half),
             zlim=(centre[2] - half, centre[2] + half), xlabel="x (m)", ylabel="y (m)",
             zlabel="z (m)", title=title)
    axes.legend(loc="upper left")
    return figure


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cloud", nargs="?", default=ROOT / "data" / "B001PA420231018-1[0].ply")
    parser.add_argument("--config", default=ROOT / "config" / "grab_pose_estimate_config.yaml")
    parser.add_argument("--entry", choices=litterpose.ENTRIES, default="common")
    parser.add_argument("--trash-type", type=int, default=3)
    parser.add_argument("--out", default="grasp.png", help="the figure (PNG)")
    parser.add_argument("--show", action="store_true", help="also open a window")
    args = parser.parse_args()

    try:
        estimator = litterpose.Estimator(args.config)
        points = litterpose.read_cloud(args.cloud)
    except (OSError, ValueError) as error:
        sys.exit(f"estimate_cloud: {error}")
    estimate = estimator.estimate(points, trash_type=args.trash_type, entry=args.entry)

    print(f"{pathlib.Path(args.cloud).name}: {estimate.code} ({estimate.meaning}); "
          f"{estimate.reason}: {estimate.reason_text}")
    if estimate.found:
        print("grasp position (m):", np.round(estimate.position, 4).tolist())
        print("grasp quaternion (w, x, y, z):", np.round(estimate.quaternion, 4).tolist())
    print(f"{estimate.points_read} points read, {estimate.points_prepared} prepared, "
          f"{estimate.elapsed_ms:.2f} ms")

    extrinsic = estimator.camera_extrinsic
    in_base = points @ extrinsic[:3, :3].T + extrinsic[:3, 3]
    if not args.show:
        matplotlib.use("Agg")
    figure = draw(in_base, estimate, -estimator.windows["base_height"],
                  f"{pathlib.Path(args.cloud).name}: {estimate.code} {estimate.meaning}")
    figure.savefig(args.out, dpi=100)
    print("figure:", args.out)
    if args.show:
        plt.show()


if __name__ == "__main__":
    main()
